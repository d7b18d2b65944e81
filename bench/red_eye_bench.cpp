// Red-eye removal on 24-bit and 48-bit RGB. The picture gets red "pupils" painted on a copy of
// the shared image (a disc of radius 45 every 400 pixels), so that the 24-bit pass recolours
// pixels and the 48-bit flood fill around the point of one pupil has a full window of work.
// The figures cover the whole call: the copy of the source and the recolouring.
#include <memory>
#include <mutex>

#include "bench_images.h"

namespace {

Kasa& PupilImage(ImageType type) {
  static std::mutex mutex;
  static std::unique_ptr<Kasa> images[2];
  std::lock_guard<std::mutex> lock(mutex);
  auto& slot = images[type == ImageType::Rgb24 ? 0 : 1];
  if (!slot) {
    slot = std::make_unique<Kasa>();
    slot->CopyImage(&marlo::bench::SourceImage(type));
    for (int32_t y = 0; y < marlo::bench::kHeight; ++y) {
      for (int32_t x = 0; x < marlo::bench::kWidth; ++x) {
        const int32_t dx = (x % 400) - 200, dy = (y % 400) - 200;
        if (dx * dx + dy * dy > 45 * 45) continue;
        const int64_t shade = (x + y) % 40;
        if (type == ImageType::Rgb24) {
          slot->SetPixelRGB(x, y, (190 + shade) << 16 | (40 + shade / 2) << 8 | 45);
        } else {
          slot->SetPixelRGB(
              x, y,
              (50000 + 100 * shade) | (int64_t{10000} + 37 * shade) << 16 | int64_t{11000} << 32);
        }
      }
    }
  }
  return *slot;
}

void RunRedEye(benchmark::State& state, ImageType type) {
  Kasa& src = PupilImage(type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  for (auto _ : state) {
    benchmark::DoNotOptimize(RemoveRedEyeClr(&src, &dst, 2200, 1800, nullptr, 0, 100));
  }
  marlo::bench::SetMegapixelRate(state,
                                 static_cast<double>(marlo::bench::kWidth) * marlo::bench::kHeight);
}

void Register() {
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    const std::string name = std::string("RemoveRedEyeClr/") + marlo::bench::TypeName(type);
    benchmark::RegisterBenchmark(name.c_str(), [type](benchmark::State& s) {
      RunRedEye(s, type);
    })->Unit(benchmark::kMillisecond);
  }
}

const int registered = (Register(), 0);

}  // namespace
