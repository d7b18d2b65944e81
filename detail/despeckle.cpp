// Despeckle on all four image types: outliers against the mean of the eight neighbours.
#include "detail/despeckle.h"

#include <algorithm>
#include <vector>

#include "frame/entries.h"

namespace marlo {

namespace {

// Deviations lie within -65535..65535, so a threshold beyond +-65536 acts like +-65536; keeping
// it there lets the sample loop compare in 32-bit arithmetic for any caller's value.
int32_t ClampThreshold(int64_t threshold) {
  return static_cast<int32_t>(std::clamp<int64_t>(threshold, -65536, 65536));
}

}  // namespace

template <class Sample>
void DespeckleRow(const Sample* above, const Sample* current, const Sample* below, Sample* out,
                  int32_t width, int spp, int64_t threshold) {
  const int32_t t = ClampThreshold(threshold);
  const size_t s = static_cast<size_t>(spp);
  // The first and last pixel of a row keep their samples; so does every pixel of a row only
  // one or two pixels wide. `out` already holds them.
  if (width < 3) return;
  const size_t count = static_cast<size_t>(width) * s;
  const size_t last = count - s;  // first sample of the last pixel
  for (size_t i = s; i < last; ++i) {
    const int32_t sum = static_cast<int32_t>(above[i - s]) + static_cast<int32_t>(above[i]) +
                        static_cast<int32_t>(above[i + s]) + static_cast<int32_t>(current[i - s]) +
                        static_cast<int32_t>(current[i + s]) + static_cast<int32_t>(below[i - s]) +
                        static_cast<int32_t>(below[i]) + static_cast<int32_t>(below[i + s]);
    const int32_t mean = sum >> 3;
    const int32_t centre = current[i];
    const int32_t deviation = centre - mean;
    out[i] = static_cast<Sample>((deviation > t || deviation < -t) ? mean : centre);
  }
}

template void DespeckleRow<uint8_t>(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*,
                                    int32_t, int, int64_t);
template void DespeckleRow<uint16_t>(const uint16_t*, const uint16_t*, const uint16_t*, uint16_t*,
                                     int32_t, int, int64_t);

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
    std::copy(current, current + rowSamples, out);  // padding of 16-bit lines included
    DespeckleRow<Sample>(above, current, below, out, width_, spp, threshold_);
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
