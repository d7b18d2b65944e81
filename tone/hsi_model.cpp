#include "tone/hsi_model.h"

#include <cmath>
#include <limits>

namespace marlo {

namespace {

// Radians to degrees and degrees to radians with pi taken as 3.14159, and the sector angles,
// as these decimal constants. (180 / 3.14159 and 3.14159 / 180 evaluated in double are one unit
// in the last place away from the first two; the written values are the ones used.)
constexpr double kRadiansToDegrees = 57.29582790879778;
constexpr double kDegreesToRadians = 0.01745327777777778;
constexpr double kSixtyDegrees = 1.0471966666666666;
constexpr double kOneTwentyDegrees = 2.094393333333333;
constexpr double kTwoFortyDegrees = 4.188786666666666;

}  // namespace

int32_t HsiIntensity(int32_t sum, double factor) {
  return static_cast<int32_t>(static_cast<double>(sum) * factor * (1.0 / 3.0) + 0.5);
}

int32_t HsiSaturation(int32_t sum, int32_t minimum, double factor) {
  if (sum == 0) return 0;
  return static_cast<int32_t>((1.0 - 3.0 * minimum / static_cast<double>(sum)) * factor);
}

namespace {

// The quotient whose arc cosine is the hue angle, for a pixel that is not grey.
// The radicand is (R-G)^2 - (R-G)(R-B) + (R-B)^2 > 0 and the quotient lies in -1..1: it is +-1
// exactly when R-G = R-B, and otherwise at least 3 (R-G - (R-B))^2 / 4 below 1 in square, far
// more than rounding can cover, so the arc cosine is always defined.
inline double HueQuotient(double rg, double rb) {
  const double gb = rb - rg;  // green - blue
  return 0.5 * (rg + rb) / std::sqrt(rg * rg + rb * gb);
}

inline double HueAngle(double quotient) {
  return std::acos(quotient) * kRadiansToDegrees;
}

// The two step functions of the quotient: the hue when blue <= green, and 360 - the hue when
// blue > green.
inline int32_t RoundedAngle(double quotient) {
  return static_cast<int32_t>(HueAngle(quotient) + 0.5);
}
inline int32_t TruncatedAngle(double quotient) {
  return static_cast<int32_t>(HueAngle(quotient));
}

}  // namespace

int32_t HsiHue(int32_t redMinusGreen, int32_t redMinusBlue) {
  if (redMinusGreen == 0 && redMinusBlue == 0) return 0;  // grey: theta = 0, blue <= green
  const double rg = redMinusGreen;
  const double rb = redMinusBlue;
  const double quotient = HueQuotient(rg, rb);
  if (rb - rg >= 0.0) return RoundedAngle(quotient);  // blue <= green
  return 360 - TruncatedAngle(quotient);
}

HueSteps::HueSteps() {
  const double infinity = std::numeric_limits<double>::infinity();
  const auto locate = [](int32_t (*angle)(double), int32_t n) {
    // angle(-1) = 180 >= n and angle(1) = 0 < n; keep a step of n between lo and hi.
    double lo = -1.0, hi = 1.0;
    while (hi - lo > 1e-13) {
      const double mid = 0.5 * (lo + hi);
      if (angle(mid) >= n) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    return lo;
  };
  for (int n = 0; n < kSlots; ++n) {
    rounded_[n] = n == 0 ? infinity : (n > 180 ? -infinity : locate(&RoundedAngle, n));
    truncated_[n] = n == 0 ? infinity : (n > 180 ? -infinity : locate(&TruncatedAngle, n));
  }
  const auto countAt = [](const double* steps, double quotient) {
    int32_t count = 0;
    while (steps[count + 1] >= quotient) ++count;
    return static_cast<uint8_t>(count);
  };
  for (int cell = 0; cell < kCells; ++cell) {
    const double upper = -1.0 + 2.0 * (cell + 1) / kCells;
    roundedStart_[cell] = countAt(rounded_, upper);
    truncatedStart_[cell] = countAt(truncated_, upper);
  }
}

int32_t HueSteps::Hue(int32_t redMinusGreen, int32_t redMinusBlue) const {
  if (redMinusGreen == 0 && redMinusBlue == 0) return 0;
  return HueOfQuotient(redMinusGreen, redMinusBlue, HueQuotient(redMinusGreen, redMinusBlue));
}

void BuildHueRow8(int32_t rg, int16_t* row) {
  for (int32_t rb = -255; rb <= 255; ++rb) row[rb + 255] = static_cast<int16_t>(HsiHue(rg, rb));
}

void BuildHueTable8(int16_t* table) {
  for (int32_t rg = -255; rg <= 255; ++rg) {
    BuildHueRow8(rg, table + static_cast<size_t>(rg + 255) * kHueTableSide);
  }
}

void BuildSaturationTable8(uint8_t* table) {
  std::fill(table, table + kSaturationTableSize8, uint8_t{0});
  for (int32_t sum = 0; sum <= 765; ++sum) {
    uint8_t* row = table + static_cast<size_t>(sum) * kSaturationTableStride8;
    for (int32_t least = 0; least * 3 <= sum; ++least) {
      row[least] = static_cast<uint8_t>(HsiSaturation(sum, least, 100.0));
    }
  }
}

Chromaticity HsiChromaticity(int32_t hue, float saturation) {
  const double s = saturation;
  const double h = hue * kDegreesToRadians;
  Chromaticity c{};
  if (hue <= 120) {
    c.blue = static_cast<float>((1.0 - s) / 3.0);
    const double red = (1.0 + s * std::cos(h) / std::cos(kSixtyDegrees - h)) / 3.0;
    c.red = static_cast<float>(red);
    // Green is formed from red before red is rounded, and from the rounded blue.
    c.green = static_cast<float>(1.0 - red - static_cast<double>(c.blue));
  } else if (hue <= 240) {
    const double hp = h - kOneTwentyDegrees;
    c.red = static_cast<float>((1.0 - s) / 3.0);
    c.green = static_cast<float>((1.0 + s * std::cos(hp) / std::cos(kSixtyDegrees - hp)) / 3.0);
    c.blue = static_cast<float>(1.0 - static_cast<double>(c.red) - static_cast<double>(c.green));
  } else {
    const double hp = h - kTwoFortyDegrees;
    c.green = static_cast<float>((1.0 - s) / 3.0);
    c.blue = static_cast<float>((1.0 + s * std::cos(hp) / std::cos(kSixtyDegrees - hp)) / 3.0);
    c.red = static_cast<float>(1.0 - static_cast<double>(c.green) - static_cast<double>(c.blue));
  }
  return c;
}

int32_t HsiSample(float chroma, double intensity, int32_t max) {
  const float v = static_cast<float>(static_cast<double>(chroma) * intensity * 3.0 + 0.5);
  return ClampTruncate(v, max);
}

template <class Sample>
void HueQuotientsAndSaturations(const Sample* p, size_t width, double factor, double* quotients,
                                int32_t* saturations) {
  size_t x = 0;
#if defined(MARLO_SSE2_KERNELS)
  const __m128d half = _mm_set1_pd(0.5);
  const __m128d one = _mm_set1_pd(1.0);
  const __m128d three = _mm_set1_pd(3.0);
  const __m128d scale = _mm_set1_pd(factor);
  for (; x + 2 <= width; x += 2, p += 6) {
    const int32_t b0 = p[0], g0 = p[1], r0 = p[2], b1 = p[3], g1 = p[4], r1 = p[5];
    const __m128d rg = _mm_set_pd(r1 - g1, r0 - g0);
    const __m128d rb = _mm_set_pd(r1 - b1, r0 - b0);
    // 0.5 * (rg + rb) / sqrt(rg * rg + rb * (rb - rg))
    const __m128d radicand = _mm_add_pd(_mm_mul_pd(rg, rg), _mm_mul_pd(rb, _mm_sub_pd(rb, rg)));
    const __m128d quotient =
        _mm_div_pd(_mm_mul_pd(half, _mm_add_pd(rg, rb)), _mm_sqrt_pd(radicand));
    _mm_storeu_pd(quotients + x, quotient);
    // (1 - 3 * least / sum) * factor, truncated; a sum of 0 (divided by 1 here) gives 0.
    const int32_t sum0 = r0 + g0 + b0, sum1 = r1 + g1 + b1;
    const __m128d least =
        _mm_set_pd(std::min(r1, std::min(g1, b1)), std::min(r0, std::min(g0, b0)));
    const __m128d sum = _mm_set_pd(sum1 == 0 ? 1 : sum1, sum0 == 0 ? 1 : sum0);
    const __m128d share = _mm_div_pd(_mm_mul_pd(three, least), sum);
    const __m128i truncated = _mm_cvttpd_epi32(_mm_mul_pd(_mm_sub_pd(one, share), scale));
    saturations[x] = sum0 == 0 ? 0 : _mm_cvtsi128_si32(truncated);
    saturations[x + 1] = sum1 == 0 ? 0 : _mm_cvtsi128_si32(_mm_srli_si128(truncated, 4));
  }
#endif
  for (; x < width; ++x, p += 3) {
    const int32_t blue = p[0], green = p[1], red = p[2];
    quotients[x] = HueQuotient(red - green, red - blue);
    saturations[x] =
        HsiSaturation(red + green + blue, std::min(red, std::min(green, blue)), factor);
  }
}

template void HueQuotientsAndSaturations<uint8_t>(const uint8_t*, size_t, double, double*,
                                                  int32_t*);
template void HueQuotientsAndSaturations<uint16_t>(const uint16_t*, size_t, double, double*,
                                                   int32_t*);

}  // namespace marlo
