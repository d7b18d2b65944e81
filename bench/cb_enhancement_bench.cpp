// Contrast and brightness on each image type, into a reused destination.
#include "bench_images.h"

namespace {

using marlo::bench::kHeight;
using marlo::bench::kWidth;

void RunContrast(benchmark::State& state, ImageType type) {
  Kasa& src = marlo::bench::SourceImage(type);
  Kasa& reused = marlo::bench::ReusedDestination(type);
  const int32_t contrast[3] = {30, 20, 10};
  const int32_t brightness[3] = {5, -5, 10};
  for (auto _ : state) {
    benchmark::DoNotOptimize(CBEnhancement(&src, &reused, contrast, brightness, nullptr, 0, 100));
  }
  marlo::bench::SetMegapixelRate(state, static_cast<double>(kWidth) * kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48, ImageType::Gray16}) {
    const std::string name = std::string("CBEnhancement/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunContrast(s, type);
    })->Unit(benchmark::kMillisecond);
  }
}

const int registered = (Register(), 0);

}  // namespace
