// Focus in circle: sharpens (or softens) only the pixels inside a circle, with a four-neighbour
// Laplacian averaged over the neighbours and a gain of strength / 100.
#ifndef MARLO_DETAIL_FOCUS_CIRCLE_H
#define MARLO_DETAIL_FOCUS_CIRCLE_H

#include <array>
#include <cstdint>

#include "frame/frame.h"

namespace marlo {

// The square around the circle, cut to the image: left, top, width and height. Width or height
// 0 or below means an empty box. All in 64 bits, so no radius or centre can overflow.
struct CircleBox {
  int64_t x0;
  int64_t y0;
  int64_t width;
  int64_t height;
};

CircleBox ClipCircleBox(int32_t cx, int32_t cy, int32_t radius, int32_t imageWidth,
                        int32_t imageHeight);

// trunc(sqrt(dx * dx + dy * dy) + 0.5) <= radius, the square root in double precision. The sum
// of squares is formed in 64 bits (|dx| and |dy| inside a box never exceed 2^31).
bool InsideCircle(int64_t dx, int64_t dy, int32_t radius);

// One channel of one pixel: A = (4p - l - r - u - d) / 4 truncated toward zero, then
// trunc(A * gain + p + 0.5) in double precision, clamped to 0..max.
int32_t FocusSample(int32_t p, int32_t l, int32_t r, int32_t u, int32_t d, float gain, int32_t max);
// The same once A is known: trunc(a * gain + p + 0.5) in double precision, clamped to 0..max.
int32_t FocusValue(int32_t a, int32_t p, float gain, int32_t max);

// For 8-bit samples (a in -255..255, p in 0..255) FocusValue(a, p, gain, 255) is
// clamp(p + D(a), 0, 255) with D(a) = floor(a * gain + 0.5): all three double operations are
// exact while |a * gain| < 2^22 (a * gain has at most 33 significant bits; a non-zero gain is at
// least 0.01, a multiple of 2^-30, and every partial sum stays below 2^23 in magnitude, so 53
// bits hold it), and then trunc(q) = p + D(a) for q >= 0, q < 0 exactly when p + D(a) < 0 and
// q >= 256 exactly when p + D(a) >= 256; for |a * gain| >= 2^22 both forms give 0 or 255 by the
// sign. The offsets are taken from FocusValue itself: D(a) = FocusValue(a, 0) when that is
// above 0, else FocusValue(a, 255) - 255; an offset of 255 or -255 stands for any D(a) at or
// beyond it, which clamps alike. offsets[a + 255] holds the offset of a.
std::array<int32_t, 511> FocusOffsets8(float gain);

// The workers: Refused for a null or empty image or a source of the other width; NoMemory when
// the destination cannot be rebuilt; Aborted when the callback stops the pass.
Status FocusCircle8(Kasa* src, Kasa* dst, int32_t cx, int32_t cy, int32_t radius, int32_t strength,
                    ProgressCallback cb, int32_t start, int32_t end);
Status FocusCircle16(Kasa* src, Kasa* dst, int32_t cx, int32_t cy, int32_t radius, int32_t strength,
                     ProgressCallback cb, int32_t start, int32_t end);

}  // namespace marlo

#endif  // MARLO_DETAIL_FOCUS_CIRCLE_H
