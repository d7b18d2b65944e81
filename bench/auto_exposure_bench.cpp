// Auto exposure on each image type, into a reused destination: the engine's own automatic
// strength and a caller's strength.
#include "bench_images.h"

namespace {

using marlo::bench::kHeight;
using marlo::bench::kWidth;

void RunExposure(benchmark::State& state, ImageType type, int32_t useStrength, float strength) {
  Kasa& src = marlo::bench::SourceImage(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  for (auto _ : state) {
    benchmark::DoNotOptimize(AutoExposure(&src, &dst, useStrength, strength, nullptr, 0, 100));
  }
  marlo::bench::SetMegapixelRate(state, static_cast<double>(kWidth) * kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48, ImageType::Gray16}) {
    const std::string name = std::string("AutoExposure/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunExposure(s, type, 1, 1.0f);
    })->Unit(benchmark::kMillisecond);
  }
}

const int registered = (Register(), 0);

}  // namespace
