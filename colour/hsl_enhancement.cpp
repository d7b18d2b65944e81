// HSL enhancement on 24-bit and 48-bit RGB.
#include "colour/hsl_enhancement.h"

#include <algorithm>
#include <new>
#include <vector>

#include "colour/colour_model.h"
#include "frame/simd.h"

namespace marlo {

namespace {

// The lattice of each width: coordinate k stands for the sample k * kStep (17 or 4352 =
// 17 * 256), so the lattice runs from 0 to 255 or to 65280. An interpolated sum carries the
// weight kStep^3 and is divided back in steps: by 4913 = 17^3, and for 16-bit samples then three
// times by 256. Sums are unsigned: 32-bit for 8-bit samples, 64-bit for 16-bit ones, which reach
// 4352^3 * 65535.
template <class D>
struct Lattice;

template <>
struct Lattice<Depth8> {
  using Sum = uint32_t;  // at most 4913 * 255
  static constexpr int32_t kStep = 17;
  static uint32_t Divide(uint32_t sum) { return sum / 4913u; }
};

template <>
struct Lattice<Depth16> {
  using Sum = uint64_t;  // up to 4352^3 * 65535
  static constexpr int32_t kStep = 4352;
  static uint64_t Divide(uint64_t sum) { return sum / 4913u / 256u / 256u / 256u; }
};

template <class D>
void AdjustPixel(const HslParameters& p, typename D::Sample* red, typename D::Sample* green,
                 typename D::Sample* blue) {
  using Sample = typename D::Sample;
  const Hls x = RgbToHls<D>(*red, *green, *blue);
  const bool coloured = x.hue != HueUndefined;

  // The ranges' values at the pixel's own hue; a grey pixel has none.
  int64_t rangeHue = 0, rangeSaturation = 0, rangeLightness = 0;
  if (coloured) {
    rangeHue = RangeValue(p.hue, x.hue);
    rangeSaturation = RangeValue(p.saturation, x.hue);
    rangeLightness = RangeValue(p.lightness, x.hue);
  }

  // Hue shift brought into 0..360 (a sum above 360 comes down to 1..360, a negative one up to
  // 0..359).
  int64_t shift = p.hue[0] + rangeHue;
  if (shift > 360) shift -= 360 * ((shift - 1) / 360);
  if (shift < 0) shift += 360 * ((359 - shift) / 360);

  int64_t saturationChange = p.saturation[0] + rangeSaturation;
  if (saturationChange > 100) saturationChange = 100;
  if (saturationChange < -100) saturationChange = -100;

  // The range part of the lightness change is weighted by the pixel's chroma; the master part is
  // not. Not clamped.
  const int64_t lightnessChange = p.lightness[0] + (rangeLightness * x.delta) / D::kMax;

  int64_t v[3];
  if (coloured) {
    int64_t saturation = ((saturationChange + 100) * x.saturation) / 100;
    if (saturation > 100) saturation = 100;
    const Rgb rgb = HlsToRgb<D>(static_cast<int32_t>(x.hue + shift), x.lightness,
                                static_cast<int32_t>(saturation));
    v[0] = rgb.red;
    v[1] = rgb.green;
    v[2] = rgb.blue;
  } else {
    v[0] = v[1] = v[2] = x.lightness;
  }

  // Lightness per channel. Below -100 the darkening dividend is negative and the quotient
  // truncates toward zero; the channel then ends at 0 either way.
  for (int64_t& c : v) {
    if (lightnessChange < 0) {
      c = ((lightnessChange + 100) * c + 50) / 100;
    } else if (lightnessChange > 0) {
      c = c + ((D::kMax - c) * lightnessChange + 50) / 100;
    }
    if (c > D::kMax) c = D::kMax;
    if (c < 0) c = 0;
  }
  *red = static_cast<Sample>(v[0]);
  *green = static_cast<Sample>(v[1]);
  *blue = static_cast<Sample>(v[2]);
}

// Trilinear interpolation in a lattice table (entries red, green, blue; red varies fastest).
// Along an axis whose coordinate is 15 the upper corner is the base corner itself.
template <class D>
void LookUp(const typename D::Sample* table, typename D::Sample* red, typename D::Sample* green,
            typename D::Sample* blue) {
  using Sample = typename D::Sample;
  constexpr int32_t kStep = Lattice<D>::kStep;
  constexpr int32_t kLast = CHSLEnhancement::kPoints - 1;
  const int32_t value[3] = {*red, *green, *blue};
  constexpr size_t kStride[3] = {3, 3 * 16, 3 * 16 * 16};  // samples between neighbours
  using Sum = typename Lattice<D>::Sum;
  size_t base = 0;
  size_t up[3];
  Sum weight[3][2];
  for (int c = 0; c < 3; ++c) {
    const int32_t k = value[c] / kStep;
    const int32_t f = value[c] - kStep * k;
    base += static_cast<size_t>(k) * kStride[c];
    up[c] = k < kLast ? kStride[c] : 0;
    weight[c][0] = static_cast<Sum>(kStep - f);
    weight[c][1] = static_cast<Sum>(f);
  }
  Sum sum[3] = {0, 0, 0};
  for (int b = 0; b < 2; ++b) {
    for (int g = 0; g < 2; ++g) {
      const Sum wgb = weight[2][b] * weight[1][g];
      const Sample* row = table + base + (b ? up[2] : 0) + (g ? up[1] : 0);
      for (int r = 0; r < 2; ++r) {
        const Sum w = weight[0][r] * wgb;
        const Sample* corner = row + (r ? up[0] : 0);
        sum[0] += w * corner[0];
        sum[1] += w * corner[1];
        sum[2] += w * corner[2];
      }
    }
  }
  *red = static_cast<Sample>(Lattice<D>::Divide(sum[0]));
  *green = static_cast<Sample>(Lattice<D>::Divide(sum[1]));
  *blue = static_cast<Sample>(Lattice<D>::Divide(sum[2]));
}

// The 8-bit lookup made cheaper, with exactly the sums LookUp forms. The trilinear sum of a
// channel is sum over the four (green, blue) corners of wg * wb * (wr0 * T[kr] + wr1 * T[kr + 1]),
// and the bracket depends only on the red sample and the corner: it is computed once per call
// for every red sample 0..255 and every lattice (green, blue) point. The three channels of a
// bracket (each at most 17 * 255) are packed into one 64-bit word, 21 bits apart; a channel's
// weighted sum stays below 4913 * 256 < 2^21, so the packed words add and scale without one
// channel reaching into the next. The weights of the upper corner are 0 where the coordinate
// is 15 (only the sample 255 reaches it), so that corner may be any value: the packed table
// has one row of zeros beyond its end instead of the test LookUp makes.
class RedInterpolated8 {
 public:
  // Without the memory for the packed table (Ready() false) LookUp is used instead.
  explicit RedInterpolated8(const uint8_t* table) : rows_(new (std::nothrow) uint64_t[kRows]()) {
    if (!rows_) return;
    constexpr int32_t kStep = Lattice<Depth8>::kStep;
    for (int32_t red = 0; red < 256; ++red) {
      const int32_t k = red / kStep;
      const int32_t f = red - kStep * k;
      const int32_t up = k < CHSLEnhancement::kPoints - 1 ? 3 : 0;
      for (int kb = 0; kb < 16; ++kb) {
        for (int kg = 0; kg < 16; ++kg) {
          const uint8_t* lower = table + 3 * static_cast<size_t>((kb * 16 + kg) * 16 + k);
          uint64_t packed = 0;
          for (int c = 0; c < 3; ++c) {
            const uint64_t bracket =
                static_cast<uint64_t>((kStep - f) * lower[c] + f * lower[c + up]);
            packed |= bracket << (kShift * c);
          }
          rows_[static_cast<size_t>(red * kPlane + kb * 16 + kg)] = packed;
        }
      }
    }
  }

  bool Ready() const { return rows_ != nullptr; }

  // A row of pixels (stored order blue, green, red) in blocks, in three passes: the table
  // position and the four (green, blue) weights of each pixel (plain arithmetic, vectorised),
  // the four packed products (table reads), and the channels unpacked and divided (vectorised).
  MARLO_KERNEL void RowLoops(uint8_t* p, size_t width) const {
    constexpr uint32_t kStep = Lattice<Depth8>::kStep;
    constexpr size_t kBlock = 256;
    uint32_t index[kBlock], w00[kBlock], w10[kBlock], w01[kBlock], w11[kBlock];
    uint64_t sum[kBlock];
    for (size_t x = 0; x < width; x += kBlock) {
      const size_t n = std::min(kBlock, width - x);
      uint8_t* q = p + 3 * x;
      for (size_t i = 0; i < n; ++i) {
        const uint32_t b = q[3 * i], g = q[3 * i + 1], r = q[3 * i + 2];
        const uint32_t kg = g / kStep, kb = b / kStep;
        const uint32_t fg = g - kStep * kg, fb = b - kStep * kb;
        index[i] = r * kPlane + kb * 16 + kg;
        w00[i] = (kStep - fg) * (kStep - fb);
        w10[i] = fg * (kStep - fb);
        w01[i] = (kStep - fg) * fb;
        w11[i] = fg * fb;
      }
      const uint64_t* rows = rows_.get();
      for (size_t i = 0; i < n; ++i) {
        const uint64_t* row = rows + index[i];
        sum[i] = uint64_t{w00[i]} * row[0] + uint64_t{w10[i]} * row[1] +
                 uint64_t{w01[i]} * row[16] + uint64_t{w11[i]} * row[17];
      }
      for (size_t i = 0; i < n; ++i) {
        const uint64_t s = sum[i];
        q[3 * i + 2] =
            static_cast<uint8_t>(Lattice<Depth8>::Divide(static_cast<uint32_t>(s & kMask)));
        q[3 * i + 1] = static_cast<uint8_t>(
            Lattice<Depth8>::Divide(static_cast<uint32_t>((s >> kShift) & kMask)));
        q[3 * i] =
            static_cast<uint8_t>(Lattice<Depth8>::Divide(static_cast<uint32_t>(s >> (2 * kShift))));
      }
    }
  }

  void Row(uint8_t* p, size_t width) const;

 private:
  static constexpr int kPlane = 16 * 16;  // packed brackets per red sample
  static constexpr size_t kRows = 256 * kPlane + kPlane + 1;
  static constexpr int kShift = 21;
  static constexpr uint64_t kMask = (uint64_t{1} << kShift) - 1;
  std::unique_ptr<uint64_t[]> rows_;
};

// The row loops as a kernel with an AVX2 variant.
struct LatticeRowKernel {
  template <class Isa>
  static MARLO_KERNEL void Run(const RedInterpolated8& lattice, uint8_t* p, size_t width) {
    lattice.RowLoops(p, width);
  }
};

void RedInterpolated8::Row(uint8_t* p, size_t width) const {
  RunKernel<LatticeRowKernel>(*this, p, width);
}

// The 16-bit lookup with the sums LookUp forms, from a copy of the lattice with a 17th point on
// each axis equal to the 16th: where LookUp takes the base corner as the upper one too
// (coordinate 15), the copy holds the same samples there, so no pixel needs that test. A
// channel's sum is taken as the sum over the four (green, blue) corners of wg * wb * A, where
// A = wr0 * T[kr] + wr1 * T[kr + 1] (at most 4352 * 65535 < 2^29): the trilinear sum regrouped,
// every partial sum below 4352^3 * 65535 < 2^53.
//
// With SSE2 (every x86-64 processor) A comes from one multiply-add of 16-bit pairs: the copy
// holds, per lattice point, (T[kr], T[kr + 1]) of each channel less 32768, so that they fit
// signed 16 bits; wr0 + wr1 = 4352 always, so adding 32768 * 4352 gives A back exactly. The four
// products wg * wb * A (32 x 32 -> 64 bits) are summed in 64-bit lanes.
class Padded16 {
 public:
  // Without the memory for the copy (Ready() false) LookUp is used instead.
  explicit Padded16(const uint16_t* table) : entries_(new (std::nothrow) Entry[kEntries]) {
    if (!entries_) return;
    const auto at = [table](int kr, int kg, int kb, int c) -> int32_t {
      const int last = CHSLEnhancement::kPoints - 1;
      return table[3 * static_cast<size_t>((std::min(kb, last) * 16 + std::min(kg, last)) * 16 +
                                           std::min(kr, last)) +
                   static_cast<size_t>(c)];
    };
    for (int kb = 0; kb < kSide; ++kb) {
      for (int kg = 0; kg < kSide; ++kg) {
        for (int kr = 0; kr < kBases; ++kr) {
          Entry& e = entries_[Position(kr, kg, kb)];
          for (int c = 0; c < 3; ++c) {
            e.v[2 * c] = static_cast<int16_t>(at(kr, kg, kb, c) - 32768);
            e.v[2 * c + 1] = static_cast<int16_t>(at(kr + 1, kg, kb, c) - 32768);
          }
          e.v[6] = e.v[7] = 0;
        }
      }
    }
  }

  bool Ready() const { return entries_ != nullptr; }

  void Pixel(uint16_t* red, uint16_t* green, uint16_t* blue) const {
    constexpr uint32_t kStep = Lattice<Depth16>::kStep;
    const uint32_t r = *red, g = *green, b = *blue;
    const uint32_t kr = r / kStep, kg = g / kStep, kb = b / kStep;
    const uint32_t fr = r - kStep * kr, fg = g - kStep * kg, fb = b - kStep * kb;
    const uint32_t w[4] = {(kStep - fg) * (kStep - fb), fg * (kStep - fb), (kStep - fg) * fb,
                           fg * fb};
    const Entry* e =
        entries_.get() + Position(static_cast<int>(kr), static_cast<int>(kg), static_cast<int>(kb));
    const Entry* corner[4] = {e, e + kBases, e + kSide * kBases, e + kSide * kBases + kBases};
    uint64_t sum[3];
#if defined(MARLO_SSE2_KERNELS)
    const __m128i weightsRed = _mm_set1_epi32(static_cast<int32_t>((kStep - fr) | fr << 16));
    const __m128i offset = _mm_set1_epi32(32768 * static_cast<int32_t>(kStep));
    __m128i redBlue = _mm_setzero_si128(), greenOnly = _mm_setzero_si128();
    for (int i = 0; i < 4; ++i) {
      const __m128i pairs = _mm_load_si128(reinterpret_cast<const __m128i*>(corner[i]->v));
      const __m128i a = _mm_add_epi32(_mm_madd_epi16(pairs, weightsRed), offset);  // A of r, g, b
      const __m128i weight = _mm_set1_epi32(static_cast<int32_t>(w[i]));
      redBlue = _mm_add_epi64(redBlue, _mm_mul_epu32(a, weight));
      greenOnly = _mm_add_epi64(greenOnly, _mm_mul_epu32(_mm_srli_epi64(a, 32), weight));
    }
    alignas(16) uint64_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), redBlue);
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes + 2), greenOnly);
    sum[0] = lanes[0];
    sum[1] = lanes[2];
    sum[2] = lanes[1];
#else
    for (int c = 0; c < 3; ++c) {
      sum[c] = 0;
      for (int i = 0; i < 4; ++i) {
        const int32_t a =
            (kStep - fr) * (corner[i]->v[2 * c] + 32768) + fr * (corner[i]->v[2 * c + 1] + 32768);
        sum[c] += uint64_t{w[i]} * static_cast<uint32_t>(a);
      }
    }
#endif
    *red = static_cast<uint16_t>(Lattice<Depth16>::Divide(sum[0]));
    *green = static_cast<uint16_t>(Lattice<Depth16>::Divide(sum[1]));
    *blue = static_cast<uint16_t>(Lattice<Depth16>::Divide(sum[2]));
  }

 private:
  static constexpr int kSide = CHSLEnhancement::kPoints + 1;  // green and blue points
  static constexpr int kBases = CHSLEnhancement::kPoints;     // red base points
  static constexpr size_t kEntries = static_cast<size_t>(kSide * kSide * kBases);
  static size_t Position(int kr, int kg, int kb) {
    return static_cast<size_t>((kb * kSide + kg) * kBases + kr);
  }
  struct alignas(16) Entry {
    int16_t v[8];  // (T[kr], T[kr + 1]) - 32768 of red, green, blue, then two zeros
  };
  std::unique_ptr<Entry[]> entries_;
};

// Every lattice point, the 16 grey-axis points included, is passed through the direct function:
// a master lightness change then acts on greys in the table path as it does in the direct path
// (with master lightness 0 the grey points would come out unchanged either way).
template <class D>
void BuildTable(const HslParameters& p, typename D::Sample* table) {
  using Sample = typename D::Sample;
  constexpr int32_t kStep = Lattice<D>::kStep;
  constexpr int kPoints = CHSLEnhancement::kPoints;
  for (int kb = 0; kb < kPoints; ++kb) {
    for (int kg = 0; kg < kPoints; ++kg) {
      for (int kr = 0; kr < kPoints; ++kr) {
        Sample* entry = table + 3 * static_cast<size_t>((kb * kPoints + kg) * kPoints + kr);
        entry[0] = static_cast<Sample>(kStep * kr);
        entry[1] = static_cast<Sample>(kStep * kg);
        entry[2] = static_cast<Sample>(kStep * kb);
        AdjustPixel<D>(p, &entry[0], &entry[1], &entry[2]);
      }
    }
  }
}

// The row worker; `rowFn(p, width)` maps a row of pixels (stored order blue, green, red) in place.
// Rows are independent: bands over the run's threads, each with its own row buffer.
template <class D, class RowFn>
Status EnhanceRows(const RowFn& rowFn, Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                   int32_t end) {
  using Sample = typename D::Sample;
  const size_t width = static_cast<size_t>(src->GetImageWidth());
  const int32_t height = src->GetImageHeight();
  const RowBands bands(height, 2 * static_cast<size_t>(src->GetLineBytes()));
  std::vector<std::vector<Sample>> rows(static_cast<size_t>(bands.slots()));
  for (auto& row : rows) row = AllocateRow<D>(*src);
  Progress progress(cb, start, end, height, src, dst);
  if (progress.Begin() != Status::Ok) return progress.status();
  const Status status = bands.Run(&progress, [&](Band& band) {
    Sample* row = rows[static_cast<size_t>(band.slot())].data();
    for (int32_t y = band.first(); y < band.end(); ++y) {
      if (!band.Enter()) return;
      ReadRow<D>(*src, y, row);
      rowFn(row, width);
      WriteRow<D>(*dst, y, row);
      if (!band.Leave()) return;  // after the row is written
    }
  });
  if (status != Status::Ok) return status;
  return progress.Finish();
}

// A row function that maps each pixel (red, green, blue) through `pixel`.
template <class Sample, class Pixel>
auto EachPixel(const Pixel& pixel) {
  return [&pixel](Sample* p, size_t width) {
    for (size_t x = 0; x < width; ++x, p += 3) pixel(&p[2], &p[1], &p[0]);
  };
}

// Without tables.
template <class D>
Status EnhanceDirect(const HslParameters& params, Kasa* src, Kasa* dst, ProgressCallback cb,
                     int32_t start, int32_t end) {
  using Sample = typename D::Sample;
  const auto pixel = [&params](Sample* r, Sample* g, Sample* b) {
    AdjustPixel<D>(params, r, g, b);
  };
  return EnhanceRows<D>(EachPixel<Sample>(pixel), src, dst, cb, start, end);
}

}  // namespace

int64_t RangeValue(const int32_t values[7], int32_t hue) {
  // Twelve 30-degree segments starting at 345: even ones are plateaus, odd ones ramps.
  const int32_t segment = (hue + 15) / 30;  // 0..12; 12 is the red plateau again
  if (segment % 2 == 0) return values[segment / 2 % 6 + 1];
  const int lower = (segment - 1) / 2 + 1;  // 1..6
  const int upper = lower % 6 + 1;          // the next range, magenta wrapping to red
  const int64_t lo = 30 * segment - 15;
  const int64_t hi = lo + 30;
  return (static_cast<int64_t>(values[lower]) * (hi - hue)) / 30 +
         (static_cast<int64_t>(values[upper]) * (hue - lo)) / 30;
}

void AdjustPixel8(const HslParameters& p, uint8_t* red, uint8_t* green, uint8_t* blue) {
  AdjustPixel<Depth8>(p, red, green, blue);
}

void AdjustPixel16(const HslParameters& p, uint16_t* red, uint16_t* green, uint16_t* blue) {
  AdjustPixel<Depth16>(p, red, green, blue);
}

CHSLEnhancement::CHSLEnhancement(bool useTables) {
  if (!useTables) return;
  table8_.reset(new (std::nothrow) uint8_t[3 * kEntries]);
  table16_.reset(new (std::nothrow) uint16_t[3 * kEntries]);
  tables_ = table8_ != nullptr && table16_ != nullptr;
}

void CHSLEnhancement::BuildTables() {
  BuildTable<Depth8>(params_, table8_.get());
  BuildTable<Depth16>(params_, table16_.get());
  filled_ = true;
}

int CHSLEnhancement::SetParameters(const int32_t* hue, const int32_t* saturation,
                                   const int32_t* lightness) {
  if (hue == nullptr || saturation == nullptr || lightness == nullptr) return 0;
  for (int i = 0; i < 7; ++i) {
    params_.hue[i] = hue[i];
    params_.saturation[i] = saturation[i];
    params_.lightness[i] = lightness[i];
  }
  if (tables_) BuildTables();
  return 1;
}

const uint8_t* CHSLEnhancement::Entry8(int kr, int kg, int kb) const {
  return table8_.get() + 3 * static_cast<size_t>((kb * kPoints + kg) * kPoints + kr);
}

const uint16_t* CHSLEnhancement::Entry16(int kr, int kg, int kb) const {
  return table16_.get() + 3 * static_cast<size_t>((kb * kPoints + kg) * kPoints + kr);
}

void CHSLEnhancement::Pixel8(uint8_t* red, uint8_t* green, uint8_t* blue) const {
  if (filled_) {
    LookUp<Depth8>(table8_.get(), red, green, blue);
  } else {
    AdjustPixel<Depth8>(params_, red, green, blue);
  }
}

void CHSLEnhancement::Pixel16(uint16_t* red, uint16_t* green, uint16_t* blue) const {
  if (filled_) {
    LookUp<Depth16>(table16_.get(), red, green, blue);
  } else {
    AdjustPixel<Depth16>(params_, red, green, blue);
  }
}

Status CHSLEnhancement::Enhance8(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                                 int32_t end) const {
  if (!filled_) return EnhanceDirect<Depth8>(params_, src, dst, cb, start, end);
  const RedInterpolated8 lattice(table8_.get());
  if (!lattice.Ready()) {
    const uint8_t* table = table8_.get();
    const auto pixel = [table](uint8_t* r, uint8_t* g, uint8_t* b) {
      LookUp<Depth8>(table, r, g, b);
    };
    return EnhanceRows<Depth8>(EachPixel<uint8_t>(pixel), src, dst, cb, start, end);
  }
  const auto row = [&lattice](uint8_t* p, size_t width) { lattice.Row(p, width); };
  return EnhanceRows<Depth8>(row, src, dst, cb, start, end);
}

Status CHSLEnhancement::Enhance16(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                                  int32_t end) const {
  if (!filled_) return EnhanceDirect<Depth16>(params_, src, dst, cb, start, end);
  const Padded16 lattice(table16_.get());
  if (!lattice.Ready()) {
    const uint16_t* table = table16_.get();
    const auto pixel = [table](uint16_t* r, uint16_t* g, uint16_t* b) {
      LookUp<Depth16>(table, r, g, b);
    };
    return EnhanceRows<Depth16>(EachPixel<uint16_t>(pixel), src, dst, cb, start, end);
  }
  const auto pixel = [&lattice](uint16_t* r, uint16_t* g, uint16_t* b) { lattice.Pixel(r, g, b); };
  return EnhanceRows<Depth16>(EachPixel<uint16_t>(pixel), src, dst, cb, start, end);
}

Status CHSLEnhancement::Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                            int32_t end) const {
  return RunWithWaitCursor(src, dst, &IsColorType, [&](auto depth) {
    if constexpr (decltype(depth)::kBits == 8) return Enhance8(src, dst, cb, start, end);
    return Enhance16(src, dst, cb, start, end);
  });
}

}  // namespace marlo

int32_t MARLO_STDCALL HSLEnhancement(Kasa* src, Kasa* dst, const int32_t* hue,
                                     const int32_t* saturation, const int32_t* lightness,
                                     ProgressCallback cb, int32_t start, int32_t end) {
  return marlo::Export(0, [&] {
    marlo::CHSLEnhancement filter;
    if (!filter.SetParameters(hue, saturation, lightness)) return marlo::Status::Refused;
    return filter.Run(src, dst, cb, start, end);
  });
}
