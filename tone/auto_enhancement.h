// Auto enhancement: auto exposure from the source into the destination, then sharpening of the
// destination in place, with the progress range split between the two steps.
#ifndef MARLO_TONE_AUTO_ENHANCEMENT_H
#define MARLO_TONE_AUTO_ENHANCEMENT_H

#include <cstdint>

#include "frame/frame.h"
#include "tone/auto_exposure.h"

namespace marlo {

class CAutoEnhancement {
 public:
  // Exposure with use strength 1 and `exposure` over the progress range (start, mid), then
  // FocusImage8/16 on the destination in place with `focus` over (mid, end), where
  // mid = trunc((end - start) * 0.5). A refused or failed exposure step stops the call before
  // the sharpening; an abort during the sharpening leaves the rows sharpened so far.
  Status Run(Kasa* src, Kasa* dst, float exposure, int16_t focus, ProgressCallback cb,
             int32_t start, int32_t end);

 private:
  CAutoExposure engine_;
};

// The split point: half the length of the range (not start plus half), truncated toward zero.
int32_t EnhancementSplit(int32_t start, int32_t end);

}  // namespace marlo

#endif  // MARLO_TONE_AUTO_ENHANCEMENT_H
