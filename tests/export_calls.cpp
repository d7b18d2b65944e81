#include "export_calls.h"

#include <cmath>

namespace marlo::test {

namespace {

struct Size {
  int32_t w, h;
};

Size SizeOf(const Kasa* image) {
  if (image == nullptr || image->IsEmpty()) return {8, 8};
  return {image->GetImageWidth(), image->GetImageHeight()};
}

// Half the diagonal, rounded: a circle about the centre of this radius covers the image.
int32_t HalfDiagonal(Size s) {
  return static_cast<int32_t>(
      std::sqrt(static_cast<double>(s.w) * s.w + static_cast<double>(s.h) * s.h) / 2 + 0.5);
}

const int32_t kContrast[][3] = {{30, 20, 10}, {0, 0, 0}, {-100, 100, -40}};
const int32_t kBrightness[][3] = {{5, -5, 10}, {0, 0, 0}, {-60, 255, 100}};
const int32_t kHue[][7] = {
    {10, 0, 20, 0, -30, 0, 15}, {0, 0, 0, 0, 0, 0, 0}, {400, -90, 180, 45, 0, -200, 30}};
const int32_t kSaturation[][7] = {
    {5, 30, 0, -10, 0, -20, 0}, {0, 0, 0, 0, 0, 0, 0}, {-100, 60, 100, -50, 20, 0, 150}};
const int32_t kLightness[][7] = {
    {-5, 10, 0, 0, 20, 0, -10}, {0, 0, 0, 0, 0, 0, 0}, {40, -100, 60, 0, -30, 90, 200}};

}  // namespace

const std::vector<ExportCall>& ExportCalls() {
  static const std::vector<ExportCall> calls = {
      {"AutoAdjustment", false, false, false, 1,
       [](Kasa* s, Kasa* d, ProgressCallback, int) { return AutoAdjustment(s, d); }},
      {"AutoEnhancement", false, true, false, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const float exposure[] = {1.0f, 0.4f, 0.0f};
         const int32_t focus[] = {60, 0, -70000};
         return AutoEnhancement(s, d, exposure[v], focus[v], cb, 0, 100);
       }},
      {"AutoExposure", false, true, false, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const int32_t use[] = {0, 1, 1};
         const float strength[] = {1.0f, 0.4f, 1.7f};
         return AutoExposure(s, d, use[v], strength[v], cb, 0, 100);
       }},
      {"BookEffect", false, false, false, 4,
       [](Kasa* s, Kasa* d, ProgressCallback, int v) {
         const uint32_t axis[] = {45, 0, 100, 101};
         const uint32_t folding[] = {20, 100, 0, 10};
         const uint32_t slanting[] = {30, 0, 100, 10};
         return BookEffect(s, d, axis[v], folding[v], slanting[v]);
       }},
      {"CBEnhancement", false, true, true, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         return CBEnhancement(s, d, kContrast[v], kBrightness[v], cb, 0, 100);
       }},
      {"ColorTintAddByHS", true, true, false, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const int32_t hue[] = {30, 200, 359};
         const float saturation[] = {0.4f, 1.0f, 0.0f};
         return ColorTintAddByHS(s, d, hue[v], saturation[v], cb, 0, 100);
       }},
      {"ColorTintAddByRGB", true, true, false, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const int32_t r[] = {35, 0, 255}, g[] = {-10, 0, -255}, b[] = {-40, 0, 100};
         return ColorTintAddByRGB(s, d, r[v], g[v], b[v], cb, 0, 100);
       }},
      {"ColorTintRemove", true, true, true, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const Size z = SizeOf(s);
         const int32_t x[] = {z.w / 2, 0, z.w - 1}, y[] = {z.h / 2, 0, z.h - 1};
         return ColorTintRemove(s, d, x[v], y[v], cb, 0, 100);
       }},
      {"ConvexLens", false, false, false, 4,
       [](Kasa* s, Kasa* d, ProgressCallback, int v) {
         const Size z = SizeOf(s);
         const auto w = static_cast<uint32_t>(z.w), h = static_cast<uint32_t>(z.h);
         const uint32_t cx[] = {w / 2, 0, w / 3, w / 2};
         const uint32_t cy[] = {h / 2, 0, h - 1, h / 2};
         const uint32_t radius[] = {(w + h) * 37 / 100, w + h, 2, 3};
         const uint32_t magnific[] = {2, 4, 1, 5};
         return ConvexLens(s, d, cx[v], cy[v], radius[v], magnific[v]);
       }},
      {"Despeckle", false, true, false, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const int32_t threshold[] = {4, -1, 300};
         return Despeckle(s, d, threshold[v], cb, 0, 100);
       }},
      {"HSLEnhancement", true, true, true, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         return HSLEnhancement(s, d, kHue[v], kSaturation[v], kLightness[v], cb, 0, 100);
       }},
      {"ImageFocus", false, true, false, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const int32_t strength[] = {60, -50, 70000};
         return ImageFocus(s, d, strength[v], cb, 0, 100);
       }},
      {"ImageFocusInCircle", false, true, false, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const Size z = SizeOf(s);
         const int32_t cx[] = {z.w / 2, 0, z.w / 3}, cy[] = {z.h / 2, 0, z.h / 2};
         const int32_t radius[] = {HalfDiagonal(z), z.w, 2};
         const int32_t strength[] = {150, -60, 30};
         return ImageFocusInCircle(s, d, cx[v], cy[v], radius[v], strength[v], cb, 0, 100);
       }},
      {"LightAdjustment", true, true, false, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const int32_t from[] = {3200, 6500, 5000}, to[] = {6500, 3200, 5000};
         return LightAdjustment(s, d, from[v], to[v], cb, 0, 100);
       }},
      {"RemoveNoise", false, false, false, 1,
       [](Kasa* s, Kasa* d, ProgressCallback, int) { return RemoveNoise(s, d); }},
      {"RemoveRedEyeClr", true, true, true, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const Size z = SizeOf(s);
         const int32_t x[] = {z.w * 11 / 30, 0, z.w - 1}, y[] = {z.h * 9 / 20, 0, z.h / 3};
         return RemoveRedEyeClr(s, d, x[v], y[v], cb, 0, 100);
       }},
      {"Saturation", true, true, true, 3,
       [](Kasa* s, Kasa* d, ProgressCallback cb, int v) {
         const int32_t amount[] = {40, -100, 100};
         return Saturation(s, d, amount[v], cb, 0, 100);
       }},
  };
  return calls;
}

}  // namespace marlo::test
