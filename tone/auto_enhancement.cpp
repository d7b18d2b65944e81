// Auto enhancement (AutoEnhancement) on all four image types.
#include "tone/auto_enhancement.h"

#include "detail/image_focus.h"
#include "frame/entries.h"

namespace marlo {

int32_t EnhancementSplit(int32_t start, int32_t end) {
  // Formed in double, so that a range wider than 32 bits does not wrap; half of it always fits.
  return static_cast<int32_t>((static_cast<double>(end) - static_cast<double>(start)) * 0.5);
}

Status CAutoEnhancement::Run(Kasa* src, Kasa* dst, float exposure, int16_t focus,
                             ProgressCallback cb, int32_t start, int32_t end) {
  const int type = src != nullptr ? src->GetImageType() : 0;
  const int32_t mid = EnhancementSplit(start, end);
  // The caller's exposure strength is always used: exactly 1 or 0 select the automatic rules.
  const Status exposed = engine_.Run(src, dst, 1, exposure, cb, start, mid);
  if (exposed != Status::Ok) return exposed;
  // The destination now has the source's type and size; it is sharpened in place.
  if (Depth8::Accepts(type)) return FocusImage8(dst, dst, focus, cb, mid, end);
  if (Depth16::Accepts(type)) return FocusImage16(dst, dst, focus, cb, mid, end);
  return Status::Refused;  // not reached: the engine refuses every other type
}

namespace entry {

int32_t AutoEnhancement(Kasa* src, Kasa* dst, float exposure, int32_t focus, ProgressCallback cb,
                        int32_t start, int32_t end) {
  CAutoEnhancement filter;
  return filter.Run(src, dst, exposure, FocusStrengthFromArgument(focus), cb, start, end) ==
                 Status::Ok
             ? 1
             : 0;
}

}  // namespace entry

}  // namespace marlo
