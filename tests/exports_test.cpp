// Every export exists under its plain name and refuses null images with its failure result,
// without calling the progress callback.
#include <functional>
#include <string>

#include "test_support.h"

namespace {

struct Export {
  const char* name;
  int32_t failure;
  std::function<int32_t(Kasa*, Kasa*)> call;
};

int32_t MARLO_STDCALL Record(int32_t start, int32_t end, int32_t current) {
  return marlo::test::ProgressRecorder::Callback(start, end, current);
}

void NoMessage(const char*) {}

std::vector<Export> Exports() {
  return {
      {"ImageFocusInCircle", 0,
       [](Kasa* s, Kasa* d) { return ImageFocusInCircle(s, d, 2, 2, 1, 100, &Record, 0, 100); }},
      {"AutoAdjustment", 0, [](Kasa* s, Kasa* d) { return AutoAdjustment(s, d); }},
      {"AutoEnhancement", 0,
       [](Kasa* s, Kasa* d) { return AutoEnhancement(s, d, 0.5f, 50, &Record, 0, 100); }},
      {"AutoExposure", 0,
       [](Kasa* s, Kasa* d) { return AutoExposure(s, d, 0, 0.5f, &Record, 0, 100); }},
      {"BookEffect", 0, [](Kasa* s, Kasa* d) { return BookEffect(s, d, 50, 10, 10); }},
      {"CBEnhancement", 0,
       [](Kasa* s, Kasa* d) {
         const int32_t c[3] = {10, 0, 0}, b[3] = {0, 10, 0};
         return CBEnhancement(s, d, c, b, &Record, 0, 100);
       }},
      {"ColorTintAddByHS", 0,
       [](Kasa* s, Kasa* d) { return ColorTintAddByHS(s, d, 30, 0.5f, &Record, 0, 100); }},
      {"ColorTintAddByRGB", 0,
       [](Kasa* s, Kasa* d) { return ColorTintAddByRGB(s, d, 10, 0, -10, &Record, 0, 100); }},
      {"ColorTintRemove", 0,
       [](Kasa* s, Kasa* d) { return ColorTintRemove(s, d, 2, 2, &Record, 0, 100); }},
      {"ConvexLens", 0, [](Kasa* s, Kasa* d) { return ConvexLens(s, d, 2, 2, 2, 2); }},
      {"Despeckle", 0, [](Kasa* s, Kasa* d) { return Despeckle(s, d, 10, &Record, 0, 100); }},
      {"HSLEnhancement", 0,
       [](Kasa* s, Kasa* d) {
         const int32_t h[7] = {10}, sat[7] = {10}, l[7] = {10};
         return HSLEnhancement(s, d, h, sat, l, &Record, 0, 100);
       }},
      {"ImageFocus", 0, [](Kasa* s, Kasa* d) { return ImageFocus(s, d, 50, &Record, 0, 100); }},
      {"LightAdjustment", 1,
       [](Kasa* s, Kasa* d) { return LightAdjustment(s, d, 3000, 6500, &Record, 0, 100); }},
      {"RemoveNoise", 0, [](Kasa* s, Kasa* d) { return RemoveNoise(s, d); }},
      {"RemoveRedEyeClr", 0,
       [](Kasa* s, Kasa* d) { return RemoveRedEyeClr(s, d, 2, 2, &Record, 0, 100); }},
      {"Saturation", 0, [](Kasa* s, Kasa* d) { return Saturation(s, d, 50, &Record, 0, 100); }},
  };
}

TEST(Exports, EveryExportRefusesNullImages) {
  MarloMessageHandler previous = MarloSetMessageHandler(&NoMessage);
  const auto exports = Exports();
  EXPECT_EQ(17u, exports.size());
  for (const auto& e : exports) {
    marlo::test::ProgressRecorder recorder;
    EXPECT_EQ(e.failure, e.call(nullptr, nullptr)) << e.name;
    Kasa empty;
    EXPECT_EQ(e.failure, e.call(nullptr, &empty)) << e.name;
    EXPECT_EQ(1, empty.IsEmpty()) << e.name;
    EXPECT_TRUE(recorder.calls().empty()) << e.name;
  }
  MarloSetMessageHandler(previous);
}

}  // namespace
