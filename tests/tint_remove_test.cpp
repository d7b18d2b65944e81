// Colour tint removal: the spline curves against a plainly written three-knot spline, the
// reference neighbourhood, the decisions that change nothing, whole images of both types,
// progress, abort, the busy hook and the refusals.
#include <cmath>
#include <map>

#include "colour/tint_remove.h"
#include "test_support.h"

namespace {

using marlo::CColorTintRemove;
using marlo::test::CopyOf;
using marlo::test::PatternImage;
using marlo::test::SameBytes;

float Single(double d) {
  volatile float f = static_cast<float>(d);
  return f;
}

// The natural cubic spline through (0, 0), (p, q), (F, F), written out for three knots.
// `singleValues` false keeps each interpolated value in double (to show that the rounding of
// the value to single precision decides entries).
// `singleSystem` false keeps the slopes and the second derivative in double.
std::vector<int32_t> RefSpline(int32_t p, int32_t q, int32_t F, bool singleValues = true,
                               bool singleSystem = true) {
  auto keep = [&](double d) { return singleSystem ? static_cast<double>(Single(d)) : d; };
  const double h0 = p, h1 = F - p;
  const double s0 = keep(q / h0);
  const double s1 = keep((F - q) / h1);
  const double rhs = keep(6.0 * (s1 - s0));
  const double diag = keep(3 * h0 + 2 * h1);
  const double m1 = keep(rhs / diag);
  std::vector<int32_t> t(F + 1);
  for (int32_t v = 0; v < F; ++v) {
    if (v == 0 || v == p) {
      t[v] = v == 0 ? 0 : q;
      continue;
    }
    double x0, x1, y0, y1, mk0, mk1, h;
    if (v < p) {
      x0 = 0, x1 = p, y0 = 0, y1 = q, mk0 = 0, mk1 = m1, h = h0;
    } else {
      x0 = p, x1 = F, y0 = q, y1 = F, mk0 = m1, mk1 = 0, h = h1;
    }
    const double a = (x1 - v) / h, b = (v - x0) / h;
    double value =
        ((b * b - 1) * (v - x0) * mk1 + (a * a - 1) * (x1 - v) * mk0) * h * 0.16666666666666666 +
        y0 * a + y1 * b;
    if (singleValues) value = Single(value);
    t[v] = value < 0 ? 0 : (value > F ? F : static_cast<int32_t>(value));
  }
  t[F] = F;
  return t;
}

std::vector<int32_t> Curve8(int32_t p, int32_t q) {
  marlo::CurveDefinition8 def{};
  for (int c = 0; c < 3; ++c) {
    def.count[c] = 3;
    def.position[c][0] = 0;
    def.position[c][1] = static_cast<uint8_t>(p);
    def.position[c][2] = 255;
    def.value[c][0] = 0;
    def.value[c][1] = static_cast<uint8_t>(q);
    def.value[c][2] = 255;
  }
  def.position[1][1] = 1;  // other channels hold other knots: only `channel` may be used
  std::vector<uint8_t> t(256, 7);
  CColorTintRemove::BuildCurve8(t.data(), def, 2);
  return std::vector<int32_t>(t.begin(), t.end());
}

std::vector<int32_t> Curve16(int32_t p, int32_t q) {
  marlo::CurveDefinition16 def{};
  def.count[0] = 3;
  def.position[0][1] = static_cast<uint16_t>(p);
  def.position[0][2] = 65535;
  def.value[0][1] = static_cast<uint16_t>(q);
  def.value[0][2] = 65535;
  std::vector<uint16_t> t(65536, 7);
  CColorTintRemove::BuildCurve16(t.data(), def, 0);
  return std::vector<int32_t>(t.begin(), t.end());
}

TEST(TintSpline8, WorkedTables) {
  // Reference averages red 100, green 110, blue 120, grey value 110.
  const auto red = Curve8(100, 110);
  EXPECT_EQ(56, red[50]);
  EXPECT_EQ(110, red[100]);
  EXPECT_EQ(205, red[200]);
  const auto blue = Curve8(120, 110);
  EXPECT_EQ(53, blue[60]);
  EXPECT_EQ(110, blue[120]);
  EXPECT_EQ(194, blue[200]);
  const auto green = Curve8(110, 110);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(i, green[i]);
  for (const auto* t : {&red, &blue}) {
    EXPECT_EQ(0, (*t)[0]);
    EXPECT_EQ(255, (*t)[255]);
  }
  // The identity depends on rounding each value to single precision: in double, some entries
  // fall just below their integer.
  EXPECT_NE(green, RefSpline(110, 110, 255, false));
}

TEST(TintSpline8, MatchesTheSplineForManyKnots) {
  for (int32_t p = 1; p <= 254; p += 3) {
    for (int32_t q : {1, p / 2 + 1, p, (p + 255) / 2, 254}) {
      ASSERT_EQ(RefSpline(p, q, 255), Curve8(p, q)) << p << " " << q;
    }
  }
}

// Slopes and the second derivative held in single precision decide a few tables.
TEST(TintSpline8, SinglePrecisionSystemIsTelling) {
  int telling = 0;
  for (int32_t p = 5; p < 255; ++p) {
    for (int32_t q = 5; q < 255; ++q) {
      const auto literal = RefSpline(p, q, 255);
      if (literal != RefSpline(p, q, 255, true, false)) {
        ++telling;
        ASSERT_EQ(literal, Curve8(p, q)) << p << " " << q;
      }
    }
  }
  EXPECT_GT(telling, 0);
}

TEST(TintSpline16, MatchesTheSpline) {
  for (auto pq : {std::pair<int32_t, int32_t>{25700, 28270},
                  {28270, 28270},
                  {30840, 28270},
                  {1280, 1500},
                  {60000, 58000},
                  {33333, 33000}}) {
    ASSERT_EQ(RefSpline(pq.first, pq.second, 65535), Curve16(pq.first, pq.second))
        << pq.first << " " << pq.second;
  }
  const auto identity = Curve16(28270, 28270);
  for (int32_t i = 0; i <= 65535; ++i) ASSERT_EQ(i, identity[i]);
}

TEST(TintSpline8, UnusableDefinitionsLeaveTheIdentity) {
  marlo::CurveDefinition8 def{};
  std::vector<uint8_t> t(256, 7);
  def.count[0] = 3;
  def.position[0][1] = 0;  // not increasing
  def.position[0][2] = 255;
  def.value[0][1] = 30;
  CColorTintRemove::BuildCurve8(t.data(), def, 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(i, t[i]);
  def.count[0] = 4;
  CColorTintRemove::BuildCurve8(t.data(), def, 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(i, t[i]);
  CColorTintRemove::BuildCurve8(t.data(), def, 3);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(i, t[i]);
  // Two knots: the straight line.
  def.count[0] = 2;
  def.position[0][0] = 0;
  def.position[0][1] = 255;
  def.value[0][0] = 100;
  def.value[0][1] = 200;
  CColorTintRemove::BuildCurve8(t.data(), def, 0);
  for (int i = 0; i < 255; ++i) {
    ASSERT_EQ(static_cast<int>(Single(100.0 * (255 - i) / 255.0 + 200.0 * i / 255.0)), t[i]);
  }
  EXPECT_EQ(255, t[255]);
}

// ---------------------------------------------------------------------------------------------
// Whole images.

struct Rgb {
  int32_t r, g, b;
};

void SetRgb(Kasa& image, int32_t x, int32_t y, Rgb c) {
  marlo::test::SetSample(image, x, y, 0, static_cast<uint32_t>(c.b));
  marlo::test::SetSample(image, x, y, 1, static_cast<uint32_t>(c.g));
  marlo::test::SetSample(image, x, y, 2, static_cast<uint32_t>(c.r));
}

Rgb GetRgb(const Kasa& image, int32_t x, int32_t y) {
  return {static_cast<int32_t>(marlo::test::Sample(image, x, y, 2)),
          static_cast<int32_t>(marlo::test::Sample(image, x, y, 1)),
          static_cast<int32_t>(marlo::test::Sample(image, x, y, 0))};
}

// Mean of the 3 x 3 window around (x, y), clipped to the image.
Rgb WindowMean(const Kasa& image, int32_t x, int32_t y) {
  int64_t sum[3] = {0, 0, 0};
  int32_t n = 0;
  for (int32_t yy = y - 1; yy <= y + 1; ++yy) {
    for (int32_t xx = x - 1; xx <= x + 1; ++xx) {
      if (xx < 0 || yy < 0 || xx >= image.GetImageWidth() || yy >= image.GetImageHeight()) {
        continue;
      }
      const Rgb c = GetRgb(image, xx, yy);
      sum[0] += c.r, sum[1] += c.g, sum[2] += c.b;
      ++n;
    }
  }
  return {static_cast<int32_t>(sum[0] / n), static_cast<int32_t>(sum[1] / n),
          static_cast<int32_t>(sum[2] / n)};
}

// Paints the window around (x, y) with colours varying around `centre` by up to +-2 per
// channel in 8-bit units (scaled for 16-bit images, with differing low bytes).
void PaintWindow(Kasa& image, int32_t x, int32_t y, Rgb centre) {
  const bool wide = image.GetBitCount() == 48;
  int k = 0;
  for (int32_t yy = y - 1; yy <= y + 1; ++yy) {
    for (int32_t xx = x - 1; xx <= x + 1; ++xx, ++k) {
      if (xx < 0 || yy < 0 || xx >= image.GetImageWidth() || yy >= image.GetImageHeight()) {
        continue;
      }
      const int32_t d = (k % 5) - 2;
      Rgb c{centre.r + d, centre.g - d, centre.b + (k % 3) - 1};
      if (wide) c = {c.r * 257 + 3 * k, c.g * 257 + 5 * k, c.b * 257 + 7 * k};
      SetRgb(image, xx, yy, c);
    }
  }
}

// The grey value of a reference colour and its saturation, from the colour model's rules
// (lightness (max + min + 1) / 2; saturation over the sum or over 2F - sum above the middle).
struct Decision {
  bool change;
  int32_t grey;
};

Decision Decide(Rgb a, bool wide) {
  const int32_t F = wide ? 65535 : 255;
  const int32_t dark = wide ? 1280 : 5;
  if (a.r < dark || a.g < dark || a.b < dark) return {false, 0};
  const int32_t mx = std::max(a.r, std::max(a.g, a.b)), mn = std::min(a.r, std::min(a.g, a.b));
  const int32_t l = (mx + mn + 1) / 2;
  if (mx == mn) return {false, 0};
  const int32_t s = (mx - mn) * 100 / (l > (F + 1) / 2 ? 2 * F - mx - mn : mx + mn);
  if (s > 25) return {false, 0};
  for (int32_t v : {a.r, a.g, a.b}) {
    if (std::abs(v - l) > v * 30 / 100) return {false, 0};
  }
  return {true, l};
}

void ExpectCorrected(const Kasa& in, const Kasa& out, Rgb a, int32_t grey) {
  const bool wide = in.GetBitCount() == 48;
  const int32_t F = wide ? 65535 : 255;
  const std::vector<int32_t> curves[3] = {RefSpline(a.b, grey, F), RefSpline(a.g, grey, F),
                                          RefSpline(a.r, grey, F)};  // stored blue, green, red
  for (int32_t y = 0; y < in.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < in.GetImageWidth(); ++x) {
      for (int k = 0; k < 3; ++k) {
        const uint32_t v = marlo::test::Sample(in, x, y, k);
        ASSERT_EQ(static_cast<uint32_t>(curves[k][v]), marlo::test::Sample(out, x, y, k))
            << "x " << x << " y " << y << " sample " << k;
      }
    }
  }
}

TEST(ColorTintRemove, WholeImagesOfBothTypesShapesAndPoints) {
  struct Case {
    int32_t w, h, x, y;
  };
  const Case cases[] = {{7, 5, 3, 2}, {7, 5, 0, 0}, {7, 5, 6, 4}, {7, 5, 0, 2}, {7, 5, 3, 4},
                        {1, 1, 0, 0}, {2, 2, 1, 0}, {1, 4, 0, 2}, {5, 1, 4, 0}, {3, 2, 1, 1}};
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    const bool wide = type == ImageType::Rgb48;
    for (const Case& c : cases) {
      auto src = PatternImage(type, c.w, c.h, 31);
      PaintWindow(*src, c.x, c.y, {100, 110, 120});
      const Rgb a = WindowMean(*src, c.x, c.y);
      const Decision d = Decide(a, wide);
      ASSERT_TRUE(d.change) << c.w << "x" << c.h;
      auto before = CopyOf(*src);
      Kasa dst;  // created by the filter
      EXPECT_EQ(1, ColorTintRemove(src.get(), &dst, c.x, c.y, nullptr, 0, 100));
      EXPECT_TRUE(SameBytes(*before, *src));
      ExpectCorrected(*src, dst, a, d.grey);
      // In place.
      EXPECT_EQ(1, ColorTintRemove(src.get(), src.get(), c.x, c.y, nullptr, 0, 100));
      ExpectCorrected(*before, *src, a, d.grey);
    }
  }
}

TEST(ColorTintRemove, WorkedReferenceAndSaturation) {
  // A uniform neighbourhood of (100, 110, 120): saturation 9, grey value 110.
  auto src = marlo::test::MakeImage(ImageType::Rgb24, 4, 4);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 4; ++x) SetRgb(*src, x, y, {100, 110, 120});
  }
  SetRgb(*src, 3, 3, {50, 110, 200});  // outside the window of (1, 1)
  CColorTintRemove filter;
  const int32_t x = 1, y = 1;
  filter.SetParameters(&x, &y);
  Kasa dst;
  EXPECT_EQ(marlo::Status::Ok, filter.Run(src.get(), &dst, nullptr, 0, 100));
  EXPECT_EQ(9, filter.ReferenceSaturation());
  EXPECT_EQ(56, filter.Table8(0)[50]);
  EXPECT_EQ(110, filter.Table8(1)[110]);
  EXPECT_EQ(53, filter.Table8(2)[60]);
  const Rgb out = GetRgb(dst, 3, 3);
  EXPECT_EQ(56, out.r);
  EXPECT_EQ(110, out.g);
  EXPECT_EQ(194, out.b);
  EXPECT_EQ(110, GetRgb(dst, 0, 0).r);
  EXPECT_EQ(110, GetRgb(dst, 0, 0).b);
}

TEST(ColorTintRemove, ReferencesThatChangeNothing) {
  struct Case {
    Rgb colour;
    bool wide;
    int32_t saturation;  // expected reference saturation, -1 when not reached
  };
  const Case cases[] = {
      {{100, 100, 100}, false, 0},       // grey
      {{200, 100, 100}, false, 47},      // too saturated
      {{4, 5, 6}, false, -1},            // too dark
      {{49, 30, 30}, false, 24},         // green 10 away from grey 40, more than 30 % of 30
      {{25700, 28270, 1279}, true, -1},  // 16-bit: 1279 is too dark
      {{30000, 30000, 30000}, true, 0}, {{51400, 25700, 25700}, true, 47},
  };
  for (const Case& c : cases) {
    const ImageType type = c.wide ? ImageType::Rgb48 : ImageType::Rgb24;
    auto src = marlo::test::MakeImage(type, 3, 3);
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < 3; ++x) SetRgb(*src, x, y, c.colour);
    }
    marlo::test::BusyRecorder busy;
    marlo::test::ProgressRecorder recorder;
    CColorTintRemove filter;
    const int32_t x = 1, y = 1;
    filter.SetParameters(&x, &y);
    Kasa created;
    EXPECT_EQ(marlo::Status::Ok,
              filter.Run(src.get(), &created, &marlo::test::ProgressRecorder::Callback, 3, 40));
    if (c.saturation >= 0) {
      EXPECT_EQ(c.saturation, filter.ReferenceSaturation());
    }
    // The destination was created and stays as the store created it (all zero).
    ASSERT_EQ(0, created.IsEmpty());
    auto zero = marlo::test::MakeImage(type, 3, 3);
    EXPECT_TRUE(SameBytes(*zero, created));
    // An existing destination is not written; only the opening report is made.
    auto dst = PatternImage(type, 3, 3, 4);
    auto dstBefore = CopyOf(*dst);
    EXPECT_EQ(1, ColorTintRemove(src.get(), dst.get(), 1, 1,
                                 &marlo::test::ProgressRecorder::Callback, 3, 40));
    EXPECT_TRUE(SameBytes(*dstBefore, *dst));
    EXPECT_EQ((std::vector<int32_t>{3, 3}), recorder.values());
    EXPECT_EQ((std::vector<int>{1, 0, 1, 0}), marlo::test::BusyRecorder::Calls());
  }
  // A mild cast passes the same tests.
  EXPECT_TRUE(Decide({100, 110, 120}, false).change);
  EXPECT_FALSE(Decide({49, 30, 30}, false).change);
}

TEST(ColorTintRemove, ProgressAfterEachRowAndAbortStillReturnsOne) {
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    auto src = PatternImage(type, 3, 50, 8);
    PaintWindow(*src, 1, 10, {90, 100, 95});
    auto full = PatternImage(type, 3, 50, 9);
    {
      marlo::test::ProgressRecorder recorder;
      EXPECT_EQ(1, ColorTintRemove(src.get(), full.get(), 1, 10,
                                   &marlo::test::ProgressRecorder::Callback, 0, 100));
      EXPECT_EQ(marlo::test::FiftyRowProgress(), recorder.values());
    }
    auto dst = PatternImage(type, 3, 50, 10);
    auto dstBefore = CopyOf(*dst);
    marlo::test::ProgressRecorder aborting(3);
    EXPECT_EQ(1, ColorTintRemove(src.get(), dst.get(), 1, 10,
                                 &marlo::test::ProgressRecorder::Callback, 0, 100));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 3}), aborting.values());
    const size_t bytes = 3u * 3u * (type == ImageType::Rgb48 ? 2u : 1u);  // a row's pixels
    for (int32_t y = 0; y < 50; ++y) {
      const Kasa& expected = y <= 1 ? *full : *dstBefore;
      ASSERT_EQ(0, std::memcmp(expected.RowData(y), dst->RowData(y), bytes)) << y;
    }
  }
}

TEST(ColorTintRemove, RefusalsCreateAndWriteNothing) {
  marlo::test::BusyRecorder busy;
  marlo::test::ProgressRecorder recorder;
  auto* cb = &marlo::test::ProgressRecorder::Callback;
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    auto src = PatternImage(type, 4, 3, 1);
    PaintWindow(*src, 1, 1, {100, 110, 120});
    // Reference points outside the image: refused before the destination is created.
    const int32_t points[][2] = {
        {-1, 0},       {0, -1}, {4, 0}, {0, 3}, {INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX},
        {INT32_MAX, 0}};
    for (const auto& p : points) {
      Kasa empty;
      EXPECT_EQ(0, ColorTintRemove(src.get(), &empty, p[0], p[1], cb, 0, 100));
      EXPECT_EQ(1, empty.IsEmpty());
      auto dst = PatternImage(type, 4, 3, 2);
      auto before = CopyOf(*dst);
      EXPECT_EQ(0, ColorTintRemove(src.get(), dst.get(), p[0], p[1], cb, 0, 100));
      EXPECT_TRUE(SameBytes(*before, *dst));
    }
    // Destinations of another size or type.
    const ImageType other = type == ImageType::Rgb24 ? ImageType::Rgb48 : ImageType::Rgb24;
    for (auto& d : {PatternImage(type, 5, 3, 3), PatternImage(other, 4, 3, 3)}) {
      auto before = CopyOf(*d);
      EXPECT_EQ(0, ColorTintRemove(src.get(), d.get(), 1, 1, cb, 0, 100));
      EXPECT_TRUE(SameBytes(*before, *d));
    }
    EXPECT_EQ(0, ColorTintRemove(src.get(), nullptr, 1, 1, cb, 0, 100));
  }
  Kasa empty, dst;
  EXPECT_EQ(0, ColorTintRemove(&empty, &dst, 0, 0, cb, 0, 100));
  EXPECT_EQ(0, ColorTintRemove(nullptr, &dst, 0, 0, cb, 0, 100));
  for (ImageType grey : {ImageType::Gray8, ImageType::Gray16}) {
    auto g = PatternImage(grey, 4, 3, 5);
    EXPECT_EQ(0, ColorTintRemove(g.get(), &dst, 1, 1, cb, 0, 100));
  }
  EXPECT_EQ(1, dst.IsEmpty());
  EXPECT_TRUE(recorder.calls().empty());
  EXPECT_TRUE(marlo::test::BusyRecorder::Calls().empty());
}

TEST(ColorTintRemove, WorkersRefuseAPointOutsideBeforeReporting) {
  marlo::test::ProgressRecorder recorder;
  auto src = PatternImage(ImageType::Rgb24, 3, 3, 1);
  auto src16 = PatternImage(ImageType::Rgb48, 3, 3, 1);
  CColorTintRemove filter;
  const int32_t x = 3, y = 0;
  filter.SetParameters(&x, &y);
  EXPECT_EQ(marlo::Status::Refused,
            filter.RemoveTint8(src.get(), src.get(), &recorder.Callback, 0, 9));
  EXPECT_EQ(marlo::Status::Refused,
            filter.RemoveTint16(src16.get(), src16.get(), &recorder.Callback, 0, 9));
  EXPECT_TRUE(recorder.calls().empty());
}

}  // namespace
