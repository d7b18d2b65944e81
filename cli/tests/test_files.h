// Test-side image files, built byte by byte (PNG, TIFF, PNM) or with libjpeg, never through the
// io library; crafted files; and a runner for the built `marlo`.
#ifndef MARLO_CLI_TESTS_TEST_FILES_H
#define MARLO_CLI_TESTS_TEST_FILES_H

#include <gtest/gtest.h>

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace clitest {

using Bytes = std::vector<uint8_t>;

// Samples interleaved in file order: grey or R, G, B, then alpha when `alpha`.
struct Raw {
  int width = 0;
  int height = 0;
  int channels = 3;  // 1 or 3, not counting alpha
  bool alpha = false;
  int bits = 8;  // 1, 2, 4 (grey PNG only), 8 or 16
  std::vector<uint16_t> samples;
  Bytes icc;
  Bytes exif;

  int Stride() const { return channels + (alpha ? 1 : 0); }
  uint16_t At(int x, int y, int c) const {
    return samples[(static_cast<size_t>(y) * width + x) * Stride() + c];
  }
};

// A deterministic picture whose 16-bit samples differ in their low bytes.
Raw Pattern(int width, int height, int channels, bool alpha, int bits, uint32_t salt);

// PNG options: Adam7 interlacing; a palette (`image` 8-bit RGB with at most 256 colours); a
// transparency chunk (the colour of the first pixel, or a varying alpha per palette entry).
// Grey images of 1, 2 or 4 bits are written packed.
enum PngFlags { kInterlaced = 1, kPalette = 2, kTransparency = 4 };
void WritePng(const std::string& path, const Raw& image, int flags = 0);
void WriteJpeg(const std::string& path, const Raw& image, int quality, bool progressive = false);
enum class TiffLayout { Strips, Planar, Tiles };
// Uncompressed, in strips of 3 rows or tiles of 16 x 16. `photometric` -1: grey or RGB from the
// channels; else the tag's value (0 white-is-zero grey, or 3 a palette, whose 8-bit indices are
// the grey samples of `image`, with a fixed colour map).
void WriteTiff(const std::string& path, const Raw& image, TiffLayout layout = TiffLayout::Strips,
               int photometric = -1);
// `maxval` 0: 255 or 65535 from the depth.
void WritePnm(const std::string& path, const Raw& image, int maxval = 0);

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);

// A small but well-formed ICC profile header for the colour space ("RGB " or "GRAY"), of
// `size` bytes (at least 1 KiB).
Bytes TestIccProfile(bool grey, size_t size = 1024);
// A small EXIF block (TIFF header and one IFD entry).
Bytes TestExif();

// Crafted files. A PNG of the given chunks (type, data) with its signature and CRCs; an IHDR
// chunk's data; zlib's compression of `data`.
Bytes PngFile(const std::vector<std::pair<std::string, Bytes>>& chunks);
Bytes Ihdr(uint32_t width, uint32_t height, int depth, int colour);
Bytes Deflate(const Bytes& data);
// A little-endian TIFF of one directory followed by `data`. Tags of type 3 (SHORT), 4 (LONG) or
// 7 (UNDEFINED, one byte per value); a LONG value kDataOffset + n becomes the offset of byte n of
// `data`.
struct TiffTag {
  uint16_t tag;
  uint16_t type;
  std::vector<uint32_t> values;
};
constexpr uint32_t kDataOffset = 0xC0000000;
Bytes TiffFile(const std::vector<TiffTag>& tags, const Bytes& data);

struct RunResult {
  int status = -1;
  std::string err;
  std::string out;
  long peakKb = 0;  // the largest resident size the run reached
};

// Starts the built tool with `args` in directory `cwd` on descriptors `in`, `out` and `err` (-1:
// closed); returns its pid. With `addressSpaceMb`, the tool runs with that much address space at
// most (under the sanitizers, whose shadow memory needs more: no allocation larger than it), so a
// buffer sized from a hostile header fails at once instead of exhausting the machine.
pid_t StartMarlo(const std::vector<std::string>& args, const std::string& cwd, int in, int out,
                 int err, int addressSpaceMb = 0);
// Waits for it; returns its exit status, or 128 + the signal that ended it.
int WaitMarlo(pid_t pid, long* peakKb = nullptr);
// Runs it to the end with `stdinPath` (default /dev/null) as standard input, and `closedFd`
// (0, 1 or 2) closed.
RunResult RunMarlo(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& stdinPath = "", int addressSpaceMb = 0, int closedFd = -1);

// Names in a directory (no "." or ".."), sorted.
std::vector<std::string> ListDir(const std::string& dir);

// A test in a fresh directory of its own, removed afterwards.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  RunResult Run(const std::vector<std::string>& args, const std::string& stdinPath = "",
                int addressSpaceMb = 0, int closedFd = -1) const {
    return RunMarlo(args, dir_, stdinPath, addressSpaceMb, closedFd);
  }

  std::string dir_;
};

}  // namespace clitest

#endif  // MARLO_CLI_TESTS_TEST_FILES_H
