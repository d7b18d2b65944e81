// Focus in circle: the worked samples, the box and distance rules, whole images of every type
// against a literal pixel-by-pixel version through the store's pixel operations (separate and
// in place), huge radii and far centres, progress, abort and refusals.
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <vector>

#include "detail/focus_circle.h"
#include "test_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::MakeImage;
using marlo::test::PatternImage;
using marlo::test::ProgressRecorder;
using marlo::test::SameBytes;
using marlo::test::Sample;
using marlo::test::SetSample;

// Reads the channels of a pixel as the filter is defined to: GetPixel for 8-bit images and
// 16-bit grey, GetPixelRGB with a result pointer for 48-bit RGB.
int ReadPixel(Kasa& image, int32_t x, int32_t y, int64_t c[3]) {
  switch (static_cast<ImageType>(image.GetImageType())) {
    case ImageType::Rgb24: {
      const uint32_t v = image.GetPixel(x, y, nullptr);
      for (int k = 0; k < 3; ++k) c[k] = (v >> (8 * k)) & 0xFF;
      return 3;
    }
    case ImageType::Gray8:
      c[0] = image.GetPixel(x, y, nullptr) & 0xFF;
      return 1;
    case ImageType::Rgb48: {
      int64_t v = 0;
      image.GetPixelRGB(x, y, &v);
      for (int k = 0; k < 3; ++k) c[k] = (v >> (16 * k)) & 0xFFFF;  // red, green, blue
      return 3;
    }
    case ImageType::Gray16:
      c[0] = image.GetPixel(x, y, nullptr) & 0xFFFF;
      return 1;
  }
  return 0;
}

void WritePixel(Kasa& image, int32_t x, int32_t y, const int64_t c[3]) {
  switch (static_cast<ImageType>(image.GetImageType())) {
    case ImageType::Rgb24:
      image.SetPixel(x, y, c[2] << 16 | c[1] << 8 | c[0]);
      break;
    case ImageType::Gray8:
      image.SetPixel(x, y, c[0]);
      break;
    case ImageType::Rgb48: {
      // One raw pixel: blue, green, red, each most significant byte first.
      uint8_t line[6];
      for (int s = 0; s < 3; ++s) {
        const int64_t v = c[2 - s];
        line[2 * s] = static_cast<uint8_t>(v >> 8);
        line[2 * s + 1] = static_cast<uint8_t>(v & 0xFF);
      }
      image.PutHorLine(x, x, y, line);
      break;
    }
    case ImageType::Gray16: {
      uint8_t line[2] = {static_cast<uint8_t>(c[0] >> 8), static_cast<uint8_t>(c[0] & 0xFF)};
      image.PutHorLine(x, x, y, line);
      break;
    }
  }
}

// The filter as written: box, rows and columns inside its frame, the rounded distance, the
// averaged Laplacian and the gain, one pixel at a time. `work` is the source itself (in place)
// or a copy of it that receives the results.
void LiteralFocusCircle(Kasa& src, Kasa& work, int32_t cx, int32_t cy, int32_t radius,
                        int32_t strength) {
  const float gain = static_cast<float>(strength * 0.01);
  const bool wide = src.GetBitCount() == 16 || src.GetBitCount() == 48;
  const double max = wide ? 65535.0 : 255.0;
  int64_t x0 = static_cast<int64_t>(cx) - radius, y0 = static_cast<int64_t>(cy) - radius;
  int64_t bw = 2 * static_cast<int64_t>(radius) + 1, bh = bw;
  if (x0 < 0) bw -= -x0, x0 = 0;
  if (y0 < 0) bh -= -y0, y0 = 0;
  if (x0 + bw >= src.GetImageWidth()) bw = src.GetImageWidth() - x0;
  if (y0 + bh >= src.GetImageHeight()) bh = src.GetImageHeight() - y0;
  if (radius < 0 || bw <= 0 || bh <= 0) return;
  for (int64_t y = y0 + 1; y <= y0 + bh - 2; ++y) {
    for (int64_t x = x0 + 1; x <= x0 + bw - 2; ++x) {
      const double dx = static_cast<double>(x - cx), dy = static_cast<double>(y - cy);
      const auto distance = static_cast<int64_t>(std::sqrt(dx * dx + dy * dy) + 0.5);
      if (distance > radius) continue;
      const auto px = static_cast<int32_t>(x), py = static_cast<int32_t>(y);
      int64_t p[3], l[3], r[3], u[3], d[3], out[3];
      const int n = ReadPixel(src, px, py, p);
      ReadPixel(src, px - 1, py, l);
      ReadPixel(src, px + 1, py, r);
      ReadPixel(src, px, py - 1, u);
      ReadPixel(src, px, py + 1, d);
      for (int k = 0; k < n; ++k) {
        const int64_t a = (4 * p[k] - l[k] - r[k] - u[k] - d[k]) / 4;
        const double q =
            std::trunc(static_cast<double>(a) * gain + static_cast<double>(p[k]) + 0.5);
        out[k] = q < 0.0 ? 0 : (q > max ? static_cast<int64_t>(max) : static_cast<int64_t>(q));
      }
      WritePixel(work, px, py, out);
    }
  }
}

struct Circle {
  int32_t cx, cy, radius, strength;
};

void ExpectLikeLiteral(ImageType type, int32_t w, int32_t h, const Circle& c) {
  auto src = PatternImage(type, w, h, static_cast<uint32_t>(w * 131 + h));
  auto before = CopyOf(*src);
  auto expected = CopyOf(*src);
  LiteralFocusCircle(*src, *expected, c.cx, c.cy, c.radius, c.strength);
  auto dst = PatternImage(ImageType::Gray8, 3, 2, 1);  // rebuilt as a copy of the source
  ASSERT_EQ(1, ImageFocusInCircle(src.get(), dst.get(), c.cx, c.cy, c.radius, c.strength, nullptr,
                                  0, 100));
  EXPECT_TRUE(SameBytes(*before, *src));
  EXPECT_TRUE(SameBytes(*expected, *dst))
      << static_cast<int>(type) << " " << w << "x" << h << " circle " << c.cx << "," << c.cy
      << " r " << c.radius << " s " << c.strength;
  // A destination of the source's type and size is written into, padding bytes included.
  auto same = PatternImage(type, w, h, static_cast<uint32_t>(w * 131 + h + 1));
  ASSERT_EQ(1, ImageFocusInCircle(src.get(), same.get(), c.cx, c.cy, c.radius, c.strength, nullptr,
                                  0, 100));
  EXPECT_TRUE(SameBytes(*expected, *same)) << "same size " << static_cast<int>(type);

  auto inPlaceExpected = CopyOf(*src);
  LiteralFocusCircle(*inPlaceExpected, *inPlaceExpected, c.cx, c.cy, c.radius, c.strength);
  ASSERT_EQ(1, ImageFocusInCircle(src.get(), src.get(), c.cx, c.cy, c.radius, c.strength, nullptr,
                                  0, 100));
  EXPECT_TRUE(SameBytes(*inPlaceExpected, *src)) << "in place " << static_cast<int>(type);
}

TEST(FocusInCircle, WholeImagesOfEveryTypeSeparateAndInPlace) {
  const Circle circles[] = {{6, 5, 4, 100},  {6, 5, 4, -100},   {3, 3, 9, 250},   {0, 0, 5, 60},
                            {12, 1, 3, 180}, {20, 9, 30, 1000}, {6, 5, 1, 77},    {6, 5, 0, 500},
                            {-3, 4, 6, 150}, {5, -2, 5, -40},   {30, 30, 40, 90}, {7, 7, 2, 3}};
  const int32_t sizes[][2] = {{13, 11}, {1, 1}, {2, 7}, {7, 2}, {3, 3}, {33, 4}, {5, 1}};
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : sizes) {
      for (const Circle& c : circles) ExpectLikeLiteral(type, size[0], size[1], c);
    }
  }
}

// Discs over whole rows of every width up to 40: each vector body and tail of the span kernel.
TEST(FocusInCircle, EveryRowWidthUpToForty) {
  for (ImageType type : marlo::test::kAllTypes) {
    for (int32_t w = 1; w <= 40; ++w) {
      for (int32_t strength : {150, -75, 100000})
        ExpectLikeLiteral(type, w, 3, {w / 2, 1, w, strength});
    }
  }
}

TEST(FocusInCircle, HugeRadiiAndFarCentres) {
  const Circle circles[] = {{6, 5, INT32_MAX, 100},
                            {INT32_MIN, INT32_MIN, INT32_MAX, 100},
                            {INT32_MAX, INT32_MAX, INT32_MAX, 100},
                            {INT32_MIN, 5, INT32_MAX, 100},
                            {-1000, 5, 1006, 300},  // the circle's edge crosses the image
                            {5, INT32_MAX, INT32_MAX - 5, 300},
                            {6, 5, INT32_MIN, 100},
                            {6, 5, -1, 100},
                            {1000, 1000, 10, 100},
                            {6, 5, 7, INT32_MAX},
                            {6, 5, 7, INT32_MIN}};
  for (ImageType type : marlo::test::kAllTypes) {
    for (const Circle& c : circles) ExpectLikeLiteral(type, 13, 11, c);
  }
}

// The 8-bit offsets give FocusValue for every A and p, at gains across the whole range: every
// strength from -300 to 300, the extremes, and those where 255 * gain crosses 2^22.
TEST(FocusInCircle, EightBitOffsetsMatchTheFormulaEverywhere) {
  std::vector<int32_t> strengths = {INT32_MAX, INT32_MIN, 1644800,  1644900, -1644800,
                                    -1644900,  1000000,   -1000000, 12345,   -54321};
  for (int32_t s = -300; s <= 300; ++s) strengths.push_back(s);
  for (int32_t strength : strengths) {
    const auto gain = static_cast<float>(strength * 0.01);
    const std::array<int32_t, 511> offsets = marlo::FocusOffsets8(gain);
    for (int32_t a = -255; a <= 255; ++a) {
      const int32_t offset = offsets[static_cast<size_t>(a + 255)];
      for (int32_t p = 0; p <= 255; ++p) {
        ASSERT_EQ(marlo::FocusValue(a, p, gain, 255), std::clamp(p + offset, 0, 255))
            << "strength " << strength << " a " << a << " p " << p;
      }
    }
  }
}

TEST(FocusInCircle, WorkedSamples) {
  EXPECT_EQ(120, marlo::FocusSample(100, 80, 80, 80, 80, 1.0f, 255));
  EXPECT_EQ(80, marlo::FocusSample(100, 80, 80, 80, 80, -1.0f, 255));
  for (float gain : {0.5f, 3.0f, -7.0f, 100.0f}) {
    EXPECT_EQ(100, marlo::FocusSample(100, 100, 100, 100, 97, gain, 255));   // 3 / 4 is 0
    EXPECT_EQ(100, marlo::FocusSample(100, 100, 100, 100, 103, gain, 255));  // -3 / 4 is 0
  }
  EXPECT_EQ(255, marlo::FocusSample(250, 0, 0, 0, 0, 1.0f, 255));
  EXPECT_EQ(0, marlo::FocusSample(5, 255, 255, 255, 255, 1.0f, 255));
  EXPECT_EQ(65535, marlo::FocusSample(65000, 0, 0, 0, 0, 21474836.0f, 65535));
  // -7 / 4 truncates to -1; gain 0.5 gives trunc(-0.5 + 100 + 0.5) = 100; gain 0.6 gives 99.
  EXPECT_EQ(100, marlo::FocusSample(100, 102, 102, 102, 101, 0.5f, 255));
  EXPECT_EQ(99, marlo::FocusSample(100, 102, 102, 102, 101, 0.6f, 255));

  // Through the export: a 3 x 3 image whose centre is 100 between neighbours of 80.
  auto src = MakeImage(ImageType::Gray8, 3, 3);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 3; ++x) SetSample(*src, x, y, 0, 80);
  }
  SetSample(*src, 1, 1, 0, 100);
  Kasa dst;
  dst.CreateImage(static_cast<int>(ImageType::Gray8), 1, 1, 0, nullptr, 0, 0, 15, 0, 0);
  ASSERT_EQ(1, ImageFocusInCircle(src.get(), &dst, 1, 1, 1, 100, nullptr, 0, 100));
  EXPECT_EQ(120u, Sample(dst, 1, 1, 0));
  EXPECT_EQ(80u, Sample(dst, 0, 1, 0));
  ASSERT_EQ(1, ImageFocusInCircle(src.get(), &dst, 1, 1, 1, -100, nullptr, 0, 100));
  EXPECT_EQ(80u, Sample(dst, 1, 1, 0));
  // Radius 0: the box is a single pixel, its own frame; nothing changes.
  ASSERT_EQ(1, ImageFocusInCircle(src.get(), &dst, 1, 1, 0, 100, nullptr, 0, 100));
  EXPECT_TRUE(SameBytes(*src, dst));
}

TEST(FocusInCircle, BoxAndDistance) {
  auto box = marlo::ClipCircleBox(10, 10, 10, 100, 100);
  EXPECT_EQ(0, box.x0);
  EXPECT_EQ(21, box.width);
  box = marlo::ClipCircleBox(3, 95, 10, 100, 100);
  EXPECT_EQ(0, box.x0);
  EXPECT_EQ(14, box.width);  // 21 less the 7 columns left of the image
  EXPECT_EQ(85, box.y0);
  EXPECT_EQ(15, box.height);  // cut at the bottom: 100 - 85
  box = marlo::ClipCircleBox(INT32_MIN, 0, INT32_MAX, 100, 100);
  EXPECT_LE(box.width, 0);
  box = marlo::ClipCircleBox(0, 0, INT32_MAX, 100, 100);
  EXPECT_EQ(100, box.width);
  EXPECT_EQ(100, box.height);

  // distance = trunc(sqrt(dx^2 + dy^2) + 0.5): (3, 4) is 5, (1, 1) rounds to 1, (1, 2) to 2.
  EXPECT_TRUE(marlo::InsideCircle(3, 4, 5));
  EXPECT_FALSE(marlo::InsideCircle(3, 4, 4));
  EXPECT_TRUE(marlo::InsideCircle(1, 1, 1));
  EXPECT_FALSE(marlo::InsideCircle(1, 2, 1));
  EXPECT_TRUE(marlo::InsideCircle(-7, 0, 7));
  // Sums beyond 32 bits are formed in 64 bits.
  EXPECT_TRUE(marlo::InsideCircle(INT32_MAX, 0, INT32_MAX));
  EXPECT_FALSE(marlo::InsideCircle(INT32_MAX, INT32_MAX, INT32_MAX));
  EXPECT_FALSE(marlo::InsideCircle(-2147483648LL, 0, INT32_MAX));  // distance 2^31
}

TEST(FocusInCircle, BorderAndOutsideCircles) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 9, 8, 4);
    Kasa dst;
    dst.CreateImage(static_cast<int>(type), 9, 8, 0, nullptr, 0, 0, 15, 0, 0);
    ASSERT_EQ(1, ImageFocusInCircle(src.get(), &dst, 4, 4, 100, 400, nullptr, 0, 100));
    const int spp = (type == ImageType::Rgb24 || type == ImageType::Rgb48) ? 3 : 1;
    bool changed = false;
    for (int32_t y = 0; y < 8; ++y) {
      for (int32_t x = 0; x < 9; ++x) {
        for (int k = 0; k < spp; ++k) {
          const bool border = x == 0 || y == 0 || x == 8 || y == 7;
          if (border) {
            ASSERT_EQ(Sample(*src, x, y, k), Sample(dst, x, y, k)) << x << " " << y;
          } else {
            changed = changed || Sample(*src, x, y, k) != Sample(dst, x, y, k);
          }
        }
      }
    }
    EXPECT_TRUE(changed);

    // Entirely outside: a copy of the source, 1, and only the opening and closing reports.
    ProgressRecorder recorder;
    ASSERT_EQ(
        1, ImageFocusInCircle(src.get(), &dst, 40, 4, 5, 400, &ProgressRecorder::Callback, 0, 100));
    EXPECT_TRUE(SameBytes(*src, dst));
    EXPECT_EQ((std::vector<int32_t>{0, 100}), recorder.values());
  }
}

// The per-row protocol written out: step (end - start - 1) / rows in single precision.
std::vector<int32_t> ExpectedReports(int32_t start, int32_t end, int32_t boxRows,
                                     int32_t walkedRows) {
  std::vector<int32_t> values = {start};
  const float step = static_cast<float>(end - start - 1) / static_cast<float>(boxRows);
  float accumulator = static_cast<float>(start);
  int32_t position = start;
  for (int32_t row = 0; row < walkedRows; ++row) {
    accumulator = accumulator + step;
    if (static_cast<float>(position + 1) < accumulator) {
      position = std::min(end, static_cast<int32_t>(accumulator));
      values.push_back(position);
    }
  }
  if (position != end) values.push_back(end);
  return values;
}

TEST(FocusInCircle, ProgressPerWalkedRowAndAbort) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 30, 30, 5);
    Kasa dst;
    dst.CreateImage(static_cast<int>(type), 1, 1, 0, nullptr, 0, 0, 15, 0, 0);
    {
      // Radius 10 inside the image: bh = 21, 19 rows walked.
      ProgressRecorder recorder;
      ASSERT_EQ(1, ImageFocusInCircle(src.get(), &dst, 15, 15, 10, 100, &ProgressRecorder::Callback,
                                      0, 100));
      EXPECT_EQ(ExpectedReports(0, 100, 21, 19), recorder.values());
      EXPECT_EQ(99 * 19 / 21, recorder.values()[recorder.values().size() - 2]);
    }
    {
      // A box cut to two columns at the left edge still walks its rows.
      ProgressRecorder recorder;
      ASSERT_EQ(1, ImageFocusInCircle(src.get(), &dst, -9, 15, 10, 100, &ProgressRecorder::Callback,
                                      10, 60));
      EXPECT_EQ(ExpectedReports(10, 60, 21, 19), recorder.values());
    }
    // Abort on the first per-row report: the first walked row (y = 6) is filtered, the rest
    // of the destination is the rebuilt copy of the source.
    auto expected = CopyOf(*src);
    LiteralFocusCircle(*src, *expected, 15, 15, 10, 100);
    ProgressRecorder aborting(2);
    EXPECT_EQ(0, ImageFocusInCircle(src.get(), &dst, 15, 15, 10, 100, &ProgressRecorder::Callback,
                                    0, 100));
    EXPECT_EQ(2u, aborting.values().size());
    for (int32_t y = 0; y < 30; ++y) {
      const Kasa& reference = y == 6 ? *expected : *src;
      ASSERT_EQ(0, std::memcmp(reference.RowData(y), dst.RowData(y),
                               static_cast<size_t>(dst.GetLineBytes())))
          << y;
    }
  }
}

TEST(FocusInCircle, RefusalsWriteNothingAndReportNothing) {
  auto* cb = &ProgressRecorder::Callback;
  ProgressRecorder recorder;
  auto src = PatternImage(ImageType::Rgb24, 6, 6, 1);
  auto dst = PatternImage(ImageType::Rgb48, 4, 4, 2);
  auto before = CopyOf(*dst);
  Kasa empty;
  EXPECT_EQ(0, ImageFocusInCircle(nullptr, dst.get(), 3, 3, 2, 100, cb, 0, 100));
  EXPECT_EQ(0, ImageFocusInCircle(src.get(), nullptr, 3, 3, 2, 100, cb, 0, 100));
  EXPECT_EQ(0, ImageFocusInCircle(&empty, dst.get(), 3, 3, 2, 100, cb, 0, 100));
  EXPECT_EQ(0, ImageFocusInCircle(src.get(), &empty, 3, 3, 2, 100, cb, 0, 100));
  EXPECT_EQ(1, empty.IsEmpty());
  EXPECT_EQ(marlo::Status::Refused,
            marlo::FocusCircle16(src.get(), dst.get(), 3, 3, 2, 100, cb, 0, 100));
  EXPECT_EQ(marlo::Status::Refused,
            marlo::FocusCircle8(dst.get(), src.get(), 3, 3, 2, 100, cb, 0, 100));
  EXPECT_TRUE(SameBytes(*before, *dst));
  EXPECT_TRUE(recorder.calls().empty());

  // A destination of another type and size is rebuilt from the source.
  ASSERT_EQ(1, ImageFocusInCircle(src.get(), dst.get(), 3, 3, 2, 0, nullptr, 0, 100));
  EXPECT_TRUE(SameBytes(*src, *dst));  // strength 0 rewrites every pixel with itself
}

}  // namespace
