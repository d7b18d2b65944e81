// marlo_io.h - image files in and out of Kasa images: PNG, JPEG, TIFF and binary PNM, with
// alpha, ICC profile and EXIF, under a size limit, written atomically.
//
// This is the code the `marlo` tool reads and writes its files with; a host that uses it gets
// files byte-identical to the tool's. Conventions:
// - Failures throw FileError, whose text names the problem without the file's name ("PNG: the
//   file ends too early (truncated)"); the caller adds the name. Nothing else is thrown except
//   std::bad_alloc and whatever a RowTick throws (Interrupted, by convention).
// - Pixels live in Kasa images of type Rgb24, Gray8, Rgb48 or Gray16 (kasa.h); colour rows hold
//   blue, green, red, 16-bit samples most significant byte first. An alpha channel is a separate
//   grey image of the same depth and size.
// - Functions keep no state between calls, except the list of temporary files being written
//   (see RemovePendingFiles); different threads may read and write different files at once.
#ifndef MARLO_IO_H
#define MARLO_IO_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kasa.h"

#define MARLO_IO_API __attribute__((visibility("default")))

namespace marlo::io {

enum class Format { Png, Jpeg, Tiff, Pnm };

// "PNG", "JPEG", "TIFF" or "PNM".
MARLO_IO_API const char* FormatName(Format format);
// The extension the tool gives a file of this format: "png", "jpg", "tif" or "pnm".
MARLO_IO_API const char* FormatExtension(Format format);
// The format named by a word, in any case: png; jpg, jpeg, jpe; tif, tiff; pnm, ppm, pgm.
// Returns false (and leaves *format alone) for any other word.
MARLO_IO_API bool FormatFromName(const std::string& name, Format* format);
// The format named by the extension of a path's last component (after its last dot), as
// FormatFromName reads it; false when there is none or it names no format.
MARLO_IO_API bool FormatFromExtension(const std::string& path, Format* format);

// A problem with one file: unreadable, corrupt, unsupported, too large, or a failed write.
class MARLO_IO_API FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Thrown by a RowTick to stop reading or writing; passes through every function here, which
// leaves nothing behind (see AtomicFile).
class MARLO_IO_API Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("interrupted") {}
};

// What a file holds, known from its header before any pixel is decoded.
struct ImageInfo {
  Format format = Format::Png;
  int32_t width = 0;
  int32_t height = 0;
  int channels = 3;           // 1 (grey) or 3 (RGB), not counting alpha
  int bits = 8;               // 8 or 16: the depth the pixels are decoded to
  int fileBits = 8;           // the depth stored in the file (1, 2, 4, 8 or 16 for PNG)
  bool alpha = false;         // an alpha channel (or PNG transparency) that is carried along
  std::string kind;           // how the file stores its pixels, e.g. "palette", "grey+alpha"
  std::vector<uint8_t> icc;   // ICC profile, empty when none
  std::vector<uint8_t> exif;  // EXIF block (TIFF header onwards), empty when none

  int64_t Pixels() const { return int64_t{width} * height; }
};

// A picture: the colour or grey samples and, when the file had one, the alpha channel. `info`
// is the header it was read with; a writer takes the ICC profile and EXIF block from it.
struct Picture {
  ImageInfo info;
  std::unique_ptr<Kasa> pixels;
  std::unique_ptr<Kasa> alpha;
};

// Called after each row read or written (row 0 .. rows - 1); it may throw (Interrupted) to stop.
using RowTick = std::function<void(int32_t row, int32_t rows)>;

// Limits applied to every file read.
//
// Memory: decoding a picture allocates at most twice its decoded bytes (width x height x samples
// with alpha x 1 or 2) plus 16 MiB: the picture itself, and buffers (rows, strips, tiles, bands,
// the whole image of an interlaced PNG, metadata) up to its size again plus the 16 MiB. A file of
// several JPEG scans (progressive) may use the picture's bytes once more: libjpeg keeps every DCT
// coefficient. Each buffer sized from a header is counted before it is allocated, and a file whose
// buffers would not fit is refused with a line naming both sizes. Before the header is known,
// libpng's limits (no side longer than maxMegapixels allows, no ancillary chunk above 16 MiB;
// text chunks are skipped uninflated) and libtiff's (no single allocation above the largest
// picture the limit allows, at 8 bytes a pixel, plus 16 MiB) hold.
struct Limits {
  // Pictures with more pixels are refused before any pixel is decoded.
  double maxMegapixels = 200;
};

// Throws FileError when the picture has more pixels than `limits` allow: "the image is W x H
// (M megapixels), more than the limit of L megapixels (see --max-megapixels)".
MARLO_IO_API void CheckLimits(const ImageInfo& info, const Limits& limits);

// Reads one image file: Info() is the header, read when the decoder is made; Decode() checks the
// limits (CheckLimits and the memory budget), then reads the pixels into a new picture (its
// previous images are replaced); it may be called once.
class MARLO_IO_API Decoder {
 public:
  virtual ~Decoder() = default;
  virtual const ImageInfo& Info() const = 0;
  virtual void Decode(Picture* picture, const RowTick& tick) = 0;
};

// Opens `path` ("-": standard input) and reads its header; the format is recognised by the
// first bytes. The decoder keeps the file open until it is destroyed. A path that is not a regular
// file (standard input from a pipe or a terminal, a FIFO, a device) is read as a stream, never
// buffered whole: PNG, JPEG and PNM are decoded as their bytes arrive, and only a TIFF, which
// needs to seek, is held in an unnamed temporary file, up to the largest picture `limits` allow
// (8 bytes a pixel) plus 16 MiB. A signal that interrupts a blocking read ends it as an error.
// Damaged files are refused, never patched (libjpeg's and libtiff's warnings about damage are
// errors). Throws FileError.
MARLO_IO_API std::unique_ptr<Decoder> Open(const std::string& path, const Limits& limits = {});

// Open, CheckLimits and Decode in one call.
MARLO_IO_API Picture Read(const std::string& path, const Limits& limits = {},
                          const RowTick& tick = {});

// Something a writer had to change because the format cannot hold it, reported once per call.
enum class Note {
  RoundedTo8Bits,  // a 16-bit picture written as JPEG: v * 255 / 65535, to nearest
  AlphaDropped,    // JPEG and PNM hold no alpha channel
  IccDropped,      // an ICC profile larger than a JPEG can hold (255 markers: 16,707,345 bytes)
};

// The filter applied to each row of a PNG before compression (PNG's five filter types), or
// Adaptive: libpng's choice of one of the five for each row.
enum class PngFilter { None, Sub, Up, Average, Paeth, Adaptive };

// A deflate level that means: PNG coded with zlib's run-length strategy, TIFF at zlib's default
// level 6.
constexpr int kRunLengthDeflate = -1;

struct WriteOptions {
  int jpegQuality = 92;  // 1..100
  // The deflate level of PNG and TIFF: 0 (stored) to 9 (smallest, slowest), or
  // kRunLengthDeflate. On photographs, run-length coding after the Paeth filter comes within
  // about 2 % of the size of level 6 with adaptive filters (libpng's defaults) at a fifth to a
  // third of its time; 16-bit pictures come out as small.
  int deflateLevel = kRunLengthDeflate;
  PngFilter pngFilter = PngFilter::Paeth;
  // Receives each note with its text ("JPEG has no alpha channel; the alpha channel is
  // dropped"); may be empty.
  std::function<void(Note note, const std::string& text)> onNote;
};

// Writes `picture` in `format` to an open file: PNG (deflate after the row filter) and TIFF
// (deflate after the horizontal predictor) at the picture's depth with its alpha channel; JPEG at 8
// bits; PNM as P5 (grey) or P6 (colour) with maximum 255 or 65535. The ICC profile goes into PNG,
// JPEG and TIFF, the EXIF block into PNG and JPEG. Throws FileError, or what `tick` throws.
MARLO_IO_API void Encode(const Picture& picture, Format format, FILE* file,
                         const WriteOptions& options, const RowTick& tick = {});

// A file written in full or not at all: the data goes to a temporary file beside the target
// (or, for "-", to an unnamed one copied to standard output by Commit), and Commit renames it
// into place. Destroyed without Commit (a failure, an exception, an interruption), it removes
// the temporary file and the target is left as it was. A target that exists must be a regular
// file (or a link to one, which is replaced by the new file, never followed); anything else is
// refused. A replaced file's permission bits are kept, its set-user-id and sticky bits only when
// the new file has the same owner, its set-group-id bit only with the same owner and group.
class MARLO_IO_API AtomicFile {
 public:
  explicit AtomicFile(const std::string& target);  // throws FileError
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  FILE* get() const { return file_; }
  // Flushes, syncs and renames into place (or copies to standard output). Throws FileError.
  void Commit();

 private:
  void Discard();

  std::string target_;
  std::string temp_;
  int slot_ = -1;
  FILE* file_ = nullptr;
};

// Encode into an AtomicFile for `path` ("-": standard output), then Commit.
MARLO_IO_API void Write(const Picture& picture, Format format, const std::string& path,
                        const WriteOptions& options = {}, const RowTick& tick = {});

// A grey picture (Gray8, Gray16) as RGB of the same depth and size (r = g = b). Throws FileError
// when memory runs out.
MARLO_IO_API std::unique_ptr<Kasa> GreyToRgb(const Kasa& grey);

// Removes every temporary file of an AtomicFile not yet committed or destroyed. Safe to call
// from a signal handler (it only reads a fixed table and calls unlink), as the tool does when
// it must exit at once.
MARLO_IO_API void RemovePendingFiles();

}  // namespace marlo::io

#endif  // MARLO_IO_H
