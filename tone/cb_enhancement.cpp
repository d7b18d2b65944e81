// Contrast and brightness (CBEnhancement) on all four image types.
#include "tone/cb_enhancement.h"

#include <cmath>
#include <vector>

#include "frame/channel_map.h"

namespace marlo {

namespace {

// Degrees to radians with pi taken as 3.14159.
constexpr double kDegreesToRadians = 0.01745327777777778;

// Brightness scale K1 and pivot K2 of the tone line; the 16-bit values are 257 times the
// 8-bit ones, written out so that no product is rounded differently.
template <class D>
struct ToneConstants;
template <>
struct ToneConstants<Depth8> {
  static constexpr double kBrightnessScale = 1.275;
  static constexpr double kPivot = 127.5;
};
template <>
struct ToneConstants<Depth16> {
  static constexpr double kBrightnessScale = 327.675;
  static constexpr double kPivot = 32767.5;
};

// The row worker: Ok when every row was written, Aborted when the callback stopped it.
template <class D>
Status EnhanceContrast(Kasa* src, Kasa* dst, const int32_t contrast[3], const int32_t brightness[3],
                       ProgressCallback cb, int32_t start, int32_t end) {
  using Sample = typename D::Sample;
  const int32_t height = src->GetImageHeight();
  Progress progress(cb, start, end, height, src, dst);
  if (progress.Begin() != Status::Ok) return progress.status();  // before the tables are built

  // Tables by channel: 0 red, 1 green, 2 blue. A grey image uses the red one only.
  const bool colour = SamplesPerPixel(*src) == 3;
  std::vector<Sample> tables(static_cast<size_t>(D::kMax + 1) * (colour ? 3 : 1));
  Sample* red = tables.data();
  BuildToneLine<D>(contrast[0], brightness[0], red);
  Sample* green = red;
  Sample* blue = red;
  if (colour) {
    green = red + D::kMax + 1;
    blue = green + D::kMax + 1;
    BuildToneLine<D>(contrast[1], brightness[1], green);
    BuildToneLine<D>(contrast[2], brightness[2], blue);
  }

  return MapChannels<D>(*src, *dst, red, green, blue, RowPadding::Keep, progress);
}

}  // namespace

template <class D>
void BuildToneLine(int32_t contrast, int32_t brightness, typename D::Sample* table) {
  const double angle = (contrast * 0.44 + 45.0) * kDegreesToRadians;
  const double slope = std::tan(angle);
  const double offset = (slope + 1.0) * brightness * ToneConstants<D>::kBrightnessScale +
                        (1.0 - slope) * ToneConstants<D>::kPivot;
  const double max = D::kMax;
  for (int32_t i = 0; i <= D::kMax; ++i) {
    const double v = i * slope + offset + 0.5;
    if (v < 0.0) {
      table[i] = 0;
    } else if (v > max) {
      table[i] = static_cast<typename D::Sample>(D::kMax);
    } else {
      table[i] = static_cast<typename D::Sample>(static_cast<int32_t>(v));
    }
  }
}

template void BuildToneLine<Depth8>(int32_t, int32_t, uint8_t*);
template void BuildToneLine<Depth16>(int32_t, int32_t, uint16_t*);

int CCBEnhancement::SetParameters(const int32_t* contrast, const int32_t* brightness) {
  for (int k = 0; k < 3; ++k) {
    contrast_[k] = contrast[k];
    brightness_[k] = brightness[k];
  }
  return 1;
}

Status CCBEnhancement::Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end) {
  return RunWithWaitCursor(src, dst, &IsSupportedType, [&](auto depth) {
    return EnhanceContrast<decltype(depth)>(src, dst, contrast_, brightness_, cb, start, end);
  });
}

}  // namespace marlo

int32_t MARLO_STDCALL CBEnhancement(Kasa* src, Kasa* dst, const int32_t* contrast,
                                    const int32_t* brightness, ProgressCallback cb, int32_t start,
                                    int32_t end) {
  return marlo::Export(0, [&] {
    marlo::CCBEnhancement filter;
    if (contrast == nullptr || brightness == nullptr) return marlo::Status::Refused;
    filter.SetParameters(contrast, brightness);
    return filter.Run(src, dst, cb, start, end);
  });
}
