// Saturation on 24-bit and 48-bit RGB.
#include "colour/saturation.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "colour/colour_model.h"
#include "frame/simd.h"

namespace marlo {

namespace {

// Why the rows below give what ScaleSaturation gives, pixel by pixel.
//
// Take a coloured pixel with largest sample max, smallest min and the remaining one mid (any of
// them may be shared by two channels). Its lightness and saturation depend on max and min only,
// so do the anchors m1, m2 of the way back. Its hue is offset + q or offset - q (then brought
// into 0..359) with q = ((mid - min) * 60) / delta, 0..60: the division truncates toward zero,
// so the sign of the difference does not change q. Reading the way back at the three channel
// hues (H + 120, H, H - 120) for each of the six orders of the channels, the channel holding max
// always falls on the plateau m2, the one holding min on m1, and the middle one on the rising
// slope at q (or on the falling slope at 240 - (240 - q), the same value): HueToValue(m1, m2, q).
// Ties agree: mid == max gives q = 60, which is m2; mid == min gives q = 0, which is m1.
//
// So a pixel needs the anchors of (max, min) and q of (mid - min, delta). For 8-bit samples
// both come from tables filled by the model's own functions; for 16-bit samples they are
// computed per pixel by the same functions (the tables would be too large).

// The rows go through in blocks, in three passes: the samples are sorted into planes (max, min
// and mid - min), the model fills in the anchors and q, and the new samples are chosen. The
// first and last pass are plain loops over arrays, which the compiler vectorises; the middle one
// is table lookups (8-bit) or the divisions of the model (16-bit).
constexpr size_t kBlock = 512;

struct Planes {
  int32_t max[kBlock], min[kBlock], above[kBlock];  // above = mid - min
  int32_t m1[kBlock], m2[kBlock], q[kBlock];
};

// The scaled anchors (m1, m2) of a coloured pixel (max > min). `scaled` maps a saturation
// 0..100 to ScaledSaturation(S, percent).
template <class D>
void ScaledAnchors(int32_t max, int32_t min, const int32_t* scaled, int32_t* m1, int32_t* m2) {
  const int32_t lightness = (max + min + 1) / 2;  // as RgbToHls
  const int32_t saturation = scaled[RgbSaturation<D>(max, min)];
  const int64_t upper = UpperAnchor<D>(lightness, saturation);
  *m2 = static_cast<int32_t>(upper);
  *m1 = static_cast<int32_t>(2 * static_cast<int64_t>(lightness) - upper);
}

// Position of the pair (a, b), 0 <= b <= a <= 256, in a triangular table.
inline uint32_t Triangle(uint32_t a, uint32_t b) {
  return a * (a + 1) / 2 + b;
}

// 8-bit: the anchors of every (max, min) for this percentage, and q of every (mid - min,
// delta) from RgbHue(delta, mid - min, 0), whose red branch is exactly that division. A grey
// pixel (max == min) has both anchors equal to its sample and q = 0, so that it comes out
// unchanged.
class Tables8 {
 public:
  explicit Tables8(const int32_t* scaled) : anchors_(Triangle(256, 0)) {
    for (int32_t max = 0; max <= 255; ++max) {
      anchors_[Triangle(max, max)] = Pack(max, max);
      for (int32_t min = 0; min < max; ++min) {
        int32_t m1, m2;
        ScaledAnchors<Depth8>(max, min, scaled, &m1, &m2);
        anchors_[Triangle(max, min)] = Pack(m1, m2);
      }
    }
  }

  // The AVX2 variant adds gathers of its own (FillGathers).
  template <class Isa>
  MARLO_KERNEL void Fill(Planes& s, size_t n) const {
#if defined(MARLO_AVX2_VARIANTS)
    if constexpr (Isa::kAvx2) {
      FillGathers(s, n);
      return;
    }
#endif
    FillFrom(s, 0, n);
  }

#if defined(MARLO_AVX2_VARIANTS)
  // The same lookups, eight pixels at a time through gathers. The fraction table is read four
  // bytes at a time and masked to the byte asked for (it has three bytes of slack at its end).
  MARLO_AVX2_TARGET void FillGathers(Planes& s, size_t n) const {
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i byte = _mm256_set1_epi32(0xFF);
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      const __m256i max = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.max + i));
      const __m256i min = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.min + i));
      const __m256i above = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s.above + i));
      const __m256i delta = _mm256_sub_epi32(max, min);
      // Triangle(max, min) and Triangle(delta, above).
      const __m256i pair = _mm256_add_epi32(
          _mm256_srli_epi32(_mm256_mullo_epi32(max, _mm256_add_epi32(max, one)), 1), min);
      const __m256i part = _mm256_add_epi32(
          _mm256_srli_epi32(_mm256_mullo_epi32(delta, _mm256_add_epi32(delta, one)), 1), above);
      const __m256i packed =
          _mm256_i32gather_epi32(reinterpret_cast<const int*>(anchors_.data()), pair, 4);
      const __m256i q = _mm256_and_si256(
          _mm256_i32gather_epi32(reinterpret_cast<const int*>(fractions_), part, 1), byte);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.m1 + i),
                          _mm256_srai_epi32(_mm256_slli_epi32(packed, 16), 16));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.m2 + i), _mm256_srai_epi32(packed, 16));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(s.q + i), q);
    }
    FillFrom(s, i, n);
  }
#endif

 private:
  void FillFrom(Planes& s, size_t first, size_t n) const {
    for (size_t i = first; i < n; ++i) {
      const uint32_t max = static_cast<uint32_t>(s.max[i]);
      const uint32_t min = static_cast<uint32_t>(s.min[i]);
      const uint32_t packed = anchors_[Triangle(max, min)];
      s.m1[i] = static_cast<int16_t>(packed & 0xFFFFu);
      s.m2[i] = static_cast<int16_t>(packed >> 16);
      s.q[i] = fractions_[Triangle(max - min, static_cast<uint32_t>(s.above[i]))];
    }
  }

  // m1 within -256..510 and m2 within 0..256, as two 16-bit halves.
  static uint32_t Pack(int32_t m1, int32_t m2) {
    return static_cast<uint32_t>(static_cast<uint16_t>(m1)) |
           static_cast<uint32_t>(static_cast<uint16_t>(m2)) << 16;
  }

  // Built once for the process.
  static const uint8_t* Fractions() {
    static const std::vector<uint8_t> table = [] {
      std::vector<uint8_t> t(Triangle(256, 0) + 3);
      for (uint32_t delta = 1; delta <= 255; ++delta) {
        for (uint32_t d = 0; d <= delta; ++d) {
          t[Triangle(delta, d)] = static_cast<uint8_t>(
              RgbHue(static_cast<uint16_t>(delta), static_cast<uint16_t>(d), 0));
        }
      }
      return t;
    }();
    return table.data();
  }

  std::vector<uint32_t> anchors_;
  const uint8_t* fractions_ = Fractions();
};

// 16-bit: the same values computed per pixel (the tables would be too large).
class Formula16 {
 public:
  explicit Formula16(const int32_t* scaled) : scaled_(scaled) {}

  template <class Isa>
  MARLO_KERNEL void Fill(Planes& s, size_t n) const {
    for (size_t i = 0; i < n; ++i) {
      const int32_t max = s.max[i], min = s.min[i];
      if (max == min) {  // grey: unchanged, and nothing is divided by the zero delta
        s.m1[i] = s.m2[i] = max;
        s.q[i] = 0;
        continue;
      }
      ScaledAnchors<Depth16>(max, min, scaled_, &s.m1[i], &s.m2[i]);
      s.q[i] = (s.above[i] * 60) / (max - min);  // RgbHue's red branch, green - blue >= 0
    }
  }

 private:
  const int32_t* scaled_;
};

// Pass 1. Stored order blue, green, red.
template <class D>
MARLO_KERNEL void SortSamples(const typename D::Sample* p, size_t n, Planes& s) {
  for (size_t i = 0; i < n; ++i) {
    const int32_t b = p[3 * i], g = p[3 * i + 1], r = p[3 * i + 2];
    const int32_t max = std::max(r, std::max(g, b));
    const int32_t min = std::min(r, std::min(g, b));
    s.max[i] = max;
    s.min[i] = min;
    s.above[i] = r + g + b - max - min - min;
  }
}

// Pass 3. The largest sample becomes m2 and the smallest m1, clamped as HueToValue clamps its
// plateaus; the middle one becomes HueToValue(m1, m2, q), which for 0 <= q <= 60 is the rising
// slope (at q = 60 it reaches m2, the plateau's value). Within the reachable anchors
// (-65535..131070) every product fits in 32 bits.
template <class D>
MARLO_KERNEL void Recolour(typename D::Sample* p, size_t n, const Planes& s) {
  using Sample = typename D::Sample;
  for (size_t i = 0; i < n; ++i) {
    const int32_t m1 = s.m1[i], m2 = s.m2[i];
    const int32_t middle = std::min(std::max(m1 + ((m2 - m1) * s.q[i]) / 60, 0), D::kMax);
    const int32_t high = std::min(std::max(m2, 0), D::kMax);
    const int32_t low = std::min(std::max(m1, 0), D::kMax);
    const int32_t max = s.max[i], min = s.min[i];
    const int32_t b = p[3 * i], g = p[3 * i + 1], r = p[3 * i + 2];
    p[3 * i] = static_cast<Sample>(b == max ? high : b == min ? low : middle);
    p[3 * i + 1] = static_cast<Sample>(g == max ? high : g == min ? low : middle);
    p[3 * i + 2] = static_cast<Sample>(r == max ? high : r == min ? low : middle);
  }
}

// The row kernel: the row in blocks, each through the three passes.
template <class D>
struct SaturateRowKernel {
  template <class Isa, class Model>
  static MARLO_KERNEL void Run(typename D::Sample* p, size_t width, const Model& model, Planes& s) {
    for (size_t x = 0; x < width; x += kBlock) {
      const size_t n = std::min(kBlock, width - x);
      SortSamples<D>(p + 3 * x, n, s);
      model.template Fill<Isa>(s, n);
      Recolour<D>(p + 3 * x, n, s);
    }
  }
};

template <class D, class Model>
Status SaturateImage(Kasa* src, Kasa* dst, const Model& model, ProgressCallback cb, int32_t start,
                     int32_t end) {
  using Sample = typename D::Sample;
  const size_t width = static_cast<size_t>(src->GetImageWidth());
  const int32_t height = src->GetImageHeight();
  // Rows are independent: bands over the run's threads, each with its row and planes.
  const RowBands bands(height, 2 * static_cast<size_t>(src->GetLineBytes()));
  std::vector<std::vector<Sample>> rows(static_cast<size_t>(bands.slots()));
  for (auto& row : rows) row = AllocateRow<D>(*src);
  const std::unique_ptr<Planes[]> planes(new Planes[static_cast<size_t>(bands.slots())]);
  Progress progress(cb, start, end, height, src, dst);
  if (progress.Begin() != Status::Ok) return progress.status();
  const Status status = bands.Run(&progress, [&](Band& band) {
    Sample* row = rows[static_cast<size_t>(band.slot())].data();
    Planes& mine = planes[static_cast<size_t>(band.slot())];
    for (int32_t y = band.first(); y < band.end(); ++y) {
      if (!band.Enter()) return;
      ReadRow<D>(*src, y, row);
      if (!band.Reached()) return;  // after reading, before transforming
      RunKernel<SaturateRowKernel<D>>(row, width, model, mine);
      WriteRow<D>(*dst, y, row);
      if (!band.Leave()) return;
    }
  });
  if (status != Status::Ok) return status;
  return progress.Finish();
}

// ScaledSaturation(S, amount) for S = 0..100.
std::vector<int32_t> ScaledSaturations(int32_t amount) {
  std::vector<int32_t> scaled(101);
  for (int32_t s = 0; s <= 100; ++s) scaled[static_cast<size_t>(s)] = ScaledSaturation(s, amount);
  return scaled;
}

}  // namespace

Status SaturateImage8(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb, int32_t start,
                      int32_t end) {
  const std::vector<int32_t> scaled = ScaledSaturations(amount);
  return SaturateImage<Depth8>(src, dst, Tables8(scaled.data()), cb, start, end);
}

Status SaturateImage16(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb, int32_t start,
                       int32_t end) {
  const std::vector<int32_t> scaled = ScaledSaturations(amount);
  return SaturateImage<Depth16>(src, dst, Formula16(scaled.data()), cb, start, end);
}

int CSaturation::SetParameters(const int32_t* amount) {
  amount_ = *amount;
  return 1;
}

Status CSaturation::Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end) {
  return RunWithWaitCursor(src, dst, &IsColorType, [&](auto depth) {
    if constexpr (decltype(depth)::kBits == 8)
      return SaturateImage8(src, dst, amount_, cb, start, end);
    return SaturateImage16(src, dst, amount_, cb, start, end);
  });
}

}  // namespace marlo

int32_t MARLO_STDCALL Saturation(Kasa* src, Kasa* dst, int32_t amount, ProgressCallback cb,
                                 int32_t start, int32_t end) {
  return marlo::Export(0, [&] {
    marlo::CSaturation filter;
    filter.SetParameters(&amount);
    return filter.Run(src, dst, cb, start, end);
  });
}
