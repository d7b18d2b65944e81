// Colour tint removal on both accepted types. The reference point is a 3 x 3 patch with a mild
// warm cast painted into a copy of the benchmark image, so that every run builds its curves and
// maps the whole image.
#include <cstring>

#include "bench_images.h"

namespace {

using marlo::bench::CastSource;
using marlo::bench::kCastPointX;
using marlo::bench::kCastPointY;

void RunRemove(benchmark::State& state, ImageType type) {
  Kasa& src = CastSource(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  ColorTintRemove(&src, &dst, kCastPointX, kCastPointY, nullptr, 0, 100);
  if (std::memcmp(src.RowData(0), dst.RowData(0), static_cast<size_t>(src.GetLineBytes())) == 0) {
    state.SkipWithError("the reference was not accepted: nothing would be timed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        ColorTintRemove(&src, &dst, kCastPointX, kCastPointY, nullptr, 0, 100));
  }
  marlo::bench::SetMegapixelRate(state,
                                 static_cast<double>(marlo::bench::kWidth) * marlo::bench::kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    const std::string name = std::string("ColorTintRemove/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunRemove(s, type);
    })->Unit(benchmark::kMillisecond);
  }
}

const int registered = (Register(), 0);

}  // namespace
