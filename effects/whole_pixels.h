// Whole pixels of any image type, for the distortion effects: they only move pixels from one
// place to another (or paint them white), so a pixel is copied as its stored bytes, never through
// a reduced packing, and a 16-bit image loses nothing. White (every sample at its largest value)
// is all bytes 0xFF and black (every sample 0) all bytes 0 in either byte order, so 16-bit
// samples need no swapping either.
#ifndef MARLO_EFFECTS_WHOLE_PIXELS_H
#define MARLO_EFFECTS_WHOLE_PIXELS_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "frame/frame.h"

namespace marlo {

// Calls body(std::integral_constant<int, B>{}) with the bytes per pixel B of a supported image
// type (3, 1, 6, 2) and returns true; returns false (calling nothing) for any other type.
template <class F>
bool WithPixelBytes(int type, F&& body) {
  switch (static_cast<ImageType>(type)) {
    case ImageType::Rgb24:
      body(std::integral_constant<int, 3>{});
      return true;
    case ImageType::Gray8:
      body(std::integral_constant<int, 1>{});
      return true;
    case ImageType::Rgb48:
      body(std::integral_constant<int, 6>{});
      return true;
    case ImageType::Gray16:
      body(std::integral_constant<int, 2>{});
      return true;
  }
  return false;
}

// Asks for the cache line holding p, without waiting for it (the effects read their source
// along curves that cross rows, which the hardware does not foresee).
inline void Prefetch(const void* p) {
  __builtin_prefetch(p);
}

}  // namespace marlo

#endif  // MARLO_EFFECTS_WHOLE_PIXELS_H
