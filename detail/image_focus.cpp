// Image focus (ImageFocus) on all four image types, also in place.
#include "detail/image_focus.h"

#include <algorithm>
#include <new>
#include <optional>
#include <vector>

namespace marlo {

namespace {

// The gain k = kh * 1024 + kl split into a floored high part and a low part 0..1023.
struct SplitGain {
  int32_t k;
  int32_t kh;
  int32_t kl;
};

SplitGain Split(int32_t k) {
  const int32_t kl = ((k % 1024) + 1024) % 1024;
  return {k, (k - kl) / 1024, kl};
}

// Every kernel computes, for samples Spp .. samples - Spp - 1 of a row (pixels 1 to width - 2),
//   v = x * 1024 + L * k + 512 clamped to 0..max * 1024, then >> 10,   L = 4x - l - r - u - d,
// in one of three exact rewritings. Since x * 1024 is a multiple of 1024,
//   v >> 10 = x + floor((L * k + 512) / 1024),
// and clamping v to 0..max * 1024 before the shift is the same as clamping v >> 10 to 0..max
// (v >> 10 < 0 exactly when v < 0; v >> 10 > max exactly when v >= (max + 1) * 1024, and every
// v in between gives max either way). So each result is clamp(x + d, 0, max) with
// d = floor((L * k + 512) / 1024). Right shifts of negative values are arithmetic (floor) on
// every compiler the library is built with.

// Wide: d = (L * k + 512) >> 10 in 32 bits, for gains where |L * k| + 512 fits.
template <class Sample, int Spp>
MARLO_KERNEL void FocusWide(const Sample* __restrict up, const Sample* __restrict cur,
                            const Sample* __restrict down, Sample* __restrict out, size_t samples,
                            SplitGain g, int32_t max) {
  const int32_t k = g.k;
  for (size_t i = Spp; i + Spp < samples; ++i) {
    const int32_t x = cur[i];
    const int32_t laplacian =
        4 * x - int32_t{cur[i - Spp]} - int32_t{cur[i + Spp]} - int32_t{up[i]} - int32_t{down[i]};
    const int32_t v = x + ((laplacian * k + 512) >> 10);
    out[i] = static_cast<Sample>(std::min(std::max(v, int32_t{0}), max));
  }
}

// Split: d = L * kh + ((L * kl + 512) >> 10), since L * k + 512 = L * kh * 1024 + (L * kl + 512).
// With kl < 1024 and |kh| <= 164 every term fits 32 bits for 16-bit samples at any gain.
template <class Sample, int Spp>
MARLO_KERNEL void FocusSplit(const Sample* __restrict up, const Sample* __restrict cur,
                             const Sample* __restrict down, Sample* __restrict out, size_t samples,
                             SplitGain g, int32_t max) {
  const int32_t kh = g.kh;
  const int32_t kl = g.kl;
  for (size_t i = Spp; i + Spp < samples; ++i) {
    const int32_t x = cur[i];
    const int32_t laplacian =
        4 * x - int32_t{cur[i - Spp]} - int32_t{cur[i + Spp]} - int32_t{up[i]} - int32_t{down[i]};
    const int32_t v = x + laplacian * kh + ((laplacian * kl + 512) >> 10);
    out[i] = static_cast<Sample>(std::min(std::max(v, int32_t{0}), max));
  }
}

// Narrow (8-bit samples, |kh| <= kNarrowMaxHigh): the split form in 16-bit lanes, the low part
// by RoundedLowProduct. |x + L * kh + t| stays below 255 + 1020 * 30 + 1020 < 32768, so nothing
// wraps.
constexpr int32_t kNarrowMaxHigh = 30;

template <int Spp>
MARLO_KERNEL void FocusNarrow(const uint8_t* __restrict up, const uint8_t* __restrict cur,
                              const uint8_t* __restrict down, uint8_t* __restrict out,
                              size_t samples, SplitGain g, int32_t) {
  const auto kh = static_cast<int16_t>(g.kh);
  const auto kl = static_cast<int16_t>(g.kl);
  for (size_t i = Spp; i + Spp < samples; ++i) {
    const int16_t x = cur[i];
    const auto laplacian =
        static_cast<int16_t>(4 * x - cur[i - Spp] - cur[i + Spp] - up[i] - down[i]);
    const auto v = static_cast<int16_t>(x + laplacian * kh + RoundedLowProduct(laplacian, kl));
    out[i] = static_cast<uint8_t>(std::min<int16_t>(std::max<int16_t>(v, 0), 255));
  }
}

enum class Form { Wide, Split, Narrow };

template <class Sample>
using RowKernel = void (*)(const Sample*, const Sample*, const Sample*, Sample*, size_t, SplitGain,
                           int32_t);

// The row kernel of one form, with an AVX2 variant.
template <Form F, class Sample, int Spp>
struct FocusKernel {
  template <class Isa>
  static MARLO_KERNEL void Run(const Sample* up, const Sample* cur, const Sample* down, Sample* out,
                               size_t samples, SplitGain g, int32_t max) {
    if constexpr (F == Form::Wide) {
      FocusWide<Sample, Spp>(up, cur, down, out, samples, g, max);
    } else if constexpr (F == Form::Split) {
      FocusSplit<Sample, Spp>(up, cur, down, out, samples, g, max);
    } else {
      FocusNarrow<Spp>(up, cur, down, out, samples, g, max);
    }
  }
};

template <Form F, class Sample>
RowKernel<Sample> FormKernel(int spp) {
  using Signature =
      void(const Sample*, const Sample*, const Sample*, Sample*, size_t, SplitGain, int32_t);
  return spp == 3 ? marlo::KernelFor<FocusKernel<F, Sample, 3>, Signature>()
                  : marlo::KernelFor<FocusKernel<F, Sample, 1>, Signature>();
}

// True when |L * k| + 512 fits 32 bits for every L of the depth: |L| <= 4 * max.
bool WideFits(int32_t k, int32_t max) {
  const int64_t magnitude = k < 0 ? -static_cast<int64_t>(k) : static_cast<int64_t>(k);
  return int64_t{4} * max * magnitude + 512 <= INT32_MAX;
}

// The kernel for a run. 8-bit: Narrow when |kh| allows, else Wide (|L| <= 1020 and
// |k| <= 167771 always fit). 16-bit: Wide when it fits, else Split.
RowKernel<uint8_t> PickKernel(Depth8, int spp, SplitGain g) {
  if (g.kh >= -kNarrowMaxHigh && g.kh <= kNarrowMaxHigh) {
    return FormKernel<Form::Narrow, uint8_t>(spp);
  }
  return FormKernel<Form::Wide, uint8_t>(spp);
}

RowKernel<uint16_t> PickKernel(Depth16, int spp, SplitGain g) {
  if (WideFits(g.k, Depth16::kMax)) return FormKernel<Form::Wide, uint16_t>(spp);
  return FormKernel<Form::Split, uint16_t>(spp);
}

template <class D>
void FilterRow(RowKernel<typename D::Sample> kernel, const typename D::Sample* up,
               const typename D::Sample* cur, const typename D::Sample* down,
               typename D::Sample* out, size_t width, int spp, SplitGain g) {
  const size_t samples = width * static_cast<size_t>(spp);
  // First and last pixel unchanged (the same pixel when the row is one pixel wide).
  std::copy(cur, cur + spp, out);
  std::copy(cur + samples - spp, cur + samples, out + samples - spp);
  kernel(up, cur, down, out, samples, g, D::kMax);
}

}  // namespace

template <class D>
FocusRows<D>::FocusRows(const Kasa& image, bool inPlace)
    : bands(image.GetImageHeight(), 2 * static_cast<size_t>(image.GetLineBytes())),
      rows(4 * static_cast<size_t>(bands.slots())),
      edges(image, bands, inPlace) {
  for (auto& row : rows) row = AllocateRow<D>(image);
}

template class FocusRows<Depth8>;
template class FocusRows<Depth16>;

template <class D>
Status FocusImage(Kasa* src, Kasa* dst, int16_t strength, ProgressCallback cb, int32_t start,
                  int32_t end, FocusRows<D>* given, const Kasa* watched) {
  using Sample = typename D::Sample;
  const int32_t height = src != nullptr ? src->GetImageHeight() : 0;
  Progress progress(cb, start, end, height, src, watched != nullptr ? watched : dst);
  // The opening report is made before the images are looked at.
  const Entry entry = Enter(src, dst, Door{Destination::SameAsSource, &D::Accepts},
                            [&] { return progress.Begin(); });
  if (!entry) return entry.status();

  const size_t width = static_cast<size_t>(src->GetImageWidth());
  const int spp = SamplesPerPixel(*src);
  const SplitGain gain = Split(FocusGain(strength));
  const RowKernel<Sample> kernel = PickKernel(D{}, spp, gain);

  // Per slot three source rows (above, current, below) that rotate, and the output row. The
  // output's padding samples of a 16-bit raw line stay zero, as in zero-initialised line memory.
  std::optional<FocusRows<D>> own;
  if (given == nullptr) {
    try {
      own.emplace(*src, src == dst);
    } catch (const std::bad_alloc&) {
      progress.Finish();
      return Status::NoMemory;
    }
  }
  FocusRows<D>& work = given != nullptr ? *given : *own;
  work.edges.Read(*src);

  const Status status = work.bands.Run(&progress, [&](Band& band) {
    std::vector<Sample>* mine = &work.rows[4 * static_cast<size_t>(band.slot())];
    Sample* above = mine[0].data();
    Sample* current = mine[1].data();
    Sample* below = mine[2].data();
    Sample* out = mine[3].data();
    for (int32_t y = band.first(); y < band.end(); ++y) {
      if (!band.Enter()) return;
      work.edges.Slide(*src, band, y, above, current, below);
      FilterRow<D>(kernel, above, current, below, out, width, spp, gain);
      WriteRow<D>(*dst, y, out);
      if (!band.Leave()) return;  // after the row is written
    }
  });
  if (status != Status::Ok) return status;
  return progress.Finish();
}

template Status FocusImage<Depth8>(Kasa*, Kasa*, int16_t, ProgressCallback, int32_t, int32_t,
                                   FocusRows<Depth8>*, const Kasa*);
template Status FocusImage<Depth16>(Kasa*, Kasa*, int16_t, ProgressCallback, int32_t, int32_t,
                                    FocusRows<Depth16>*, const Kasa*);

int16_t FocusStrengthFromArgument(int32_t argument) {
  const int32_t low = static_cast<int32_t>(static_cast<uint32_t>(argument) & 0xFFFFu);
  return static_cast<int16_t>(low >= 0x8000 ? low - 0x10000 : low);
}

int32_t FocusGain(int16_t strength) {
  const int32_t s = strength;
  return s >= 0 ? s * 2048 / 400 : s * 1024 / 400;
}

Status FocusImage8(Kasa* src, Kasa* dst, int16_t strength, ProgressCallback cb, int32_t start,
                   int32_t end) {
  return FocusImage<Depth8>(src, dst, strength, cb, start, end);
}

Status FocusImage16(Kasa* src, Kasa* dst, int16_t strength, ProgressCallback cb, int32_t start,
                    int32_t end) {
  return FocusImage<Depth16>(src, dst, strength, cb, start, end);
}

}  // namespace marlo

int32_t MARLO_STDCALL ImageFocus(Kasa* src, Kasa* dst, int32_t strength, ProgressCallback cb,
                                 int32_t start, int32_t end) {
  return marlo::Export(0, [&] {
    const int16_t s = marlo::FocusStrengthFromArgument(strength);
    return marlo::ForDepth(marlo::TypeOf(src), [&](auto depth) {
      return marlo::FocusImage<decltype(depth)>(src, dst, s, cb, start, end);
    });
  });
}
