// Saturation: one signed percentage rescales the saturation of every pixel in the integer
// colour model; hue and lightness stay as the model computes them, grey pixels are untouched.
#ifndef MARLO_COLOUR_SATURATION_H
#define MARLO_COLOUR_SATURATION_H

#include <cstdint>

#include "frame/frame.h"

namespace marlo {

class CSaturation {
 public:
  // Stores the amount (percent, not range-checked). Always 1.
  int SetParameters(const int32_t* amount);
  // The run of the wait-cursor filters (RunWithWaitCursor) on 24-bit and 48-bit RGB.
  Status Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end);

 private:
  int32_t amount_ = 0;
};

// The row workers: Ok when every row was written, Aborted when the callback stopped them. The
// progress report of a row falls after the row is read and before it is transformed, so an
// abort leaves that row unwritten.
Status SaturateImage8(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb, int32_t start,
                      int32_t end);
Status SaturateImage16(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb, int32_t start,
                       int32_t end);

}  // namespace marlo

#endif  // MARLO_COLOUR_SATURATION_H
