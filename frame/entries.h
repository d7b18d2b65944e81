// The library side of the seventeen exports. Each export in exports.cpp guards one of these
// against exceptions and passes its result on; each is defined in its filter's own source file,
// where it builds the filter object, sets its parameters, runs it and maps the outcome to the
// export's result code.
#ifndef MARLO_FRAME_ENTRIES_H
#define MARLO_FRAME_ENTRIES_H

#include <cstdint>

#include "marlo.h"

namespace marlo::entry {

int32_t ImageFocusInCircle(Kasa* src, Kasa* dst, int32_t cx, int32_t cy, int32_t radius,
                           int32_t strength, ProgressCallback cb, int32_t start, int32_t end);
int32_t AutoAdjustment(Kasa* src, Kasa* dst);
int32_t AutoEnhancement(Kasa* src, Kasa* dst, float exposure, int32_t focus, ProgressCallback cb,
                        int32_t start, int32_t end);
int32_t AutoExposure(Kasa* src, Kasa* dst, int32_t useStrength, float strength, ProgressCallback cb,
                     int32_t start, int32_t end);
int32_t BookEffect(Kasa* src, Kasa* dst, uint32_t axis, uint32_t folding, uint32_t slanting);
int32_t CBEnhancement(Kasa* src, Kasa* dst, const int32_t* contrast, const int32_t* brightness,
                      ProgressCallback cb, int32_t start, int32_t end);
int32_t ColorTintAddByHS(Kasa* src, Kasa* dst, int32_t hue, float saturation, ProgressCallback cb,
                         int32_t start, int32_t end);
int32_t ColorTintAddByRGB(Kasa* src, Kasa* dst, int32_t red, int32_t green, int32_t blue,
                          ProgressCallback cb, int32_t start, int32_t end);
int32_t ColorTintRemove(Kasa* src, Kasa* dst, int32_t x, int32_t y, ProgressCallback cb,
                        int32_t start, int32_t end);
int32_t ConvexLens(Kasa* src, Kasa* dst, uint32_t cx, uint32_t cy, uint32_t radius,
                   uint32_t magnific);
int32_t Despeckle(Kasa* src, Kasa* dst, int32_t threshold, ProgressCallback cb, int32_t start,
                  int32_t end);
int32_t HSLEnhancement(Kasa* src, Kasa* dst, const int32_t* hue, const int32_t* saturation,
                       const int32_t* lightness, ProgressCallback cb, int32_t start, int32_t end);
int32_t ImageFocus(Kasa* src, Kasa* dst, int32_t strength, ProgressCallback cb, int32_t start,
                   int32_t end);
int32_t LightAdjustment(Kasa* src, Kasa* dst, int32_t fromKelvin, int32_t toKelvin,
                        ProgressCallback cb, int32_t start, int32_t end);
int32_t RemoveNoise(Kasa* src, Kasa* dst);
int32_t RemoveRedEyeClr(Kasa* src, Kasa* dst, int32_t x, int32_t y, ProgressCallback cb,
                        int32_t start, int32_t end);
int32_t Saturation(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb, int32_t start,
                   int32_t end);

}  // namespace marlo::entry

#endif  // MARLO_FRAME_ENTRIES_H
