// The seventeen exports: each guards its filter's entry so that no exception crosses the
// boundary (an exception, such as a failed allocation, gives the export's failure result).
#include "frame/entries.h"
#include "frame/frame.h"

using marlo::Guard;

extern "C" {

int32_t MARLO_STDCALL ImageFocusInCircle(Kasa* src, Kasa* dst, int32_t cx, int32_t cy,
                                         int32_t radius, int32_t strength, ProgressCallback cb,
                                         int32_t start, int32_t end) {
  return Guard(0, [&] {
    return marlo::entry::ImageFocusInCircle(src, dst, cx, cy, radius, strength, cb, start, end);
  });
}

int32_t MARLO_STDCALL AutoAdjustment(Kasa* src, Kasa* dst) {
  return Guard(0, [&] { return marlo::entry::AutoAdjustment(src, dst); });
}

int32_t MARLO_STDCALL AutoEnhancement(Kasa* src, Kasa* dst, float exposure, int32_t focus,
                                      ProgressCallback cb, int32_t start, int32_t end) {
  return Guard(
      0, [&] { return marlo::entry::AutoEnhancement(src, dst, exposure, focus, cb, start, end); });
}

int32_t MARLO_STDCALL AutoExposure(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                                   ProgressCallback cb, int32_t start, int32_t end) {
  return Guard(0, [&] {
    return marlo::entry::AutoExposure(src, dst, useStrength, strength, cb, start, end);
  });
}

int32_t MARLO_STDCALL BookEffect(Kasa* src, Kasa* dst, uint32_t axis, uint32_t folding,
                                 uint32_t slanting) {
  return Guard(0, [&] { return marlo::entry::BookEffect(src, dst, axis, folding, slanting); });
}

int32_t MARLO_STDCALL CBEnhancement(Kasa* src, Kasa* dst, const int32_t* contrast,
                                    const int32_t* brightness, ProgressCallback cb, int32_t start,
                                    int32_t end) {
  return Guard(0, [&] {
    return marlo::entry::CBEnhancement(src, dst, contrast, brightness, cb, start, end);
  });
}

int32_t MARLO_STDCALL ColorTintAddByHS(Kasa* src, Kasa* dst, int32_t hue, float saturation,
                                       ProgressCallback cb, int32_t start, int32_t end) {
  return Guard(
      0, [&] { return marlo::entry::ColorTintAddByHS(src, dst, hue, saturation, cb, start, end); });
}

int32_t MARLO_STDCALL ColorTintAddByRGB(Kasa* src, Kasa* dst, int32_t red, int32_t green,
                                        int32_t blue, ProgressCallback cb, int32_t start,
                                        int32_t end) {
  return Guard(0, [&] {
    return marlo::entry::ColorTintAddByRGB(src, dst, red, green, blue, cb, start, end);
  });
}

int32_t MARLO_STDCALL ColorTintRemove(Kasa* src, Kasa* dst, int32_t x, int32_t y,
                                      ProgressCallback cb, int32_t start, int32_t end) {
  return Guard(0, [&] { return marlo::entry::ColorTintRemove(src, dst, x, y, cb, start, end); });
}

int32_t MARLO_STDCALL ConvexLens(Kasa* src, Kasa* dst, uint32_t cx, uint32_t cy, uint32_t radius,
                                 uint32_t magnific) {
  return Guard(0, [&] { return marlo::entry::ConvexLens(src, dst, cx, cy, radius, magnific); });
}

int32_t MARLO_STDCALL Despeckle(Kasa* src, Kasa* dst, int32_t threshold, ProgressCallback cb,
                                int32_t start, int32_t end) {
  return Guard(0, [&] { return marlo::entry::Despeckle(src, dst, threshold, cb, start, end); });
}

int32_t MARLO_STDCALL HSLEnhancement(Kasa* src, Kasa* dst, const int32_t* hue,
                                     const int32_t* saturation, const int32_t* lightness,
                                     ProgressCallback cb, int32_t start, int32_t end) {
  return Guard(0, [&] {
    return marlo::entry::HSLEnhancement(src, dst, hue, saturation, lightness, cb, start, end);
  });
}

int32_t MARLO_STDCALL ImageFocus(Kasa* src, Kasa* dst, int32_t strength, ProgressCallback cb,
                                 int32_t start, int32_t end) {
  return Guard(0, [&] { return marlo::entry::ImageFocus(src, dst, strength, cb, start, end); });
}

int32_t MARLO_STDCALL LightAdjustment(Kasa* src, Kasa* dst, int32_t fromKelvin, int32_t toKelvin,
                                      ProgressCallback cb, int32_t start, int32_t end) {
  // The result is reversed: 1 is the failure result.
  return Guard(1, [&] {
    return marlo::entry::LightAdjustment(src, dst, fromKelvin, toKelvin, cb, start, end);
  });
}

int32_t MARLO_STDCALL RemoveNoise(Kasa* src, Kasa* dst) {
  return Guard(0, [&] { return marlo::entry::RemoveNoise(src, dst); });
}

int32_t MARLO_STDCALL RemoveRedEyeClr(Kasa* src, Kasa* dst, int32_t x, int32_t y,
                                      ProgressCallback cb, int32_t start, int32_t end) {
  return Guard(0, [&] { return marlo::entry::RemoveRedEyeClr(src, dst, x, y, cb, start, end); });
}

int32_t MARLO_STDCALL Saturation(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb,
                                 int32_t start, int32_t end) {
  return Guard(0, [&] { return marlo::entry::Saturation(src, dst, amount, cb, start, end); });
}

}  // extern "C"
