// Image files in and out: PNG, JPEG, TIFF and binary PNM, decoded into Kasa images.
#ifndef MARLO_CLI_CODECS_H
#define MARLO_CLI_CODECS_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "kasa.h"

namespace cli {

enum class Format { Png, Jpeg, Tiff, Pnm };

const char* FormatName(Format format);
// The format named by a file name's extension (.png, .jpg/.jpeg, .tif/.tiff, .pnm/.ppm/.pgm),
// or false when the extension names none of them.
bool FormatFromExtension(const std::string& path, Format* format);
// The format named by a --format value ("png", "jpeg", "jpg", "tiff", "tif", "pnm", ...).
bool FormatFromName(const std::string& name, Format* format);

// A problem with one file: unreadable, corrupt, unsupported, or a failed write. The text names
// the problem; the caller adds the file name.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Thrown by the row loops of the readers and writers when the user interrupted the run.
class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("interrupted") {}
};

// What a file holds, known before its pixels are decoded.
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

// A decoded picture: the colour or grey samples in a Kasa image (Rgb24, Gray8, Rgb48 or
// Gray16) and, when the file had one, the alpha channel as a grey Kasa image of the same depth.
struct Picture {
  ImageInfo info;
  std::unique_ptr<Kasa> pixels;
  std::unique_ptr<Kasa> alpha;
};

// Called after each row read or written; it throws Interrupted to stop the work.
using RowTick = std::function<void(int32_t row, int32_t rows)>;

// Reads one image file. Open() reads the header (size, type, metadata) and nothing else, so
// that limits can be checked before any pixel is decoded; Decode() then reads the pixels.
class Decoder {
 public:
  virtual ~Decoder() = default;
  virtual const ImageInfo& Info() const = 0;
  virtual void Decode(Picture* picture, const RowTick& tick) = 0;
};

// Opens `file` (positioned at the start; kept open by the caller until the decoder is gone).
// The format is recognised by the file's first bytes. Throws FileError.
std::unique_ptr<Decoder> OpenDecoder(FILE* file);

struct WriteOptions {
  int jpegQuality = 92;
  // Called once when a 16-bit picture is rounded to 8 bits, and once when alpha is dropped.
  std::function<void()> on16BitRounded;
  std::function<void()> onAlphaDropped;
};

// Writes `picture` in `format` to `file`. Throws FileError or Interrupted. PNM output of a
// colour picture is PPM, of a grey one PGM.
void Encode(const Picture& picture, Format format, FILE* file, const WriteOptions& options,
            const RowTick& tick);

// The codecs, one per file (png_codec.cpp, ...).
std::unique_ptr<Decoder> OpenPng(FILE* file);
std::unique_ptr<Decoder> OpenJpeg(FILE* file);
std::unique_ptr<Decoder> OpenTiff(FILE* file);
std::unique_ptr<Decoder> OpenPnm(FILE* file);
void EncodePng(const Picture& picture, FILE* file, const RowTick& tick);
void EncodeJpeg(const Picture& picture, FILE* file, const WriteOptions& options,
                const RowTick& tick);
void EncodeTiff(const Picture& picture, FILE* file, const RowTick& tick);
void EncodePnm(const Picture& picture, FILE* file, const RowTick& tick);

// Helpers shared by the codecs.
int KasaType(int channels, int bits);
// Creates the picture's Kasa images from its info (pixels, and alpha when info.alpha).
void AllocatePicture(Picture* picture);
// Splits an interleaved row of `channels` (+1 when alpha) samples in file order (R, G, B or
// grey; 16-bit samples most significant byte first) into the picture's rows at y.
void StoreInterleavedRow(Picture* picture, int32_t y, const uint8_t* row);
// The other way round: builds an interleaved row (R, G, B[, A] or grey[, A], 16-bit samples
// most significant byte first) from row y of the picture.
void LoadInterleavedRow(const Picture& picture, int32_t y, bool withAlpha, uint8_t* row);

}  // namespace cli

#endif  // MARLO_CLI_CODECS_H
