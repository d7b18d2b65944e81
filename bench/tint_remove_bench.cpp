// Colour tint removal on both accepted types. The reference point is a 3 x 3 patch with a mild
// warm cast painted into a copy of the benchmark image, so that every run builds its curves and
// maps the whole image.
#include <cstring>
#include <map>
#include <memory>

#include "bench_images.h"

namespace {

constexpr int32_t kPointX = 3000;
constexpr int32_t kPointY = 2000;

Kasa& CastSource(ImageType type) {
  static std::map<ImageType, std::unique_ptr<Kasa>> images;
  auto& image = images[type];
  if (!image) {
    image = std::make_unique<Kasa>();
    image->CopyImage(&marlo::bench::SourceImage(type));
    const bool wide = type == ImageType::Rgb48;
    for (int32_t y = kPointY - 1; y <= kPointY + 1; ++y) {
      for (int32_t x = kPointX - 1; x <= kPointX + 1; ++x) {
        // red 120, green 110, blue 100 (scaled to 16 bits with low bytes of their own)
        const int64_t value = wide ? (int64_t{120 * 257 + 11} | int64_t{110 * 257 + 7} << 16 |
                                      int64_t{100 * 257 + 3} << 32)
                                   : int64_t{120 << 16 | 110 << 8 | 100};
        image->SetPixelRGB(x, y, value);
      }
    }
  }
  return *image;
}

void RunRemove(benchmark::State& state, ImageType type) {
  Kasa& src = CastSource(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  ColorTintRemove(&src, &dst, kPointX, kPointY, nullptr, 0, 100);
  if (std::memcmp(src.RowData(0), dst.RowData(0), static_cast<size_t>(src.GetLineBytes())) == 0) {
    state.SkipWithError("the reference was not accepted: nothing would be timed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(ColorTintRemove(&src, &dst, kPointX, kPointY, nullptr, 0, 100));
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
