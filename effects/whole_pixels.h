// Whole pixels of any image type, for the distortion effects: they only move pixels from one
// place to another (or paint them white), so a pixel is copied as its samples, never through a
// reduced packing, and a 16-bit image loses nothing.
#ifndef MARLO_EFFECTS_WHOLE_PIXELS_H
#define MARLO_EFFECTS_WHOLE_PIXELS_H

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "frame/frame.h"

namespace marlo {

// The pixel layout of one image type: the sample width and the samples per pixel.
template <class D, int Spp>
struct PixelFormat {
  using Depth = D;
  using Sample = typename D::Sample;
  static constexpr int kSamples = Spp;

  static void Copy(Sample* to, const Sample* from) {
    for (int k = 0; k < Spp; ++k) to[k] = from[k];
  }
  // White is the largest sample value in every channel (0xFFFFFF on 24-bit RGB).
  static void White(Sample* to) {
    for (int k = 0; k < Spp; ++k) to[k] = static_cast<Sample>(D::kMax);
  }
  // What the image store returns for a position outside the image: all samples 0.
  static void Black(Sample* to) {
    for (int k = 0; k < Spp; ++k) to[k] = 0;
  }
};

// Calls body(PixelFormat<...>{}) for the type of a supported image and returns true; returns
// false (calling nothing) for any other type.
template <class F>
bool WithPixelFormat(int type, F&& body) {
  switch (static_cast<ImageType>(type)) {
    case ImageType::Rgb24:
      body(PixelFormat<Depth8, 3>{});
      return true;
    case ImageType::Gray8:
      body(PixelFormat<Depth8, 1>{});
      return true;
    case ImageType::Rgb48:
      body(PixelFormat<Depth16, 3>{});
      return true;
    case ImageType::Gray16:
      body(PixelFormat<Depth16, 1>{});
      return true;
  }
  return false;
}

// Rows first to last of an image, read in machine order into one block (the effects read their
// source at arbitrary positions, and a copy taken before any write also makes src == dst safe).
template <class P>
class RowBlock {
 public:
  using Sample = typename P::Sample;

  RowBlock(Kasa& image, int32_t first, int32_t last)
      : first_(first), stride_(RowSamples<typename P::Depth>(image)) {
    const size_t rows = last >= first ? static_cast<size_t>(last - first) + 1 : 0;
    // AllocateRow's slack keeps ReadRow's writes inside the block for the last row too.
    data_.resize(rows * stride_ + 4);
    for (size_t i = 0; i < rows; ++i) {
      ReadRow<typename P::Depth>(image, first + static_cast<int32_t>(i),
                                 data_.data() + i * stride_);
    }
  }

  // Pixel x of row y (y between first and last).
  const Sample* At(int64_t x, int64_t y) const {
    return data_.data() + static_cast<size_t>(y - first_) * stride_ +
           static_cast<size_t>(x) * P::kSamples;
  }

 private:
  int32_t first_;
  size_t stride_;
  std::vector<Sample> data_;
};

}  // namespace marlo

#endif  // MARLO_EFFECTS_WHOLE_PIXELS_H
