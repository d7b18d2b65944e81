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
#include "detail/remove_noise.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "frame/entries.h"

namespace marlo {

namespace {

inline void Order(int32_t& a, int32_t& b) {
  const int32_t lo = std::min(a, b);
  b = std::max(a, b);
  a = lo;
}

// The median of the 3 x 3 neighbourhood of sample index i: the same channel in the pixels to
// the left and right (i - spp, i + spp) of `above`, `current` and `below`.
template <class Sample>
int32_t NeighbourhoodMedian(const Sample* above, const Sample* current, const Sample* below,
                            size_t i, size_t spp) {
  return Median9(above[i - spp], above[i], above[i + spp], current[i - spp], current[i],
                 current[i + spp], below[i - spp], below[i], below[i + spp]);
}

// The three sorted values of each column of the three rows, and the median of every sample's
// neighbourhood from them. The arrays hold sample values only (taken by min and max, never
// by arithmetic), so they keep the sample type and the loops run on whole vectors.
template <class Sample>
struct MedianScratch {
  std::vector<Sample> low, middle, high, median;
  explicit MedianScratch(size_t n) : low(n), middle(n), high(n), median(n) {}
};

template <class Sample>
inline Sample Median3(Sample a, Sample b, Sample c) {
  return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// Fills scratch.median[i] for the samples of pixels 1 to width - 2. The median of nine values
// is the median of: the largest column minimum, the median of the column medians and the
// smallest column maximum.
template <class Sample>
void RowMedians(const Sample* above, const Sample* current, const Sample* below, size_t count,
                size_t spp, MedianScratch<Sample>& scratch) {
  Sample* low = scratch.low.data();
  Sample* middle = scratch.middle.data();
  Sample* high = scratch.high.data();
  Sample* median = scratch.median.data();
  for (size_t i = 0; i < count; ++i) {
    const Sample a = std::min(above[i], current[i]);
    const Sample b = std::max(above[i], current[i]);
    const Sample c = below[i];
    const Sample t = std::max(a, c);
    low[i] = std::min(a, c);
    middle[i] = std::min(b, t);
    high[i] = std::max(b, t);
  }
  for (size_t i = spp; i + spp < count; ++i) {
    const Sample lo = std::max(low[i - spp], std::max(low[i], low[i + spp]));
    const Sample mid = Median3(middle[i - spp], middle[i], middle[i + spp]);
    const Sample hi = std::min(high[i - spp], std::min(high[i], high[i + spp]));
    median[i] = Median3(lo, mid, hi);
  }
}

// Filters pixels 1 to width - 2 of one row from `above`, `current` and `below` into `out`.
// In place (`out` == `current`) the pixel to the left is read as already filtered: where it was
// changed, the pixel's medians are taken again from the changed row.
template <class D>
void FilterRow(const typename D::Sample* above, const typename D::Sample* current,
               const typename D::Sample* below, typename D::Sample* out, int32_t width, int spp,
               MedianScratch<typename D::Sample>& scratch) {
  using Sample = typename D::Sample;
  const size_t s = static_cast<size_t>(spp);
  const size_t count = static_cast<size_t>(width) * s;
  RowMedians(above, current, below, count, s, scratch);
  const Sample* median = scratch.median.data();
  const bool inPlace = out == current;
  bool leftChanged = false;
  int32_t fresh[3];
  for (size_t i = s; i + s < count; i += s) {
    const int32_t* own = nullptr;
    if (leftChanged) {
      for (size_t k = 0; k < s; ++k) fresh[k] = NeighbourhoodMedian(above, out, below, i + k, s);
      own = fresh;
    }
    bool quiet = true;
    for (size_t k = 0; k < s; ++k) {
      const int32_t m = own != nullptr ? own[k] : static_cast<int32_t>(median[i + k]);
      const int32_t centre = current[i + k];
      if (std::abs(m - centre) > kQuietDistance<D>) quiet = false;
    }
    leftChanged = false;
    if (quiet) continue;  // `out` already holds the centre
    for (size_t k = 0; k < s; ++k) {
      const auto m = static_cast<Sample>(own != nullptr ? own[k] : median[i + k]);
      if (inPlace && m != out[i + k]) leftChanged = true;
      out[i + k] = m;
    }
  }
}

template <class D>
void RemoveNoiseRows(Kasa* src, Kasa* dst) {
  using Sample = typename D::Sample;
  const int32_t width = src->GetImageWidth();
  const int32_t height = src->GetImageHeight();
  if (height <= 2 || width <= 2) return;  // no interior pixel
  const int spp = SamplesPerPixel(*src);
  const bool inPlace = src == dst;

  std::vector<Sample> buffers[4] = {AllocateRow<D>(*src), AllocateRow<D>(*src),
                                    AllocateRow<D>(*src), AllocateRow<D>(*src)};
  Sample* above = buffers[0].data();
  Sample* current = buffers[1].data();
  Sample* below = buffers[2].data();
  Sample* out = buffers[3].data();
  const size_t rowSamples = buffers[0].size();
  MedianScratch<Sample> scratch(static_cast<size_t>(width) * static_cast<size_t>(spp));

  ReadRow<D>(*src, 0, above);
  ReadRow<D>(*src, 1, current);
  for (int32_t y = 1; y <= height - 2; ++y) {
    // Row y + 1 has not been written yet, in place or not.
    ReadRow<D>(*src, y + 1, below);
    Sample* target = out;
    if (inPlace) {
      target = current;
    } else {
      std::copy(current, current + rowSamples, out);
    }
    FilterRow<D>(above, current, below, target, width, spp, scratch);
    WritePixels<D>(*dst, y, 1, width - 2, target);
    // In place the filtered row is what the image now holds above the next row.
    Sample* freed = above;
    above = current;
    current = below;
    below = freed;
  }
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
  const Status checked = CheckCoveringDestination(src, dst);
  if (checked != Status::Ok) return checked;
  if (Depth8::Accepts(src->GetImageType())) {
    RemoveNoiseRows<Depth8>(src, dst);
  } else if (Depth16::Accepts(src->GetImageType())) {
    RemoveNoiseRows<Depth16>(src, dst);
  } else {
    return Status::Refused;
  }
  return Status::Ok;
}

namespace entry {

int32_t RemoveNoise(Kasa* src, Kasa* dst) {
  return CRemoveNoise::Run(src, dst) == Status::Ok ? 1 : 0;
}

}  // namespace entry

}  // namespace marlo
