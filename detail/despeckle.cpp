// Despeckle on all four image types: outliers against the mean of the eight neighbours.
#include "detail/despeckle.h"

#include <algorithm>
#include <vector>

#include "frame/band_edges.h"
#include "frame/simd.h"

namespace marlo {

namespace {

// The mean of the eight neighbours, floor(sum / 8), is computed without any sum wider than a
// sample. Each sample x splits into x >> 3 and x & 7, with x = 8 (x >> 3) + (x & 7), so
//   floor(sum / 8) = sum of (x >> 3) + floor(sum of (x & 7) / 8)
// exactly. For eight samples the first sum is at most 8 floor(kMax / 8) (248 for 8-bit samples,
// 65528 for 16-bit ones) and the second at most 56, and the mean never exceeds kMax: every
// value below fits the sample type, so the loops work on whole vectors of samples. Where an
// intermediate (three column sums before the centre is taken off) may pass kMax, the
// arithmetic wraps modulo 2^bits and the result, which does fit, is still exact.

// The split sums of the three samples of every column of the three rows.
template <class Sample>
MARLO_KERNEL void ColumnSums(const Sample* __restrict above, const Sample* __restrict current,
                             const Sample* __restrict below, Sample* __restrict eighths,
                             Sample* __restrict remainders, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    eighths[i] = static_cast<Sample>((above[i] >> 3) + (current[i] >> 3) + (below[i] >> 3));
    remainders[i] = static_cast<Sample>((above[i] & 7) + (current[i] & 7) + (below[i] & 7));
  }
}

// Samples kSpp to count - kSpp - 1 of a run of count samples. The eight neighbours' sums are
// the three column sums around the sample less the centre itself. A sample is replaced by the
// mean where |centre - mean| > limit, or everywhere when kReplaceAll; the loop has no branch
// (the selection compiles to masks).
template <class Sample, size_t kSpp, bool kReplaceAll>
MARLO_KERNEL void ReplaceOutliers(const Sample* __restrict eighths,
                                  const Sample* __restrict remainders,
                                  const Sample* __restrict current, Sample* __restrict out,
                                  size_t count, Sample limit) {
  for (size_t i = kSpp; i + kSpp < count; ++i) {
    const Sample centre = current[i];
    const auto high =
        static_cast<Sample>(eighths[i - kSpp] + eighths[i] + eighths[i + kSpp] - (centre >> 3));
    const auto low = static_cast<Sample>(remainders[i - kSpp] + remainders[i] +
                                         remainders[i + kSpp] - (centre & 7));
    const auto mean = static_cast<Sample>(high + (low >> 3));
    const auto distance =
        static_cast<Sample>((centre < mean ? mean : centre) - (centre < mean ? centre : mean));
    out[i] = (kReplaceAll || distance > limit) ? mean : centre;
  }
}

template <class Sample, size_t kSpp>
MARLO_KERNEL void ReplaceOutliers(const Sample* eighths, const Sample* remainders,
                                  const Sample* current, Sample* out, size_t count, Sample limit,
                                  bool replaceAll) {
  if (replaceAll) {
    ReplaceOutliers<Sample, kSpp, true>(eighths, remainders, current, out, count, limit);
  } else {
    ReplaceOutliers<Sample, kSpp, false>(eighths, remainders, current, out, count, limit);
  }
}

// A row is worked in stretches of this many samples (a multiple of three and of the vector
// width), so that a stretch's column sums are still in the first-level cache when they are
// read.
template <class Sample>
constexpr size_t kStretch = 3072 / sizeof(Sample);

// The row kernel: filters samples spp to count - spp - 1 stretch by stretch; the column sums
// of a stretch reach one pixel further on either side.
struct DespeckleKernel {
  template <class Isa, class Sample>
  static MARLO_KERNEL void Run(const Sample* above, const Sample* current, const Sample* below,
                               Sample* out, size_t count, size_t spp, Sample limit, bool replaceAll,
                               Sample* eighths, Sample* remainders) {
    const size_t last = count - spp;
    for (size_t c0 = spp; c0 < last; c0 += kStretch<Sample>) {
      const size_t c1 = std::min(last, c0 + kStretch<Sample>);
      const size_t a0 = c0 - spp;
      const size_t n = c1 + spp - a0;
      ColumnSums(above + a0, current + a0, below + a0, eighths, remainders, n);
      if (spp == 1) {
        ReplaceOutliers<Sample, 1>(eighths, remainders, current + a0, out + a0, n, limit,
                                   replaceAll);
      } else {
        ReplaceOutliers<Sample, 3>(eighths, remainders, current + a0, out + a0, n, limit,
                                   replaceAll);
      }
    }
  }
};

}  // namespace

template <class Sample>
void DespeckleRow(const Sample* above, const Sample* current, const Sample* below, Sample* out,
                  int32_t width, int spp, int64_t threshold, Sample* scratch) {
  // The first and last pixel of a row keep their samples; so does every pixel of a row only
  // one or two pixels wide. The caller has put them into `out`.
  if (width < 3) return;
  // The rule "deviation > threshold or deviation < -threshold" is |deviation| > threshold for
  // a threshold of 0 or more, and holds for every deviation when the threshold is negative
  // (a deviation at or below it lies below its negation). Deviations lie within 0..kMax in
  // magnitude, so a larger threshold acts like the largest sample value.
  constexpr int64_t kMax = static_cast<Sample>(~Sample(0));
  const auto limit = static_cast<Sample>(std::clamp<int64_t>(threshold, 0, kMax));
  const bool replaceAll = threshold < 0;
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(spp);
  const size_t s = static_cast<size_t>(spp);
  Sample* eighths = scratch;
  Sample* remainders = scratch + count;
  RunKernel<DespeckleKernel>(above, current, below, out, count, s, limit, replaceAll, eighths,
                             remainders);
}

template void DespeckleRow<uint8_t>(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*,
                                    int32_t, int, int64_t, uint8_t*);
template void DespeckleRow<uint16_t>(const uint16_t*, const uint16_t*, const uint16_t*, uint16_t*,
                                     int32_t, int, int64_t, uint16_t*);

template <class D>
Status CDespeckle::Pass(Kasa* src, Kasa* dst, int64_t threshold, ProgressCallback cb, int32_t start,
                        int32_t end) {
  using Sample = typename D::Sample;
  // The opening report comes before the checks, so a refused call still makes it.
  Progress progress(cb, start, end, src != nullptr ? src->GetImageHeight() : 0, src, dst);
  const Entry entry = Enter(src, dst, Door{Destination::SameAsSource, &D::Accepts},
                            [&] { return progress.Begin(); });
  if (!entry) return entry.status();
  width_ = src->GetImageWidth();
  height_ = src->GetImageHeight();
  type_ = src->GetImageType();
  threshold_ = threshold;

  const int spp = SamplesPerPixel(*src);
  const size_t count = static_cast<size_t>(width_) * static_cast<size_t>(spp);
  // The rows are split into bands over the run's threads; in place, the rows just outside each
  // band are read before any band writes. Per slot: the column sums of DespeckleRow, and a ring
  // of three source rows that rotate by pointer exchange with the output row. A 16-bit row is
  // the whole raw line; its padding is carried through from the current row.
  const RowBands bands(height_, 2 * static_cast<size_t>(src->GetLineBytes()));
  const size_t slots = static_cast<size_t>(bands.slots());
  std::vector<std::vector<Sample>> scratch(slots, std::vector<Sample>(2 * count));
  std::vector<std::vector<Sample>> buffers(4 * slots);
  for (auto& row : buffers) row = AllocateRow<D>(*src);
  BandEdges<D> edges(*src, bands, src == dst);
  edges.Read(*src);
  const Status status = bands.Run(&progress, [&](Band& band) {
    std::vector<Sample>* mine = &buffers[4 * static_cast<size_t>(band.slot())];
    Sample* above = mine[0].data();
    Sample* current = mine[1].data();
    Sample* below = mine[2].data();
    Sample* out = mine[3].data();
    Sample* sums = scratch[static_cast<size_t>(band.slot())].data();
    for (int32_t y = band.first(); y < band.end(); ++y) {
      if (!band.Enter()) return;
      edges.Slide(*src, band, y, above, current, below);
      // The first and last pixel pass unchanged, and so does the padding of 16-bit lines.
      std::copy(current, current + spp, out);
      std::copy(current + count - spp, current + edges.rowSamples(), out + count - spp);
      DespeckleRow(above, current, below, out, width_, spp, threshold_, sums);
      WriteRow<D>(*dst, y, out);
      if (!band.Leave()) return;  // after the row is written
    }
  });
  if (status != Status::Ok) return status;
  return progress.Finish();
}

Status CDespeckle::Despeckle8(Kasa* src, Kasa* dst, int64_t threshold, ProgressCallback cb,
                              int32_t start, int32_t end) {
  return Pass<Depth8>(src, dst, threshold, cb, start, end);
}

Status CDespeckle::Despeckle16(Kasa* src, Kasa* dst, int64_t threshold, ProgressCallback cb,
                               int32_t start, int32_t end) {
  return Pass<Depth16>(src, dst, threshold, cb, start, end);
}

Status CDespeckle::Run(Kasa* src, Kasa* dst, int32_t threshold, ProgressCallback cb, int32_t start,
                       int32_t end) {
  return ForDepth(TypeOf(src), [&](auto depth) {
    if constexpr (decltype(depth)::kBits == 8) {
      return Despeckle8(src, dst, threshold, cb, start, end);
    }
    // The 8-bit threshold on the 16-bit scale: times 257.0, truncated toward zero. Kept in
    // 64 bits so that no caller's value overflows.
    const auto wide = static_cast<int64_t>(static_cast<double>(threshold) * 257.0);
    return Despeckle16(src, dst, wide, cb, start, end);
  });
}

}  // namespace marlo

int32_t MARLO_STDCALL Despeckle(Kasa* src, Kasa* dst, int32_t threshold, ProgressCallback cb,
                                int32_t start, int32_t end) {
  return marlo::Export(
      0, [&] { return marlo::CDespeckle().Run(src, dst, threshold, cb, start, end); });
}
