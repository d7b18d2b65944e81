// Colour tint addition on both accepted types, by percentages and by hue and saturation.
#include "bench_images.h"

namespace {

void RunTint(benchmark::State& state, ImageType type, bool byHue) {
  Kasa& src = marlo::bench::SourceImage(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  for (auto _ : state) {
    if (byHue) {
      benchmark::DoNotOptimize(ColorTintAddByHS(&src, &dst, 30, 0.4f, nullptr, 0, 100));
    } else {
      benchmark::DoNotOptimize(ColorTintAddByRGB(&src, &dst, 35, -10, -40, nullptr, 0, 100));
    }
  }
  marlo::bench::SetMegapixelRate(state,
                                 static_cast<double>(marlo::bench::kWidth) * marlo::bench::kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    for (bool byHue : {false, true}) {
      const std::string name = std::string(byHue ? "ColorTintAddByHS/" : "ColorTintAddByRGB/") +
                               marlo::bench::TypeName(type);
      benchmark::RegisterBenchmark(name.c_str(), [type, byHue](benchmark::State& s) {
        RunTint(s, type, byHue);
      })->Unit(benchmark::kMillisecond);
    }
  }
}

const int registered = (Register(), 0);

}  // namespace
