// Colour tint addition: the exponent tables, the curves, the hue/saturation conversion, whole
// images of both types against a plainly written reference, progress, abort and the refusals.
#include <cmath>
#include <map>

#include "colour/tint_add.h"
#include "test_support.h"

namespace {

using marlo::Depth16;
using marlo::Depth8;
using marlo::test::CopyOf;
using marlo::test::PatternImage;
using marlo::test::SameBytes;

// The curve of one percentage written out directly, in extended precision.
std::vector<int32_t> RefCurve(int32_t percent, int32_t F) {
  std::vector<int32_t> t(F + 1);
  for (int32_t v = 0; v <= F; ++v) t[v] = v;
  if (percent == 0) return t;
  const long double gamma =
      (percent > 0 ? marlo::TintGammaUp[percent] : marlo::TintGammaDown[-percent]) / 100.0L;
  for (int32_t v = 1; v < F; ++v) {
    const long double r = F * std::pow(static_cast<long double>(v) / F, 1.0L / gamma) + 0.5L;
    t[v] = r > F ? F : static_cast<int32_t>(r);
  }
  return t;
}

std::vector<int32_t> Curve8(int32_t percent) {
  std::vector<uint8_t> t(256);
  marlo::BuildTintCurve<Depth8>(percent, t.data());
  return std::vector<int32_t>(t.begin(), t.end());
}

std::vector<int32_t> Curve16(int32_t percent) {
  std::vector<uint16_t> t(65536);
  marlo::BuildTintCurve<Depth16>(percent, t.data());
  return std::vector<int32_t>(t.begin(), t.end());
}

TEST(TintGamma, TablesAsPrinted) {
  for (int i = 0; i <= 100; ++i) {
    EXPECT_EQ(std::lround(100.0 * std::pow(2.0, i / 100.0)), marlo::TintGammaUp[i]) << i;
  }
  EXPECT_EQ(100, marlo::TintGammaUp[0]);
  EXPECT_EQ(141, marlo::TintGammaUp[50]);
  EXPECT_EQ(200, marlo::TintGammaUp[100]);
  // The negative table does not follow a formula: spot values from each printed row.
  const int down[][2] = {{0, 100}, {1, 100}, {2, 99},  {9, 94},  {10, 93}, {17, 89},
                         {19, 88}, {27, 83}, {29, 82}, {30, 81}, {48, 72}, {49, 71},
                         {50, 71}, {51, 71}, {69, 62}, {70, 62}, {71, 62}, {80, 57},
                         {83, 57}, {90, 54}, {91, 54}, {96, 51}, {99, 51}, {100, 50}};
  for (const auto& d : down) EXPECT_EQ(d[1], marlo::TintGammaDown[d[0]]) << d[0];
  for (int i = 1; i <= 100; ++i) {
    EXPECT_LE(marlo::TintGammaDown[i], marlo::TintGammaDown[i - 1]);
    EXPECT_GE(marlo::TintGammaUp[i], marlo::TintGammaUp[i - 1]);
  }
}

TEST(TintCurve, WorkedEightBitEntries) {
  auto t = Curve8(50);  // gamma 1.41
  EXPECT_EQ(5, t[1]);
  EXPECT_EQ(96, t[64]);
  EXPECT_EQ(156, t[128]);
  EXPECT_EQ(209, t[192]);
  EXPECT_EQ(254, t[254]);
  EXPECT_EQ(0, t[0]);
  EXPECT_EQ(255, t[255]);
  t = Curve8(-50);  // gamma 0.71
  EXPECT_EQ(0, t[1]);
  EXPECT_EQ(36, t[64]);
  EXPECT_EQ(97, t[128]);
  EXPECT_EQ(171, t[192]);
  EXPECT_EQ(0, t[0]);
  EXPECT_EQ(255, t[255]);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(i, Curve8(0)[i]);
}

// The double evaluation agrees with extended precision on every table, so "double or better"
// is one result.
TEST(TintCurve, MatchesTheFormulaForEveryPercentage) {
  for (int32_t p = -100; p <= 100; ++p) ASSERT_EQ(RefCurve(p, 255), Curve8(p)) << p;
  for (int32_t p : {-100, -77, -50, -13, -1, 0, 1, 9, 50, 64, 99, 100}) {
    ASSERT_EQ(RefCurve(p, 65535), Curve16(p)) << p;
  }
  const auto identity = Curve16(0);
  for (int32_t v = 0; v <= 65535; ++v) ASSERT_EQ(v, identity[v]);
}

// ---------------------------------------------------------------------------------------------
// Hue and saturation.

struct Tint {
  int32_t r, g, b;
  bool operator==(const Tint& o) const { return r == o.r && g == o.g && b == o.b; }
};

Tint ViaConverter(bool wide, int32_t hue, float s) {
  Tint t{-999, -999, -999};
  const int ok = wide ? marlo::HueSaturationToTint16(hue, s, &t.r, &t.g, &t.b)
                      : marlo::HueSaturationToTint8(hue, s, &t.r, &t.g, &t.b);
  EXPECT_EQ(1, ok);
  return t;
}

// The conversion written out directly.
Tint RefTint(bool wide, int32_t hue, float sat) {
  const double pi = 3.14159;
  const double scale = wide ? 32768 : 128;
  const double s = sat;
  const double th = hue * (pi / 180.0);
  const double third = (1 - s) / 3;
  double r, g, b;
  if (hue <= 120) {
    const double phi = th;
    r = (1 + s * std::cos(phi) / std::cos(pi / 3.0 - phi)) / 3;
    b = third;
    g = 1 - r - b;
  } else if (hue <= 240) {
    const double phi = th - 2.0 * pi / 3.0;
    g = (1 + s * std::cos(phi) / std::cos(pi / 3.0 - phi)) / 3;
    r = third;
    b = 1 - r - g;
  } else {
    const double phi = th - 4.0 * pi / 3.0;
    b = (1 + s * std::cos(phi) / std::cos(pi / 3.0 - phi)) / 3;
    g = third;
    r = 1 - g - b;
  }
  const double f[3] = {r, g, b};
  int32_t out[3];
  for (int c = 0; c < 3; ++c) {
    double v = std::floor(scale * f[c] * 3 + 0.5);
    if (v < 0) v = 0;
    if (v > 2 * scale - 1) v = 2 * scale - 1;
    const int32_t ci = static_cast<int32_t>(v);
    const int32_t half = static_cast<int32_t>(scale);
    out[c] = ci <= half ? 100 * (ci - half) / half : 100 * (ci - half) / (half - 1);
  }
  return {out[0], out[1], out[2]};
}

TEST(TintHueSaturation, WorkedValues) {
  EXPECT_EQ((Tint{100, -100, -100}), ViaConverter(false, 0, 1.0f));
  EXPECT_EQ((Tint{100, -100, -100}), ViaConverter(true, 0, 1.0f));
  int32_t c[3];
  ASSERT_TRUE(marlo::HueSaturationToChannels(60, 0.5f, 128, c));
  EXPECT_EQ(160, c[0]);
  EXPECT_EQ(160, c[1]);
  EXPECT_EQ(64, c[2]);
  EXPECT_EQ((Tint{25, 25, -50}), ViaConverter(false, 60, 0.5f));
  // Pure green and pure blue at full saturation.
  EXPECT_EQ((Tint{-100, 100, -100}), ViaConverter(false, 120, 1.0f));
  EXPECT_EQ((Tint{-100, -100, 100}), ViaConverter(false, 240, 1.0f));
  EXPECT_EQ((Tint{100, -100, -100}), ViaConverter(false, 360, 1.0f));
  for (int32_t hue = 0; hue <= 360; ++hue) {
    ASSERT_EQ((Tint{0, 0, 0}), ViaConverter(false, hue, 0.0f)) << hue;
    ASSERT_EQ((Tint{0, 0, 0}), ViaConverter(true, hue, 0.0f)) << hue;
    ASSERT_TRUE(marlo::HueSaturationToChannels(hue, 0.0f, 128, c));
    ASSERT_EQ(128, c[0]);
    ASSERT_TRUE(marlo::HueSaturationToChannels(hue, 0.0f, 32768, c));
    ASSERT_EQ(32768, c[2]);
  }
}

TEST(TintHueSaturation, MatchesTheFormula) {
  for (int32_t hue = 0; hue <= 360; hue += 7) {
    for (float s : {0.05f, 0.3f, 0.5f, 0.77f, 1.0f, 1.5f, -0.4f}) {
      ASSERT_EQ(RefTint(false, hue, s), ViaConverter(false, hue, s)) << hue << " " << s;
      ASSERT_EQ(RefTint(true, hue, s), ViaConverter(true, hue, s)) << hue << " " << s;
    }
  }
}

TEST(TintHueSaturation, RefusesHuesOutsideTheCircleAndNonNumbers) {
  for (int32_t hue : {-1, 361, INT32_MIN, INT32_MAX}) {
    Tint t{7, 8, 9};
    EXPECT_EQ(0, marlo::HueSaturationToTint8(hue, 0.5f, &t.r, &t.g, &t.b));
    EXPECT_EQ(0, marlo::HueSaturationToTint16(hue, 0.5f, &t.r, &t.g, &t.b));
    EXPECT_EQ((Tint{7, 8, 9}), t);
  }
  for (float s : {NAN, INFINITY, -INFINITY}) {
    Tint t{7, 8, 9};
    EXPECT_EQ(0, marlo::HueSaturationToTint8(30, s, &t.r, &t.g, &t.b));
    EXPECT_EQ((Tint{7, 8, 9}), t);
  }
  // Huge finite saturations clamp the channels instead.
  EXPECT_EQ((Tint{100, 100, -100}), ViaConverter(false, 60, 3e38f));
}

// ---------------------------------------------------------------------------------------------
// Whole images.

void ExpectTinted(const Kasa& in, const Kasa& out, const Tint& tint) {
  const bool wide = in.GetBitCount() == 48;
  const int32_t F = wide ? 65535 : 255;
  static std::map<std::pair<int32_t, int32_t>, std::vector<int32_t>> cache;
  auto curve = [&](int32_t p) -> const std::vector<int32_t>& {
    auto& c = cache[{p, F}];
    if (c.empty()) c = RefCurve(p, F);
    return c;
  };
  const std::vector<int32_t>* curves[3] = {&curve(tint.b), &curve(tint.g),
                                           &curve(tint.r)};  // stored blue, green, red
  for (int32_t y = 0; y < in.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < in.GetImageWidth(); ++x) {
      for (int k = 0; k < 3; ++k) {
        const uint32_t v = marlo::test::Sample(in, x, y, k);
        ASSERT_EQ(static_cast<uint32_t>((*curves[k])[v]), marlo::test::Sample(out, x, y, k))
            << "x " << x << " y " << y << " sample " << k;
      }
    }
  }
  // Raw rows: the padding is carried from the source.
  ASSERT_TRUE(marlo::test::SamePadding(in, out));
}

TEST(ColorTintAdd, WholeImagesOfBothTypesAndShapes) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 3}, {2, 2}, {5, 1}, {3, 4}};
  const Tint tint{40, -25, 7};
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    for (const auto& size : sizes) {
      auto src = PatternImage(type, size[0], size[1], 21);
      auto before = CopyOf(*src);
      auto dst = PatternImage(type, size[0], size[1], 22);
      EXPECT_EQ(1, ColorTintAddByRGB(src.get(), dst.get(), tint.r, tint.g, tint.b, nullptr, 0, 9));
      EXPECT_TRUE(SameBytes(*before, *src));
      ExpectTinted(*src, *dst, tint);

      // By hue and saturation: the converted tint.
      const Tint hs = RefTint(type == ImageType::Rgb48, 200, 0.35f);
      EXPECT_EQ(1, ColorTintAddByHS(src.get(), dst.get(), 200, 0.35f, nullptr, 0, 9));
      ExpectTinted(*src, *dst, hs);

      // In place.
      EXPECT_EQ(1, ColorTintAddByRGB(src.get(), src.get(), tint.r, tint.g, tint.b, nullptr, 0, 9));
      ExpectTinted(*before, *src, tint);
    }
  }
}

TEST(ColorTintAdd, ZeroTintCopiesTheSourceExactly) {
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    auto src = PatternImage(type, 5, 3, 1);
    auto dst = PatternImage(type, 5, 3, 2);
    EXPECT_EQ(1, ColorTintAddByRGB(src.get(), dst.get(), 0, 0, 0, nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*src, *dst));  // padding included
    auto dst2 = PatternImage(type, 5, 3, 3);
    EXPECT_EQ(1, ColorTintAddByHS(src.get(), dst2.get(), 123, 0.0f, nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*src, *dst2));
  }
}

TEST(ColorTintAdd, WorkedRedPixels) {
  auto src = marlo::test::MakeImage(ImageType::Rgb24, 5, 1);
  const uint32_t reds[] = {1, 64, 128, 192, 254};
  for (int32_t x = 0; x < 5; ++x) src->SetPixelRGB(x, 0, reds[x] << 16 | 0x00FF00);
  auto dst = marlo::test::MakeImage(ImageType::Rgb24, 5, 1);
  EXPECT_EQ(1, ColorTintAddByRGB(src.get(), dst.get(), 50, 0, 0, nullptr, 0, 100));
  const uint32_t expected[] = {5, 96, 156, 209, 254};
  for (int32_t x = 0; x < 5; ++x) {
    EXPECT_EQ(expected[x] << 16 | 0x00FF00, dst->GetPixelRGB(x, 0, nullptr));
  }
}

TEST(ColorTintAdd, ProgressAfterEachRowAndAbortReturnsZero) {
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    auto src = PatternImage(type, 3, 50, 8);
    auto full = PatternImage(type, 3, 50, 9);
    {
      marlo::test::ProgressRecorder recorder;
      EXPECT_EQ(1, ColorTintAddByRGB(src.get(), full.get(), 30, 0, -30,
                                     &marlo::test::ProgressRecorder::Callback, 0, 100));
      std::vector<int32_t> expected = {0};
      for (int32_t v = 1; v <= 99; v += 2) expected.push_back(v);
      expected.push_back(100);
      EXPECT_EQ(expected, recorder.values());
    }
    {
      marlo::test::ProgressRecorder recorder;
      Kasa& d = *full;
      EXPECT_EQ(1, ColorTintAddByHS(src.get(), &d, 10, 0.2f,
                                    &marlo::test::ProgressRecorder::Callback, 5, 5));
      EXPECT_EQ((std::vector<int32_t>{5}), recorder.values());  // start = end: one report
    }
    EXPECT_EQ(1, ColorTintAddByRGB(src.get(), full.get(), 30, 0, -30, nullptr, 0, 100));
    // Abort at the second per-row report (row 1): rows 0 and 1 written, the rest untouched.
    auto dst = PatternImage(type, 3, 50, 10);
    auto dstBefore = CopyOf(*dst);
    marlo::test::ProgressRecorder aborting(3);
    EXPECT_EQ(0, ColorTintAddByRGB(src.get(), dst.get(), 30, 0, -30,
                                   &marlo::test::ProgressRecorder::Callback, 0, 100));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 3}), aborting.values());
    const size_t bytes = static_cast<size_t>(dst->GetLineBytes());
    for (int32_t y = 0; y < 50; ++y) {
      const Kasa& expected = y <= 1 ? *full : *dstBefore;
      ASSERT_EQ(0, std::memcmp(expected.RowData(y), dst->RowData(y), bytes)) << y;
    }
  }
}

TEST(ColorTintAdd, RefusalsWriteNothingAndReportNothing) {
  marlo::test::ProgressRecorder recorder;
  auto* cb = &marlo::test::ProgressRecorder::Callback;
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    auto src = PatternImage(type, 4, 3, 1);
    auto dst = PatternImage(type, 4, 3, 2);
    auto dstBefore = CopyOf(*dst);
    // Percentages outside -100..100, including values that would wrap in 16 bits.
    for (int32_t bad : {101, -101, 65536 + 50, INT32_MIN, INT32_MAX}) {
      EXPECT_EQ(0, ColorTintAddByRGB(src.get(), dst.get(), bad, 0, 0, cb, 0, 100));
      EXPECT_EQ(0, ColorTintAddByRGB(src.get(), dst.get(), 0, bad, 0, cb, 0, 100));
      EXPECT_EQ(0, ColorTintAddByRGB(src.get(), dst.get(), 0, 0, bad, cb, 0, 100));
    }
    // Hues outside 0..360 and saturations that are not numbers.
    EXPECT_EQ(0, ColorTintAddByHS(src.get(), dst.get(), 361, 0.5f, cb, 0, 100));
    EXPECT_EQ(0, ColorTintAddByHS(src.get(), dst.get(), -1, 0.5f, cb, 0, 100));
    EXPECT_EQ(0, ColorTintAddByHS(src.get(), dst.get(), 10, NAN, cb, 0, 100));
    EXPECT_TRUE(SameBytes(*dstBefore, *dst));
    // Destinations that are empty or differ in type, width or height.
    Kasa empty;
    EXPECT_EQ(0, ColorTintAddByRGB(src.get(), &empty, 10, 0, 0, cb, 0, 100));
    EXPECT_EQ(0, ColorTintAddByHS(src.get(), &empty, 10, 0.5f, cb, 0, 100));
    EXPECT_EQ(1, empty.IsEmpty());
    const ImageType other = type == ImageType::Rgb24 ? ImageType::Rgb48 : ImageType::Rgb24;
    for (auto& d :
         {PatternImage(type, 5, 3, 3), PatternImage(type, 4, 2, 3), PatternImage(other, 4, 3, 3)}) {
      auto before = CopyOf(*d);
      EXPECT_EQ(0, ColorTintAddByRGB(src.get(), d.get(), 10, 0, 0, cb, 0, 100));
      EXPECT_EQ(0, ColorTintAddByHS(src.get(), d.get(), 10, 0.5f, cb, 0, 100));
      EXPECT_TRUE(SameBytes(*before, *d));
    }
    EXPECT_EQ(0, ColorTintAddByRGB(src.get(), nullptr, 10, 0, 0, cb, 0, 100));
    EXPECT_EQ(0, ColorTintAddByHS(src.get(), nullptr, 10, 0.5f, cb, 0, 100));
  }
  // Sources that are null, empty or grey.
  Kasa empty;
  auto dst = PatternImage(ImageType::Rgb24, 4, 3, 2);
  auto dstBefore = CopyOf(*dst);
  EXPECT_EQ(0, ColorTintAddByRGB(nullptr, dst.get(), 10, 0, 0, cb, 0, 100));
  EXPECT_EQ(0, ColorTintAddByHS(nullptr, dst.get(), 10, 0.5f, cb, 0, 100));
  EXPECT_EQ(0, ColorTintAddByRGB(&empty, dst.get(), 10, 0, 0, cb, 0, 100));
  for (ImageType grey : {ImageType::Gray8, ImageType::Gray16}) {
    auto g = PatternImage(grey, 4, 3, 5);
    auto d = PatternImage(grey, 4, 3, 6);
    auto before = CopyOf(*d);
    EXPECT_EQ(0, ColorTintAddByRGB(g.get(), d.get(), 10, 0, 0, cb, 0, 100));
    EXPECT_EQ(0, ColorTintAddByHS(g.get(), d.get(), 10, 0.5f, cb, 0, 100));
    EXPECT_TRUE(SameBytes(*before, *d));
  }
  EXPECT_TRUE(SameBytes(*dstBefore, *dst));
  EXPECT_TRUE(recorder.calls().empty());
}

TEST(ColorTintAdd, WorkersRefuseTheOtherWidth) {
  auto src24 = PatternImage(ImageType::Rgb24, 3, 3, 1);
  auto src48 = PatternImage(ImageType::Rgb48, 3, 3, 1);
  EXPECT_EQ(marlo::Status::Refused,
            marlo::AddColorTint16(src24.get(), src24.get(), 1, 1, 1, nullptr, 0, 100));
  EXPECT_EQ(marlo::Status::Refused,
            marlo::AddColorTint8(src48.get(), src48.get(), 1, 1, 1, nullptr, 0, 100));
}

}  // namespace
