// Auto enhancement (AutoEnhancement) on all four image types.
#include "tone/auto_enhancement.h"

#include <vector>

#include "detail/image_focus.h"

namespace marlo {

int32_t EnhancementSplit(int32_t start, int32_t end) {
  // Formed in double, so that a range wider than 32 bits does not wrap; half of it always fits.
  return static_cast<int32_t>((static_cast<double>(end) - static_cast<double>(start)) * 0.5);
}

Status CAutoEnhancement::Run(Kasa* src, Kasa* dst, float exposure, int16_t focus,
                             ProgressCallback cb, int32_t start, int32_t end) {
  const int32_t mid = EnhancementSplit(start, end);
  // The caller's exposure strength is always used: exactly 1 or 0 select the automatic rules.
  // The row buffers of the sharpening step are taken before the exposure step writes the
  // destination, so that a lack of memory cannot leave a half-finished destination behind:
  // when they cannot be had the call fails (std::bad_alloc) before anything is reported or
  // written.
  // Another type (or no source) is refused without a report, as the engine refuses it.
  return ForDepth(TypeOf(src), [&](auto depth) {
    using D = decltype(depth);
    FocusRows<D> rows(*src, true);
    const Status exposed = engine_.Run(src, dst, 1, exposure, cb, start, mid);
    if (exposed != Status::Ok) return exposed;
    return FocusImage<D>(dst, dst, focus, cb, mid, end, &rows, src);  // in place
  });
}

}  // namespace marlo

int32_t MARLO_STDCALL AutoEnhancement(Kasa* src, Kasa* dst, float exposure, int32_t focus,
                                      ProgressCallback cb, int32_t start, int32_t end) {
  return marlo::Export(0, [&] {
    marlo::CAutoEnhancement filter;
    return filter.Run(src, dst, exposure, marlo::FocusStrengthFromArgument(focus), cb, start, end);
  });
}
