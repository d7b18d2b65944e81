// Red-eye removal: red pupils darkened and desaturated. On 24-bit RGB every red pixel of the
// picture is recoloured; on 48-bit RGB only the red region connected to a point.
#ifndef MARLO_COLOUR_RED_EYE_H
#define MARLO_COLOUR_RED_EYE_H

#include <cstdint>
#include <vector>

#include "colour/colour_model.h"
#include "frame/frame.h"

namespace marlo {

// The 8-bit redness test: value V = (100 max + 127) / 255, saturation S = (max - min) 100 / max
// (0 when max is 0) and a hue H in degrees (0 when S is 0); red when H <= 15 or H >= 345, S >= 50
// and V >= 25.
bool IsRedEyePixel8(int32_t red, int32_t green, int32_t blue);

// The same test in a few integer comparisons, without divisions. Only a pixel whose red sample is
// the largest can have a hue within 15 degrees of 0 (green or blue largest puts the hue between
// 60 and 300), and there:
//   V >= 25  <=>  100 max + 127 >= 25 * 255  <=>  max >= 63;
//   S >= 50  <=>  (max - min) 100 >= 50 max  <=>  max >= 2 min (so max > min, S != 0);
//   H <= 15 or H >= 345  <=>  |trunc((g - b) 60 / d)| <= 15  <=>  15 |g - b| < 4 d.
// Equal to IsRedEyePixel8 for every red, green and blue in 0..255 (the tests check all of them).
bool IsRedEyePixel8Fast(int32_t red, int32_t green, int32_t blue);

// Recolours in place every red pixel of `count` 24-bit pixels (blue, green, red).
void RecolourRow8(uint8_t* pixels, int64_t count);

// The 8-bit recolouring of a red pixel, in a floating-point hue/lightness/saturation model of
// its own: lightness lowered by 60 and saturation by 90 (on the 0..255 scale). Returns the new
// red, green and blue; a pixel whose lowered saturation is 0 becomes grey when its hue is 0 and
// is returned unchanged otherwise.
Rgb RecolourRedEye8(int32_t red, int32_t green, int32_t blue);

// One channel of the 8-bit recolouring: m1, m2 in single precision, h in degrees.
int32_t RedEyeChannel8(float m1, float m2, int32_t h);

// The 16-bit recolouring in the integer colour model: saturation scaled by (100 + saturation
// change) / 100, then lifted to 15 (and not darkened) when it changed and fell below 15;
// otherwise darkened by the lightness change weighted by the pixel's chroma.
Rgb RecolourRedEye16(uint16_t red, uint16_t green, uint16_t blue, int32_t saturationChange,
                     int32_t lightnessChange);

class CRemoveRedEyeClr {
 public:
  // Colour ranges of the change arrays: 0 master, 1 red, 2 yellow, 3 green, 4 cyan, 5 blue,
  // 6 magenta.
  static constexpr int kRanges = 7;
  // Half the side of the square the 48-bit flood fill stays in, and the half-width of its colour
  // box on the 16-bit scale (24 * 255).
  static constexpr int32_t kWindowReach = 50;
  static constexpr int32_t kColourReach = 6120;

  CRemoveRedEyeClr();

  // Stores the point; no check. Always 1.
  int SetParameters(const int32_t& x, const int32_t& y);

  // The run of the wait-cursor filters (RunWithWaitCursor) on 24-bit and 48-bit RGB: Ok whether
  // or not anything was red. The workers' buffers are made before anything is written, so
  // running out of memory (std::bad_alloc) leaves the destination as it was.
  Status Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end);

  // The workers. Both first report (start, end, 0) and make the destination a copy of the
  // source (unless it is the source); the callback's answers are ignored.
  Status RemoveRedEye8(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end);
  Status RemoveRedEye16(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end);

 private:
  struct ColourBox {
    int32_t min;
    int32_t max;
  };

  // The source pixel (x, y) as red, green, blue (all 0 outside the image, as the store reads).
  Rgb ReadSource16(int64_t x, int64_t y) const;
  void SetColourBox(int64_t x, int64_t y);
  // The 16-bit redness test of a pixel inside the image.
  bool IsRed16(int64_t x, int64_t y) const;
  void Recolour16(int64_t x, int64_t y);
  bool InWindow(int64_t x, int64_t y) const;
  size_t MapIndex(int64_t x, int64_t y) const;
  void FloodFill(int64_t x, int64_t y);

  int32_t x_ = 0, y_ = 0;
  int64_t currentX_ = 0, currentY_ = 0;
  int64_t left_ = 0, top_ = 0, right_ = -1, bottom_ = -1;
  // Over the window only: 1 for a pixel already taken by the fill. The flood fill cannot leave
  // the window, so this gives the same pixels as a map of the whole picture.
  std::vector<uint8_t> visited_;
  std::vector<int64_t> pending_;  // the fill's explicit stack of pixels (x, y pairs)
  ColourBox red_{0, 0}, green_{0, 0}, blue_{0, 0};
  int32_t hueChange_[kRanges] = {};
  int32_t saturationChange_[kRanges] = {};
  int32_t lightnessChange_[kRanges] = {};
  int32_t width_ = 0, height_ = 0;
  Kasa* src_ = nullptr;
  Kasa* dst_ = nullptr;
};

}  // namespace marlo

#endif  // MARLO_COLOUR_RED_EYE_H
