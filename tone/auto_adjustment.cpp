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
// gives, also in place, since a pixel is read only once before its own write. Both passes
// (counting, stretching) split the rows into bands over the run's threads; the counts of each
// thread are added in a fixed order, so the bounds do not depend on the split.
//
// The analysis of the source may also derive channel means and luminance shares for a tone
// curve that would be written into the destination before the stretch; the stretch rewrites
// every pixel from the source afterwards, so that pass leaves no trace and is left out here.
#include "tone/auto_adjustment.h"

#include <cstring>

#include "frame/split_counters.h"
#include "frame/threads.h"

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

namespace {

// The stretch of a row of RGB pixels, each sample through its channel's table (the tables follow
// each other, `bins` entries apart), from `in` into `out`, which may be `in` itself (a sample is
// read before it is written).
template <class D>
void StretchRgb(const typename D::Sample* in, typename D::Sample* out, size_t pixels,
                const typename D::Sample* __restrict tables, size_t bins) {
  const typename D::Sample* t0 = tables;
  const typename D::Sample* t1 = tables + bins;
  const typename D::Sample* t2 = tables + 2 * bins;
  size_t x = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if constexpr (D::kBits == 8) {
    // Four 8-bit pixels are twelve samples, three 32-bit words: read and written as words, one
    // table look-up per byte, so that the stores are three per four pixels.
    const auto lookUp = [](uint32_t word, const uint8_t* a, const uint8_t* b, const uint8_t* c,
                           const uint8_t* d) {
      return uint32_t{a[word & 0xFF]} | uint32_t{b[(word >> 8) & 0xFF]} << 8 |
             uint32_t{c[(word >> 16) & 0xFF]} << 16 | uint32_t{d[word >> 24]} << 24;
    };
    for (; x + 4 <= pixels; x += 4) {
      uint32_t w[3];
      std::memcpy(w, in + 3 * x, 12);
      w[0] = lookUp(w[0], t0, t1, t2, t0);
      w[1] = lookUp(w[1], t1, t2, t0, t1);
      w[2] = lookUp(w[2], t2, t0, t1, t2);
      std::memcpy(out + 3 * x, w, 12);
    }
  }
#endif
  for (; x < pixels; ++x) {
    out[3 * x] = t0[in[3 * x]];
    out[3 * x + 1] = t1[in[3 * x + 1]];
    out[3 * x + 2] = t2[in[3 * x + 2]];
  }
}

template <class D>
void StretchGrey(const typename D::Sample* in, typename D::Sample* out, size_t pixels,
                 const typename D::Sample* __restrict table) {
  for (size_t x = 0; x < pixels; ++x) out[x] = table[in[x]];
}

}  // namespace

template <class D>
void CAutoAdjustment::Adjust(Kasa* src, Kasa* dst) {
  using Sample = typename D::Sample;
  const int32_t width = src->GetImageWidth();
  const int32_t height = src->GetImageHeight();
  const size_t spp = static_cast<size_t>(SamplesPerPixel(*src));
  const size_t bins = static_cast<size_t>(D::kMax) + 1;
  const size_t pixelsPerRow = static_cast<size_t>(width);
  // 8-bit rows are stored as the row buffer holds them: they are counted and stretched where
  // they lie, the stretch written straight into the destination's row.
  constexpr bool kDirect = D::kBits == 8;

  // Everything is allocated before the first write. Per slot of the bands a set of counters
  // (a histogram per stored channel; on grey images the one channel stands for all three equal
  // ones) and a row buffer; a stretch table per channel.
  // The counting goes into 32-bit counters, which stay in cache, added into the slot's 64-bit
  // histograms before they could overflow. 8-bit pixels are spread over four copies of the
  // counters in turn, so that a run of equal samples, common in photographs, does not wait for
  // one counter's previous increment.
  constexpr size_t kCopies = D::kBits == 8 ? 4 : 1;
  const size_t span = bins * spp;
  const RowBands bands(height, 2 * static_cast<size_t>(src->GetLineBytes()));
  const size_t slots = static_cast<size_t>(bands.slots());
  std::vector<SplitCounters<uint64_t>> counters;
  counters.reserve(slots);
  for (size_t k = 0; k < slots; ++k) counters.emplace_back(span, kCopies);
  std::vector<Sample> tables(span);
  std::vector<std::vector<Sample>> rows(kDirect ? 0 : slots);
  for (auto& row : rows) row = AllocateRow<D>(*src);

  // Analysis: count every channel of every pixel.
  bands.Run(nullptr, [&](Band& band) {
    SplitCounters<uint64_t>& mine = counters[static_cast<size_t>(band.slot())];
    for (int32_t y = band.first(); y < band.end(); ++y) {
      const Sample* p;
      if constexpr (kDirect) {
        p = StoredRow(*src, y);
      } else {
        Sample* row = rows[static_cast<size_t>(band.slot())].data();
        ReadRow<D>(*src, y, row);
        p = row;
      }
      mine.Expect(pixelsPerRow);
      size_t x = 0;
      if (spp == 3) {
        for (; x + kCopies <= pixelsPerRow; x += kCopies) {
          for (size_t copy = 0; copy < kCopies; ++copy) {
            uint32_t* c = mine.Copy(copy);
            const Sample* q = p + 3 * (x + copy);
            ++c[q[0]];
            ++c[bins + q[1]];
            ++c[2 * bins + q[2]];
          }
        }
        uint32_t* c = mine.Copy(0);
        for (; x < pixelsPerRow; ++x) {
          ++c[p[3 * x]];
          ++c[bins + p[3 * x + 1]];
          ++c[2 * bins + p[3 * x + 2]];
        }
      } else {
        for (; x + kCopies <= pixelsPerRow; x += kCopies) {
          for (size_t copy = 0; copy < kCopies; ++copy) ++mine.Copy(copy)[p[x + copy]];
        }
        uint32_t* c = mine.Copy(0);
        for (; x < pixelsPerRow; ++x) ++c[p[x]];
      }
    }
  });
  // The slots' histograms, each flushed once after the run (a slot's counters carry over from
  // band to band), added in slot order.
  std::vector<uint64_t> histograms(span, 0);
  for (auto& slot : counters) {
    slot.Flush();
    for (size_t k = 0; k < span; ++k) histograms[k] += slot.totals()[k];
  }

  // Bounds: 5 % of the pixels, truncated. The full size is used, also beyond 65,535 pixels in
  // either direction.
  const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
  const uint64_t threshold = pixels / 20;
  for (size_t k = 0; k < spp; ++k) {
    BuildStretch<D>(FindLevels<D>(histograms.data() + k * bins, threshold),
                    tables.data() + k * bins);
  }

  // Stretch, from the source into the destination's top-left part, a row at a time; a row is
  // read before it is written, so in place works too.
  bands.Run(nullptr, [&](Band& band) {
    for (int32_t y = band.first(); y < band.end(); ++y) {
      const Sample* in;
      Sample* out;
      if constexpr (kDirect) {
        in = StoredRow(*src, y);
        out = StoredRow(*dst, y);
      } else {
        Sample* row = rows[static_cast<size_t>(band.slot())].data();
        ReadRow<D>(*src, y, row);
        in = out = row;
      }
      if (spp == 3) {
        StretchRgb<D>(in, out, pixelsPerRow, tables.data(), bins);
      } else {
        StretchGrey<D>(in, out, pixelsPerRow, tables.data());
      }
      if constexpr (!kDirect) WritePixels<D>(*dst, y, 0, width - 1, out);
    }
  });
}

Status CAutoAdjustment::Run(Kasa* src, Kasa* dst) {
  const Entry entry = Enter(src, dst, Door{Destination::CoversSource, &IsSupportedType});
  if (!entry) return entry.status();
  return ForDepth(src->GetImageType(), [&](auto depth) { Adjust<decltype(depth)>(src, dst); });
}

}  // namespace marlo

int32_t MARLO_STDCALL AutoAdjustment(Kasa* src, Kasa* dst) {
  return marlo::Export(0, [&] { return marlo::CAutoAdjustment().Run(src, dst); });
}
