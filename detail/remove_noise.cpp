// Noise removal (RemoveNoise) on all four image types.
//
// The filter is defined on packed 24-bit colour values: three 8-bit channels per pixel. On
// 24-bit RGB it works on exactly those values. On 8-bit grey the three channels of a pixel are
// equal, so the filter works on the sample itself (and writes it back at full precision). On
// 48-bit RGB and 16-bit grey the same algorithm runs on the 16-bit samples, with the quiet
// distance scaled from 29 to 29 x 257 levels, so that no precision is lost.
//
// The pixels are read and written a row at a time instead of pixel by pixel; every written
// value is the one the pixel-by-pixel order gives, also in place: there the row above and the
// pixel to the left are taken as already filtered, since they were written before.
//
// A row is worked in passes over plain sample arrays, each a loop without branches that the
// compiler turns into vector code over many samples at once: the sorted columns, the medians
// with the per-sample quiet test, then the per-pixel decision and the selection. A median is a
// value, not a position, so the order in which the nine values are compared and how ties are
// broken cannot change it: the fifth smallest of nine values is one number.
#include "detail/remove_noise.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "frame/simd.h"
#include "frame/threads.h"

namespace marlo {

namespace {

inline void Order(int32_t& a, int32_t& b) {
  const int32_t lo = std::min(a, b);
  b = std::max(a, b);
  a = lo;
}

// Minimum and maximum by value, which the compiler maps onto single vector instructions.
template <class Sample>
MARLO_KERNEL Sample Min(Sample a, Sample b) {
  return b < a ? b : a;
}

template <class Sample>
MARLO_KERNEL Sample Max(Sample a, Sample b) {
  return a < b ? b : a;
}

template <class Sample>
MARLO_KERNEL Sample Median3(Sample a, Sample b, Sample c) {
  return Max(Min(a, b), Min(Max(a, b), c));
}

// A row is worked in stretches of this many samples, which keeps the work arrays of a stretch
// in the first-level cache. A multiple of three (and of the vector width): a stretch holds
// whole pixels, so a pixel's decision reads only flags of its own stretch.
template <class Sample>
constexpr size_t kStretch = 1536 / sizeof(Sample);

// Work arrays of one stretch, in the sample type: they hold sample values (taken by min and
// max) and all-ones / zero masks, never sums, so 8-bit rows fill whole vectors of bytes. Index
// j of a stretch's arrays belongs to sample a0 + j of the row, a0 a multiple of three.
template <class Sample>
struct RowScratch {
  // The three sorted values of each column of the three rows.
  std::vector<Sample> low, middle, high;
  // The median of every sample's neighbourhood, and all ones where the sample lies further
  // than the quiet distance from it.
  std::vector<Sample> median, loud;
  // For RGB rows: all ones where the sample one and two places to the left and to the right
  // belongs to the same pixel (the position within the pixel repeats every three samples).
  std::vector<Sample> left1, left2, right1, right2;
  RowScratch(size_t n, size_t spp) : low(n), middle(n), high(n), median(n), loud(n) {
    if (spp == 3) {
      left1.resize(n);
      left2.resize(n);
      right1.resize(n);
      right2.resize(n);
      for (size_t i = 0; i < n; ++i) {
        const size_t k = i % 3;
        left1[i] = k >= 1 ? Sample(~Sample(0)) : Sample(0);
        left2[i] = k == 2 ? Sample(~Sample(0)) : Sample(0);
        right1[i] = k <= 1 ? Sample(~Sample(0)) : Sample(0);
        right2[i] = k == 0 ? Sample(~Sample(0)) : Sample(0);
      }
    }
  }
};

// The three sorted values of each of n columns of the three rows.
template <class Sample>
MARLO_KERNEL void SortColumns(const Sample* __restrict above, const Sample* __restrict current,
                              const Sample* __restrict below, Sample* __restrict low,
                              Sample* __restrict middle, Sample* __restrict high, size_t n) {
  for (size_t j = 0; j < n; ++j) {
    const Sample a = Min(above[j], current[j]);
    const Sample b = Max(above[j], current[j]);
    const Sample c = below[j];
    const Sample t = Max(a, c);
    low[j] = Min(a, c);
    middle[j] = Min(b, t);
    high[j] = Max(b, t);
  }
}

// The medians of samples begin to end - 1 (kSpp samples per pixel), and the per-sample quiet
// test: loud[j] is all ones when |median - centre| exceeds `quiet`. The median of nine values
// is the median of: the largest column minimum, the median of the column medians and the
// smallest column maximum.
template <class Sample, size_t kSpp>
MARLO_KERNEL void Medians(const Sample* __restrict low, const Sample* __restrict middle,
                          const Sample* __restrict high, const Sample* __restrict current,
                          Sample* __restrict median, Sample* __restrict loud, size_t begin,
                          size_t end, Sample quiet) {
  for (size_t j = begin; j < end; ++j) {
    const Sample lo = Max(low[j - kSpp], Max(low[j], low[j + kSpp]));
    const Sample mid = Median3(middle[j - kSpp], middle[j], middle[j + kSpp]);
    const Sample hi = Min(high[j - kSpp], Min(high[j], high[j + kSpp]));
    const Sample m = Median3(lo, mid, hi);
    const Sample c = current[j];
    // |m - c| without leaving the sample type; the comparison yields 0 or all ones.
    const Sample distance = static_cast<Sample>(Max(m, c) - Min(m, c));
    median[j] = m;
    loud[j] = static_cast<Sample>(-static_cast<int32_t>(distance > quiet));
  }
}

// Grey rows: a sample is replaced by its median where it is loud.
template <class Sample>
MARLO_KERNEL void SelectGrey(const Sample* __restrict current, const Sample* __restrict median,
                             const Sample* __restrict loud, Sample* __restrict out, size_t begin,
                             size_t end) {
  for (size_t j = begin; j < end; ++j) {
    const Sample c = current[j];
    out[j] = static_cast<Sample>(c ^ ((c ^ median[j]) & loud[j]));
  }
}

// RGB rows: a pixel is replaced by its medians where any of its channels is loud. Each sample
// ORs in the flags of the other samples of its pixel, picked out of the samples one and two
// places away by the position masks.
template <class Sample>
MARLO_KERNEL void SelectRgb(const Sample* __restrict current, const Sample* __restrict median,
                            const Sample* __restrict loud, const Sample* __restrict left1,
                            const Sample* __restrict left2, const Sample* __restrict right1,
                            const Sample* __restrict right2, Sample* __restrict out, size_t begin,
                            size_t end) {
  for (size_t j = begin; j < end; ++j) {
    const Sample any =
        static_cast<Sample>(loud[j] | (loud[j - 1] & left1[j]) | (loud[j - 2] & left2[j]) |
                            (loud[j + 1] & right1[j]) | (loud[j + 2] & right2[j]));
    const Sample c = current[j];
    out[j] = static_cast<Sample>(c ^ ((c ^ median[j]) & any));
  }
}

// Filters pixels 1 to width - 2 of a row (count samples, spp per pixel) from the three
// unfiltered rows `above`, `current` and `below` into `out` (the other samples of `out` are not
// touched), stretch by stretch.
struct FilterRowKernel {
  template <class Isa, class Sample>
  static MARLO_KERNEL void Run(const Sample* above, const Sample* current, const Sample* below,
                               Sample* out, size_t count, size_t spp, Sample quiet,
                               RowScratch<Sample>& s) {
    const size_t first = spp;         // first sample of pixel 1
    const size_t last = count - spp;  // first sample of the last pixel
    for (size_t c0 = first; c0 < last; c0 += kStretch<Sample>) {
      const size_t c1 = std::min(last, c0 + kStretch<Sample>);
      // The columns of the stretch and one pixel either side: index j of the work arrays is
      // sample a0 + j of the row, and a0 is a multiple of three (c0 is one for RGB rows), as the
      // position masks require. The stretch's samples are j = spp to n - spp - 1.
      const size_t a0 = c0 - spp;
      const size_t n = c1 + spp - a0;
      SortColumns(above + a0, current + a0, below + a0, s.low.data(), s.middle.data(),
                  s.high.data(), n);
      if (spp == 1) {
        Medians<Sample, 1>(s.low.data(), s.middle.data(), s.high.data(), current + a0,
                           s.median.data(), s.loud.data(), 1, n - 1, quiet);
        SelectGrey(current + a0, s.median.data(), s.loud.data(), out + a0, 1, n - 1);
      } else {
        // The flags one and two places outside the stretch are read but masked out.
        Medians<Sample, 3>(s.low.data(), s.middle.data(), s.high.data(), current + a0,
                           s.median.data(), s.loud.data(), 3, n - 3, quiet);
        SelectRgb(current + a0, s.median.data(), s.loud.data(), s.left1.data(), s.left2.data(),
                  s.right1.data(), s.right2.data(), out + a0, 3, n - 3);
      }
    }
  }
};

// In place the image holds the filtered pixel to the left when a pixel is read. Where that
// pixel was changed, the neighbourhood differs from the one FilterRowKernel used: the medians are
// taken again with the filtered samples and the pixel is judged anew. `filtered` holds
// FilterRowKernel's result (and the row's first and last pixel) and becomes the row the image
// holds.
template <class Sample>
void RedoAfterChangedLeft(const Sample* above, const Sample* current, const Sample* below,
                          Sample* filtered, size_t count, size_t spp, int32_t quiet) {
  bool leftChanged = false;
  int32_t fresh[3];
  for (size_t i = spp; i + spp < count; i += spp) {
    if (leftChanged) {
      bool loud = false;
      for (size_t k = 0; k < spp; ++k) {
        const size_t j = i + k;
        fresh[k] = Median9(above[j - spp], above[j], above[j + spp], filtered[j - spp], current[j],
                           current[j + spp], below[j - spp], below[j], below[j + spp]);
        if (std::abs(fresh[k] - static_cast<int32_t>(current[j])) > quiet) loud = true;
      }
      for (size_t k = 0; k < spp; ++k) {
        filtered[i + k] = loud ? static_cast<Sample>(fresh[k]) : current[i + k];
      }
    }
    leftChanged = false;
    for (size_t k = 0; k < spp; ++k) {
      if (filtered[i + k] != current[i + k]) leftChanged = true;
    }
  }
}

template <class D>
void RemoveNoiseRows(Kasa* src, Kasa* dst) {
  using Sample = typename D::Sample;
  const int32_t width = src->GetImageWidth();
  const int32_t height = src->GetImageHeight();
  if (height <= 2 || width <= 2) return;  // no interior pixel
  const size_t spp = static_cast<size_t>(SamplesPerPixel(*src));
  const size_t count = static_cast<size_t>(width) * spp;
  const bool inPlace = src == dst;
  const auto quiet = static_cast<Sample>(kQuietDistance<D>);

  // Into a separate destination the rows are independent: the interior rows split into bands
  // over the run's threads, each with its own buffers. In place a row reads the rows already
  // filtered above it, so the rows are worked in order on the calling thread.
  const RowBands bands(height - 2, 2 * static_cast<size_t>(src->GetLineBytes()));
  const size_t slots = inPlace ? 1 : static_cast<size_t>(bands.slots());
  struct Work {
    std::vector<Sample> rows[4];
    RowScratch<Sample> scratch;
  };
  std::vector<Work> work;
  work.reserve(slots);
  for (size_t k = 0; k < slots; ++k) {
    work.push_back(Work{
        {AllocateRow<D>(*src), AllocateRow<D>(*src), AllocateRow<D>(*src), AllocateRow<D>(*src)},
        RowScratch<Sample>(std::min(count, kStretch<Sample> + 2 * spp), spp)});
  }

  // Interior rows first to last - 1.
  const auto filter = [&](int32_t first, int32_t last, Work& mine) {
    Sample* above = mine.rows[0].data();
    Sample* current = mine.rows[1].data();
    Sample* below = mine.rows[2].data();
    Sample* out = mine.rows[3].data();
    ReadRow<D>(*src, first - 1, above);
    ReadRow<D>(*src, first, current);
    for (int32_t y = first; y < last; ++y) {
      // Row y + 1 has not been written yet, in place or not.
      ReadRow<D>(*src, y + 1, below);
      RunKernel<FilterRowKernel>(above, current, below, out, count, spp, quiet, mine.scratch);
      if (inPlace) {
        std::copy(current, current + spp, out);
        std::copy(current + count - spp, current + count, out + count - spp);
        RedoAfterChangedLeft(above, current, below, out, count, spp, kQuietDistance<D>);
      }
      WritePixels<D>(*dst, y, 1, width - 2, out);
      // In place the filtered row is what the image now holds above the next row.
      Sample* freed = above;
      if (inPlace) {
        above = out;
        out = current;
      } else {
        above = current;
      }
      current = below;
      below = freed;
    }
  };
  if (inPlace) {
    filter(1, height - 1, work[0]);
    return;
  }
  bands.Run(nullptr, [&](Band& band) {
    Work& mine = work[static_cast<size_t>(band.slot())];
    if constexpr (D::kBits == 8) {
      // 8-bit rows are stored as the kernel takes them: it reads the source's rows and writes
      // the destination's interior pixels where they lie.
      for (int32_t y = band.first() + 1; y < band.end() + 1; ++y) {
        RunKernel<FilterRowKernel>(StoredRow(*src, y - 1), StoredRow(*src, y),
                                   StoredRow(*src, y + 1), StoredRow(*dst, y), count, spp, quiet,
                                   mine.scratch);
      }
    } else {
      filter(band.first() + 1, band.end() + 1, mine);
    }
  });
}

}  // namespace

int32_t Median9(int32_t v0, int32_t v1, int32_t v2, int32_t v3, int32_t v4, int32_t v5, int32_t v6,
                int32_t v7, int32_t v8) {
  // Sort each column of three, then the median is the median of the largest of the column
  // minima, the median of the column medians and the smallest of the column maxima.
  Order(v0, v1);
  Order(v1, v2);
  Order(v0, v1);
  Order(v3, v4);
  Order(v4, v5);
  Order(v3, v4);
  Order(v6, v7);
  Order(v7, v8);
  Order(v6, v7);
  const int32_t lowest = std::max(v0, std::max(v3, v6));
  const int32_t highest = std::min(v2, std::min(v5, v8));
  Order(v1, v4);
  Order(v4, v7);
  Order(v1, v4);
  int32_t a = lowest, b = v4, c = highest;
  Order(a, b);
  Order(b, c);
  Order(a, b);
  return b;
}

Status CRemoveNoise::Run(Kasa* src, Kasa* dst) {
  const Entry entry = Enter(src, dst, Door{Destination::CoversSource, &IsSupportedType});
  if (!entry) return entry.status();
  return ForDepth(src->GetImageType(),
                  [&](auto depth) { RemoveNoiseRows<decltype(depth)>(src, dst); });
}

}  // namespace marlo

int32_t MARLO_STDCALL RemoveNoise(Kasa* src, Kasa* dst) {
  return marlo::Export(0, [&] { return marlo::CRemoveNoise::Run(src, dst); });
}
