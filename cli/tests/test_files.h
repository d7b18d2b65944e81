// Test-side image files, written and read with the codec libraries directly (not through the
// tool's own code), and a runner for the built `marlo`.
#ifndef MARLO_CLI_TESTS_TEST_FILES_H
#define MARLO_CLI_TESTS_TEST_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace clitest {

// Samples interleaved in file order: grey or R, G, B, then alpha when `alpha`.
struct Raw {
  int width = 0;
  int height = 0;
  int channels = 3;  // 1 or 3, not counting alpha
  bool alpha = false;
  int bits = 8;  // 8 or 16
  std::vector<uint16_t> samples;
  std::vector<uint8_t> icc;
  std::vector<uint8_t> exif;

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
void WritePalettePng(const std::string& path, const Raw& image);
Raw ReadPng(const std::string& path);
void WriteJpeg(const std::string& path, const Raw& image, int quality, bool progressive = false);
Raw ReadJpeg(const std::string& path);
enum class TiffLayout { Strips, Planar, Tiles };
// `photometric` 0: grey or RGB from the channels; else the tag's value (white-is-zero grey, or a
// palette, whose 8-bit indices are the grey samples of `image`, with a fixed colour map).
void WriteTiff(const std::string& path, const Raw& image, TiffLayout layout = TiffLayout::Strips,
               int photometric = 0);
Raw ReadTiff(const std::string& path);
// `maxval` 0: 255 or 65535 from the depth.
void WritePnm(const std::string& path, const Raw& image, int maxval = 0);
Raw ReadPnm(const std::string& path);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// A small but well-formed ICC profile header for the colour space ("RGB " or "GRAY").
std::vector<uint8_t> TestIccProfile(bool grey);
// A small EXIF block (TIFF header and one IFD entry).
std::vector<uint8_t> TestExif();

struct RunResult {
  int status = -1;
  std::string err;
  std::string out;
};

// Runs the built tool with `args` in directory `cwd`; `stdinPath` (if not empty) becomes its
// standard input.
RunResult RunMarlo(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& stdinPath = "");

// Names in a directory (no "." or "..").
std::vector<std::string> ListDir(const std::string& dir);

}  // namespace clitest

#endif  // MARLO_CLI_TESTS_TEST_FILES_H
