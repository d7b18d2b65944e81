// Despeckle: replaces every sample that stands out from the mean of its eight neighbours by
// more than a threshold with that mean.
#ifndef MARLO_DETAIL_DESPECKLE_H
#define MARLO_DETAIL_DESPECKLE_H

#include <cstdint>

#include "frame/frame.h"

namespace marlo {

class CDespeckle {
 public:
  // Dispatches on the source's type: 8-bit images keep the threshold, 16-bit images use it
  // multiplied by 257 (truncated). Refused for a null source or another type.
  Status Run(Kasa* src, Kasa* dst, int32_t threshold, ProgressCallback cb, int32_t start,
             int32_t end);

  // The workers. The threshold is on the scale of the samples being processed. Refused (with
  // the opening progress report already made) when the destination differs from the source in
  // width, height or type, or the source has a type of the other width; Aborted when the
  // callback stops the pass.
  Status Despeckle8(Kasa* src, Kasa* dst, int64_t threshold, ProgressCallback cb, int32_t start,
                    int32_t end);
  Status Despeckle16(Kasa* src, Kasa* dst, int64_t threshold, ProgressCallback cb, int32_t start,
                     int32_t end);

 private:
  template <class D>
  Status Pass(Kasa* src, Kasa* dst, int64_t threshold, ProgressCallback cb, int32_t start,
              int32_t end);

  int64_t threshold_ = 128;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int type_ = 0;
};

// Filters one row: every sample of pixels 1 to width - 2 of `out` is written: with the mean of its
// eight neighbours (sum / 8, rounded down) when the sample differs from that mean by more than
// `threshold` (both comparisons strict), else with the sample itself. The first and last pixel of
// `out` are not written (they keep the current row's samples, which the caller puts there). `spp`
// is 3 for RGB rows (neighbours are the same channel of the adjacent pixels) and 1 for grey ones.
// `scratch` is work space of 2 * width * spp samples.
template <class Sample>
void DespeckleRow(const Sample* above, const Sample* current, const Sample* below, Sample* out,
                  int32_t width, int spp, int64_t threshold, Sample* scratch);

}  // namespace marlo

#endif  // MARLO_DETAIL_DESPECKLE_H
