// Book effect: the page geometry's worked numbers, whole images of every type against the eight
// steps written out literally on the image store, pinned readings, in-place runs, the messages
// and the refusals.
#include <cmath>

#include "effects/book_effect.h"
#include "effects_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::GetWhole;
using marlo::test::MessageRecorder;
using marlo::test::PatternImage;
using marlo::test::SamePixels;
using marlo::test::SetWhole;
using marlo::test::WhiteOf;

// The effect's eight steps exactly as described, one pixel at a time through the store, with
// plain int and double arithmetic.
void ReferenceBook(Kasa& src, Kasa& dst, int axis, int folding, int slanting) {
  const double pi = 3.141592653;
  const int W = src.GetImageWidth(), H = src.GetImageHeight();
  const int F = ((W / 2 - 20) * folding) / 100;
  const int X = ((W - 2 * F) * axis) / 100 + F;
  const int S = (slanting * (H - 20)) / 100;
  const int Lw = X - F, Rw = W - X - F;
  int PL = ((Lw - 20) * S) / (H - 20);
  int PR = ((Rw - 20) * S) / (H - 20);
  if (PL < 0) PL = 0;
  if (PR < 0) PR = 0;
  const int64_t white = WhiteOf(dst);

  for (int x = F; x <= X - 1; ++x) {
    const int sx = (int)(x - std::cos(((x - F) * pi / Lw) * 0.5) * F);
    for (int y = 0; y < H; ++y) SetWhole(dst, x, y, GetWhole(src, sx, y));
  }
  for (int x = X; x <= W - F - 1; ++x) {
    const int sx = (int)(std::sin(((x - X) * pi / Rw) * 0.5) * F + x);
    for (int y = 0; y < H; ++y) SetWhole(dst, x, y, GetWhole(src, sx, y));
  }
  for (int i = 0; i < F; ++i) {
    for (int y = 0; y < H; ++y) {
      SetWhole(dst, i, y, white);
      SetWhole(dst, W - 1 - i, y, white);
    }
  }
  const double r = (double)H / (double)(H - S);
  for (int y = 0; y <= H - S - 1; ++y) {
    for (int x = F; x <= W - F - 1; ++x) SetWhole(dst, x, y, GetWhole(dst, x, (int)(y * r)));
  }
  for (int y = H - S; y < H; ++y) {
    for (int x = F; x <= W - F - 1; ++x) SetWhole(dst, x, y, white);
  }
  for (int x = F; x <= X - 1; ++x) {
    const double d = S - std::sin(((x - F) * pi / Lw) * 0.5) * S;
    for (int y = (int)((H - S) + d - 1.0); y >= d; --y) {
      SetWhole(dst, x, y, GetWhole(dst, x, (int)(y - d)));
    }
    for (int y = 0; y < d; ++y) SetWhole(dst, x, y, white);
  }
  for (int x = X; x <= W - F - 1; ++x) {
    const double d = S - std::cos(((x - X) * pi / Rw) * 0.5) * S;
    for (int y = (int)((H - S) + d - 1.0); y >= d; --y) {
      SetWhole(dst, x, y, GetWhole(dst, x, (int)(y - d)));
    }
    for (int y = 0; y < d; ++y) SetWhole(dst, x, y, white);
  }
  for (int y = 0; y < H; ++y) {
    if (Lw > 0) {
      const double e = (double)(PL * (H - y)) / H;
      const double scale = Lw / (Lw - e);
      const double limit = F + e;
      for (int x = X - 1; x >= limit; --x) {
        SetWhole(dst, x, y, GetWhole(dst, (int)(X - (X - x) * scale), y));
      }
      for (int x = F; x < limit; ++x) SetWhole(dst, x, y, white);
    }
    if (Rw > 0) {
      const double e = (double)(PR * (H - y)) / H;
      const double scale = Rw / (Rw - e);
      const double limit = (W - F) - e;
      for (int x = X; x < limit; ++x) {
        SetWhole(dst, x, y, GetWhole(dst, (int)((x - X) * scale + X), y));
      }
      for (int x = (int)limit; x <= W - F - 1; ++x) SetWhole(dst, x, y, white);
    }
  }
}

TEST(BookGeometry, WorkedNumbers) {
  marlo::BookGeometry g = marlo::ComputeBookGeometry(100, 60, 50, 20, 50);
  EXPECT_EQ(6, g.margin);
  EXPECT_EQ(50, g.spine);
  EXPECT_EQ(20, g.droop);
  EXPECT_EQ(44, g.leftWidth);
  EXPECT_EQ(44, g.rightWidth);
  EXPECT_EQ(12, g.leftInset);
  EXPECT_EQ(12, g.rightInset);

  g = marlo::ComputeBookGeometry(1000, 300, 30, 100, 0);
  EXPECT_EQ(480, g.margin);
  EXPECT_EQ(492, g.spine);  // (40 * 30) / 100 + 480
  EXPECT_EQ(0, g.droop);

  // A left page of 10 columns would get the inset (-10 * 20) / 40 = -5: it gets none.
  g = marlo::ComputeBookGeometry(100, 60, 10, 0, 50);
  EXPECT_EQ(10, g.leftWidth);
  EXPECT_EQ(0, g.leftInset);
  EXPECT_EQ(35, g.rightInset);  // (70 * 20) / 40
  // (-5 * 20) / 40 truncates to 0, not to -3.
  g = marlo::ComputeBookGeometry(100, 60, 15, 0, 50);
  EXPECT_EQ(0, g.leftInset);
}

TEST(BookEffect, WholeImagesOfEveryTypeMatchTheStepsWrittenOut) {
  // 390 x 70 crosses the drawing's tiles of 32 rows and 384 bytes in every type.
  const int32_t sizes[][2] = {{40, 21}, {41, 23}, {57, 30}, {63, 45}, {390, 70}};
  const int params[][3] = {{50, 0, 0},    {50, 20, 50}, {30, 60, 100}, {0, 10, 40}, {100, 10, 40},
                           {5, 100, 100}, {97, 35, 70}, {50, 100, 0},  {2, 0, 100}, {71, 3, 13}};
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : sizes) {
      auto src = PatternImage(type, size[0], size[1], 11);
      for (const auto& p : params) {
        const std::string what = "type " + std::to_string(static_cast<int>(type)) + " size " +
                                 std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                                 " params " + std::to_string(p[0]) + "," + std::to_string(p[1]) +
                                 "," + std::to_string(p[2]);
        auto expected = PatternImage(type, size[0], size[1], 12);
        ReferenceBook(*src, *expected, p[0], p[1], p[2]);
        auto dst = PatternImage(type, size[0], size[1], 12);
        auto before = CopyOf(*src);
        ASSERT_EQ(1, BookEffect(src.get(), dst.get(), p[0], p[1], p[2])) << what;
        EXPECT_TRUE(SamePixels(*expected, *dst)) << what;
        EXPECT_TRUE(marlo::test::SameBytes(*before, *src)) << what;
        // Padding at the end of the destination's rows is not touched.
        auto fresh = PatternImage(type, size[0], size[1], 12);
        EXPECT_TRUE(marlo::test::SamePadding(*fresh, *dst)) << what;
        // In place gives what a separate destination gets.
        auto inPlace = CopyOf(*src);
        ASSERT_EQ(1, BookEffect(inPlace.get(), inPlace.get(), p[0], p[1], p[2])) << what;
        EXPECT_TRUE(SamePixels(*expected, *inPlace)) << what;
      }
    }
  }
}

TEST(BookEffect, NoFoldAndNoSlantGiveAnExactCopyAtFullPrecision) {
  for (ImageType type : marlo::test::kAllTypes) {
    for (int axis : {0, 37, 50, 100}) {
      auto src = PatternImage(type, 45, 22, 3);
      auto dst = PatternImage(type, 45, 22, 4);
      ASSERT_EQ(1, BookEffect(src.get(), dst.get(), axis, 0, 0));
      EXPECT_TRUE(SamePixels(*src, *dst)) << static_cast<int>(type) << " axis " << axis;
    }
  }
}

TEST(BookEffect, FullFoldLeavesOnlyTheMiddleFortyColumns) {
  auto src = marlo::test::MakeImage(ImageType::Gray8, 1000, 30);
  for (int32_t y = 0; y < 30; ++y) {
    for (int32_t x = 0; x < 1000; ++x) src->SetPixel(x, y, (x + y) % 200);  // never white
  }
  auto dst = marlo::test::MakeImage(ImageType::Gray8, 1000, 30);
  ASSERT_EQ(1, BookEffect(src.get(), dst.get(), 50, 100, 0));
  for (int32_t y = 0; y < 30; ++y) {
    for (int32_t x = 0; x < 1000; ++x) {
      const bool page = x >= 480 && x < 520;
      ASSERT_EQ(page, dst->GetPixel(x, y, nullptr) != 255) << x << " " << y;
    }
  }
}

TEST(BookEffect, SqueezeRatioIsARealDivision) {
  // H = 60 and slanting 50 give S = 20 and r = 60 / 40 = 1.5 (an integer division would give
  // 1). Rows carry their own value; at the spine column nothing else moves, so destination row
  // y shows source row trunc(1.5 y).
  auto src = marlo::test::MakeImage(ImageType::Gray16, 40, 60);
  for (int32_t y = 0; y < 60; ++y) {
    for (int32_t x = 0; x < 40; ++x) src->SetPixel(x, y, 1000 * y + 7);
  }
  auto dst = marlo::test::MakeImage(ImageType::Gray16, 40, 60);
  ASSERT_EQ(1, BookEffect(src.get(), dst.get(), 50, 0, 50));
  const int32_t spine = 20;
  EXPECT_EQ(1000 * 4 + 7, dst->GetPixel(spine, 3, nullptr));
  EXPECT_EQ(1000 * 7 + 7, dst->GetPixel(spine, 5, nullptr));
  EXPECT_EQ(1000 * 58 + 7, dst->GetPixel(spine, 39, nullptr));
  EXPECT_EQ(65535u, dst->GetPixel(spine, 40, nullptr));  // the bottom band
}

TEST(BookEffect, WhiteIsTheLargestValueOfEachType) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = marlo::test::MakeImage(type, 50, 25);  // all black
    auto dst = marlo::test::MakeImage(type, 50, 25);
    ASSERT_EQ(1, BookEffect(src.get(), dst.get(), 50, 50, 0));
    EXPECT_EQ(WhiteOf(*dst), GetWhole(*dst, 0, 0));
    EXPECT_EQ(WhiteOf(*dst), GetWhole(*dst, 49, 24));
    EXPECT_EQ(0, GetWhole(*dst, 25, 10));
  }
}

TEST(BookEffect, ParameterMessagesInOrderAndNothingWritten) {
  MessageRecorder messages;
  auto src = PatternImage(ImageType::Rgb24, 50, 30, 1);
  auto dst = PatternImage(ImageType::Rgb24, 50, 30, 2);
  auto dstBefore = CopyOf(*dst);
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 101, 101, 101));
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 50, 101, 101));
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 50, 0, 101));
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 0xFFFFFFFFu, 0, 0));  // -1: low half 65535
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 0, 65535, 0));
  EXPECT_EQ(0, BookEffect(src.get(), dst.get(), 0, 0, 0x0001FFFFu));
  EXPECT_EQ((std::vector<std::string>{
                "Axis location is out of range !", "Folding degree is out of range !",
                "Slanting degree is out of range !", "Axis location is out of range !",
                "Folding degree is out of range !", "Slanting degree is out of range !"}),
            messages.texts());
  EXPECT_TRUE(marlo::test::SameBytes(*dstBefore, *dst));

  // Only the low 16 bits count: 65536 + 50 is 50.
  messages.clear();
  auto expected = CopyOf(*dst);
  ASSERT_EQ(1, BookEffect(src.get(), expected.get(), 50, 20, 30));
  EXPECT_EQ(1, BookEffect(src.get(), dst.get(), 65536 + 50, 0x10000 + 20, 0xFFFF0000u + 30));
  EXPECT_TRUE(SamePixels(*expected, *dst));
  EXPECT_TRUE(messages.texts().empty());
  EXPECT_EQ(1, BookEffect(src.get(), dst.get(), 100, 100, 100));
  EXPECT_TRUE(messages.texts().empty());
}

TEST(BookEffect, ImageErrorsRefuseBeforeTheParametersAndWriteNothing) {
  MessageRecorder messages;
  auto src = PatternImage(ImageType::Rgb48, 40, 21, 1);
  auto dst = PatternImage(ImageType::Rgb48, 40, 21, 2);
  auto dstBefore = CopyOf(*dst);
  Kasa empty;
  auto narrowSrc = PatternImage(ImageType::Rgb48, 39, 21, 1);
  auto narrowDst = PatternImage(ImageType::Rgb48, 39, 21, 2);
  auto lowSrc = PatternImage(ImageType::Rgb48, 40, 20, 1);
  auto lowDst = PatternImage(ImageType::Rgb48, 40, 20, 2);
  auto otherSize = PatternImage(ImageType::Rgb48, 41, 21, 2);
  auto otherType = PatternImage(ImageType::Rgb24, 40, 21, 2);
  auto otherSizeBefore = CopyOf(*otherSize);
  auto otherTypeBefore = CopyOf(*otherType);
  auto narrowBefore = CopyOf(*narrowDst);
  auto lowBefore = CopyOf(*lowDst);
  EXPECT_EQ(0, BookEffect(nullptr, dst.get(), 50, 10, 10));
  EXPECT_EQ(0, BookEffect(src.get(), nullptr, 50, 10, 10));
  EXPECT_EQ(0, BookEffect(&empty, dst.get(), 50, 10, 10));
  EXPECT_EQ(0, BookEffect(src.get(), &empty, 50, 10, 10));
  EXPECT_EQ(0, BookEffect(narrowSrc.get(), narrowDst.get(), 50, 10, 10));
  EXPECT_EQ(0, BookEffect(lowSrc.get(), lowDst.get(), 50, 10, 10));
  EXPECT_EQ(0, BookEffect(src.get(), otherSize.get(), 50, 10, 10));
  EXPECT_EQ(0, BookEffect(src.get(), otherType.get(), 50, 10, 10));
  EXPECT_EQ(0, BookEffect(src.get(), &empty, 500, 10, 10));  // the image is tested first
  EXPECT_EQ(std::vector<std::string>(9, "Image error !"), messages.texts());
  EXPECT_EQ(1, empty.IsEmpty());
  EXPECT_TRUE(marlo::test::SameBytes(*dstBefore, *dst));
  EXPECT_TRUE(marlo::test::SameBytes(*otherSizeBefore, *otherSize));
  EXPECT_TRUE(marlo::test::SameBytes(*otherTypeBefore, *otherType));
  EXPECT_TRUE(marlo::test::SameBytes(*narrowBefore, *narrowDst));
  EXPECT_TRUE(marlo::test::SameBytes(*lowBefore, *lowDst));
  // The smallest accepted picture: 40 x 21.
  messages.clear();
  EXPECT_EQ(1, BookEffect(src.get(), dst.get(), 50, 10, 10));
  EXPECT_TRUE(messages.texts().empty());
}

}  // namespace
