// Focus in circle (ImageFocusInCircle) on all four image types.
//
// Pixels are defined to be read and written one at a time, rows top to bottom and columns left
// to right. Here the rows of the box are read into a ring of three buffers and each row's
// filtered pixels are written back together; every written value is the one the pixel order
// gives. In place (source and destination the same image) the pixel to the left and the row
// above are read as already filtered, as they were written before.
#include "detail/focus_circle.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "frame/entries.h"

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
  const int32_t a = (4 * p - l - r - u - d) / 4;
  const double q = static_cast<double>(a) * static_cast<double>(gain) + p + 0.5;
  // trunc(q) below 0 gives 0, above max gives max; q is finite for every 32-bit strength.
  if (q < 0.0) return 0;
  if (q >= static_cast<double>(max) + 1.0) return max;
  return static_cast<int32_t>(q);
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

template <class D>
Status FocusCircle(Kasa* src, Kasa* dst, int32_t cx, int32_t cy, int32_t radius, int32_t strength,
                   ProgressCallback cb, int32_t start, int32_t end) {
  using Sample = typename D::Sample;
  const float gain = static_cast<float>(strength * 0.01);
  if (src == nullptr || dst == nullptr || src->IsEmpty() || dst->IsEmpty()) {
    return Status::Refused;
  }
  if (!D::Accepts(src->GetImageType())) return Status::Refused;

  const CircleBox box = ClipCircleBox(cx, cy, radius, src->GetImageWidth(), src->GetImageHeight());
  const bool empty = radius < 0 || box.width <= 0 || box.height <= 0;
  // Rows walked: the box without its top and bottom row.
  const int64_t firstRow = box.y0 + 1;
  const int64_t lastRow = empty ? box.y0 : box.y0 + box.height - 2;

  // The row buffers are taken before the destination is rebuilt, so that a failed allocation
  // leaves it as it was.
  std::vector<Sample> buffers[4];
  if (firstRow <= lastRow) {
    for (auto& b : buffers) b = AllocateRow<D>(*src);
  }

  // A separate destination becomes a copy of the source, so that everything outside the circle
  // stays as in the source. The store replaces the destination's content only on success.
  const bool inPlace = src == dst;
  if (!inPlace && !dst->GenerateImage(src, 15, 0, 0)) return Status::NoMemory;

  // The box height is at most the image's when the box is not empty.
  Progress progress(cb, start, end, empty ? 1 : static_cast<int32_t>(box.height));
  progress.Begin();
  if (firstRow <= lastRow) {
    const int spp = SamplesPerPixel(*src);
    const size_t s = static_cast<size_t>(spp);
    const int64_t firstColumn = box.x0 + 1;
    const int64_t lastColumn = box.x0 + box.width - 2;
    Sample* above = buffers[0].data();
    Sample* current = buffers[1].data();
    Sample* below = buffers[2].data();
    Sample* out = buffers[3].data();
    ReadRow<D>(*src, static_cast<int32_t>(box.y0), above);
    ReadRow<D>(*src, static_cast<int32_t>(firstRow), current);
    for (int64_t y = firstRow; y <= lastRow; ++y) {
      ReadRow<D>(*src, static_cast<int32_t>(y + 1), below);  // not yet written
      int64_t spanFirst = 0, spanLast = -1;
      if (CircleSpan(firstColumn, lastColumn, y, cx, cy, radius, &spanFirst, &spanLast)) {
        // In place the row is filtered where it lies, so the pixel to the left is read as
        // already written; a separate destination takes the results in its own buffer, and
        // only the columns of the span are written from it.
        Sample* target = inPlace ? current : out;
        const size_t spanEnd = static_cast<size_t>(spanLast + 1) * s;
        for (size_t i = static_cast<size_t>(spanFirst) * s; i < spanEnd; ++i) {
          target[i] = static_cast<Sample>(FocusSample(current[i], current[i - s], current[i + s],
                                                      above[i], below[i], gain, D::kMax));
        }
        WritePixels<D>(*dst, static_cast<int32_t>(y), static_cast<int32_t>(spanFirst),
                       static_cast<int32_t>(spanLast), target);
      }
      if (!progress.Step()) return Status::Aborted;
      // In place the filtered row is what the image now holds above the next row.
      Sample* freed = above;
      above = current;
      current = below;
      below = freed;
    }
  }
  progress.Finish();
  return Status::Ok;
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

namespace entry {

int32_t ImageFocusInCircle(Kasa* src, Kasa* dst, int32_t cx, int32_t cy, int32_t radius,
                           int32_t strength, ProgressCallback cb, int32_t start, int32_t end) {
  if (src == nullptr) return 0;
  const int type = src->GetImageType();
  Status status = Status::Refused;
  if (Depth8::Accepts(type)) {
    status = FocusCircle8(src, dst, cx, cy, radius, strength, cb, start, end);
  } else if (Depth16::Accepts(type)) {
    status = FocusCircle16(src, dst, cx, cy, radius, strength, cb, start, end);
  }
  return status == Status::Ok ? 1 : 0;
}

}  // namespace entry

}  // namespace marlo
