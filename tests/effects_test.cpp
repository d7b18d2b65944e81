// The distortion effects: the worked numbers of the page geometry and the lens distances, pixel
// positions, the properties of each effect, digests of pictures larger than the golden table's,
// and the parameter messages.
#include "effects/book_effect.h"
#include "effects/convex_lens.h"
#include "test_support.h"

namespace {

using namespace marlo::test;

// A whole pixel as one number: the 24-bit packing on Rgb24, the 48-bit packing on Rgb48 and the
// sample itself on grey images.
int64_t GetWhole(Kasa& image, int32_t x, int32_t y) {
  int64_t v = 0;
  const uint32_t packed =
      IsColour(TypeOf(image)) ? image.GetPixelRGB(x, y, &v) : image.GetPixel(x, y, &v);
  return TypeOf(image) == ImageType::Rgb24 ? packed : v;
}

TEST(BookEffect, GeometryWorkedNumbers) {
  const struct {
    int32_t w, h;
    uint16_t axis, folding, slanting;
    int64_t margin, spine, droop, leftWidth, rightWidth, leftInset, rightInset;
  } cases[] = {{100, 60, 50, 20, 50, 6, 50, 20, 44, 44, 12, 12},
               {1000, 300, 30, 100, 0, 480, 492, 0, 12, 28, 0, 0},  // spine (40 * 30) / 100 + 480
               {100, 60, 10, 0, 50, 0, 10, 20, 10, 90, 0, 35},      // inset (-10 * 20) / 40 is 0
               {100, 60, 15, 0, 50, 0, 15, 20, 15, 85, 0, 32}};     // (-5 * 20) / 40 truncates to 0
  for (const auto& c : cases) {
    const marlo::BookGeometry g =
        marlo::ComputeBookGeometry(c.w, c.h, c.axis, c.folding, c.slanting);
    EXPECT_EQ((std::vector<int64_t>{c.margin, c.spine, c.droop, c.leftWidth, c.rightWidth,
                                    c.leftInset, c.rightInset}),
              (std::vector<int64_t>{g.margin, g.spine, g.droop, g.leftWidth, g.rightWidth,
                                    g.leftInset, g.rightInset}))
        << c.w << " " << c.axis;
  }
}

TEST(BookEffect, NoFoldAndNoSlantCopyAndAFullFoldLeavesFortyColumns) {
  for (ImageType type : kAllTypes) {
    for (uint32_t axis : {0u, 37u, 100u}) {
      auto src = PatternImage(type, 45, 22, 3);
      auto dst = PatternImage(type, 45, 22, 4);
      ASSERT_EQ(1, BookEffect(src.get(), dst.get(), axis, 0, 0));
      EXPECT_TRUE(SamePixels(*src, *dst)) << static_cast<int>(type) << " axis " << axis;
    }
    // All black but for the page: the margins come out white, the largest value of the type.
    auto black = MakeImage(type, 1000, 21);
    auto dst = MakeImage(type, 1000, 21);
    ASSERT_EQ(1, BookEffect(black.get(), dst.get(), 50, 100, 0));
    const int64_t white = type == ImageType::Rgb24 ? 0xFFFFFF : (IsWide(type) ? 0xFFFF : 0xFF);
    for (int32_t x = 0; x < 1000; x += 7) {
      ASSERT_EQ(x >= 480 && x < 520 ? 0 : white, GetWhole(*dst, x, 5) & white) << x;
    }
  }
}

TEST(BookEffect, SqueezeRatioIsARealDivision) {
  // H = 60 and slanting 50 give S = 20 and r = 60 / 40 = 1.5 (an integer division would give 1):
  // at the spine column, where nothing else moves, row y shows source row trunc(1.5 y).
  auto src = MakeImage(ImageType::Gray16, 40, 60);
  for (int32_t y = 0; y < 60; ++y) {
    for (int32_t x = 0; x < 40; ++x) src->SetPixel(x, y, 1000 * y + 7);
  }
  auto dst = MakeImage(ImageType::Gray16, 40, 60);
  ASSERT_EQ(1, BookEffect(src.get(), dst.get(), 50, 0, 50));
  EXPECT_EQ(1000u * 4 + 7, dst->GetPixel(20, 3, nullptr));
  EXPECT_EQ(1000u * 7 + 7, dst->GetPixel(20, 5, nullptr));
  EXPECT_EQ(1000u * 58 + 7, dst->GetPixel(20, 39, nullptr));
  EXPECT_EQ(65535u, dst->GetPixel(20, 40, nullptr));  // the bottom band
}

// Pictures whose rows and columns cross the drawing's tiles (32 rows, 384 bytes), separate and in
// place, recorded from a build checked against the eight steps written out one by one.
TEST(BookEffect, LargerPicturesMatchTheirDigest) {
  const int params[][3] = {{50, 0, 0},    {50, 20, 50}, {30, 60, 100}, {0, 10, 40}, {100, 10, 40},
                           {5, 100, 100}, {97, 35, 70}, {50, 100, 0},  {2, 0, 100}, {71, 3, 13}};
  Digest digest;
  for (ImageType type : kAllTypes) {
    for (const auto& size : {std::pair<int32_t, int32_t>{57, 30}, {63, 45}, {390, 70}}) {
      auto src = PatternImage(type, size.first, size.second, 11);
      for (const auto& p : params) {
        auto dst = PatternImage(type, size.first, size.second, 12), inPlace = CopyOf(*src);
        ASSERT_EQ(1, BookEffect(src.get(), dst.get(), p[0], p[1], p[2]));
        ASSERT_EQ(1, BookEffect(inPlace.get(), inPlace.get(), p[0], p[1], p[2]));
        digest.Image(*dst);
        digest.Image(*inPlace);
      }
    }
  }
  EXPECT_EQ(0xc034b3bccb8791edULL, digest.value());
}

TEST(BookEffect, MessagesInOrderAndNothingWritten) {
  HookRecorder hooks;
  auto src = PatternImage(ImageType::Rgb48, 40, 21, 1);  // the smallest picture taken
  auto dst = PatternImage(ImageType::Rgb48, 40, 21, 2);
  auto before = CopyOf(*dst);
  auto narrow = PatternImage(ImageType::Rgb48, 39, 21, 1),
       low = PatternImage(ImageType::Rgb48, 40, 20, 1);
  Kasa empty;
  EXPECT_EQ(0, BookEffect(narrow.get(), narrow.get(), 50, 10, 10));
  EXPECT_EQ(0, BookEffect(low.get(), low.get(), 50, 10, 10));
  EXPECT_EQ(0, BookEffect(src.get(), &empty, 500, 10, 10));  // the images are tested first
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 101, 101, 101));
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 50, 101, 101));
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 50, 0, 101));
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 0xFFFFFFFFu, 0, 0));  // the low half is 65535
  const std::string image = "Image error !", axis = "Axis location is out of range !";
  const std::string folding = "Folding degree is out of range !";
  const std::string slanting = "Slanting degree is out of range !";
  EXPECT_EQ((std::vector<std::string>{image, image, image, axis, folding, slanting, axis}),
            hooks.texts());
  EXPECT_TRUE(SameBytes(*before, *dst));
  // Only the low 16 bits count: 65536 + 50 is 50.
  auto expected = CopyOf(*dst);
  ASSERT_EQ(1, BookEffect(src.get(), expected.get(), 50, 20, 30));
  EXPECT_EQ(1, BookEffect(src.get(), dst.get(), 65536 + 50, 0x10000 + 20, 0xFFFF0000u + 30));
  EXPECT_TRUE(SameBytes(*expected, *dst));
  EXPECT_EQ(1, BookEffect(src.get(), dst.get(), 100, 100, 100));
  EXPECT_EQ(7u, hooks.texts().size());
}

TEST(ConvexLens, SourceDistancesAndTheIntegerSquareRoot) {
  // R = 10, m = 4 (k = 4): distances for r = 1 to 10.
  const int64_t expected[] = {0, 0, 0, 1, 2, 3, 4, 6, 8, 9};
  for (int64_t r = 1; r <= 10; ++r) EXPECT_EQ(expected[r - 1], marlo::LensSourceDistance(r, 10, 4));
  // R = 100: half the radius shows a quarter of it, the rim one step inward; m = 1 (k = 16)
  // magnifies less: 50 - 100 / 16 = 43.75.
  EXPECT_EQ(25, marlo::LensSourceDistance(50, 100, 4));
  EXPECT_EQ(99, marlo::LensSourceDistance(100, 100, 4));
  EXPECT_EQ(43, marlo::LensSourceDistance(50, 100, 16));
  for (int64_t R : {int64_t{1}, int64_t{7}, int64_t{1000}, int64_t{4294967295}}) {
    for (int64_t r : {int64_t{1}, R / 3 + 1, R / 2 + 1, R}) {
      EXPECT_LE(0, marlo::LensSourceDistance(r, R, 4));
      EXPECT_GE(r, marlo::LensSourceDistance(r, R, 16));
    }
  }
  EXPECT_EQ(0u, marlo::IntegerSquareRoot(0));
  EXPECT_EQ(1u, marlo::IntegerSquareRoot(3));
  EXPECT_EQ(4294967295u, marlo::IntegerSquareRoot(UINT64_MAX));
  for (uint64_t r : {(uint64_t{1} << 26) + 3, uint64_t{3037000499}, uint64_t{4000000001}}) {
    EXPECT_EQ(r, marlo::IntegerSquareRoot(r * r));
    EXPECT_EQ(r - 1, marlo::IntegerSquareRoot(r * r - 1));
    EXPECT_EQ(r, marlo::IntegerSquareRoot(r * r + 2 * r));
  }
}

TEST(ConvexLens, WorkedPositions) {
  // Red sample the column, green the row: each destination pixel tells what it shows.
  auto src = MakeImage(ImageType::Rgb48, 301, 211);
  for (int32_t y = 0; y < 211; ++y) {
    for (int32_t x = 0; x < 301; ++x) src->SetPixelRGB(x, y, x | int64_t{y} << 16);
  }
  auto shown = [](Kasa& image, int32_t x, int32_t y) {
    const int64_t v = GetWhole(image, x, y);
    return std::pair<int64_t, int64_t>(v & 0xFFFF, v >> 16 & 0xFFFF);
  };
  auto dst = CopyOf(*src);
  ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 150, 105, 100, 4));
  EXPECT_EQ(std::make_pair(int64_t{175}, int64_t{105}), shown(*dst, 200, 105));  // r 50 shows 25
  EXPECT_EQ(249, shown(*dst, 250, 105).first);  // the rim shows one step inward
  EXPECT_EQ(52, shown(*dst, 51, 105).first);
  EXPECT_EQ(80, shown(*dst, 150, 55).second);
  EXPECT_EQ(251, shown(*dst, 251, 105).first);  // outside the disc: untouched
  // R = 10, m = 4: r = 5 shows s = 2; at offset (-3, -4) the source offset is 2 * -3 / 5 = -1.2
  // and -1.6, truncated after adding the centre: (cx - 2, cy - 2), not (cx - 1, cy - 1).
  dst = CopyOf(*src);
  ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 15, 12, 10, 4));
  EXPECT_EQ(std::make_pair(int64_t{13}, int64_t{10}), shown(*dst, 12, 8));
  EXPECT_EQ(std::make_pair(int64_t{16}, int64_t{13}), shown(*dst, 18, 16));
  // A disc at a corner writes a quarter of it, a disc of radius 0 its centre alone.
  auto marked = MakeImage(ImageType::Rgb48, 80, 60);
  for (int32_t y = 0; y < 60; ++y) {
    for (int32_t x = 0; x < 80; ++x) marked->SetPixelRGB(x, y, int64_t{1} << 32);  // blue 1
  }
  ASSERT_EQ(1, ConvexLens(src.get(), marked.get(), 0, 0, 50, 2));
  ASSERT_EQ(1, ConvexLens(src.get(), marked.get(), 70, 55, 0, 1));
  EXPECT_EQ(std::make_pair(int64_t{70}, int64_t{55}), shown(*marked, 70, 55));
  for (int32_t y = 0; y < 60; ++y) {
    for (int32_t x = 0; x < 80; ++x) {
      const bool written = x * x + y * y < 51 * 51 || (x == 70 && y == 55);
      ASSERT_EQ(written, GetWhole(*marked, x, y) >> 32 == 0) << x << " " << y;
    }
  }
}

// Radii up to the largest unsigned value and destinations of other sizes, recorded from a build
// checked against the mapping written out for every pixel.
TEST(ConvexLens, LargeRadiiAndOtherDestinationsMatchTheirDigest) {
  Digest digest;
  auto src = PatternImage(ImageType::Gray16, 33, 19, 4);
  for (uint32_t radius : {4294967295u, 4294967294u, 2147483648u, 3037000500u, 65536u, 1000u}) {
    for (uint32_t m : {1u, 4u}) {
      auto dst = PatternImage(ImageType::Gray16, 33, 19, 5);
      ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 31, 2, radius, m));
      digest.Image(*dst);
    }
  }
  auto rgb = PatternImage(ImageType::Rgb24, 30, 20, 1);
  for (const auto& size : {std::pair<int32_t, int32_t>{10, 8}, {45, 33}, {30, 5}, {4, 3}}) {
    auto dst = PatternImage(ImageType::Rgb24, size.first, size.second, 2);
    ASSERT_EQ(1, ConvexLens(rgb.get(), dst.get(), 6, 5, 9, 3));
    digest.Image(*dst);
  }
  EXPECT_EQ(0xdba75e26f4cd52c7ULL, digest.value());
}

TEST(ConvexLens, MessagesInOrderAndNothingWritten) {
  HookRecorder hooks;
  auto src = PatternImage(ImageType::Gray8, 20, 10, 1);
  auto dst = PatternImage(ImageType::Gray8, 20, 10, 2);
  auto before = CopyOf(*dst);
  Kasa empty;
  EXPECT_EQ(0, ConvexLens(src.get(), &empty, 99, 99, 3, 0));    // the images are tested first
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 20, 5, 3, 0));  // the centre before the degree
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 5, 10, 3, 2));
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 0xFFFFFFFFu, 0, 3, 2));  // -1 is not taken
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 5, 5, 3, 0));
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 5, 5, 3, 5));
  EXPECT_EQ(0, ConvexLens(src.get(), dst.get(), 5, 5, 3, 0xFFFFFFFFu));
  const std::string centre = "Center coordinate is out of range !";
  const std::string degree = "Magnific degree is out of range !";
  EXPECT_EQ(
      (std::vector<std::string>{"Image error !", centre, centre, centre, degree, degree, degree}),
      hooks.texts());
  EXPECT_TRUE(SameBytes(*before, *dst));
  EXPECT_EQ(1, ConvexLens(src.get(), dst.get(), 19, 9, 3, 1));
  EXPECT_EQ(1, ConvexLens(src.get(), dst.get(), 0, 0, 3, 4));
  EXPECT_EQ(7u, hooks.texts().size());
}

}  // namespace
