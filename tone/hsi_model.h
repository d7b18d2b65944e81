// The hue, saturation and intensity model of auto exposure: a pixel taken to hue (by the
// arc-cosine formula), saturation and intensity, and rebuilt from them.
#ifndef MARLO_TONE_HSI_MODEL_H
#define MARLO_TONE_HSI_MODEL_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/simd.h"
#include "frame/types.h"

namespace marlo {

// Intensity of an RGB pixel with sample sum `sum`: trunc(sum * factor * (1/3) + 0.5).
int32_t HsiIntensity(int32_t sum, double factor);
// Saturation: 0 for a black pixel, else trunc((1 - 3 * min / sum) * factor).
int32_t HsiSaturation(int32_t sum, int32_t minimum, double factor);
// Hue in whole degrees 0..360 from the differences red - green and red - blue:
// theta = arccos(0.5 * ((R-G) + (R-B)) / sqrt((R-G)^2 + (R-B)(G-B))) * 180 / 3.14159;
// trunc(theta + 0.5) when blue <= green, else 360 - trunc(theta); 0 for a grey pixel.
int32_t HsiHue(int32_t redMinusGreen, int32_t redMinusBlue);
// The hue of every pair of 8-bit differences, entry (rg + 255) * 511 + (rb + 255); the values
// are those of HsiHue.
constexpr int32_t kHueTableSide = 511;
void BuildHueTable8(int16_t* table);
// One row of that table: the kHueTableSide entries of red - green = rg.
void BuildHueRow8(int32_t rg, int16_t* row);
// The 8-bit saturation of every sample sum and least sample that a pixel can have (least * 3 <=
// sum), entry sum * kSaturationTableStride8 + least; the values are those of
// HsiSaturation(sum, least, 100). The other entries are 0.
constexpr size_t kSaturationTableStride8 = 256;
constexpr size_t kSaturationTableSize8 = 766 * kSaturationTableStride8;
void BuildSaturationTable8(uint8_t* table);

// The hue of a pair of differences like HsiHue, without an arc cosine per call (for 16-bit
// images, whose differences are too many for a table). theta = arccos(q) * 180 / 3.14159 falls
// as the quotient q rises, so trunc(theta + 0.5) and trunc(theta) are step functions of q. The
// steps are located once, by bisection on the very expressions HsiHue evaluates; a quotient is
// then placed among them by comparisons. A quotient within kMargin of a step (a distance far
// larger than the arc cosine's rounding error, carried over to the quotient) is handed to
// HsiHue itself, so every result is HsiHue's.
class HueSteps {
 public:
  HueSteps();
  int32_t Hue(int32_t redMinusGreen, int32_t redMinusBlue) const;
  // The same, given the pair's quotient as HueQuotient forms it (unused for a grey pair).
  int32_t HueOfQuotient(int32_t redMinusGreen, int32_t redMinusBlue, double quotient) const;

  static constexpr double kMargin = 1e-9;

 private:
  static constexpr int kSlots = 182;  // steps 1..180 and a sentinel on each side
  // A grid over -1..1 for the first guess, fine enough that few cells hold a step (the walk
  // from the guess then rarely moves, and its branch is rarely mispredicted).
  static constexpr int kCells = 16384;
  // rounded_[n]: the quotient up to which trunc(theta + 0.5) is at least n (n = 1..180);
  // truncated_[n] likewise for trunc(theta). Entry 0 is +infinity, entry 181 -infinity.
  double rounded_[kSlots];
  double truncated_[kSlots];
  // The value of each step function at the upper end of each grid cell (its least in the cell).
  uint8_t roundedStart_[kCells];
  uint8_t truncatedStart_[kCells];
};

inline int32_t HueSteps::HueOfQuotient(int32_t redMinusGreen, int32_t redMinusBlue,
                                       double quotient) const {
  if (redMinusGreen == 0 && redMinusBlue == 0) return 0;
  const double rg = redMinusGreen;
  const double rb = redMinusBlue;
  const bool blueAtMostGreen = rb - rg >= 0.0;
  const double* steps = blueAtMostGreen ? rounded_ : truncated_;
  // The number of steps at or above the quotient is the value of the step function: start
  // from its value at the upper end of the quotient's grid cell and walk up.
  const int32_t cell = std::min(static_cast<int32_t>((quotient + 1.0) * (kCells / 2)), kCells - 1);
  int32_t count = blueAtMostGreen ? roundedStart_[cell] : truncatedStart_[cell];
  while (steps[count + 1] >= quotient) ++count;
  if (steps[count] - quotient <= kMargin || quotient - steps[count + 1] <= kMargin) {
    return HsiHue(redMinusGreen, redMinusBlue);  // too close to a step to decide here
  }
  return blueAtMostGreen ? count : 360 - count;
}

// The single-precision chromaticities of hue `hue` (0..360 degrees) and saturation S.
struct Chromaticity {
  float red, green, blue;
};
Chromaticity HsiChromaticity(int32_t hue, float saturation);

// One output sample: chroma * intensity * 3 + 0.5 in double, rounded to single precision,
// clamped to 0..max and truncated.
int32_t HsiSample(float chroma, double intensity, int32_t max);

// For each of `width` RGB pixels (samples blue, green, red): the quotient whose arc cosine is
// the hue angle (not a number for a grey pixel, whose hue needs none) and the saturation
// HsiSaturation(sum, least, factor). The quotients are exactly those HueSteps and HsiHue form.
template <class Sample>
void HueQuotientsAndSaturations(const Sample* p, size_t width, double factor, double* quotients,
                                int32_t* saturations);

// A value above max gives max, below 0 gives 0, any other is truncated. The values met here
// stay far inside the 32-bit range (chromaticities lie within -1..2, intensities below
// 65536), and truncating first, then clamping the integer, gives the same result without
// branches (the outcomes are mixed within rows).
inline int32_t ClampTruncate(float v, int32_t max) {
  const auto truncated = static_cast<int32_t>(v);
  return std::min(std::max(truncated, 0), max);
}

// The chromaticities of one hue and saturation as four lanes: blue, green, red (the order of the
// samples in a row) and a fourth lane of 0.
struct alignas(16) ChromaLanes {
  float lane[4];
};

// The three samples of a rebuilt RGB pixel, blue, green, red: HsiSample(chroma, i, D::kMax) of
// each lane, written to q[0..2]. q[3] is written too, with 0 (the lane of 0 gives 0.5, truncated
// to 0): the caller's buffer has room for it, and the next pixel overwrites it.
template <class D>
inline void RebuildPixel(const ChromaLanes& c, double i, typename D::Sample* q) {
#if defined(MARLO_SSE2_KERNELS)
  // Each lane: chroma * i * 3 + 0.5 left to right in double, rounded to single precision, then
  // clamped to 0..max in single precision and truncated. Clamping before truncating gives what
  // truncating before clamping gives (ClampTruncate): every value below 0 ends at 0, every value
  // above max at max, and max is exact in single precision.
  const __m128 chroma = _mm_load_ps(c.lane);
  const __m128d intensity = _mm_set1_pd(i);
  const __m128d three = _mm_set1_pd(3.0);
  const __m128d half = _mm_set1_pd(0.5);
  const __m128d low = _mm_cvtps_pd(chroma);                          // blue, green
  const __m128d high = _mm_cvtps_pd(_mm_movehl_ps(chroma, chroma));  // red, 0
  const __m128d lowSample = _mm_add_pd(_mm_mul_pd(_mm_mul_pd(low, intensity), three), half);
  const __m128d highSample = _mm_add_pd(_mm_mul_pd(_mm_mul_pd(high, intensity), three), half);
  __m128 v = _mm_movelh_ps(_mm_cvtpd_ps(lowSample), _mm_cvtpd_ps(highSample));
  v = _mm_min_ps(_mm_max_ps(v, _mm_setzero_ps()), _mm_set1_ps(static_cast<float>(D::kMax)));
  const __m128i samples = _mm_cvttps_epi32(v);  // 0..max
  if constexpr (D::kBits == 8) {
    const __m128i words = _mm_packs_epi32(samples, samples);
    const auto bytes = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
    std::memcpy(q, &bytes, 4);
  } else {
    // 0..65535 through the signed pack: shifted down by 32768 and back.
    const __m128i bias32 = _mm_set1_epi32(32768);
    const __m128i bias16 = _mm_set1_epi16(-32768);
    const __m128i words = _mm_packs_epi32(_mm_sub_epi32(samples, bias32), samples);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(q), _mm_add_epi16(words, bias16));
  }
#else
  for (int k = 0; k < 4; ++k) {
    q[k] = static_cast<typename D::Sample>(HsiSample(c.lane[k], i, D::kMax));
  }
#endif
}

}  // namespace marlo

#endif  // MARLO_TONE_HSI_MODEL_H
