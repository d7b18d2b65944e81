// Despeckle on each image type into a reused destination, with a threshold that replaces a
// good share of the samples.
#include "bench_images.h"

namespace {

void RunDespeckle(benchmark::State& state, ImageType type) {
  Kasa& src = marlo::bench::SourceImage(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Despeckle(&src, &dst, 4, nullptr, 0, 100));
  }
  marlo::bench::SetMegapixelRate(state,
                                 static_cast<double>(marlo::bench::kWidth) * marlo::bench::kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48, ImageType::Gray16}) {
    const std::string name = std::string("Despeckle/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunDespeckle(s, type);
    })->Unit(benchmark::kMillisecond);
  }
}

const int registered = (Register(), 0);

}  // namespace
