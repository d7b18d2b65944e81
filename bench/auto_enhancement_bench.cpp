// Auto enhancement on each image type, into a reused destination.
#include "bench_images.h"

namespace {

using marlo::bench::kHeight;
using marlo::bench::kWidth;

void RunEnhancement(benchmark::State& state, ImageType type) {
  Kasa& src = marlo::bench::SourceImage(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  for (auto _ : state) {
    benchmark::DoNotOptimize(AutoEnhancement(&src, &dst, 1.0f, 60, nullptr, 0, 100));
  }
  marlo::bench::SetMegapixelRate(state, static_cast<double>(kWidth) * kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48, ImageType::Gray16}) {
    const std::string name = std::string("AutoEnhancement/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunEnhancement(s, type);
    })->Unit(benchmark::kMillisecond);
  }
}

const int registered = (Register(), 0);

}  // namespace
