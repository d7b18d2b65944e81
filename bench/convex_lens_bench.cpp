// Convex lens on each image type: a lens centred on the picture whose radius (3700) reaches
// beyond its corners, so that every one of the 24 million pixels is remapped.
#include "bench_images.h"

namespace {

void RunLens(benchmark::State& state, ImageType type) {
  Kasa& src = marlo::bench::SourceImage(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  for (auto _ : state) benchmark::DoNotOptimize(ConvexLens(&src, &dst, 3000, 2000, 3700, 2));
  marlo::bench::SetMegapixelRate(state,
                                 static_cast<double>(marlo::bench::kWidth) * marlo::bench::kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48, ImageType::Gray16}) {
    const std::string name = std::string("ConvexLens/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunLens(s, type);
    })->Unit(benchmark::kMillisecond);
  }
}

const int registered = (Register(), 0);

}  // namespace
