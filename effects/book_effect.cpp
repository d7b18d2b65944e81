// Book effect (BookEffect) on all four image types.
//
// The picture is redrawn in eight steps: the left and right pages curl horizontally (each
// destination column takes a source column nearer the outer edge), white side margins, a
// vertical squeeze that leaves a white band at the bottom, the top edges of both pages droop
// toward the outer corners, and each row of each page narrows toward the top in perspective.
// Each step reads only pixels that the same step has not written yet, so every step is a pure
// function of the one before it. That lets the whole chain be evaluated backwards, pixel by
// pixel: for each destination pixel the steps are undone from the last to the first until a
// source pixel (or white) is reached. The result is identical to running the steps one after
// another on the destination, but the picture is walked once, row by row.
//
// A position outside the image reads as all samples 0, as the image store returns there (the
// geometry never produces one; the check only keeps reads inside the image).
#include "effects/book_effect.h"

#include <cmath>
#include <vector>

#include "effects/whole_pixels.h"
#include "frame/entries.h"

namespace marlo {

namespace {

constexpr double kPi = 3.141592653;

// Truncation toward zero of a value known to lie well inside the 64-bit range.
int64_t Trunc(double v) {
  return static_cast<int64_t>(v);
}

// Where each step takes its pixels from, per column and per row.
struct BookMaps {
  // Columns F..W-F-1: the source column of the horizontal curl.
  std::vector<int64_t> sourceColumn;
  // Columns F..W-F-1: the droop d of the column and the lowest row that it shifts.
  std::vector<double> droop;
  std::vector<int64_t> lastShiftedRow;
  // Rows 0..H-S-1: the row that the vertical squeeze reads, trunc(y * r).
  std::vector<int64_t> squeezeRow;
};

BookMaps BuildMaps(const BookGeometry& g) {
  const int64_t W = g.width, H = g.height, F = g.margin, X = g.spine, S = g.droop;
  BookMaps m;
  const size_t columns = static_cast<size_t>(W);
  m.sourceColumn.assign(columns, 0);
  m.droop.assign(columns, 0.0);
  m.lastShiftedRow.assign(columns, 0);
  const double f = static_cast<double>(F);
  const double s = static_cast<double>(S);
  for (int64_t x = F; x < X; ++x) {
    // Left page: the angle runs from 0 at the outer edge toward a quarter turn at the spine.
    const double angle = static_cast<double>(x - F) * kPi / static_cast<double>(g.leftWidth) * 0.5;
    m.sourceColumn[x] = Trunc(static_cast<double>(x) - std::cos(angle) * f);
    m.droop[x] = s - std::sin(angle) * s;
  }
  for (int64_t x = X; x < W - F; ++x) {
    // Right page: from 0 at the spine toward a quarter turn at the outer edge.
    const double angle = static_cast<double>(x - X) * kPi / static_cast<double>(g.rightWidth) * 0.5;
    m.sourceColumn[x] = Trunc(std::sin(angle) * f + static_cast<double>(x));
    m.droop[x] = s - std::cos(angle) * s;
  }
  for (int64_t x = F; x < W - F; ++x) {
    m.lastShiftedRow[x] = Trunc(static_cast<double>(H - S) + m.droop[x] - 1.0);
  }
  // The squeeze ratio is a real division.
  const double r = static_cast<double>(H) / static_cast<double>(H - S);
  m.squeezeRow.resize(static_cast<size_t>(H - S));
  for (int64_t y = 0; y < H - S; ++y) m.squeezeRow[y] = Trunc(static_cast<double>(y) * r);
  return m;
}

template <class P>
class BookRedraw {
 public:
  using Sample = typename P::Sample;

  BookRedraw(const BookGeometry& g, const BookMaps& maps, const RowBlock<P>& source)
      : g_(g), maps_(maps), source_(source) {}

  // The pixel that the droop steps leave at (x, y): undoes the droop, then the squeeze and
  // the bottom band, then the curl and the margins.
  void AfterDroop(int64_t x, int64_t y, Sample* out) const {
    const int64_t W = g_.width, H = g_.height, F = g_.margin, S = g_.droop;
    if (x < 0 || x >= W) return P::Black(out);
    if (x < F || x >= W - F) return P::White(out);  // the margins stay white
    int64_t row = y;
    if (y <= maps_.lastShiftedRow[x]) {
      const double d = maps_.droop[x];
      if (static_cast<double>(y) < d) return P::White(out);  // above the drooping edge
      row = Trunc(static_cast<double>(y) - d);
    }
    if (row >= H - S) return P::White(out);  // the bottom band
    const int64_t sourceRow = maps_.squeezeRow[row];
    if (sourceRow >= H) return P::Black(out);
    P::Copy(out, source_.At(maps_.sourceColumn[x], sourceRow));
  }

  // Row y of the finished picture: the perspective step undone, then AfterDroop.
  void Row(int64_t y, Sample* out) const {
    const int64_t W = g_.width, H = g_.height, F = g_.margin, X = g_.spine;
    // Left page: inset e = PL * (H - y) / H, the product an integer, the division real.
    double leftScale = 1.0, leftLimit = static_cast<double>(F);
    if (g_.leftWidth > 0) {
      const double e = static_cast<double>(g_.leftInset * (H - y)) / static_cast<double>(H);
      const double lw = static_cast<double>(g_.leftWidth);
      leftScale = lw / (lw - e);
      leftLimit = static_cast<double>(F) + e;
    }
    // Right page: the shift runs while x < limit, then white from trunc(limit) on.
    double rightScale = 1.0;
    int64_t rightWhiteFrom = W - F;
    if (g_.rightWidth > 0) {
      const double e = static_cast<double>(g_.rightInset * (H - y)) / static_cast<double>(H);
      const double rw = static_cast<double>(g_.rightWidth);
      rightScale = rw / (rw - e);
      rightWhiteFrom = Trunc(static_cast<double>(W - F) - e);
    }
    for (int64_t x = 0; x < W; ++x) {
      Sample* p = out + x * P::kSamples;
      if (x < F || x >= W - F) {
        P::White(p);
      } else if (x < X) {
        if (static_cast<double>(x) >= leftLimit) {
          const int64_t from =
              Trunc(static_cast<double>(X) - static_cast<double>(X - x) * leftScale);
          AfterDroop(from, y, p);
        } else {
          P::White(p);
        }
      } else if (x < rightWhiteFrom) {
        const int64_t from =
            Trunc(static_cast<double>(x - X) * rightScale + static_cast<double>(X));
        AfterDroop(from, y, p);
      } else {
        P::White(p);
      }
    }
  }

 private:
  const BookGeometry& g_;
  const BookMaps& maps_;
  const RowBlock<P>& source_;
};

template <class P>
void RedrawBook(Kasa& src, Kasa& dst, const BookGeometry& g) {
  using D = typename P::Depth;
  // Everything is allocated and the source is read before the first write.
  const BookMaps maps = BuildMaps(g);
  const RowBlock<P> source(src, 0, static_cast<int32_t>(g.height - 1));
  std::vector<typename P::Sample> row = AllocateRow<D>(dst);
  BookRedraw<P> redraw(g, maps, source);
  for (int32_t y = 0; y < g.height; ++y) {
    ReadRow<D>(dst, y, row.data());  // keeps the padding at the end of 16-bit rows
    redraw.Row(y, row.data());
    WriteRow<D>(dst, y, row.data());
  }
}

}  // namespace

// The quantities are kept in 64-bit integers. For pictures up to 65535 pixels wide and high they
// all fit in 16 bits, so they equal the 16-bit values the geometry is defined with; wider
// pictures would wrap in 16 bits, which gives no meaningful geometry.
BookGeometry ComputeBookGeometry(int32_t width, int32_t height, uint16_t axis, uint16_t folding,
                                 uint16_t slanting) {
  BookGeometry g{};
  g.width = width;
  g.height = height;
  g.margin = ((g.width / 2 - 20) * folding) / 100;
  g.spine = ((g.width - 2 * g.margin) * axis) / 100 + g.margin;
  g.droop = (slanting * (g.height - 20)) / 100;
  g.leftWidth = g.spine - g.margin;
  g.rightWidth = g.width - g.spine - g.margin;
  // A page narrower than 20 columns would get a negative inset: it gets none.
  g.leftInset = ((g.leftWidth - 20) * g.droop) / (g.height - 20);
  if (g.leftInset < 0) g.leftInset = 0;
  g.rightInset = ((g.rightWidth - 20) * g.droop) / (g.height - 20);
  if (g.rightInset < 0) g.rightInset = 0;
  return g;
}

Status CBookEffect::Run(Kasa* src, Kasa* dst, uint16_t axis, uint16_t folding, uint16_t slanting) {
  // The destination must hold a picture of the source's type and size: every pixel of it is
  // written, as whole pixels of the source's layout.
  if (src == nullptr || dst == nullptr || src->IsEmpty() || dst->IsEmpty() ||
      !IsSupportedType(src->GetImageType()) || !SameGeometry(*src, *dst) ||
      src->GetImageWidth() < kBookMinWidth || src->GetImageHeight() < kBookMinHeight) {
    ShowMessage(kBookImageError);
    return Status::Refused;
  }
  if (axis > 100) {
    ShowMessage(kBookAxisError);
    return Status::Refused;
  }
  if (folding > 100) {
    ShowMessage(kBookFoldingError);
    return Status::Refused;
  }
  if (slanting > 100) {
    ShowMessage(kBookSlantingError);
    return Status::Refused;
  }
  const BookGeometry g =
      ComputeBookGeometry(src->GetImageWidth(), src->GetImageHeight(), axis, folding, slanting);
  WithPixelFormat(src->GetImageType(),
                  [&](auto format) { RedrawBook<decltype(format)>(*src, *dst, g); });
  return Status::Ok;
}

namespace entry {

int32_t BookEffect(Kasa* src, Kasa* dst, uint32_t axis, uint32_t folding, uint32_t slanting) {
  // Each percentage is the low 16 bits of its argument.
  return CBookEffect::Run(src, dst, static_cast<uint16_t>(axis & 0xFFFFu),
                          static_cast<uint16_t>(folding & 0xFFFFu),
                          static_cast<uint16_t>(slanting & 0xFFFFu)) == Status::Ok
             ? 1
             : 0;
}

}  // namespace entry

}  // namespace marlo
