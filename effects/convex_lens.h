// Convex lens: a disc of the picture magnified as if a convex lens lay on it.
#ifndef MARLO_EFFECTS_CONVEX_LENS_H
#define MARLO_EFFECTS_CONVEX_LENS_H

#include <cstdint>

#include "frame/frame.h"

namespace marlo {

// The messages of the effect, shown through the message handler.
inline constexpr const char kLensImageError[] = "Image error !";
inline constexpr const char kLensCentreError[] = "Center coordinate is out of range !";
inline constexpr const char kLensMagnificError[] = "Magnific degree is out of range !";

// The integer square root: the largest r with r * r <= n.
uint64_t IntegerSquareRoot(uint64_t n);

// The distance from the centre of the source pixel shown at distance r (1 <= r <= R) inside a
// lens of radius R and divisor k = 20 - 4 * magnific: trunc(r - sin(r * pi / R) * R / k), in
// double precision with pi taken as 3.141592653.
int64_t LensSourceDistance(int64_t r, int64_t radius, int32_t divisor);

class CConvexLens {
 public:
  // Checks the images, the centre (inside the source) and the magnific degree (1..4), showing
  // the effect's message and returning Refused on the first failure; otherwise magnifies the
  // disc of the source into the destination, which must already hold an image of the source's
  // type. Only the part of the disc inside both pictures is written; src == dst works.
  static Status Run(Kasa* src, Kasa* dst, uint32_t cx, uint32_t cy, uint32_t radius,
                    uint32_t magnific);
};

}  // namespace marlo

#endif  // MARLO_EFFECTS_CONVEX_LENS_H
