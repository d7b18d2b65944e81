// Convex lens (ConvexLens) on all four image types.
//
// Inside the disc of radius R around the centre, the destination pixel at offset (dx, dy) and
// integer distance r = trunc(sqrt(dx^2 + dy^2)) shows the source pixel at distance
// s = trunc(r - sin(r * pi / R) * R / k) in the same direction, so the middle of the disc is
// magnified while its rim joins the surrounding picture. Outside the disc nothing is written.
//
// Only the part of the disc that lies inside the picture is visited (identical results in time
// bounded by the picture's size, whatever the radius), and the rows the disc reads are copied
// before anything is written, so the lens works in place too.
#include "effects/convex_lens.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "effects/whole_pixels.h"
#include "frame/entries.h"

namespace marlo {

namespace {

constexpr double kPi = 3.141592653;

// Source distances are tabulated by r up to this many entries; beyond, they are computed where
// needed (only pictures more than a million pixels across get there).
constexpr int64_t kDistanceTableLimit = int64_t{1} << 20;

// Radii above this cover every pixel of any picture (the farthest pixel lies less than
// 2^31 * sqrt(2) < 3.1e9 away); capping the radius here keeps (R + 1)^2 inside 64 bits for
// the disc test, which does not change which pixels lie inside.
constexpr uint64_t kRadiusCap = 4000000000u;

template <class P>
void MagnifyDisc(Kasa& src, Kasa& dst, int64_t cx, int64_t cy, int64_t radius, int32_t divisor) {
  using D = typename P::Depth;
  using Sample = typename P::Sample;
  const int64_t width = src.GetImageWidth(), height = src.GetImageHeight();
  const int64_t up = std::min(radius, cy), down = std::min(radius, height - 1 - cy);
  const int64_t left = std::min(radius, cx), right = std::min(radius, width - 1 - cx);
  const int64_t firstRow = cy - up, lastRow = cy + down;
  // Positions are written where they lie inside the source and the destination.
  const int64_t lastWrittenRow = std::min<int64_t>(lastRow, dst.GetImageHeight() - 1);
  const int64_t lastWrittenColumn = std::min<int64_t>(width, dst.GetImageWidth()) - 1;

  // Everything is allocated and read before the first write. A source position always lies
  // between the centre and the target, so the rows of the disc are all the lens reads.
  const RowBlock<P> band(src, static_cast<int32_t>(firstRow), static_cast<int32_t>(lastRow));
  std::vector<Sample> row = AllocateRow<D>(dst);
  const uint64_t farthest = IntegerSquareRoot(
      static_cast<uint64_t>(std::max(left, right)) * static_cast<uint64_t>(std::max(left, right)) +
      static_cast<uint64_t>(std::max(up, down)) * static_cast<uint64_t>(std::max(up, down)));
  const int64_t tableTop = std::min<int64_t>(radius, static_cast<int64_t>(farthest));
  std::vector<int64_t> distance;
  if (tableTop < kDistanceTableLimit) {
    distance.resize(static_cast<size_t>(tableTop) + 1);
    for (int64_t r = 1; r <= tableTop; ++r) distance[r] = LensSourceDistance(r, radius, divisor);
  }

  // r <= R exactly when dx^2 + dy^2 < (R + 1)^2.
  const uint64_t cappedRadius = std::min<uint64_t>(static_cast<uint64_t>(radius), kRadiusCap);
  const uint64_t inside = (cappedRadius + 1) * (cappedRadius + 1) - 1;
  const double centreX = static_cast<double>(cx), centreY = static_cast<double>(cy);

  for (int64_t ty = firstRow; ty <= lastWrittenRow; ++ty) {
    const int64_t dy = ty - cy;
    const uint64_t dy2 = static_cast<uint64_t>(dy * dy);
    const auto half = static_cast<int64_t>(IntegerSquareRoot(inside - dy2));
    const int64_t dxFirst = -std::min(half, left);
    const int64_t dxLast = std::min({half, right, lastWrittenColumn - cx});
    if (dxFirst > dxLast) continue;
    ReadRow<D>(dst, static_cast<int32_t>(ty), row.data());
    for (int64_t dx = dxFirst; dx <= dxLast; ++dx) {
      const auto r = static_cast<int64_t>(IntegerSquareRoot(static_cast<uint64_t>(dx * dx) + dy2));
      int64_t sx = cx, sy = cy;  // the centre shows itself
      if (r > 0) {
        const int64_t s = r <= tableTop && !distance.empty()
                              ? distance[r]
                              : LensSourceDistance(r, radius, divisor);
        // s * dx / r and s * dy / r are real quotients, added to the centre and truncated.
        const double sd = static_cast<double>(s);
        const double rd = static_cast<double>(r);
        sx = static_cast<int64_t>(centreX + sd * static_cast<double>(dx) / rd);
        sy = static_cast<int64_t>(centreY + sd * static_cast<double>(dy) / rd);
      }
      Sample* out = row.data() + (cx + dx) * P::kSamples;
      if (sx >= 0 && sx < width && sy >= firstRow && sy <= lastRow) {
        P::Copy(out, band.At(sx, sy));
      } else {
        P::Black(out);  // never reached: the source position lies inside the disc
      }
    }
    WriteRow<D>(dst, static_cast<int32_t>(ty), row.data());
  }
}

}  // namespace

uint64_t IntegerSquareRoot(uint64_t n) {
  auto r = static_cast<uint64_t>(std::sqrt(static_cast<double>(n)));
  // The double square root can be one off for n above 2^52; correct it exactly. The root of
  // any 64-bit value is below 2^32, so the squares below do not overflow.
  if (r > 0xFFFFFFFFu) r = 0xFFFFFFFFu;
  while (r * r > n) --r;
  while (r < 0xFFFFFFFFu && (r + 1) * (r + 1) <= n) ++r;
  return r;
}

int64_t LensSourceDistance(int64_t r, int64_t radius, int32_t divisor) {
  const double rd = static_cast<double>(r);
  const double R = static_cast<double>(radius);
  return static_cast<int64_t>(rd - std::sin(rd * kPi / R) * R / static_cast<double>(divisor));
}

Status CConvexLens::Run(Kasa* src, Kasa* dst, uint32_t cx, uint32_t cy, uint32_t radius,
                        uint32_t magnific) {
  // The destination receives whole pixels of the source's layout, so it must have its type.
  if (src == nullptr || dst == nullptr || src->IsEmpty() || dst->IsEmpty() ||
      !IsSupportedType(src->GetImageType()) || dst->GetImageType() != src->GetImageType()) {
    ShowMessage(kLensImageError);
    return Status::Refused;
  }
  if (cx >= static_cast<uint32_t>(src->GetImageWidth()) ||
      cy >= static_cast<uint32_t>(src->GetImageHeight())) {
    ShowMessage(kLensCentreError);
    return Status::Refused;
  }
  if (magnific < 1 || magnific > 4) {
    ShowMessage(kLensMagnificError);
    return Status::Refused;
  }
  const int32_t divisor = 20 - 4 * static_cast<int32_t>(magnific);
  WithPixelFormat(src->GetImageType(), [&](auto format) {
    MagnifyDisc<decltype(format)>(*src, *dst, cx, cy, radius, divisor);
  });
  return Status::Ok;
}

namespace entry {

int32_t ConvexLens(Kasa* src, Kasa* dst, uint32_t cx, uint32_t cy, uint32_t radius,
                   uint32_t magnific) {
  return CConvexLens::Run(src, dst, cx, cy, radius, magnific) == Status::Ok ? 1 : 0;
}

}  // namespace entry

}  // namespace marlo
