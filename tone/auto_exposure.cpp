// Auto exposure (AutoExposure) on all four image types.
#include "tone/auto_exposure.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "frame/entries.h"

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

enum Plane { kHue = 0, kSaturation = 1, kIntensity = 2 };

// A value above max gives max, below 0 gives 0, any other is truncated. The values met here
// stay far inside the 32-bit range (chromaticities lie within -1..2, intensities below
// 65536), and truncating first, then clamping the integer, gives the same result without
// branches (the outcomes are mixed within rows).
inline int32_t ClampTruncate(float v, int32_t max) {
  const auto truncated = static_cast<int32_t>(v);
  return std::min(std::max(truncated, 0), max);
}

// trunc(end * fraction): the engine's reports are fractions of end, whatever start is.
int32_t FractionOfEnd(int32_t end, double fraction) {
  return static_cast<int32_t>(static_cast<double>(end) * fraction);
}

// A plane of `bytes` bytes, released with std::free. Large planes are aligned to 2 MiB and
// offered huge pages where the system has them: a fresh plane is touched once per run, and
// fewer, larger pages make those first touches much cheaper.
int32_t* AllocatePlane(size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr size_t kHugePage = size_t{2} << 20;
  if (bytes >= kHugePage && bytes <= SIZE_MAX - kHugePage) {
    const size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* plane = std::aligned_alloc(kHugePage, rounded);
    if (plane != nullptr) madvise(plane, rounded, MADV_HUGEPAGE);
    return static_cast<int32_t*>(plane);
  }
#endif
  return static_cast<int32_t*>(std::malloc(bytes == 0 ? 1 : bytes));
}

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
  const double rg = redMinusGreen;
  const double rb = redMinusBlue;
  const double quotient = HueQuotient(rg, rb);
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

void BuildHueTable8(int16_t* table) {
  for (int32_t rg = -255; rg <= 255; ++rg) {
    int16_t* row = table + static_cast<size_t>(rg + 255) * kHueTableSide;
    for (int32_t rb = -255; rb <= 255; ++rb) {
      row[rb + 255] = static_cast<int16_t>(HsiHue(rg, rb));
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

Levels HistogramLevels(const int64_t* bins, int32_t max, int64_t threshold) {
  int32_t level = 0;
  int64_t sum = 0;
  while (sum < threshold && level <= max) sum += bins[level++];
  Levels levels{std::max(level - 1, 0), 0};
  level = max;
  sum = 0;
  while (sum < threshold && level >= 0) sum += bins[level--];
  levels.high = std::min(level + 1, max);
  if (levels.low >= levels.high) {
    if (levels.high == 0) levels.high = 1;
    levels.low = levels.high - 1;
  }
  return levels;
}

void BuildStretchTable(int32_t white, int32_t black, float factor, int32_t top, int32_t* table) {
  const double f = factor;
  const int32_t newWhite = white + static_cast<int32_t>(static_cast<double>(top - white) * f);
  const int32_t newBlack = black - static_cast<int32_t>(f * static_cast<double>(black));
  const int64_t span = white - black;  // at least one level (100 or 10 units)
  for (int32_t i = 0; i < black; ++i) table[i] = newBlack;
  for (int32_t k = 0; k <= white - black; ++k) {
    table[black + k] = newBlack + static_cast<int32_t>((int64_t{newWhite - newBlack} * k) / span);
  }
  for (int32_t i = white + 1; i <= top; ++i) table[i] = newWhite;
}

float StrengthForShares(float strength, const float shares[16]) {
  // The sum is formed in single precision; the thresholds are double constants.
  const float bright = shares[15] + shares[14];
  const float dark = shares[1] + shares[0];
  const float s = bright + dark;
  const double sum = s;
  const int32_t percent = static_cast<int32_t>(sum * 100.0);
  if (strength == 1.0f) {
    if (sum < 0.6) return 0.6f;
    if (sum > 0.75) return 0.75f;
    return static_cast<float>(percent * static_cast<double>(0.01f));
  }
  if (strength == 0.0f) {
    if (sum > 0.75) return static_cast<float>(percent * static_cast<double>(0.0033333334f));
    if (sum < 0.5) return 0.25f;
    return static_cast<float>(percent * static_cast<double>(0.005f));
  }
  return strength;
}

void BuildEqualisationCurve(const int64_t* histogram, int64_t pixels, float strength, int32_t bands,
                            int32_t top, int32_t* curve) {
  constexpr int32_t kRun = 400;
  std::vector<float> q(static_cast<size_t>(bands));
  float total = 0.0f;
  for (int32_t b = 0; b < bands; ++b) {
    int64_t count = 0;
    for (int32_t j = 0; j < kRun; ++j) count += histogram[b * kRun + j];
    const float p = static_cast<float>(static_cast<double>(count) / static_cast<double>(pixels));
    // An empty band adds nothing (the strength is never 0 here, so p^strength would be 0 too).
    q[static_cast<size_t>(b)] =
        p == 0.0f
            ? 0.0f
            : static_cast<float>(std::pow(static_cast<double>(p), static_cast<double>(strength)));
    total = total + q[static_cast<size_t>(b)];
  }
  const double range = static_cast<double>(top) + 1.0;
  std::vector<int32_t> level(static_cast<size_t>(bands));
  int32_t previous = 0;
  for (int32_t b = 0; b < bands; ++b) {
    int32_t add = 0;
    if (total != 0.0f) {
      const float share = q[static_cast<size_t>(b)] / total;
      add = static_cast<int32_t>(static_cast<double>(share) * range);
    }
    previous = std::min(previous + add, top);
    level[static_cast<size_t>(b)] = previous;
  }
  level[static_cast<size_t>(bands - 1)] = top;
  previous = 0;
  for (int32_t b = 0; b < bands; ++b) {
    const int64_t rise = int64_t{level[static_cast<size_t>(b)]} - previous;
    for (int32_t j = 0; j < kRun; ++j) {
      curve[b * kRun + j] = previous + static_cast<int32_t>(rise * j / kRun);
    }
    previous = level[static_cast<size_t>(b)];
  }
  for (int32_t i = bands * kRun; i <= top; ++i) curve[i] = top;  // beyond the last band, and top
}

CAutoExposure::CAutoExposure() : planes_{nullptr, nullptr, nullptr} {
  Clear();
}

CAutoExposure::~CAutoExposure() {
  Clear();
}

void CAutoExposure::Clear() {
  source_ = nullptr;
  destination_ = nullptr;
  useStrength_ = 0;
  strength_ = 0.5f;
  width_ = 0;
  height_ = 0;
  imageType_ = static_cast<int32_t>(ImageType::Rgb24);
  whitePoint_ = 255;
  blackPoint_ = 0;
  stretchFactor_ = 1.0f;
  std::fill(bandShares_, bandShares_ + 16, 0.0f);
  for (auto& plane : planes_) {
    std::free(plane);
    plane = nullptr;
  }
  std::vector<int64_t>().swap(histogram_);
  std::vector<int32_t>().swap(intensityMap_);
}

bool CAutoExposure::AllocatePlanes() {
  const uint64_t pixels = static_cast<uint64_t>(width_) * static_cast<uint64_t>(height_);
  if (pixels > SIZE_MAX / sizeof(int32_t)) return false;
  for (auto& plane : planes_) {
    // Every element that is ever read is written first (BuildHsiPlanes fills the intensity
    // plane, and the hue and saturation planes of RGB images; those of grey images are never
    // touched), so the memory need not be zeroed.
    plane = AllocatePlane(static_cast<size_t>(pixels) * sizeof(int32_t));
    if (plane == nullptr) return false;
  }
  return true;
}

template <class D>
void CAutoExposure::FindLevels() {
  using Sample = typename D::Sample;
  const int64_t threshold = int64_t{width_} * height_ / 100;
  const int spp = SamplesPerPixel(*source_);
  const size_t bins = static_cast<size_t>(D::kMax) + 1;
  std::vector<int64_t> histograms(bins * static_cast<size_t>(spp));
  std::vector<Sample> row = AllocateRow<D>(*source_);
  const size_t samples = static_cast<size_t>(width_) * static_cast<size_t>(spp);
  for (int32_t y = 0; y < height_; ++y) {
    ReadRow<D>(*source_, y, row.data());
    if (spp == 3) {
      for (size_t i = 0; i < samples; i += 3) {
        ++histograms[row[i]];
        ++histograms[bins + row[i + 1]];
        ++histograms[2 * bins + row[i + 2]];
      }
    } else {
      for (size_t i = 0; i < samples; ++i) ++histograms[row[i]];
    }
  }
  for (int c = 0; c < spp; ++c) {
    const Levels levels = HistogramLevels(histograms.data() + bins * c, D::kMax, threshold);
    if (c == 0 || levels.low < blackPoint_) blackPoint_ = levels.low;
    if (c == 0 || levels.high > whitePoint_) whitePoint_ = levels.high;
  }
}

template <class D>
void CAutoExposure::BuildHsiPlanes() {
  using Sample = typename D::Sample;
  using E = ExposureDepth<D>;
  const size_t width = static_cast<size_t>(width_);
  const bool colour = SamplesPerPixel(*source_) == 3;

  // An intensity is a function of one key: the sample sum of an RGB pixel, the sample of a grey
  // one. The pixels are counted by key (766 or 196606 counters for RGB, few enough to stay in
  // cache, where the 655360 of the 16-bit intensity histogram would not) and the counts go
  // into the intensity histogram afterwards. 32-bit counters are moved there before they could
  // overflow.
  const size_t keys = static_cast<size_t>(colour ? 3 * D::kMax + 1 : D::kMax + 1);
  std::vector<int32_t> intensityOf(keys);
  for (size_t k = 0; k < keys; ++k) {
    const auto key = static_cast<int32_t>(k);
    intensityOf[k] = colour ? HsiIntensity(key, E::kFactorD) : key * E::kFactor;
  }
  std::vector<uint32_t> counts(keys, 0);
  histogram_.assign(static_cast<size_t>(E::kTop) + 1, 0);
  uint64_t pending = 0;
  const auto flush = [&] {
    for (size_t k = 0; k < keys; ++k) {
      histogram_[static_cast<size_t>(intensityOf[k])] += counts[k];
      counts[k] = 0;
    }
    pending = 0;
  };

  // The 8-bit hue depends only on two sample differences: a table of the 511 x 511 pairs pays
  // for itself on images of more than a few tens of thousands of pixels.
  // The 16-bit hue comes from located steps of the arc cosine instead (HueSteps).
  const bool large = colour && int64_t{width_} * height_ >= 65536;
  std::vector<int16_t> hueTable;
  const bool useTable = large && D::kBits == 8;
  if (useTable) {
    hueTable.resize(static_cast<size_t>(kHueTableSide) * kHueTableSide);
    BuildHueTable8(hueTable.data());
  }
  std::unique_ptr<HueSteps> steps;
  if (large && D::kBits == 16) steps = std::make_unique<HueSteps>();

  std::vector<Sample> row = AllocateRow<D>(*source_);
  for (int32_t y = 0; y < height_; ++y) {
    ReadRow<D>(*source_, y, row.data());
    if (pending + width > UINT32_MAX) flush();
    pending += width;
    const size_t offset = static_cast<size_t>(y) * width;
    int32_t* intensity = planes_[kIntensity] + offset;
    if (!colour) {
      for (size_t x = 0; x < width; ++x) {
        intensity[x] = static_cast<int32_t>(row[x]) * E::kFactor;
        ++counts[row[x]];
      }
      continue;
    }
    int32_t* hue = planes_[kHue] + offset;
    int32_t* saturation = planes_[kSaturation] + offset;
    const Sample* p = row.data();
    for (size_t x = 0; x < width; ++x, p += 3) {
      const int32_t blue = p[0], green = p[1], red = p[2];
      const int32_t sum = red + green + blue;
      intensity[x] = intensityOf[static_cast<size_t>(sum)];
      ++counts[static_cast<size_t>(sum)];
      saturation[x] = HsiSaturation(sum, std::min(red, std::min(green, blue)), E::kFactorD);
      if (useTable) {
        hue[x] = hueTable[static_cast<size_t>(red - green + 255) * kHueTableSide +
                          static_cast<size_t>(red - blue + 255)];
      } else if (steps) {
        hue[x] = steps->Hue(red - green, red - blue);
      } else {
        hue[x] = HsiHue(red - green, red - blue);
      }
    }
  }
  flush();
  intensityMap_.resize(static_cast<size_t>(E::kTop) + 1);
  for (int32_t i = 0; i <= E::kTop; ++i) intensityMap_[static_cast<size_t>(i)] = i;
}

template <class D>
void CAutoExposure::StretchLevels() {
  using E = ExposureDepth<D>;
  std::vector<int32_t> table(static_cast<size_t>(E::kTop) + 1);
  BuildStretchTable(whitePoint_ * E::kFactor, blackPoint_ * E::kFactor, stretchFactor_, E::kTop,
                    table.data());
  // Every intensity is replaced by its table entry: so is the histogram, and the map.
  std::vector<int64_t> stretched(histogram_.size(), 0);
  for (size_t i = 0; i < histogram_.size(); ++i) {
    if (histogram_[i] != 0) stretched[static_cast<size_t>(table[i])] += histogram_[i];
  }
  histogram_.swap(stretched);
  for (int32_t& v : intensityMap_) v = table[static_cast<size_t>(v)];
}

template <class D>
void CAutoExposure::MeasureBands() {
  using E = ExposureDepth<D>;
  const double pixels = static_cast<double>(int64_t{width_} * height_);
  for (int32_t band = 0; band < 16; ++band) {
    int64_t count = 0;
    for (int32_t j = 0; j < E::kMeasureRun; ++j) {
      count += histogram_[static_cast<size_t>(band * E::kMeasureRun + j)];
    }
    bandShares_[band] = static_cast<float>(static_cast<double>(count) / pixels);
  }
}

template <class D>
void CAutoExposure::EqualizeIntensity() {
  using E = ExposureDepth<D>;
  std::vector<int32_t> curve(static_cast<size_t>(E::kTop) + 1);
  BuildEqualisationCurve(histogram_.data(), int64_t{width_} * height_, strength_, E::kBands,
                         E::kTop, curve.data());
  for (int32_t& v : intensityMap_) v = curve[static_cast<size_t>(v)];
}

template <class D>
void CAutoExposure::WriteHsiPlanes() {
  using Sample = typename D::Sample;
  using E = ExposureDepth<D>;
  const size_t width = static_cast<size_t>(width_);
  const bool colour = SamplesPerPixel(*source_) == 3;
  const int32_t* map = intensityMap_.data();
  const double scale = static_cast<double>(E::kIntensityScale);

  // Hue and saturation take few values: the chromaticities of every pair, computed once.
  std::vector<Chromaticity> chroma;
  if (colour) {
    chroma.resize(static_cast<size_t>(361) * (E::kSaturationMax + 1));
    for (int32_t h = 0; h <= 360; ++h) {
      for (int32_t s = 0; s <= E::kSaturationMax; ++s) {
        const float fraction = static_cast<float>(s * E::kSaturationScale);
        chroma[static_cast<size_t>(h * (E::kSaturationMax + 1) + s)] = HsiChromaticity(h, fraction);
      }
    }
  }

  std::vector<Sample> row = AllocateRow<D>(*destination_);
  for (int32_t y = 0; y < height_; ++y) {
    const size_t offset = static_cast<size_t>(y) * width;
    const int32_t* intensity = planes_[kIntensity] + offset;
    if (!colour) {
      for (size_t x = 0; x < width; ++x) {
        const double i = map[intensity[x]] * scale;
        row[x] = static_cast<Sample>(ClampTruncate(static_cast<float>(i), D::kMax));
      }
    } else {
      const int32_t* hue = planes_[kHue] + offset;
      const int32_t* saturation = planes_[kSaturation] + offset;
      Sample* p = row.data();
      for (size_t x = 0; x < width; ++x, p += 3) {
        const Chromaticity& c =
            chroma[static_cast<size_t>(hue[x] * (E::kSaturationMax + 1) + saturation[x])];
        const double i = map[intensity[x]] * scale;
        p[0] = static_cast<Sample>(HsiSample(c.blue, i, D::kMax));
        p[1] = static_cast<Sample>(HsiSample(c.green, i, D::kMax));
        p[2] = static_cast<Sample>(HsiSample(c.red, i, D::kMax));
      }
    }
    WriteRow<D>(*destination_, y, row.data());
  }
}

template <class D>
Status CAutoExposure::Expose(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                             ProgressCallback cb, int32_t start, int32_t end) {
  using E = ExposureDepth<D>;
  const auto report = [&](int32_t value) {
    if (cb != nullptr) cb(start, end, value);  // the result is ignored: no abort
  };
  report(0);  // the opening report gives 0, not start
  Clear();
  source_ = src;
  destination_ = dst;
  useStrength_ = useStrength;
  whitePoint_ = D::kMax;
  if (useStrength_ != 0) {
    strength_ = strength;
    if (!(strength_ >= 0.0f)) strength_ = 0.0f;  // below 0, or not a number
    if (strength_ > 1.0f) strength_ = 1.0f;
  } else {
    strength_ = 0.5f;
  }

  if (src == nullptr || src->IsEmpty() || dst == nullptr || dst->IsEmpty()) {
    Clear();
    return Status::Refused;
  }
  width_ = src->GetImageWidth();
  height_ = src->GetImageHeight();
  imageType_ = src->GetImageType();
  if (width_ < 1 || width_ != dst->GetImageWidth() || height_ < 1 ||
      height_ != dst->GetImageHeight() || !D::Accepts(imageType_) ||
      dst->GetImageType() != imageType_) {
    Clear();
    return Status::Refused;
  }

  try {
    FindLevels<D>();
    report(FractionOfEnd(end, 0.1));
    if (!AllocatePlanes()) {
      Clear();
      return Status::NoMemory;
    }
    BuildHsiPlanes<D>();
    report(FractionOfEnd(end, 0.4));
    if (whitePoint_ - blackPoint_ < E::kNarrow) {
      stretchFactor_ = 0.8f;
      StretchLevels<D>();
      if (E::kReportAfterStretch) report(FractionOfEnd(end, 0.5));
    }
    MeasureBands<D>();
    report(FractionOfEnd(end, 0.6));
    strength_ = StrengthForShares(strength_, bandShares_);
    EqualizeIntensity<D>();
    report(FractionOfEnd(end, 0.9));
    WriteHsiPlanes<D>();  // allocates before the first row is written
  } catch (const std::bad_alloc&) {
    Clear();
    return Status::NoMemory;
  }
  report(end);
  Clear();
  return Status::Ok;
}

Status CAutoExposure::Expose8(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                              ProgressCallback cb, int32_t start, int32_t end) {
  return Expose<Depth8>(src, dst, useStrength, strength, cb, start, end);
}

Status CAutoExposure::Expose16(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                               ProgressCallback cb, int32_t start, int32_t end) {
  return Expose<Depth16>(src, dst, useStrength, strength, cb, start, end);
}

Status CAutoExposure::Run(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                          ProgressCallback cb, int32_t start, int32_t end) {
  if (src == nullptr) return Status::Refused;
  const int type = src->GetImageType();
  if (Depth8::Accepts(type)) return Expose8(src, dst, useStrength, strength, cb, start, end);
  if (Depth16::Accepts(type)) return Expose16(src, dst, useStrength, strength, cb, start, end);
  return Status::Refused;  // no report for another type
}

namespace entry {

int32_t AutoExposure(Kasa* src, Kasa* dst, int32_t useStrength, float strength, ProgressCallback cb,
                     int32_t start, int32_t end) {
  CAutoExposure engine;
  return engine.Run(src, dst, useStrength, strength, cb, start, end) == Status::Ok ? 1 : 0;
}

}  // namespace entry

}  // namespace marlo
