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
// another on the destination, but the picture is walked once (in tiles, see RedrawBook).
//
// A position outside the image reads as all samples 0, as the image store returns there (the
// geometry never produces one; the check only keeps reads inside the image).
#include "effects/book_effect.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "effects/whole_pixels.h"
#include "frame/threads.h"

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

// What the droop and curl steps take for a destination column of a page (one per column).
struct BookColumn {
  double droop;          // d: the droop of the column
  int64_t lastShifted;   // the lowest row that the droop shifts
  int64_t sourceOffset;  // byte offset of the curl's source column in a row
};

// Redraws the picture with B bytes per pixel. For each destination pixel the steps are undone
// from the last to the first exactly as they are defined (see the top of this file):
//   perspective: from = trunc(X - (X - x) * scale) on the left page, trunc((x - X) * scale + X)
//                on the right; white outside the inset page;
//   margins:     white where from lies in a margin (black outside the picture: never reached);
//   droop:       row = trunc(y - d) for rows y <= lastShifted (white above the edge, y < d);
//   squeeze:     white for row >= H - S, else the source row trunc(row * r) of the curl's
//                source column.
// The per-row steps become one table of H + 1 row pointers indexed by the droop's row: the
// squeezed source rows, a white row for the bottom band and (at index H) for the part above
// the drooping edge, so that a page pixel is a few loads and one copy, without branches.
template <int B>
void RedrawBook(Kasa& src, Kasa& dst, const BookGeometry& g) {
  const int64_t W = g.width, H = g.height, F = g.margin, X = g.spine, S = g.droop;
  // Everything is allocated and the source is read before the first write.
  const BookMaps maps = BuildMaps(g);
  const SourceRows source(src, 0, static_cast<int32_t>(H - 1), &src == &dst);
  const size_t rowBytes = static_cast<size_t>(W) * B;
  const std::vector<uint8_t> whiteRow(rowBytes, 0xFF), blackRow(rowBytes, 0);
  std::vector<const uint8_t*> afterDroop(static_cast<size_t>(H) + 1, whiteRow.data());
  for (int64_t row = 0; row < H - S; ++row) {
    const int64_t sourceRow = maps.squeezeRow[row];
    afterDroop[row] = sourceRow < H ? source[sourceRow] : blackRow.data();
  }
  std::vector<BookColumn> columns(static_cast<size_t>(W));
  for (int64_t x = F; x < W - F; ++x) {
    columns[x] = BookColumn{maps.droop[x], maps.lastShiftedRow[x], maps.sourceColumn[x] * B};
  }

  // The perspective step of each row: the scale of each page, the first column of the left
  // page that is shifted (the columns before it are white) and the end of the right page's
  // shifted part (white from there on).
  struct RowPlan {
    double leftScale;
    double rightScale;
    int64_t leftStart;
    int64_t rightEnd;
  };
  std::vector<RowPlan> plans(static_cast<size_t>(H));
  for (int64_t y = 0; y < H; ++y) {
    RowPlan& p = plans[y];
    p = RowPlan{1.0, 1.0, X, X};
    // Left page: inset e = PL * (H - y) / H, the product an integer, the division real; the
    // shift runs from the first x >= F + e.
    if (g.leftWidth > 0) {
      const double e = static_cast<double>(g.leftInset * (H - y)) / static_cast<double>(H);
      const double lw = static_cast<double>(g.leftWidth);
      p.leftScale = lw / (lw - e);
      const double leftLimit = static_cast<double>(F) + e;
      // An integer x is >= leftLimit exactly when it is >= ceil(leftLimit), which is at least F.
      p.leftStart = std::min(X, std::max(F, Trunc(std::ceil(leftLimit))));
    }
    // Right page: the shift runs while x < limit, then white from trunc(limit) on.
    if (g.rightWidth > 0) {
      const double e = static_cast<double>(g.rightInset * (H - y)) / static_cast<double>(H);
      const double rw = static_cast<double>(g.rightWidth);
      p.rightScale = rw / (rw - e);
      p.rightEnd = std::max(X, std::min(Trunc(static_cast<double>(W - F) - e), W - F));
    }
  }

  constexpr int64_t kAhead = 8;
  // Copies the pixel that the droop steps leave at (from, y).
  // The drawing lambdas hold their values and table pointers by value, and each band draws with
  // its own copy of them: the pixel stores, through byte pointers, then cannot be taken to
  // change them, so they stay in registers.
  const RowPlan* const planAt = plans.data();
  const BookColumn* const columnAt = columns.data();
  const uint8_t* const* const rowAt = afterDroop.data();
  auto copyAfterPerspective = [=](int64_t from, int64_t y, uint8_t* out) {
    if (from < F || from >= W - F) {
      std::memset(out, from < 0 || from >= W ? 0 : 0xFF, B);  // margins are white
      return;
    }
    const BookColumn& c = columnAt[from];
    const double yd = static_cast<double>(y);
    const int64_t dropped = Trunc(yd - c.droop);
    const int64_t shifted = yd < c.droop ? H : dropped;  // H: the white above the edge
    const int64_t row = y <= c.lastShifted ? shifted : y;
    std::memcpy(out, rowAt[row] + c.sourceOffset, B);
    // The rows of a tile are drawn top to bottom, so the row this column reads a few rows
    // further down is asked for now (the hardware does not follow reads that jump across rows).
    Prefetch(rowAt[std::min(row + kAhead, H)] + c.sourceOffset);
  };

  // Columns x0..x1-1 of row y: white up to the left page's shifted part, the left page, the
  // right page, white after it (the margins included).
  auto drawSpan = [=](int64_t y, int64_t x0, int64_t x1, uint8_t* out) {
    const RowPlan& p = planAt[y];
    int64_t x = x0;
    for (const int64_t stop = std::min(x1, p.leftStart); x < stop; ++x) {
      std::memset(out + x * B, 0xFF, B);
    }
    for (const int64_t stop = std::min(x1, X); x < stop; ++x) {
      const int64_t from = Trunc(static_cast<double>(X) - static_cast<double>(X - x) * p.leftScale);
      copyAfterPerspective(from, y, out + x * B);
    }
    for (const int64_t stop = std::min(x1, p.rightEnd); x < stop; ++x) {
      const int64_t from =
          Trunc(static_cast<double>(x - X) * p.rightScale + static_cast<double>(X));
      copyAfterPerspective(from, y, out + x * B);
    }
    for (; x < x1; ++x) std::memset(out + x * B, 0xFF, B);
  };

  // The droop reads the source along curves that cross many rows within a few columns, so
  // the picture is drawn in tiles: a band of rows, a few columns at a time, keeping the
  // source lines a tile reads in the cache while the neighbouring rows of the band use them.
  // Every row is written only from the source (or its copy): the rows split into bands over
  // the run's threads, each drawn in tiles.
  constexpr int64_t kTileRows = 32;
  constexpr int64_t kTileColumns = 384 / B;  // 384 bytes of each row
  const RowBands bands(static_cast<int32_t>(H), 2 * rowBytes);
  bands.Run(nullptr, [&](Band& band) {
    const auto draw = drawSpan;
    for (int64_t y0 = band.first(); y0 < band.end(); y0 += kTileRows) {
      const int64_t y1 = std::min<int64_t>(band.end(), y0 + kTileRows);
      for (int64_t x0 = 0; x0 < W; x0 += kTileColumns) {
        const int64_t x1 = std::min(W, x0 + kTileColumns);
        for (int64_t y = y0; y < y1; ++y) draw(y, x0, x1, StoredRow(dst, static_cast<int32_t>(y)));
      }
    }
  });
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
  const Entry entry = Enter(src, dst, Door{Destination::SameAsSource, &IsSupportedType});
  if (!entry || src->GetImageWidth() < kBookMinWidth || src->GetImageHeight() < kBookMinHeight) {
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
  WithPixelBytes(src->GetImageType(),
                 [&](auto bytes) { RedrawBook<decltype(bytes)::value>(*src, *dst, g); });
  return Status::Ok;
}

}  // namespace marlo

int32_t MARLO_STDCALL BookEffect(Kasa* src, Kasa* dst, uint32_t axis, uint32_t folding,
                                 uint32_t slanting) {
  // Each percentage is the low 16 bits of its argument.
  return marlo::Export(0, [&] {
    return marlo::CBookEffect::Run(src, dst, static_cast<uint16_t>(axis & 0xFFFFu),
                                   static_cast<uint16_t>(folding & 0xFFFFu),
                                   static_cast<uint16_t>(slanting & 0xFFFFu));
  });
}
