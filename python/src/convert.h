// Pixels between numpy arrays and Kasa images, in one pass each way: red-green-blue samples in
// any strides on the array side, padded rows of blue-green-red with 16-bit samples most
// significant byte first on the store's side.
#ifndef MARLO_PYTHON_CONVERT_H
#define MARLO_PYTHON_CONVERT_H

#include <cstdint>

#include "kasa.h"

namespace marlo_py {

// Where the samples of an (H, W) or (H, W, 3) array of 1- or 2-byte unsigned samples lie.
// Strides are in bytes and may be of any sign (zero included for reading).
struct ArrayLayout {
  uint8_t* data = nullptr;
  int32_t height = 0;
  int32_t width = 0;
  int channels = 1;  // 1 (grey) or 3 (red, green, blue)
  int bytes = 1;     // 1 or 2 per sample
  bool bigEndian = false;
  int64_t rowStride = 0;
  int64_t pixelStride = 0;
  int64_t sampleStride = 0;
};

// The Kasa type for `channels` samples of `bytes` bytes: Gray8, Rgb24, Gray16 or Rgb48.
int KasaTypeFor(int channels, int bytes);

// Fills `image`, which has the array's height, width and sample size, from the array: RGB
// arrays into RGB images, grey arrays into grey images or, into an RGB image, as r = g = b.
void ArrayToKasa(const ArrayLayout& array, Kasa* image);

// Fills the array from `image`, which has the array's height, width, channels and sample size.
void KasaToArray(const Kasa& image, const ArrayLayout& array);

}  // namespace marlo_py

#endif  // MARLO_PYTHON_CONVERT_H
