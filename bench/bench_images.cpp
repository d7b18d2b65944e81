#include "bench_images.h"

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace marlo::bench {

namespace {

uint32_t Hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// A value in 0..1 for channel c at (x, y): a sky-like vertical gradient, a few soft blobs,
// hard edges and fine texture with noise.
double Scene(int32_t x, int32_t y, int c) {
  const double u = static_cast<double>(x) / kWidth;
  const double v = static_cast<double>(y) / kHeight;
  double value = 0.25 + 0.5 * v + 0.08 * c * (1.0 - v);
  value += 0.2 * std::sin(6.0 * u + 1.3 * c) * std::cos(4.0 * v);
  if ((x / 750 + y / 500) % 3 == 0) value *= 0.6;   // edges between regions
  value += 0.03 * std::sin(0.9 * x + 0.7 * y + c);  // texture
  value +=
      (static_cast<double>(Hash(static_cast<uint32_t>(y) * 7919u + x * 3u + c) & 1023) - 511.5) /
      20000.0;  // noise
  return value < 0.0 ? 0.0 : (value > 1.0 ? 1.0 : value);
}

std::mutex g_mutex;
std::map<int, std::unique_ptr<Kasa>> g_sources;
std::map<int, std::unique_ptr<Kasa>> g_destinations;
std::map<int, std::unique_ptr<Kasa>> g_casts;

std::unique_ptr<Kasa> Build(ImageType type) {
  auto image = std::make_unique<Kasa>();
  image->CreateImage(static_cast<int>(type), kWidth, kHeight, 0, nullptr, 0, 0, 15, 0, 0);
  const bool colour = type == ImageType::Rgb24 || type == ImageType::Rgb48;
  const bool wide = type == ImageType::Rgb48 || type == ImageType::Gray16;
  const int spp = colour ? 3 : 1;
  for (int32_t y = 0; y < kHeight; ++y) {
    uint8_t* row = image->RowData(y);
    for (int32_t x = 0; x < kWidth; ++x) {
      for (int s = 0; s < spp; ++s) {
        const int channel = colour ? 2 - s : 1;  // stored blue, green, red
        const double value = Scene(x, y, channel);
        const size_t i = static_cast<size_t>(x) * spp + s;
        if (wide) {
          const auto sample = static_cast<uint16_t>(value * 65535.0 + 0.5);
          row[2 * i] = static_cast<uint8_t>(sample >> 8);
          row[2 * i + 1] = static_cast<uint8_t>(sample & 0xFF);
        } else {
          row[i] = static_cast<uint8_t>(value * 255.0 + 0.5);
        }
      }
    }
  }
  return image;
}

}  // namespace

Kasa& SourceImage(ImageType type) {
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& slot = g_sources[static_cast<int>(type)];
  if (!slot) slot = Build(type);
  return *slot;
}

Kasa& ReusedDestination(ImageType type) {
  Kasa& source = SourceImage(type);
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& slot = g_destinations[static_cast<int>(type)];
  if (!slot) {
    slot = std::make_unique<Kasa>();
    slot->CopyImage(&source);
  }
  return *slot;
}

Kasa& CastSource(ImageType type) {
  Kasa& source = SourceImage(type);
  std::lock_guard<std::mutex> lock(g_mutex);
  auto& image = g_casts[static_cast<int>(type)];
  if (!image) {
    image = std::make_unique<Kasa>();
    image->CopyImage(&source);
    const bool wide = type == ImageType::Rgb48;
    for (int32_t y = kCastPointY - 1; y <= kCastPointY + 1; ++y) {
      for (int32_t x = kCastPointX - 1; x <= kCastPointX + 1; ++x) {
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

Kasa& SourceFor(const char* exportName, ImageType type) {
  return std::strcmp(exportName, "ColorTintRemove") == 0 ? CastSource(type) : SourceImage(type);
}

void SetMegapixelRate(benchmark::State& state, double pixels) {
  state.counters["MPix/s"] = benchmark::Counter(
      pixels * static_cast<double>(state.iterations()) / 1e6, benchmark::Counter::kIsRate);
}

const char* TypeName(ImageType type) {
  switch (type) {
    case ImageType::Rgb24:
      return "Rgb24";
    case ImageType::Gray8:
      return "Gray8";
    case ImageType::Rgb48:
      return "Rgb48";
    case ImageType::Gray16:
      return "Gray16";
  }
  return "?";
}

}  // namespace marlo::bench
