// Focus in circle on each image type into a reused destination (rebuilt as a copy of the
// source by every call), with a circle that reaches the image's corners so that every interior
// pixel is sharpened.
#include "bench_images.h"

namespace {

void RunFocusCircle(benchmark::State& state, ImageType type) {
  Kasa& src = marlo::bench::SourceImage(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  const int32_t cx = marlo::bench::kWidth / 2;
  const int32_t cy = marlo::bench::kHeight / 2;
  const int32_t radius = 3606;  // sqrt(3000^2 + 2000^2) rounds to 3606
  for (auto _ : state) {
    benchmark::DoNotOptimize(ImageFocusInCircle(&src, &dst, cx, cy, radius, 150, nullptr, 0, 100));
  }
  marlo::bench::SetMegapixelRate(state,
                                 static_cast<double>(marlo::bench::kWidth) * marlo::bench::kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48, ImageType::Gray16}) {
    const std::string name = std::string("ImageFocusInCircle/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunFocusCircle(s, type);
    })->Unit(benchmark::kMillisecond);
  }
}

const int registered = (Register(), 0);

}  // namespace
