// Image focus on each image type, into a reused destination and in place.
#include "bench_images.h"

namespace {

using marlo::bench::kHeight;
using marlo::bench::kWidth;

void RunFocus(benchmark::State& state, ImageType type, int32_t strength) {
  Kasa& src = marlo::bench::SourceImage(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ImageFocus(&src, &dst, strength, nullptr, 0, 100));
  }
  marlo::bench::SetMegapixelRate(state, static_cast<double>(kWidth) * kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48, ImageType::Gray16}) {
    const std::string name = std::string("ImageFocus/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunFocus(s, type, 80);
    })->Unit(benchmark::kMillisecond);
  }
  // A strength whose 16-bit products need 64 bits.
  benchmark::RegisterBenchmark("ImageFocus/Rgb48/Strength5000", [](benchmark::State& s) {
    RunFocus(s, ImageType::Rgb48, 5000);
  })->Unit(benchmark::kMillisecond);
}

const int registered = (Register(), 0);

}  // namespace
