// Noise removal: a conditional 3 x 3 median. A pixel that lies close to the median of its
// neighbourhood in every channel stays; any other pixel is replaced by the per-channel medians.
#ifndef MARLO_DETAIL_REMOVE_NOISE_H
#define MARLO_DETAIL_REMOVE_NOISE_H

#include <cstdint>

#include "frame/frame.h"

namespace marlo {

// A channel is quiet when its distance to the median is at most this many levels. The rule
// d < ln(d) + 26 (ln taken as 0 below 1) holds for the integers 0..29 and for no larger one.
// 16-bit samples use the same rule on their own scale: 29 x 257 = 7453.
template <class D>
constexpr int32_t kQuietDistance = 29 * D::kScale;

// The fifth smallest of nine values.
int32_t Median9(int32_t v0, int32_t v1, int32_t v2, int32_t v3, int32_t v4, int32_t v5, int32_t v6,
                int32_t v7, int32_t v8);

class CRemoveNoise {
 public:
  // Refused for a null or empty image, or a destination of another type or smaller than the
  // source in either direction. Otherwise every interior pixel of the source (rows 1 to
  // height - 2, columns 1 to width - 2) is written to the same position of the destination;
  // the destination's other pixels keep what they held. Ok also when the source is too small
  // to have interior pixels.
  static Status Run(Kasa* src, Kasa* dst);
};

}  // namespace marlo

#endif  // MARLO_DETAIL_REMOVE_NOISE_H
