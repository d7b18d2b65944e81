// Focus in circle (ImageFocusInCircle) on all four image types.
//
// Pixels are defined to be read and written one at a time, rows top to bottom and columns left
// to right. Here the rows of the box are read into a ring of three buffers and each row's
// filtered pixels are written back together; every written value is the one the pixel order
// gives. In place (source and destination the same image) the pixel to the left and the row
// above are read as already filtered, as they were written before, so the rows are worked in
// order on the calling thread; into a separate destination they split into bands over the
// run's threads.
#include "detail/focus_circle.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "frame/simd.h"
#include "frame/threads.h"

namespace marlo {

CircleBox ClipCircleBox(int32_t cx, int32_t cy, int32_t radius, int32_t imageWidth,
                        int32_t imageHeight) {
  const int64_t r = radius;
  CircleBox box{int64_t{cx} - r, int64_t{cy} - r, 2 * r + 1, 2 * r + 1};
  if (box.x0 < 0) {
    box.width += box.x0;
    box.x0 = 0;
  }
  if (box.y0 < 0) {
    box.height += box.y0;
    box.y0 = 0;
  }
  if (box.x0 + box.width >= imageWidth) box.width = imageWidth - box.x0;
  if (box.y0 + box.height >= imageHeight) box.height = imageHeight - box.y0;
  return box;
}

bool InsideCircle(int64_t dx, int64_t dy, int32_t radius) {
  const uint64_t squares = static_cast<uint64_t>(dx * dx) + static_cast<uint64_t>(dy * dy);
  const double root = std::sqrt(static_cast<double>(squares));
  const auto distance = static_cast<int64_t>(root + 0.5);
  return distance <= radius;
}

int32_t FocusSample(int32_t p, int32_t l, int32_t r, int32_t u, int32_t d, float gain,
                    int32_t max) {
  return FocusValue((4 * p - l - r - u - d) / 4, p, gain, max);
}

int32_t FocusValue(int32_t a, int32_t p, float gain, int32_t max) {
  const double q = static_cast<double>(a) * static_cast<double>(gain) + p + 0.5;
  // trunc(q) below 0 gives 0, above max gives max; q is finite for every 32-bit strength.
  if (q < 0.0) return 0;
  if (q >= static_cast<double>(max) + 1.0) return max;
  return static_cast<int32_t>(q);
}

std::array<int32_t, 511> FocusOffsets8(float gain) {
  std::array<int32_t, 511> offsets{};
  for (int32_t a = -255; a <= 255; ++a) {
    const int32_t low = FocusValue(a, 0, gain, 255);
    offsets[static_cast<size_t>(a + 255)] = low > 0 ? low : FocusValue(a, 255, gain, 255) - 255;
  }
  return offsets;
}

namespace {

// The columns of row y inside the circle, within [first, last]: the predicate only grows as x
// approaches the centre, so the run is found by halving from the column nearest the centre.
// Returns false when no column qualifies.
bool CircleSpan(int64_t first, int64_t last, int64_t y, int32_t cx, int32_t cy, int32_t radius,
                int64_t* spanFirst, int64_t* spanLast) {
  if (first > last) return false;
  const int64_t dy = y - cy;
  const int64_t nearest = std::clamp<int64_t>(cx, first, last);
  if (!InsideCircle(nearest - cx, dy, radius)) return false;
  int64_t lo = first, hi = nearest;  // first column inside lies in [lo, hi]
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (InsideCircle(mid - cx, dy, radius)) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  *spanFirst = lo;
  lo = nearest;
  hi = last;  // last column inside lies in [lo, hi]
  while (lo < hi) {
    const int64_t mid = hi - (hi - lo) / 2;
    if (InsideCircle(mid - cx, dy, radius)) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  *spanLast = lo;
  return true;
}

// What the span kernels need: the gain and maximum (16-bit) or the offsets (8-bit).
struct SpanParams {
  float gain;
  int32_t max;
  const int32_t* offsets;  // FocusOffsets8, indexed by a + 255
};

// FocusValue over samples [first, end) of a row into a separate output row, the 16-bit form:
// the same operations in the same order, with the clamp written branch-free so that the loop
// vectorises. min(max(q, 0), max) then truncated equals FocusValue's clamp: q < 0 gives 0;
// q in 0..max truncates as in FocusValue; q in (max, max + 1) truncates to max either way;
// q >= max + 1 gives max. q is never NaN (a and the gain are finite).
template <int Spp>
MARLO_KERNEL void FocusSpan(const uint16_t* __restrict up, const uint16_t* __restrict cur,
                            const uint16_t* __restrict down, uint16_t* __restrict out, size_t first,
                            size_t end, const SpanParams& params) {
  const double g = static_cast<double>(params.gain);
  const double top = static_cast<double>(params.max);
  for (size_t i = first; i < end; ++i) {
    const int32_t p = cur[i];
    const int32_t a = (4 * p - int32_t{cur[i - Spp]} - int32_t{cur[i + Spp]} - int32_t{up[i]} -
                       int32_t{down[i]}) /
                      4;
    const double q = static_cast<double>(a) * g + p + 0.5;
    const double clamped = std::min(std::max(q, 0.0), top);
    out[i] = static_cast<uint16_t>(static_cast<int32_t>(clamped));
  }
}

// The 8-bit form: clamp(p + offsets[a + 255], 0, 255), equal to FocusValue (see FocusOffsets8).
template <int Spp>
MARLO_KERNEL void FocusSpan(const uint8_t* __restrict up, const uint8_t* __restrict cur,
                            const uint8_t* __restrict down, uint8_t* __restrict out, size_t first,
                            size_t end, const SpanParams& params) {
  const int32_t* __restrict offsets = params.offsets + 255;
  for (size_t i = first; i < end; ++i) {
    const int32_t p = cur[i];
    const int32_t a = (4 * p - int32_t{cur[i - Spp]} - int32_t{cur[i + Spp]} - int32_t{up[i]} -
                       int32_t{down[i]}) /
                      4;
    const int32_t v = p + offsets[a];
    out[i] = static_cast<uint8_t>(std::min(std::max(v, int32_t{0}), int32_t{255}));
  }
}

// The span kernel, with an AVX2 variant.
template <int Spp>
struct SpanKernel {
  template <class Isa, class Sample>
  static MARLO_KERNEL void Run(const Sample* up, const Sample* cur, const Sample* down, Sample* out,
                               size_t first, size_t end, const SpanParams& params) {
    FocusSpan<Spp>(up, cur, down, out, first, end, params);
  }
};

// In place, pixel after pixel (each sees its left neighbour already filtered).
void FilterInPlace(const uint8_t* above, uint8_t* current, const uint8_t* below, size_t first,
                   size_t end, size_t s, const SpanParams& params) {
  for (size_t i = first; i < end; ++i) {
    const int32_t p = current[i];
    const int32_t a = (4 * p - current[i - s] - current[i + s] - above[i] - below[i]) / 4;
    const int32_t v = p + params.offsets[a + 255];
    current[i] = static_cast<uint8_t>(std::min(std::max(v, int32_t{0}), int32_t{255}));
  }
}

void FilterInPlace(const uint16_t* above, uint16_t* current, const uint16_t* below, size_t first,
                   size_t end, size_t s, const SpanParams& params) {
  const float gain = params.gain;
  for (size_t i = first; i < end; ++i) {
    current[i] = static_cast<uint16_t>(FocusSample(current[i], current[i - s], current[i + s],
                                                   above[i], below[i], gain, Depth16::kMax));
  }
}

int32_t MARLO_STDCALL GoOn(int32_t, int32_t, int32_t) {
  return 0;
}

// The walked row (0 for the first) whose report stopped a run: the first step of a run of
// `rows` steps over start..end that reports the value `progress` reported last.
int64_t StoppingRow(const Progress& progress, int32_t start, int32_t end, int32_t rows,
                    int64_t walked) {
  Progress replay(&GoOn, start, end, rows);
  for (int64_t k = 0; k < walked; ++k) {
    replay.Step();
    if (replay.position() == progress.position()) return k;
  }
  return walked - 1;
}

template <class D>
Status FocusCircle(Kasa* src, Kasa* dst, int32_t cx, int32_t cy, int32_t radius, int32_t strength,
                   ProgressCallback cb, int32_t start, int32_t end) {
  using Sample = typename D::Sample;
  const float gain = static_cast<float>(strength * 0.01);
  Entry entry = Enter(src, dst, Door{Destination::CopyOfSource, &D::Accepts});
  if (!entry) return entry.status();

  const CircleBox box = ClipCircleBox(cx, cy, radius, src->GetImageWidth(), src->GetImageHeight());
  const bool empty = radius < 0 || box.width <= 0 || box.height <= 0;
  // Rows walked: the box without its top and bottom row.
  const int64_t firstRow = box.y0 + 1;
  const int64_t lastRow = empty ? box.y0 : box.y0 + box.height - 2;

  // In place a pixel reads the row above and the pixel to the left as already filtered, so the
  // rows are worked in order on the calling thread. Into a separate destination the rows are
  // independent: they split into bands over the run's threads.
  const bool inPlace = src == dst;
  const int64_t walked = firstRow <= lastRow ? lastRow - firstRow + 1 : 0;
  const RowBands bands(static_cast<int32_t>(walked), 2 * static_cast<size_t>(src->GetLineBytes()));

  // The row buffers are taken before the destination is rebuilt, so that a failed allocation
  // leaves it as it was. A separate destination becomes a copy of the source, so that
  // everything outside the circle stays as in the source: one of the source's type and size
  // receives the source's rows as the bands reach them, each row copied by the band that
  // filters it.
  // 8-bit rows are stored as the kernels take them: into a separate destination the kernel reads
  // the source's rows and writes the destination's row where they lie, without line buffers.
  constexpr bool kStored = D::kBits == 8;
  const bool direct = kStored && !inPlace;
  const size_t slots = walked == 0 || direct ? 0 : inPlace ? 1 : static_cast<size_t>(bands.slots());
  std::vector<std::vector<Sample>> buffers(4 * slots);
  for (auto& b : buffers) b = AllocateRow<D>(*src);
  const bool copyRows = !inPlace && SameGeometry(*src, *dst);
  if (!entry.StartCopy()) return Status::NoMemory;
  const auto copyRowsUpTo = [&](int64_t from, int64_t to) {  // rows from .. to - 1
    if (!copyRows) return;
    for (int64_t y = from; y < to; ++y) CopyRow(*src, *dst, static_cast<int32_t>(y));
  };

  // The box height is at most the image's when the box is not empty.
  Progress progress(cb, start, end, empty ? 1 : static_cast<int32_t>(box.height), src, dst);
  if (progress.Begin() != Status::Ok) return progress.status();
  const int64_t height = src->GetImageHeight();
  if (walked == 0) {
    copyRowsUpTo(0, height);
    return progress.Finish();
  }
  const int spp = SamplesPerPixel(*src);
  const size_t s = static_cast<size_t>(spp);
  using Signature =
      void(const Sample*, const Sample*, const Sample*, Sample*, size_t, size_t, const SpanParams&);
  const auto span =
      spp == 3 ? KernelFor<SpanKernel<3>, Signature>() : KernelFor<SpanKernel<1>, Signature>();
  std::array<int32_t, 511> offsets{};
  if (D::kBits == 8) offsets = FocusOffsets8(gain);
  const SpanParams params{gain, D::kMax, offsets.data()};
  const int64_t firstColumn = box.x0 + 1;
  const int64_t lastColumn = box.x0 + box.width - 2;

  // Rows bandFirst .. bandEnd - 1 with the buffers of `slot`; `enter` and `leave` bracket the
  // work on a row (false: stop).
  const auto walk = [&](int64_t bandFirst, int64_t bandEnd, size_t slot, auto&& enter,
                        auto&& leave) {
    std::vector<Sample>* mine = &buffers[4 * slot];
    Sample* above = mine[0].data();
    Sample* current = mine[1].data();
    Sample* below = mine[2].data();
    Sample* out = mine[3].data();
    // The rows of a band are read from the source as the band needs them: not in place the
    // source is never written, and in place the one band reads them in order.
    ReadRow<D>(*src, static_cast<int32_t>(bandFirst - 1), above);
    ReadRow<D>(*src, static_cast<int32_t>(bandFirst), current);
    for (int64_t y = bandFirst; y < bandEnd; ++y) {
      if (!enter()) return;
      ReadRow<D>(*src, static_cast<int32_t>(y + 1), below);  // not yet written
      copyRowsUpTo(y, y + 1);
      int64_t spanFirst = 0, spanLast = -1;
      if (CircleSpan(firstColumn, lastColumn, y, cx, cy, radius, &spanFirst, &spanLast)) {
        // In place the row is filtered where it lies, so the pixel to the left is read as
        // already written; a separate destination takes the results in its own buffer, and
        // only the columns of the span are written from it.
        Sample* target = inPlace ? current : out;
        const size_t spanBegin = static_cast<size_t>(spanFirst) * s;
        const size_t spanEnd = static_cast<size_t>(spanLast + 1) * s;
        if (inPlace) {
          FilterInPlace(above, current, below, spanBegin, spanEnd, s, params);
        } else {
          span(above, current, below, out, spanBegin, spanEnd, params);
        }
        WritePixels<D>(*dst, static_cast<int32_t>(y), static_cast<int32_t>(spanFirst),
                       static_cast<int32_t>(spanLast), target);
      }
      if (!leave()) return;
      // In place the filtered row is what the image now holds above the next row.
      Sample* freed = above;
      above = current;
      current = below;
      below = freed;
    }
  };

  copyRowsUpTo(0, firstRow);  // the rows before the walked ones
  if (inPlace) {              // nothing to copy
    bool stopped = false;
    walk(
        firstRow, lastRow + 1, 0, [] { return true; },
        [&] {
          stopped = !progress.Step();
          return !stopped;
        });
    return stopped ? progress.status() : progress.Finish();
  }
  const Status status = bands.Run(&progress, [&](Band& band) {
    if constexpr (kStored) {
      for (int64_t y = firstRow + band.first(); y < firstRow + band.end(); ++y) {
        if (!band.Enter()) return;
        copyRowsUpTo(y, y + 1);
        int64_t spanFirst = 0, spanLast = -1;
        if (CircleSpan(firstColumn, lastColumn, y, cx, cy, radius, &spanFirst, &spanLast)) {
          const auto row = [&](int64_t r) { return StoredRow(*src, static_cast<int32_t>(r)); };
          span(row(y - 1), row(y), row(y + 1), StoredRow(*dst, static_cast<int32_t>(y)),
               static_cast<size_t>(spanFirst) * s, static_cast<size_t>(spanLast + 1) * s, params);
        }
        if (!band.Leave()) return;
      }
    } else {
      walk(
          firstRow + band.first(), firstRow + band.end(), static_cast<size_t>(band.slot()),
          [&] { return band.Enter(); }, [&] { return band.Leave(); });
    }
  });
  if (status != Status::Ok) {
    // After an abort the destination is the whole copy with the rows filtered up to the one
    // whose report stopped the run, as on one thread: the rows after it, which other threads
    // may have filtered or not yet copied, receive the source's rows. After a change of the
    // images nothing more is touched.
    if (status == Status::Aborted) {
      const int64_t stopped =
          firstRow + StoppingRow(progress, start, end, static_cast<int32_t>(box.height), walked);
      for (int64_t y = stopped + 1; y < height; ++y) CopyRow(*src, *dst, static_cast<int32_t>(y));
    }
    return status;
  }
  copyRowsUpTo(lastRow + 1, height);
  return progress.Finish();
}

}  // namespace

Status FocusCircle8(Kasa* src, Kasa* dst, int32_t cx, int32_t cy, int32_t radius, int32_t strength,
                    ProgressCallback cb, int32_t start, int32_t end) {
  return FocusCircle<Depth8>(src, dst, cx, cy, radius, strength, cb, start, end);
}

Status FocusCircle16(Kasa* src, Kasa* dst, int32_t cx, int32_t cy, int32_t radius, int32_t strength,
                     ProgressCallback cb, int32_t start, int32_t end) {
  return FocusCircle<Depth16>(src, dst, cx, cy, radius, strength, cb, start, end);
}

}  // namespace marlo

int32_t MARLO_STDCALL ImageFocusInCircle(Kasa* src, Kasa* dst, int32_t cx, int32_t cy,
                                         int32_t radius, int32_t strength, ProgressCallback cb,
                                         int32_t start, int32_t end) {
  return marlo::Export(0, [&] {
    return marlo::ForDepth(marlo::TypeOf(src), [&](auto depth) {
      return marlo::FocusCircle<decltype(depth)>(src, dst, cx, cy, radius, strength, cb, start,
                                                 end);
    });
  });
}
