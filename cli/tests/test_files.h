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
  int width = 0, height = 0;
  int channels = 3;  // 1 or 3, not counting alpha
  bool alpha = false;
  int bits = 8;  // 1, 2, 4 (grey PNG only), 8 or 16
  std::vector<uint16_t> samples;
  Bytes icc, exif;

  int Stride() const { return channels + (alpha ? 1 : 0); }
  uint16_t At(int x, int y, int c) const {
    return samples[(static_cast<size_t>(y) * width + x) * Stride() + c];
  }
};

// A deterministic picture whose 16-bit samples differ in their low bytes.
Raw Pattern(int width, int height, int channels, bool alpha, int bits, uint32_t salt);

// PNG: Adam7; a palette (fixed colours, `image` 8-bit grey indices); a transparency chunk
// (the first pixel's colour, or an alpha per palette entry). Grey of 1, 2 or 4 bits is packed.
enum PngFlags { kInterlaced = 1, kPalette = 2, kTransparency = 4 };
void WritePng(const std::string& path, const Raw& image, int flags = 0);
void WriteJpeg(const std::string& path, const Raw& image, int quality, bool progressive = false);
// Uncompressed, in strips of 3 rows or tiles of 16 x 16. `photometric` -1: from the channels;
// else the tag (0 white-is-zero grey, 3 a palette, as in PNG).
enum class TiffLayout { Strips, Planar, Tiles };
void WriteTiff(const std::string& path, const Raw& image, TiffLayout layout = TiffLayout::Strips,
               int photometric = -1);
void WritePnm(const std::string& path, const Raw& image, int maxval = 0);  // 0: 255 or 65535

Bytes ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
// A well-formed ICC profile for grey or RGB of `size` bytes (at least 1 KiB); a small EXIF block.
Bytes TestIccProfile(bool grey, size_t size = 1024);
Bytes TestExif();

// A PNG of these chunks (type, data) with signature and CRCs; IHDR's data; zlib's compression.
Bytes PngFile(const std::vector<std::pair<std::string, Bytes>>& chunks);
Bytes Ihdr(uint32_t width, uint32_t height, int depth, int colour);
Bytes Deflate(const Bytes& data);
// A little-endian TIFF of one directory (tags in any order; type 3 SHORT, 4 LONG or 7 UNDEFINED)
// and `data`, where a LONG value kDataOffset + n becomes the offset of byte n of `data`.
// StripTags: a picture in one strip of `bytes` bytes (BitsPerSample once above 4 samples).
struct TiffTag {
  uint16_t tag, type;
  std::vector<uint32_t> values;
};
constexpr uint32_t kDataOffset = 0xC0000000;
Bytes TiffFile(std::vector<TiffTag> tags, const Bytes& data);
std::vector<TiffTag> StripTags(uint32_t width, uint32_t height, uint32_t spp, uint32_t bits,
                               uint32_t photometric, uint32_t compression, uint32_t bytes);

struct RunResult {
  int status = -1;
  std::string err, out;
  long peakKb = 0;  // the largest resident size the run reached
};

// Starts the built tool in `cwd` on descriptors `in`, `out`, `err` (-1: closed); returns its pid.
// With `addressSpaceMb` it cannot map more (under the sanitizers, whose shadow memory needs more:
// allocate more at once), so a buffer sized from a hostile header fails at once.
pid_t StartMarlo(const std::vector<std::string>& args, const std::string& cwd, int in, int out,
                 int err, int addressSpaceMb = 0);
// Its exit status, or 128 + the signal that ended it.
int WaitMarlo(pid_t pid, long* peakKb = nullptr);
// A whole run with `stdinPath` (default /dev/null) as standard input and `closedFd` closed.
RunResult RunMarlo(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& stdinPath = "", int addressSpaceMb = 0, int closedFd = -1);

std::vector<std::string> ListDir(const std::string& dir);  // sorted, without . and ..
std::vector<std::string> Words(const std::string& text);   // split at spaces

// A test in a fresh directory of its own, removed afterwards.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  RunResult Run(const std::vector<std::string>& args) const { return RunMarlo(args, dir_); }
  // A command line of words; "< FILE" among them gives standard input, a last "<&-" or ">&-"
  // closes it or standard output.
  RunResult RunLine(const std::string& line, int addressSpaceMb = 0) const;

  std::string dir_;
};

}  // namespace clitest

#endif  // MARLO_CLI_TESTS_TEST_FILES_H
