// The distortion effects: the worked numbers of the page geometry and the lens distances, pixel
// positions, the properties of each effect, digests of pictures beyond the golden table's, and
// the parameter messages.
#include <functional>

#include "effects/book_effect.h"
#include "effects/convex_lens.h"
#include "test_support.h"

namespace {

using namespace marlo::test;
using V = std::vector<int64_t>;

// A whole pixel as one number: the 24-bit packing on Rgb24, the 48-bit packing on Rgb48 and the
// sample itself on grey images.
int64_t GetWhole(Kasa& image, int32_t x, int32_t y) {
  int64_t v = 0;
  const bool colour = IsColour(TypeOf(image));
  const uint32_t packed = colour ? image.GetPixelRGB(x, y, &v) : image.GetPixel(x, y, &v);
  return TypeOf(image) == ImageType::Rgb24 ? packed : v;
}

TEST(BookEffect, GeometryAndProperties) {
  // Width, height, axis, folding, slanting; then margin, spine, droop, page widths and insets:
  // the spine (40 * 30) / 100 + 480; an inset (-10 * 20) / 40 is none, (-5 * 20) / 40 is 0.
  const int64_t cases[][12] = {{100, 60, 50, 20, 50, 6, 50, 20, 44, 44, 12, 12},
                               {1000, 300, 30, 100, 0, 480, 492, 0, 12, 28, 0, 0},
                               {100, 60, 10, 0, 50, 0, 10, 20, 10, 90, 0, 35},
                               {100, 60, 15, 0, 50, 0, 15, 20, 15, 85, 0, 32}};
  for (const auto& c : cases) {
    const auto g = marlo::ComputeBookGeometry(c[0], c[1], c[2], c[3], c[4]);
    EXPECT_EQ(V(c + 5, c + 12), (V{g.margin, g.spine, g.droop, g.leftWidth, g.rightWidth,
                                   g.leftInset, g.rightInset}));
  }
  for (ImageType type : kAllTypes) {
    // No fold and no slant copy the picture at any axis.
    auto src = PatternImage(type, 45, 22, 3), dst = PatternImage(type, 45, 22, 4);
    for (uint32_t axis : {0u, 37u, 100u}) {
      ASSERT_EQ(1, BookEffect(src.get(), dst.get(), axis, 0, 0));
      EXPECT_TRUE(SamePixels(*src, *dst)) << static_cast<int>(type) << " axis " << axis;
    }
    // A full fold of a black picture leaves the middle 40 columns; the margins are white, the
    // largest value of the type.
    auto black = MakeImage(type, 1000, 21), out = MakeImage(type, 1000, 21);
    ASSERT_EQ(1, BookEffect(black.get(), out.get(), 50, 100, 0));
    const int64_t white = type == ImageType::Rgb24 ? 0xFFFFFF : (IsWide(type) ? 0xFFFF : 0xFF);
    for (int32_t x = 0; x < 1000; x += 7) {
      ASSERT_EQ(x >= 480 && x < 520 ? 0 : white, GetWhole(*out, x, 5) & white) << x;
    }
  }
  // H = 60 and slanting 50 give S = 20 and the squeeze 60 / 40 = 1.5 (not 1): at the spine, where
  // nothing else moves, row y shows source row trunc(1.5 y); the bottom band is white.
  auto rows = MakeImage(ImageType::Gray16, 40, 60), dst = MakeImage(ImageType::Gray16, 40, 60);
  for (int32_t i = 0; i < 40 * 60; ++i) rows->SetPixel(i % 40, i / 40, 1000 * (i / 40) + 7);
  ASSERT_EQ(1, BookEffect(rows.get(), dst.get(), 50, 0, 50));
  EXPECT_EQ((V{4007, 7007, 58007, 65535}),
            (V{dst->GetPixel(20, 3, nullptr), dst->GetPixel(20, 5, nullptr),
               dst->GetPixel(20, 39, nullptr), dst->GetPixel(20, 40, nullptr)}));
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

TEST(ConvexLens, DistancesAndPositions) {
  // R = 10, m = 4 (k = 4): distances for r = 1 to 10; R = 100: half the radius shows a quarter of
  // it, the rim one step inward; m = 1 (k = 16) magnifies less: 50 - 100 / 16 = 43.75. With pi
  // taken as 3.14159, r = 108 of R = 117 would show 100 instead of 101.
  for (int64_t r = 1; r <= 10; ++r) {
    EXPECT_EQ((V{0, 0, 0, 1, 2, 3, 4, 6, 8, 9})[r - 1], marlo::LensSourceDistance(r, 10, 4));
  }
  EXPECT_EQ((V{25, 99, 43, 101}),
            (V{marlo::LensSourceDistance(50, 100, 4), marlo::LensSourceDistance(100, 100, 4),
               marlo::LensSourceDistance(50, 100, 16), marlo::LensSourceDistance(108, 117, 4)}));
  EXPECT_EQ(4294967295u, marlo::IntegerSquareRoot(UINT64_MAX));
  for (uint64_t r :
       {uint64_t{1}, (uint64_t{1} << 26) + 3, uint64_t{3037000499}, uint64_t{4000000001}}) {
    EXPECT_EQ(r, marlo::IntegerSquareRoot(r * r));
    EXPECT_EQ(r - 1, marlo::IntegerSquareRoot(r * r - 1));
    EXPECT_EQ(r, marlo::IntegerSquareRoot(r * r + 2 * r));
  }
  // Red sample the column, green the row: each destination pixel tells what it shows.
  auto src = MakeImage(ImageType::Rgb48, 301, 211);
  for (int32_t i = 0; i < 301 * 211; ++i)
    src->SetPixelRGB(i % 301, i / 301, i % 301 | int64_t{i / 301} << 16);
  const auto shown = [](Kasa& image, int32_t x, int32_t y) {
    const int64_t v = GetWhole(image, x, y);
    return V{v & 0xFFFF, v >> 16 & 0xFFFF};
  };
  auto dst = CopyOf(*src);
  ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 150, 105, 100, 4));
  EXPECT_EQ((V{175, 105}), shown(*dst, 200, 105));  // r = 50 shows 25
  EXPECT_EQ((V{249, 105}), shown(*dst, 250, 105));  // the rim one step inward
  EXPECT_EQ((V{52, 105}), shown(*dst, 51, 105));
  EXPECT_EQ((V{150, 80}), shown(*dst, 150, 55));
  EXPECT_EQ((V{251, 105}), shown(*dst, 251, 105));  // outside the disc: untouched
  // R = 10, m = 4: r = 5 shows s = 2; at offset (-3, -4) the source offset is 2 * -3 / 5 = -1.2
  // and -1.6, truncated after adding the centre: (cx - 2, cy - 2), not (cx - 1, cy - 1).
  ASSERT_EQ(1, ConvexLens(src.get(), dst.get(), 15, 12, 10, 4));
  EXPECT_EQ((V{13, 10}), shown(*dst, 12, 8));
  EXPECT_EQ((V{16, 13}), shown(*dst, 18, 16));
  // A disc at a corner writes a quarter of it, a disc of radius 0 its centre alone.
  auto marked = MakeImage(ImageType::Rgb48, 80, 60);
  for (int32_t i = 0; i < 80 * 60; ++i) marked->SetPixelRGB(i % 80, i / 80, int64_t{1} << 32);
  ASSERT_EQ(1, ConvexLens(src.get(), marked.get(), 0, 0, 50, 2));
  ASSERT_EQ(1, ConvexLens(src.get(), marked.get(), 70, 55, 0, 1));
  EXPECT_EQ((V{70, 55}), shown(*marked, 70, 55));
  for (int32_t i = 0; i < 80 * 60; ++i) {
    const int32_t x = i % 80, y = i / 80;
    ASSERT_EQ(x * x + y * y < 51 * 51 || (x == 70 && y == 55), GetWhole(*marked, x, y) >> 32 == 0)
        << x << " " << y;
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

// Each refusal of a parameter shows its message, once, and writes nothing; the images are tested
// before the parameters, the book's axis before its folding and slanting (only the low 16 bits
// of each count), the lens's centre before its degree.
TEST(Effects, MessagesInOrderAndNothingWritten) {
  auto book = PatternImage(ImageType::Rgb48, 40, 21, 1);  // the smallest page taken
  auto lens = PatternImage(ImageType::Gray8, 20, 10, 1),
       narrow = PatternImage(ImageType::Rgb48, 39, 21, 1);
  auto page = PatternImage(ImageType::Rgb48, 40, 21, 2),
       dst = PatternImage(ImageType::Gray8, 20, 10, 2);
  auto pageBefore = CopyOf(*page), dstBefore = CopyOf(*dst);
  Kasa empty;
  const std::string image = "Image error !", axis = "Axis location is out of range !";
  const std::string centre = "Center coordinate is out of range !",
                    degree = "Magnific degree is out of range !";
  const std::pair<std::function<int32_t()>, std::string> refusals[] = {
      {[&] { return BookEffect(narrow.get(), narrow.get(), 50, 10, 10); }, image},
      {[&] { return BookEffect(book.get(), &empty, 500, 10, 10); }, image},
      {[&] { return BookEffect(book.get(), page.get(), 101, 101, 101); }, axis},
      {[&] { return BookEffect(book.get(), page.get(), 50, 101, 101); },
       "Folding degree is out of range !"},
      {[&] { return BookEffect(book.get(), page.get(), 50, 0, 101); },
       "Slanting degree is out of range !"},
      {[&] { return BookEffect(book.get(), page.get(), 0xFFFFFFFFu, 0, 0); }, axis},
      {[&] { return ConvexLens(lens.get(), &empty, 99, 99, 3, 0); }, image},
      {[&] { return ConvexLens(lens.get(), dst.get(), 20, 5, 3, 0); }, centre},
      {[&] { return ConvexLens(lens.get(), dst.get(), 5, 10, 3, 2); }, centre},
      {[&] { return ConvexLens(lens.get(), dst.get(), 0xFFFFFFFFu, 0, 3, 2); }, centre},
      {[&] { return ConvexLens(lens.get(), dst.get(), 5, 5, 3, 0); }, degree},
      {[&] { return ConvexLens(lens.get(), dst.get(), 5, 5, 3, 5); }, degree}};
  for (const auto& [call, message] : refusals) {
    Recorder hooks;
    EXPECT_EQ(0, call());
    EXPECT_EQ(std::vector<std::string>{message}, hooks.texts());
  }
  EXPECT_TRUE(SameBytes(*pageBefore, *page));
  EXPECT_TRUE(SameBytes(*dstBefore, *dst));
  Recorder hooks;
  auto expected = CopyOf(*page);
  ASSERT_EQ(1, BookEffect(book.get(), expected.get(), 50, 20, 30));
  EXPECT_EQ(1, BookEffect(book.get(), page.get(), 65536 + 50, 0x10000 + 20, 0xFFFF0000u + 30));
  EXPECT_TRUE(SameBytes(*expected, *page));
  EXPECT_EQ(1, BookEffect(book.get(), page.get(), 100, 100, 100));
  EXPECT_EQ(1, ConvexLens(lens.get(), dst.get(), 19, 9, 3, 1));
  EXPECT_EQ(1, ConvexLens(lens.get(), dst.get(), 0, 0, 3, 4));
  EXPECT_TRUE(hooks.texts().empty());
}

}  // namespace
