// Contrast and brightness: one straight tone line per channel, sampled into a look-up table.
#ifndef MARLO_TONE_CB_ENHANCEMENT_H
#define MARLO_TONE_CB_ENHANCEMENT_H

#include <cstdint>

#include "frame/frame.h"

namespace marlo {

// Fills table[0..D::kMax] with the tone line of contrast c and brightness b:
// slope t = tan((c * 0.44 + 45) degrees, with pi taken as 3.14159), turning about the middle of
// the range; entry i = i * t + offset + 0.5, clamped to 0..max and truncated.
template <class D>
void BuildToneLine(int32_t contrast, int32_t brightness, typename D::Sample* table);

class CCBEnhancement {
 public:
  // Copies the three contrast and three brightness values (red, green, blue). Always 1.
  int SetParameters(const int32_t* contrast, const int32_t* brightness);
  // The run of the wait-cursor filters (RunWithWaitCursor) on all four types.
  Status Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end);

 private:
  int32_t contrast_[3] = {0, 0, 0};
  int32_t brightness_[3] = {0, 0, 0};
};

}  // namespace marlo

#endif  // MARLO_TONE_CB_ENHANCEMENT_H
