// Convex lens: the source distances' worked numbers, whole images of every type against a plainly
// written mapping, pinned readings, huge radii, clipping, in-place runs and the messages.
#include <cmath>

#include "effects/convex_lens.h"
#include "effects_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::GetWhole;
using marlo::test::MessageRecorder;
using marlo::test::PatternImage;
using marlo::test::SamePixels;
using marlo::test::SetWhole;

// The mapping written out for every pixel of the picture: its offset from the centre, its
// distance, and the source pixel it shows when it lies inside the disc. Positions are written
// only where they lie inside the destination too.
void ReferenceLens(Kasa& src, Kasa& dst, uint32_t cx, uint32_t cy, uint32_t radius, int m) {
  const double pi = 3.141592653;
  const double k = 20 - 4 * m;
  const double R = radius;
  for (int32_t ty = 0; ty < src.GetImageHeight() && ty < dst.GetImageHeight(); ++ty) {
    for (int32_t tx = 0; tx < src.GetImageWidth() && tx < dst.GetImageWidth(); ++tx) {
      const long long dx = tx - static_cast<long long>(cx);
      const long long dy = ty - static_cast<long long>(cy);
      // Small pictures: the double square root is exact here.
      const long long r = (long long)std::sqrt((double)(dx * dx + dy * dy));
      if (r > static_cast<long long>(radius)) continue;
      long long sx = cx, sy = cy;
      if (r != 0) {
        const long long s = (long long)(r - std::sin(r * pi / R) * R / k);
        sx = (long long)(cx + (double)s * dx / r);
        sy = (long long)(cy + (double)s * dy / r);
      }
      SetWhole(dst, tx, ty, GetWhole(src, (int32_t)sx, (int32_t)sy));
    }
  }
}

TEST(ConvexLensDistance, WorkedNumbers) {
  // R = 10, m = 4 (k = 4): distances for r = 1 to 10.
  const int64_t expected[] = {0, 0, 0, 1, 2, 3, 4, 6, 8, 9};
  for (int64_t r = 1; r <= 10; ++r) {
    EXPECT_EQ(expected[r - 1], marlo::LensSourceDistance(r, 10, 4)) << r;
  }
  // R = 100, m = 4: half the radius shows a quarter of it; the rim shows one step inward.
  EXPECT_EQ(25, marlo::LensSourceDistance(50, 100, 4));
  EXPECT_EQ(99, marlo::LensSourceDistance(100, 100, 4));
  EXPECT_EQ(98, marlo::LensSourceDistance(99, 100, 4));
  // m = 1 (k = 16) magnifies less: 50 - 100 / 16 = 43.75.
  EXPECT_EQ(43, marlo::LensSourceDistance(50, 100, 16));
  // Never negative and never more than r, for any radius.
  for (int64_t R : {int64_t{1}, int64_t{7}, int64_t{1000}, int64_t{4294967295}}) {
    for (int k : {4, 8, 12, 16}) {
      for (int64_t r : {int64_t{1}, int64_t{2}, R / 3, R / 2, R - 1, R}) {
        if (r < 1) continue;
        const int64_t s = marlo::LensSourceDistance(r, R, k);
        EXPECT_LE(0, s);
        EXPECT_GE(r, s);
      }
    }
  }
}

TEST(ConvexLensDistance, IntegerSquareRootIsExactOverTheWholeRange) {
  EXPECT_EQ(0u, marlo::IntegerSquareRoot(0));
  EXPECT_EQ(1u, marlo::IntegerSquareRoot(3));
  EXPECT_EQ(2u, marlo::IntegerSquareRoot(4));
  EXPECT_EQ(4294967295u, marlo::IntegerSquareRoot(UINT64_MAX));
  const uint64_t big[] = {
      (uint64_t{1} << 26) + 3, 3037000499u, 3037000500u, 4294967295u, 94906265u, 4000000001u};
  for (uint64_t r : big) {
    EXPECT_EQ(r, marlo::IntegerSquareRoot(r * r));
    EXPECT_EQ(r - 1, marlo::IntegerSquareRoot(r * r - 1));
    if (r < 4294967295u) {
      EXPECT_EQ(r, marlo::IntegerSquareRoot(r * r + 2 * r));
    }
  }
}

TEST(ConvexLens, WholeImagesOfEveryTypeMatchTheMapping) {
  struct Case {
    uint32_t cx, cy, radius, m;
  };
  const Case cases[] = {{10, 7, 5, 1},  {10, 7, 5, 4},  {0, 0, 12, 2}, {20, 14, 9, 3},
                        {3, 12, 30, 4}, {16, 1, 0, 2},  {11, 8, 1, 3}, {20, 0, 2, 4},
                        {5, 5, 100, 1}, {0, 14, 25, 2}, {7, 9, 6, 4}};
  const int32_t sizes[][2] = {{21, 15}, {1, 1}, {2, 2}, {1, 9}, {9, 1}};
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : sizes) {
      auto src = PatternImage(type, size[0], size[1], 21);
      for (const Case& c : cases) {
        const uint32_t cx = c.cx % static_cast<uint32_t>(size[0]);
        const uint32_t cy = c.cy % static_cast<uint32_t>(size[1]);
        const std::string what = "type " + std::to_string(static_cast<int>(type)) + " size " +
                                 std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                                 " centre " + std::to_string(cx) + "," + std::to_string(cy) +
                                 " radius " + std::to_string(c.radius) + " m " +
                                 std::to_string(c.m);
        auto expected = PatternImage(type, size[0], size[1], 22);
        ReferenceLens(*src, *expected, cx, cy, c.radius, static_cast<int>(c.m));
        auto dst = PatternImage(type, size[0], size[1], 22);
        auto before = CopyOf(*src);
        ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), cx, cy, c.radius, c.m)) << what;
        EXPECT_TRUE(SamePixels(*expected, *dst)) << what;
        EXPECT_TRUE(marlo::test::SameBytes(*before, *src)) << what;
        // Padding is carried unchanged.
        auto fresh = PatternImage(type, size[0], size[1], 22);
        EXPECT_TRUE(marlo::test::SamePadding(*fresh, *dst)) << what;
        // In place gives what a separate destination holding a copy of the source gets.
        auto inPlace = CopyOf(*src);
        auto separate = CopyOf(*src);
        ReferenceLens(*src, *separate, cx, cy, c.radius, static_cast<int>(c.m));
        ASSERT_EQ(1, ConvexLens(inPlace.get(), inPlace.get(), cx, cy, c.radius, c.m)) << what;
        EXPECT_TRUE(SamePixels(*separate, *inPlace)) << what;
      }
    }
  }
}

// An Rgb48 picture whose red sample is the column and green sample the row, so that each
// destination pixel tells which source pixel it shows.
std::unique_ptr<Kasa> CoordinateImage(int32_t width, int32_t height) {
  auto image = marlo::test::MakeImage(ImageType::Rgb48, width, height);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      image->SetPixelRGB(x, y, static_cast<int64_t>(x) | static_cast<int64_t>(y) << 16);
    }
  }
  return image;
}

int64_t ShownColumn(Kasa& image, int32_t x, int32_t y) {
  return GetWhole(image, x, y) & 0xFFFF;
}
int64_t ShownRow(Kasa& image, int32_t x, int32_t y) {
  return (GetWhole(image, x, y) >> 16) & 0xFFFF;
}

TEST(ConvexLens, WorkedPositions) {
  auto src = CoordinateImage(301, 211);
  auto dst = CopyOf(*src);
  ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 150, 105, 100, 4));
  EXPECT_EQ(175, ShownColumn(*dst, 200, 105));  // r = 50 shows distance 25
  EXPECT_EQ(105, ShownRow(*dst, 200, 105));
  EXPECT_EQ(249, ShownColumn(*dst, 250, 105));  // the rim shows one step inward
  EXPECT_EQ(248, ShownColumn(*dst, 249, 105));
  EXPECT_EQ(150 - 98, ShownColumn(*dst, 150 - 99, 105));
  EXPECT_EQ(105 - 25, ShownRow(*dst, 150, 105 - 50));
  EXPECT_EQ(251, ShownColumn(*dst, 251, 105));  // outside the disc: untouched
  EXPECT_EQ(150, ShownColumn(*dst, 150, 105));
}

TEST(ConvexLens, QuotientIsRealBeforeTruncation) {
  // R = 10, m = 4: r = 5 shows distance s = 2. At offset (-3, -4) the source offset is
  // 2 * -3 / 5 = -1.2 and 2 * -4 / 5 = -1.6; added to the centre and truncated they give
  // (cx - 2, cy - 2). Integer quotients would give (cx - 1, cy - 1).
  auto src = CoordinateImage(31, 25);
  auto dst = CopyOf(*src);
  ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 15, 12, 10, 4));
  EXPECT_EQ(13, ShownColumn(*dst, 12, 8));
  EXPECT_EQ(10, ShownRow(*dst, 12, 8));
  // On the positive side (3, 4) truncation gives (cx + 1, cy + 1).
  EXPECT_EQ(16, ShownColumn(*dst, 18, 16));
  EXPECT_EQ(13, ShownRow(*dst, 18, 16));
}

TEST(ConvexLens, RadiusZeroCopiesOnlyTheCentre) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 7, 5, 1);
    auto dst = PatternImage(type, 7, 5, 2);
    auto expected = CopyOf(*dst);
    SetWhole(*expected, 4, 2, GetWhole(*src, 4, 2));
    ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 4, 2, 0, 1));
    EXPECT_TRUE(SamePixels(*expected, *dst));
  }
}

TEST(ConvexLens, AnyUnsignedRadiusWorks) {
  for (uint32_t radius : {4294967295u, 4294967294u, 2147483648u, 3037000500u, 65536u, 1000u}) {
    for (uint32_t m : {1u, 4u}) {
      auto src = PatternImage(ImageType::Gray16, 33, 19, 4);
      auto expected = PatternImage(ImageType::Gray16, 33, 19, 5);
      ReferenceLens(*src, *expected, 31, 2, radius, static_cast<int>(m));
      auto dst = PatternImage(ImageType::Gray16, 33, 19, 5);
      ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 31, 2, radius, m)) << radius;
      EXPECT_TRUE(SamePixels(*expected, *dst)) << radius;
    }
  }
  // A quarter disc at the corner is all that is written.
  auto src = CoordinateImage(80, 60);
  auto dst = marlo::test::MakeImage(ImageType::Rgb48, 80, 60);
  const int64_t marker = int64_t{1} << 32;  // a blue sample, which the source never has
  for (int32_t y = 0; y < 60; ++y) {
    for (int32_t x = 0; x < 80; ++x) SetWhole(*dst, x, y, marker);
  }
  ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 0, 0, 50, 2));
  for (int32_t y = 0; y < 60; ++y) {
    for (int32_t x = 0; x < 80; ++x) {
      const bool inside = x * x + y * y < 51 * 51;
      ASSERT_EQ(inside, GetWhole(*dst, x, y) != marker) << x << " " << y;
    }
  }
}

TEST(ConvexLens, DestinationOfAnotherSizeIsWrittenWhereItOverlaps) {
  auto src = PatternImage(ImageType::Rgb24, 30, 20, 1);
  // 4 x 3 lies wholly above and left of the centre.
  for (const auto& size : {std::pair<int32_t, int32_t>{10, 8}, {45, 33}, {30, 5}, {4, 3}}) {
    auto dst = PatternImage(ImageType::Rgb24, size.first, size.second, 2);
    auto expected = CopyOf(*dst);
    ReferenceLens(*src, *expected, 6, 5, 9, 3);
    ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 6, 5, 9, 3));
    EXPECT_TRUE(SamePixels(*expected, *dst)) << size.first << "x" << size.second;
  }
}

TEST(ConvexLens, MessagesInOrderAndNothingWritten) {
  MessageRecorder messages;
  auto src = PatternImage(ImageType::Gray8, 20, 10, 1);
  auto dst = PatternImage(ImageType::Gray8, 20, 10, 2);
  auto dstBefore = CopyOf(*dst);
  Kasa empty;
  auto otherType = PatternImage(ImageType::Gray16, 20, 10, 2);
  auto otherTypeBefore = CopyOf(*otherType);
  EXPECT_EQ(0, ConvexLens(nullptr, dst.get(), 5, 5, 3, 2));
  EXPECT_EQ(0, ConvexLens(src.get(), nullptr, 5, 5, 3, 2));
  EXPECT_EQ(0, ConvexLens(&empty, dst.get(), 5, 5, 3, 2));
  EXPECT_EQ(0, ConvexLens(src.get(), &empty, 99, 99, 3, 0));  // the image is tested first
  EXPECT_EQ(0, ConvexLens(src.get(), otherType.get(), 5, 5, 3, 2));
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 20, 5, 3, 0));  // the centre before the degree
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 5, 10, 3, 2));
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 0xFFFFFFFFu, 0, 3, 2));  // -1 is not accepted
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 5, 5, 3, 0));
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 5, 5, 3, 5));
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 5, 5, 3, 0xFFFFFFFFu));
  const std::string image = "Image error !";
  const std::string centre = "Center coordinate is out of range !";
  const std::string degree = "Magnific degree is out of range !";
  EXPECT_EQ((std::vector<std::string>{image, image, image, image, image, centre, centre, centre,
                                      degree, degree, degree}),
            messages.texts());
  EXPECT_EQ(1, empty.IsEmpty());
  EXPECT_TRUE(marlo::test::SameBytes(*dstBefore, *dst));
  EXPECT_TRUE(marlo::test::SameBytes(*otherTypeBefore, *otherType));
  messages.clear();
  EXPECT_EQ(1, ConvexLens(src.get(), dst.get(), 19, 9, 3, 1));
  EXPECT_EQ(1, ConvexLens(src.get(), dst.get(), 0, 0, 3, 4));
  EXPECT_TRUE(messages.texts().empty());
}

}  // namespace
