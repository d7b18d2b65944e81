#include "export_calls.h"

namespace marlo::bench {

namespace {

const int32_t kContrast[3] = {30, 20, 10};
const int32_t kBrightness[3] = {5, -5, 10};
const int32_t kHue[7] = {10, 0, 20, 0, -30, 0, 15};
const int32_t kSaturation[7] = {5, 30, 0, -10, 0, -20, 0};
const int32_t kLightness[7] = {-5, 10, 0, 0, 20, 0, -10};

}  // namespace

const std::vector<ExportCall>& ExportCalls() {
  // Local, so that benchmarks registering during static initialisation find them built.
  const std::vector<ImageType> kAll = {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48,
                                       ImageType::Gray16};
  const std::vector<ImageType> kColour = {ImageType::Rgb24, ImageType::Rgb48};
  static const std::vector<ExportCall> calls = {
      {"AutoAdjustment", kAll,
       [](Kasa* s, Kasa* d, ProgressCallback) { return AutoAdjustment(s, d); }, false},
      {"AutoEnhancement", kAll,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return AutoEnhancement(s, d, 1.0f, 60, cb, 0, 100);
       },
       true},
      {"AutoExposure", kAll,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return AutoExposure(s, d, 0, 1.0f, cb, 0, 100);
       },
       true},
      {"BookEffect", kAll,
       [](Kasa* s, Kasa* d, ProgressCallback) { return BookEffect(s, d, 45, 20, 30); }, false},
      {"CBEnhancement", kAll,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return CBEnhancement(s, d, kContrast, kBrightness, cb, 0, 100);
       },
       true, true},
      {"ColorTintAddByHS", kColour,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return ColorTintAddByHS(s, d, 30, 0.4f, cb, 0, 100);
       },
       true},
      {"ColorTintAddByRGB", kColour,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return ColorTintAddByRGB(s, d, 35, -10, -40, cb, 0, 100);
       },
       true},
      {"ColorTintRemove", kColour,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return ColorTintRemove(s, d, kCastPointX, kCastPointY, cb, 0, 100);
       },
       true, true, &CastSource},
      {"ConvexLens", kAll,
       [](Kasa* s, Kasa* d, ProgressCallback) { return ConvexLens(s, d, 3000, 2000, 3700, 2); },
       false},
      {"Despeckle", kAll,
       [](Kasa* s, Kasa* d, ProgressCallback cb) { return Despeckle(s, d, 4, cb, 0, 100); }, true},
      {"HSLEnhancement", kColour,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return HSLEnhancement(s, d, kHue, kSaturation, kLightness, cb, 0, 100);
       },
       true, true},
      {"ImageFocus", kAll,
       [](Kasa* s, Kasa* d, ProgressCallback cb) { return ImageFocus(s, d, 60, cb, 0, 100); },
       true},
      {"ImageFocusInCircle", kAll,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return ImageFocusInCircle(s, d, kWidth / 2, kHeight / 2, 3606, 150, cb, 0, 100);
       },
       true},
      {"LightAdjustment", kColour,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return LightAdjustment(s, d, 3200, 6500, cb, 0, 100);
       },
       true},
      {"RemoveNoise", kAll, [](Kasa* s, Kasa* d, ProgressCallback) { return RemoveNoise(s, d); },
       false},
      {"RemoveRedEyeClr", kColour,
       [](Kasa* s, Kasa* d, ProgressCallback cb) {
         return RemoveRedEyeClr(s, d, 2200, 1800, cb, 0, 100);
       },
       true, true},
      {"Saturation", kColour,
       [](Kasa* s, Kasa* d, ProgressCallback cb) { return Saturation(s, d, 40, cb, 0, 100); }, true,
       true},
  };
  return calls;
}

}  // namespace marlo::bench
