// HSL enhancement on 24-bit and 48-bit RGB, into a reused destination.
#include "bench_images.h"

namespace {

using marlo::bench::kHeight;
using marlo::bench::kWidth;

const int32_t kHue[7] = {10, 0, 20, 0, -30, 0, 15};
const int32_t kSaturation[7] = {5, 30, 0, -10, 0, -20, 0};
const int32_t kLightness[7] = {-5, 10, 0, 0, 20, 0, -10};

void RunHsl(benchmark::State& state, ImageType type) {
  Kasa& src = marlo::bench::SourceImage(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        HSLEnhancement(&src, &dst, kHue, kSaturation, kLightness, nullptr, 0, 100));
  }
  marlo::bench::SetMegapixelRate(state, static_cast<double>(kWidth) * kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    const std::string name = std::string("HSLEnhancement/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunHsl(s, type);
    })->Unit(benchmark::kMillisecond);
  }
}

const int registered = (Register(), 0);

}  // namespace
