// Auto adjustment (AutoAdjustment) on all four image types.
//
// The levels correction is defined on packed 24-bit colour values: three 8-bit channels per
// pixel, each counted in a 256-bin histogram and stretched over 0..255. On 24-bit RGB marlo
// works on exactly those values. On 8-bit grey the three channels of a pixel are equal, so one
// histogram of the samples themselves gives the same bounds and the same result. On 48-bit RGB
// and 16-bit grey the same algorithm runs on the 16-bit samples: 65,536-bin histograms, the
// same 5 % cut-offs (N / 20 pixels), a stretch over 0..65535, so nothing is reduced to 8 bits.
//
// The image is read and written a row at a time rather than pixel by pixel, with the stretch
// of each channel tabulated once; every written value is the one the pixel-by-pixel order
// gives, also in place, since a pixel is read only once before its own write.
//
// The analysis of the source may also derive channel means and luminance shares for a tone
// curve that would be written into the destination before the stretch; the stretch rewrites
// every pixel from the source afterwards, so that pass leaves no trace and is left out here.
#include "tone/auto_adjustment.h"

#include "frame/entries.h"

namespace marlo {

template <class D>
ChannelLevels<D> FindLevels(const uint64_t* histogram, uint64_t threshold) {
  using Field = typename LevelField<D>::Type;
  ChannelLevels<D> levels{0, static_cast<Field>(D::kMax)};
  if (threshold == 0) return levels;
  // All bins together hold N >= threshold samples, so both searches end inside the histogram.
  uint64_t sum = 0;
  int64_t bin = 0;
  do {
    sum += histogram[bin];
    ++bin;
  } while (sum < threshold && bin <= D::kMax);
  levels.low = static_cast<Field>(bin);
  sum = 0;
  bin = D::kMax;
  do {
    sum += histogram[bin];
    --bin;
  } while (sum < threshold && bin >= 0);
  // Below bin 0 the field wraps to its largest value (see LevelField).
  levels.high = static_cast<Field>(bin);
  return levels;
}

template <class D>
void BuildStretch(const ChannelLevels<D>& levels, typename D::Sample* table) {
  const uint64_t low = levels.low;
  const uint64_t high = levels.high;
  const uint64_t max = D::kMax;
  for (uint64_t v = 0; v <= max; ++v) {
    uint64_t out = max;
    if (v < low) {
      out = 0;
    } else if (v <= high) {
      // Equal bounds would divide by zero: those samples take the top of the range.
      out = high == low ? max : ((v - low) * max) / (high - low);
    }
    table[v] = static_cast<typename D::Sample>(out);
  }
}

template ChannelLevels<Depth8> FindLevels<Depth8>(const uint64_t*, uint64_t);
template ChannelLevels<Depth16> FindLevels<Depth16>(const uint64_t*, uint64_t);
template void BuildStretch<Depth8>(const ChannelLevels<Depth8>&, uint8_t*);
template void BuildStretch<Depth16>(const ChannelLevels<Depth16>&, uint16_t*);

template <class D>
void CAutoAdjustment::Adjust(Kasa* src, Kasa* dst) {
  using Sample = typename D::Sample;
  const int32_t width = src->GetImageWidth();
  const int32_t height = src->GetImageHeight();
  const size_t spp = static_cast<size_t>(SamplesPerPixel(*src));
  const size_t bins = static_cast<size_t>(D::kMax) + 1;

  // Everything is allocated before the first write. A histogram and a stretch table per stored
  // channel; on grey images the one channel stands for all three equal ones.
  std::vector<uint64_t> histograms(bins * spp, 0);
  std::vector<Sample> tables(bins * spp);
  std::vector<Sample> row = AllocateRow<D>(*src);
  const size_t samples = static_cast<size_t>(width) * spp;

  // Analysis: count every channel of every pixel.
  for (int32_t y = 0; y < height; ++y) {
    ReadRow<D>(*src, y, row.data());
    for (size_t i = 0; i < samples; i += spp) {
      for (size_t k = 0; k < spp; ++k) ++histograms[k * bins + row[i + k]];
    }
  }

  // Bounds: 5 % of the pixels, truncated. The full size is used, also beyond 65,535 pixels in
  // either direction.
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  const uint64_t threshold = pixels / 20;
  for (size_t k = 0; k < spp; ++k) {
    BuildStretch<D>(FindLevels<D>(histograms.data() + k * bins, threshold),
                    tables.data() + k * bins);
  }

  // Stretch, from the source into the destination's top-left part.
  for (int32_t y = 0; y < height; ++y) {
    ReadRow<D>(*src, y, row.data());
    for (size_t i = 0; i < samples; i += spp) {
      for (size_t k = 0; k < spp; ++k) row[i + k] = tables[k * bins + row[i + k]];
    }
    WritePixels<D>(*dst, y, 0, width - 1, row.data());
  }
}

Status CAutoAdjustment::Run(Kasa* src, Kasa* dst) {
  const Status checked = CheckCoveringDestination(src, dst);
  if (checked != Status::Ok) return checked;
  if (Depth8::Accepts(src->GetImageType())) {
    Adjust<Depth8>(src, dst);
  } else if (Depth16::Accepts(src->GetImageType())) {
    Adjust<Depth16>(src, dst);
  } else {
    return Status::Refused;
  }
  return Status::Ok;
}

namespace entry {

int32_t AutoAdjustment(Kasa* src, Kasa* dst) {
  CAutoAdjustment filter;
  return filter.Run(src, dst) == Status::Ok ? 1 : 0;
}

}  // namespace entry

}  // namespace marlo
