// Colour tint addition (ColorTintAddByRGB, ColorTintAddByHS) on 24-bit and 48-bit RGB.
#include "colour/tint_add.h"

#include <cmath>
#include <vector>

#include "frame/channel_map.h"

namespace marlo {

// 100 * 2^(i / 100), rounded.
const uint8_t TintGammaUp[101] = {
    100, 101, 101, 102, 103, 104, 104, 105, 106, 106,  // 0-9
    107, 108, 109, 109, 110, 111, 112, 113, 113, 114,  // 10-19
    115, 116, 116, 117, 118, 119, 120, 121, 121, 122,  // 20-29
    123, 124, 125, 126, 127, 127, 128, 129, 130, 131,  // 30-39
    132, 133, 134, 135, 136, 137, 138, 139, 139, 140,  // 40-49
    141, 142, 143, 144, 145, 146, 147, 148, 149, 151,  // 50-59
    152, 153, 154, 155, 156, 157, 158, 159, 160, 161,  // 60-69
    162, 164, 165, 166, 167, 168, 169, 171, 172, 173,  // 70-79
    174, 175, 177, 178, 179, 180, 182, 183, 184, 185,  // 80-89
    187, 188, 189, 191, 192, 193, 195, 196, 197, 199,  // 90-99
    200,
};

// Exponents for negative percentages, 1.00 down to 0.50.
const uint8_t TintGammaDown[101] = {
    100, 100, 99, 98, 97, 97, 96, 96, 95, 94,  // 0-9
    93,  93,  92, 92, 91, 91, 90, 89, 88, 88,  // 10-19
    87,  87,  86, 86, 85, 85, 84, 83, 82, 82,  // 20-29
    81,  81,  80, 80, 79, 79, 78, 78, 77, 77,  // 30-39
    76,  76,  75, 75, 74, 74, 73, 73, 72, 71,  // 40-49
    71,  71,  70, 70, 69, 69, 68, 68, 67, 67,  // 50-59
    66,  66,  65, 65, 64, 64, 63, 63, 62, 62,  // 60-69
    62,  62,  61, 61, 60, 60, 59, 59, 58, 58,  // 70-79
    57,  57,  57, 57, 56, 56, 55, 55, 54, 54,  // 80-89
    54,  54,  53, 53, 52, 52, 51, 51, 51, 51,  // 90-99
    50,
};

namespace {

// Degrees to radians and the sector angles, all with pi taken as 3.14159.
constexpr double kDegreesToRadians = 0.01745327777777778;
constexpr double k60Degrees = 1.0471966666666666;
constexpr double k120Degrees = 2.094393333333333;
constexpr double k240Degrees = 4.188786666666666;

bool IsPercentage(int32_t v) {
  return v >= -100 && v <= 100;
}

// The colour type of each width.
bool IsColorType8(int type) {
  return type == static_cast<int>(ImageType::Rgb24);
}
bool IsColorType16(int type) {
  return type == static_cast<int>(ImageType::Rgb48);
}

template <class D>
Status AddColorTint(Kasa* src, Kasa* dst, int32_t red, int32_t green, int32_t blue,
                    ProgressCallback cb, int32_t start, int32_t end) {
  using Sample = typename D::Sample;
  // Every refusal comes before the opening report, so that a refused call reports nothing.
  // Percentages outside -100..100 have no curve.
  const Entry entry = Enter(
      src, dst, Door{Destination::SameAsSource, D::kBits == 8 ? &IsColorType8 : &IsColorType16});
  if (!entry) return entry.status();
  if (!IsPercentage(red) || !IsPercentage(green) || !IsPercentage(blue)) return Status::Refused;

  const int32_t height = src->GetImageHeight();
  Progress progress(cb, start, end, height, src, dst);
  if (progress.Begin() != Status::Ok) return progress.status();

  constexpr size_t kEntries = static_cast<size_t>(D::kMax) + 1;
  std::vector<Sample> tables(3 * kEntries);
  Sample* redTable = tables.data();
  Sample* greenTable = redTable + kEntries;
  Sample* blueTable = greenTable + kEntries;
  BuildTintCurve<D>(red, redTable);
  BuildTintCurve<D>(green, greenTable);
  BuildTintCurve<D>(blue, blueTable);

  // Rows are moved as stored, padding included.
  return MapChannels<D>(*src, *dst, redTable, greenTable, blueTable, RowPadding::CopyFromSource,
                        progress);
}

int HueSaturationToTint(int32_t hue, float saturation, int32_t scale, int32_t* red, int32_t* green,
                        int32_t* blue) {
  int32_t c[3];
  if (!HueSaturationToChannels(hue, saturation, scale, c)) return 0;
  int32_t tint[3];
  for (int k = 0; k < 3; ++k) {
    // 0 maps to -100, scale to 0 and 2 * scale - 1 to 100 (truncating divisions).
    const int32_t d = c[k] - scale;
    tint[k] = c[k] <= scale ? (100 * d) / scale : (100 * d) / (scale - 1);
  }
  *red = tint[0];
  *green = tint[1];
  *blue = tint[2];
  return 1;
}

}  // namespace

bool HueSaturationToChannels(int32_t hue, float saturation, int32_t scale, int32_t channel[3]) {
  if (hue < 0 || hue > 360) return false;
  // A saturation that is not a number (or infinite) gives no meaningful fraction; refused.
  if (!std::isfinite(saturation)) return false;
  const double theta = hue * kDegreesToRadians;
  const double s = saturation;
  const double third = (1.0 - s) / 3.0;
  // k = (1 + s cos(phi) / cos(60 degrees - phi)) / 3, phi the angle within the sector.
  auto strongest = [&](double phi) {
    return (1.0 + s * std::cos(phi) / std::cos(k60Degrees - phi)) / 3.0;
  };
  double red, green, blue;
  if (hue <= 120) {
    red = strongest(theta);
    blue = third;
    green = 1.0 - red - blue;
  } else if (hue <= 240) {
    green = strongest(theta - k120Degrees);
    red = third;
    blue = 1.0 - red - green;
  } else {
    blue = strongest(theta - k240Degrees);
    green = third;
    red = 1.0 - green - blue;
  }
  const double fractions[3] = {red, green, blue};
  const double max = 2.0 * scale - 1.0;
  for (int k = 0; k < 3; ++k) {
    const double v = scale * fractions[k] * 3.0 + 0.5;
    // Truncation then the clamp to 0..max; clamping first keeps the conversion defined for
    // any saturation and gives the same value.
    channel[k] = v < 0.0 ? 0 : (v > max ? static_cast<int32_t>(max) : static_cast<int32_t>(v));
  }
  return true;
}

int HueSaturationToTint8(int32_t hue, float saturation, int32_t* red, int32_t* green,
                         int32_t* blue) {
  return HueSaturationToTint(hue, saturation, 128, red, green, blue);
}

int HueSaturationToTint16(int32_t hue, float saturation, int32_t* red, int32_t* green,
                          int32_t* blue) {
  return HueSaturationToTint(hue, saturation, 32768, red, green, blue);
}

template <class D>
void BuildTintCurve(int32_t percent, typename D::Sample* table) {
  constexpr int32_t kF = D::kMax;
  for (int32_t v = 0; v <= kF; ++v) table[v] = static_cast<typename D::Sample>(v);
  if (percent == 0 || !IsPercentage(percent)) return;
  const double gamma = percent > 0 ? TintGammaUp[percent] * 0.01 : TintGammaDown[-percent] * 0.01;
  const double step = 1.0 / static_cast<double>(kF);
  const double full = static_cast<double>(kF);
  // Entries 1 .. F - 1, in pieces over the run's threads.
  ForPieces(kF - 1, 4096, [&](int32_t first, int32_t end) {
    for (int32_t v = first + 1; v <= end; ++v) {
      const double x = v * step;
      const double r = full * std::exp(std::log(x) / gamma) + 0.5;
      table[v] = static_cast<typename D::Sample>(r >= full ? kF : static_cast<int32_t>(r));
    }
  });
}

template void BuildTintCurve<Depth8>(int32_t, uint8_t*);
template void BuildTintCurve<Depth16>(int32_t, uint16_t*);

Status AddColorTint8(Kasa* src, Kasa* dst, int32_t red, int32_t green, int32_t blue,
                     ProgressCallback cb, int32_t start, int32_t end) {
  return AddColorTint<Depth8>(src, dst, red, green, blue, cb, start, end);
}

Status AddColorTint16(Kasa* src, Kasa* dst, int32_t red, int32_t green, int32_t blue,
                      ProgressCallback cb, int32_t start, int32_t end) {
  return AddColorTint<Depth16>(src, dst, red, green, blue, cb, start, end);
}

}  // namespace marlo

int32_t MARLO_STDCALL ColorTintAddByRGB(Kasa* src, Kasa* dst, int32_t red, int32_t green,
                                        int32_t blue, ProgressCallback cb, int32_t start,
                                        int32_t end) {
  return marlo::Export(0, [&] {
    return marlo::ForDepth(marlo::TypeOf(src), [&](auto depth) {
      return marlo::AddColorTint<decltype(depth)>(src, dst, red, green, blue, cb, start, end);
    });
  });
}

int32_t MARLO_STDCALL ColorTintAddByHS(Kasa* src, Kasa* dst, int32_t hue, float saturation,
                                       ProgressCallback cb, int32_t start, int32_t end) {
  return marlo::Export(0, [&] {
    return marlo::ForDepth(marlo::TypeOf(src), [&](auto depth) {
      using D = decltype(depth);
      int32_t tint[3];
      // The hue's channels on the scale of the source's width.
      const int32_t scale = D::kBits == 8 ? 128 : 32768;
      if (!marlo::HueSaturationToTint(hue, saturation, scale, &tint[0], &tint[1], &tint[2])) {
        return marlo::Status::Refused;
      }
      return marlo::AddColorTint<D>(src, dst, tint[0], tint[1], tint[2], cb, start, end);
    });
  });
}
