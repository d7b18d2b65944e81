// Auto adjustment: automatic levels. Each channel's histogram is cut at 5 % of the pixels from
// below and from above, and what lies between is stretched over the whole range.
#ifndef MARLO_TONE_AUTO_ADJUSTMENT_H
#define MARLO_TONE_AUTO_ADJUSTMENT_H

#include <cstdint>
#include <vector>

#include "frame/frame.h"

namespace marlo {

// The field that holds a channel's stretch bounds: unsigned and wider than the samples, 16 bits
// for 8-bit samples and 32 bits for 16-bit ones. When more than 95 % of a channel's samples are
// 0, the search from the top steps below bin 0 and the high bound wraps to the field's largest
// value, far above every sample; the channel then stretches to 0. The 16-bit field keeps that
// behaviour on 16-bit samples (a 16-bit field would wrap onto the sample 65535 instead).
template <class D>
struct LevelField;
template <>
struct LevelField<Depth8> {
  using Type = uint16_t;
};
template <>
struct LevelField<Depth16> {
  using Type = uint32_t;
};

template <class D>
struct ChannelLevels {
  typename LevelField<D>::Type low;
  typename LevelField<D>::Type high;
};

// The bounds of one channel from its histogram (D::kMax + 1 bins) and the threshold N / 20:
// low is one more than the first bin at which the count cumulated from below reaches the
// threshold, high one less than the first bin at which the count cumulated from above reaches
// it. A threshold of 0 leaves low = 0 and high = D::kMax.
template <class D>
ChannelLevels<D> FindLevels(const uint64_t* histogram, uint64_t threshold);

// The stretch of one channel for every sample value: 0 below low, D::kMax above high, and
// ((v - low) * D::kMax) / (high - low) between (unsigned, truncated). When low and high are
// equal, the samples equal to them become D::kMax.
template <class D>
void BuildStretch(const ChannelLevels<D>& levels, typename D::Sample* table);

class CAutoAdjustment {
 public:
  // Refused for a null or empty image, or a destination of another type or smaller than the
  // source in either direction. Otherwise counts the source, finds the bounds and writes the
  // stretched source into the destination's top-left part (all of it when the sizes match).
  Status Run(Kasa* src, Kasa* dst);

 private:
  template <class D>
  void Adjust(Kasa* src, Kasa* dst);
};

}  // namespace marlo

#endif  // MARLO_TONE_AUTO_ADJUSTMENT_H
