// Despeckle on all four image types: outliers against the mean of the eight neighbours.
#include "detail/despeckle.h"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "frame/entries.h"

namespace marlo {

namespace {

// The sum of the three samples of every column of the three rows.
template <class Sample, class Sum>
void ColumnSums(const Sample* __restrict above, const Sample* __restrict current,
                const Sample* __restrict below, Sum* __restrict columns, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    columns[i] = static_cast<Sum>(static_cast<Sum>(above[i]) + static_cast<Sum>(current[i]) +
                                  static_cast<Sum>(below[i]));
  }
}

// The samples of pixels 1 to width - 2 (count samples, kSpp per pixel). The eight neighbours'
// sum is the three column sums around the sample less the centre itself. A sample is replaced
// by the mean where |centre - mean| > limit, or everywhere when `force` is all ones; the
// selection is made with masks so that the loop has no branch.
template <class Sample, class Sum, size_t kSpp>
void ReplaceOutliers(const Sum* __restrict columns, const Sample* __restrict current,
                     Sample* __restrict out, size_t count, Sample limit, Sample force) {
  for (size_t i = kSpp; i + kSpp < count; ++i) {
    const Sample centre = current[i];
    const auto sum = static_cast<Sum>(columns[i - kSpp] + columns[i] + columns[i + kSpp] -
                                      static_cast<Sum>(centre));
    const auto mean = static_cast<Sample>(sum >> 3);
    const auto distance =
        static_cast<Sample>((centre < mean ? mean : centre) - (centre < mean ? centre : mean));
    const auto replace =
        static_cast<Sample>(static_cast<Sample>(-static_cast<int32_t>(distance > limit)) | force);
    out[i] = static_cast<Sample>(centre ^ ((centre ^ mean) & replace));
  }
}

}  // namespace

template <class Sample, class Sum>
void DespeckleRow(const Sample* above, const Sample* current, const Sample* below, Sample* out,
                  int32_t width, int spp, int64_t threshold, Sum* columns) {
  static_assert(sizeof(Sum) >= 2 * sizeof(Sample), "three samples must fit a column sum");
  // The first and last pixel of a row keep their samples; so does every pixel of a row only
  // one or two pixels wide. The caller has put them into `out`.
  if (width < 3) return;
  // The rule "deviation > threshold or deviation < -threshold" is |deviation| > threshold for
  // a threshold of 0 or more, and holds for every deviation when the threshold is negative
  // (a deviation at or below it lies below its negation). Deviations lie within 0..kMax in
  // magnitude, so a larger threshold acts like the largest sample value.
  constexpr int64_t kMax = static_cast<Sample>(~Sample(0));
  const auto limit = static_cast<Sample>(std::clamp<int64_t>(threshold, 0, kMax));
  const auto force = static_cast<Sample>(threshold < 0 ? ~Sample(0) : 0);
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(spp);
  ColumnSums(above, current, below, columns, count);
  if (spp == 1) {
    ReplaceOutliers<Sample, Sum, 1>(columns, current, out, count, limit, force);
  } else {
    ReplaceOutliers<Sample, Sum, 3>(columns, current, out, count, limit, force);
  }
}

template void DespeckleRow<uint8_t, uint16_t>(const uint8_t*, const uint8_t*, const uint8_t*,
                                              uint8_t*, int32_t, int, int64_t, uint16_t*);
template void DespeckleRow<uint16_t, uint32_t>(const uint16_t*, const uint16_t*, const uint16_t*,
                                               uint16_t*, int32_t, int, int64_t, uint32_t*);

template <class D>
Status CDespeckle::Pass(Kasa* src, Kasa* dst, int64_t threshold, ProgressCallback cb, int32_t start,
                        int32_t end) {
  using Sample = typename D::Sample;
  // The opening report comes before the checks, so a refused call still makes it.
  Progress progress(cb, start, end, src->GetImageHeight());
  progress.Begin();

  width_ = src->GetImageWidth();
  height_ = src->GetImageHeight();
  type_ = src->GetImageType();
  if (dst == nullptr || width_ < 1 || height_ < 1 || width_ != dst->GetImageWidth() ||
      height_ != dst->GetImageHeight() || !D::Accepts(type_) || dst->GetImageType() != type_) {
    return Status::Refused;
  }
  threshold_ = threshold;

  const int spp = SamplesPerPixel(*src);
  const size_t count = static_cast<size_t>(width_) * static_cast<size_t>(spp);
  // Column sums of three samples: at most 765 for 8-bit samples, 196605 for 16-bit ones.
  using Sum = std::conditional_t<sizeof(Sample) == 1, uint16_t, uint32_t>;
  std::vector<Sum> columns(count);
  // A ring of three source rows that rotate by pointer exchange, and the output row. A 16-bit
  // row is the whole raw line; its padding is carried through from the current row.
  std::vector<Sample> buffers[4] = {AllocateRow<D>(*src), AllocateRow<D>(*src),
                                    AllocateRow<D>(*src), AllocateRow<D>(*src)};
  Sample* above = buffers[0].data();
  Sample* current = buffers[1].data();
  Sample* below = buffers[2].data();
  Sample* out = buffers[3].data();
  const size_t rowSamples = buffers[0].size();

  // Row 0 is its own row above. A one-row image is also its own row below: the image has no
  // other row, and nothing outside it is read.
  ReadRow<D>(*src, 0, current);
  std::copy(current, current + rowSamples, above);
  if (height_ > 1) {
    ReadRow<D>(*src, 1, below);
  } else {
    std::copy(current, current + rowSamples, below);
  }
  for (int32_t y = 0; y < height_; ++y) {
    if (y > 0) {
      // The old current row moves up, the old row below becomes current, and the freed buffer
      // receives the next row; the last row is its own row below. Every row read here comes
      // before any later row is written, so src == dst works as well.
      Sample* freed = above;
      above = current;
      current = below;
      below = freed;
      ReadRow<D>(*src, std::min(y + 1, height_ - 1), below);
    }
    // The first and last pixel pass unchanged, and so does the padding of 16-bit lines.
    std::copy(current, current + spp, out);
    std::copy(current + count - spp, current + rowSamples, out + count - spp);
    DespeckleRow(above, current, below, out, width_, spp, threshold_, columns.data());
    WriteRow<D>(*dst, y, out);
    if (!progress.Step()) return Status::Aborted;  // after the row is written
  }
  progress.Finish();
  return Status::Ok;
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
  if (src == nullptr) return Status::Refused;
  const int type = src->GetImageType();
  if (Depth8::Accepts(type)) return Despeckle8(src, dst, threshold, cb, start, end);
  if (Depth16::Accepts(type)) {
    // The 8-bit threshold on the 16-bit scale: times 257.0, truncated toward zero. Kept in
    // 64 bits so that no caller's value overflows.
    const auto wide = static_cast<int64_t>(static_cast<double>(threshold) * 257.0);
    return Despeckle16(src, dst, wide, cb, start, end);
  }
  return Status::Refused;
}

namespace entry {

int32_t Despeckle(Kasa* src, Kasa* dst, int32_t threshold, ProgressCallback cb, int32_t start,
                  int32_t end) {
  CDespeckle filter;
  return filter.Run(src, dst, threshold, cb, start, end) == Status::Ok ? 1 : 0;
}

}  // namespace entry

}  // namespace marlo
