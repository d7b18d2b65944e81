// Convex lens (ConvexLens) on all four image types.
//
// Inside the disc of radius R around the centre, the destination pixel at offset (dx, dy) and
// integer distance r = trunc(sqrt(dx^2 + dy^2)) shows the source pixel at distance
// s = trunc(r - sin(r * pi / R) * R / k) in the same direction, so the middle of the disc is
// magnified while its rim joins the surrounding picture. Outside the disc nothing is written.
//
// Only the part of the disc that lies inside the picture is visited (identical results in time
// bounded by the picture's size, whatever the radius). The rows above and below the centre at
// the same offset are drawn together, and r follows each row pair outward from the centre
// column with one integer step test per pixel instead of a square root. The source is read
// where it is stored; in place, the rows the disc reads are copied before anything is written.
// The row pairs are independent (each writes its own two rows and reads only the source): they
// split into bands over the run's threads.
#include "effects/convex_lens.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "effects/whole_pixels.h"
#include "frame/threads.h"

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

// Where the pixels at column offsets +a and -a of the rows at offsets +b and -b from the centre
// come from: their distance r is the same, so they share s and both quotients. The offsets
// (a, b), (-a, b), (a, -b), (-a, -b) give s * dx / r = +-q and s * dy / r = +-p exactly (the
// product, the quotient and the negation round alike for either sign), so each source position
// is the one computed for its pixel, trunc(cx +- q) and trunc(cy +- p).
struct LensColumn {
  int64_t right;         // byte offset of source column trunc(cx + q), or -1 outside the picture
  int64_t left;          // the same for trunc(cx - q)
  const uint8_t* below;  // source row trunc(cy + p), or null outside the rows read
  const uint8_t* above;  // source row trunc(cy - p)
};

template <int B>
void MagnifyDisc(Kasa& src, Kasa& dst, int64_t cx, int64_t cy, int64_t radius, int32_t divisor) {
  const int64_t width = src.GetImageWidth(), height = src.GetImageHeight();
  const int64_t up = std::min(radius, cy), down = std::min(radius, height - 1 - cy);
  const int64_t left = std::min(radius, cx), right = std::min(radius, width - 1 - cx);
  const int64_t firstRow = cy - up, lastRow = cy + down;
  // Positions are written where they lie inside the source and the destination.
  const int64_t lastWrittenRow = std::min<int64_t>(lastRow, dst.GetImageHeight() - 1);
  const int64_t lastWrittenColumn = std::min<int64_t>(width, dst.GetImageWidth()) - 1;

  // Everything is allocated and read before the first write. A source position always lies
  // between the centre and the target, so the rows of the disc are all the lens reads.
  const SourceRows band(src, static_cast<int32_t>(firstRow), static_cast<int32_t>(lastRow),
                        &src == &dst);
  const std::vector<uint8_t> black(B, 0);
  const uint64_t farthest = IntegerSquareRoot(
      static_cast<uint64_t>(std::max(left, right)) * static_cast<uint64_t>(std::max(left, right)) +
      static_cast<uint64_t>(std::max(up, down)) * static_cast<uint64_t>(std::max(up, down)));
  const int64_t tableTop = std::min<int64_t>(radius, static_cast<int64_t>(farthest));
  std::vector<int64_t> distance;
  if (tableTop < kDistanceTableLimit) {
    distance.resize(static_cast<size_t>(tableTop) + 1);
    for (int64_t r = 1; r <= tableTop; ++r) distance[r] = LensSourceDistance(r, radius, divisor);
  }
  // The row pairs split into bands over the run's threads, each with its own column plan.
  const int64_t lastB = std::max(up, lastWrittenRow - cy);
  const RowBands bands(static_cast<int32_t>(lastB + 1), 4 * static_cast<size_t>(width) * B);
  std::vector<std::vector<LensColumn>> plans(static_cast<size_t>(bands.slots()));
  for (auto& plan : plans) plan.resize(static_cast<size_t>(std::max(left, right)) + 1);

  // r <= R exactly when dx^2 + dy^2 < (R + 1)^2.
  const uint64_t cappedRadius = std::min<uint64_t>(static_cast<uint64_t>(radius), kRadiusCap);
  const uint64_t inside = (cappedRadius + 1) * (cappedRadius + 1) - 1;
  const double centreX = static_cast<double>(cx), centreY = static_cast<double>(cy);
  auto columnOffset = [&](int64_t sx) { return sx >= 0 && sx < width ? sx * B : int64_t{-1}; };
  auto sourceRow = [&](int64_t sy) -> const uint8_t* {
    return sy >= firstRow && sy <= lastRow ? band[sy] : nullptr;
  };
  // Copies the source pixel at (column offset, row), black outside (never reached: the source
  // position lies inside the disc).
  auto copy = [&](uint8_t* out, int64_t column, const uint8_t* row) {
    if (column >= 0 && row != nullptr) {
      std::memcpy(out, row + column, B);
    } else {
      std::memcpy(out, black.data(), B);
    }
  };

  // The rows at offsets -b and +b are drawn together, moving away from the centre.
  bands.Run(nullptr, [&](Band& band) {
    std::vector<LensColumn>& columns = plans[static_cast<size_t>(band.slot())];
    for (int64_t b = band.first(); b < band.end(); ++b) {
      const bool aboveWritten = b <= up && cy - b <= lastWrittenRow;
      const bool belowWritten = b > 0 && cy + b <= lastWrittenRow;
      if (!aboveWritten && !belowWritten) continue;
      const uint64_t b2 = static_cast<uint64_t>(b) * static_cast<uint64_t>(b);
      const auto half = static_cast<int64_t>(IntegerSquareRoot(inside - b2));
      const int64_t dxFirst = -std::min(half, left);
      const int64_t dxLast = std::min({half, right, lastWrittenColumn - cx});
      if (dxFirst > dxLast) continue;
      const int64_t lastA = std::max(-dxFirst, dxLast);
      // r = trunc(sqrt(a^2 + b^2)) grows by at most one from a to a + 1.
      uint64_t r = static_cast<uint64_t>(b);
      const double bd = static_cast<double>(b);
      for (int64_t a = 0; a <= lastA; ++a) {
        const uint64_t n = static_cast<uint64_t>(a) * static_cast<uint64_t>(a) + b2;
        if ((r + 1) * (r + 1) <= n) ++r;
        double q = 0.0, p = 0.0;  // the centre shows itself
        if (r > 0) {
          const auto ri = static_cast<int64_t>(r);
          const int64_t s =
              !distance.empty() ? distance[ri] : LensSourceDistance(ri, radius, divisor);
          // s * dx / r and s * dy / r are real quotients, added to the centre and truncated.
          const double sd = static_cast<double>(s);
          const double rd = static_cast<double>(ri);
          q = sd * static_cast<double>(a) / rd;
          p = sd * bd / rd;
        }
        LensColumn& c = columns[a];
        c.right = columnOffset(static_cast<int64_t>(centreX + q));
        c.left = columnOffset(static_cast<int64_t>(centreX + -q));
        c.below = sourceRow(static_cast<int64_t>(centreY + p));
        c.above = sourceRow(static_cast<int64_t>(centreY + -p));
        // The source is read along curves that cross many rows; its lines are asked for now,
        // a whole row's work before they are copied.
        if (c.right >= 0 && c.left >= 0 && c.below != nullptr && c.above != nullptr) {
          Prefetch(c.below + c.right);
          Prefetch(c.below + c.left);
          Prefetch(c.above + c.right);
          Prefetch(c.above + c.left);
        }
      }
      for (int pass = 0; pass < 2; ++pass) {
        const bool below = pass == 1;
        if (below ? !belowWritten : !aboveWritten) continue;
        uint8_t* out = StoredRow(dst, static_cast<int32_t>(below ? cy + b : cy - b));
        for (int64_t dx = dxFirst; dx <= std::min<int64_t>(dxLast, -1); ++dx) {
          const LensColumn& c = columns[-dx];
          copy(out + (cx + dx) * B, c.left, below ? c.below : c.above);
        }
        for (int64_t dx = std::max<int64_t>(dxFirst, 0); dx <= dxLast; ++dx) {
          const LensColumn& c = columns[dx];
          copy(out + (cx + dx) * B, c.right, below ? c.below : c.above);
        }
      }
    }
  });
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
  const Entry entry = Enter(src, dst, Door{Destination::SameType, &IsSupportedType});
  if (!entry) {
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
  WithPixelBytes(src->GetImageType(), [&](auto bytes) {
    MagnifyDisc<decltype(bytes)::value>(*src, *dst, cx, cy, radius, divisor);
  });
  return Status::Ok;
}

}  // namespace marlo

int32_t MARLO_STDCALL ConvexLens(Kasa* src, Kasa* dst, uint32_t cx, uint32_t cy, uint32_t radius,
                                 uint32_t magnific) {
  return marlo::Export(0,
                       [&] { return marlo::CConvexLens::Run(src, dst, cx, cy, radius, magnific); });
}
