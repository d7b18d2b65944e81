// Auto adjustment: the bounds and stretch of the worked histograms, whole images of every type
// against a literal pixel-by-pixel version through the store's pixel operations, grey against
// colour, in place, larger destinations and refusals.
#include <algorithm>

#include "test_support.h"
#include "tone/auto_adjustment.h"

namespace {

using marlo::Depth16;
using marlo::Depth8;
using marlo::test::CopyOf;
using marlo::test::MakeImage;
using marlo::test::PatternImage;
using marlo::test::SameBytes;
using marlo::test::Sample;
using marlo::test::SetSample;

bool IsWide(const Kasa& image) {
  return image.GetBitCount() == 16 || image.GetBitCount() == 48;
}

// The levels correction as written for packed pixels, through GetPixelRGB and SetPixelRGB:
// 8-bit images with the 24-bit packing, 256 bins and 16-bit unsigned bounds; 16-bit images
// with the 48-bit packing, 65,536 bins and 32-bit unsigned bounds.
void LiteralAutoAdjustment(Kasa& src, Kasa& dst) {
  const bool wide = IsWide(src);
  const uint32_t max = wide ? 65535 : 255;
  const int shift = wide ? 16 : 8;
  const uint32_t w = static_cast<uint32_t>(src.GetImageWidth());
  const uint32_t h = static_cast<uint32_t>(src.GetImageHeight());
  const uint32_t n = w * h;
  std::vector<std::vector<uint32_t>> hist(3, std::vector<uint32_t>(max + 1, 0));
  auto channels = [&](int32_t x, int32_t y, uint32_t c[3]) {
    int64_t v = 0;
    const uint32_t packed = src.GetPixelRGB(x, y, wide ? &v : nullptr);
    if (!wide) v = packed;
    for (int k = 0; k < 3; ++k) c[k] = static_cast<uint32_t>((v >> (shift * k)) & max);
  };
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t c[3];
      channels(static_cast<int32_t>(x), static_cast<int32_t>(y), c);
      for (int k = 0; k < 3; ++k) ++hist[k][c[k]];
    }
  }
  uint32_t low[3], high[3];
  const uint32_t threshold = n / 20;
  for (int k = 0; k < 3; ++k) {
    // Bounds in the unsigned field: 16 bits for 8-bit samples, 32 bits for 16-bit ones.
    uint32_t lo = 0, hi = max, sum = 0;
    if (threshold > 0) {
      while (sum < threshold) sum += hist[k][lo++];
      sum = 0;
      while (sum < threshold) sum += hist[k][hi--];
      if (!wide) hi &= 0xFFFF;
    }
    low[k] = lo;
    high[k] = hi;
  }
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      uint32_t c[3];
      channels(static_cast<int32_t>(x), static_cast<int32_t>(y), c);
      int64_t out = 0;
      for (int k = 0; k < 3; ++k) {
        uint64_t v = c[k];
        if (v < low[k]) {
          v = 0;
        } else if (v <= high[k]) {
          v = high[k] == low[k] ? max : ((v - low[k]) * max) / (high[k] - low[k]);
        } else {
          v = max;
        }
        out |= static_cast<int64_t>(v) << (shift * k);
      }
      dst.SetPixelRGB(static_cast<int32_t>(x), static_cast<int32_t>(y), out);
    }
  }
}

std::vector<uint8_t> Stretch8(const std::vector<uint64_t>& histogram, uint64_t n,
                              marlo::ChannelLevels<Depth8>* levels = nullptr) {
  const auto found = marlo::FindLevels<Depth8>(histogram.data(), n / 20);
  if (levels != nullptr) *levels = found;
  std::vector<uint8_t> table(256);
  marlo::BuildStretch<Depth8>(found, table.data());
  return table;
}

TEST(AutoAdjustment, EvenlySpreadChannelCutsThirteenBinsAtEachEnd) {
  std::vector<uint64_t> histogram(256, 20);  // N = 5120, threshold 256
  marlo::ChannelLevels<Depth8> levels{};
  const auto t = Stretch8(histogram, 5120, &levels);
  EXPECT_EQ(13, levels.low);
  EXPECT_EQ(242, levels.high);
  for (int v = 0; v <= 12; ++v) EXPECT_EQ(0, t[v]);
  for (int v = 243; v <= 255; ++v) EXPECT_EQ(255, t[v]);
  for (int v = 13; v <= 242; ++v) EXPECT_EQ((v - 13) * 255 / 229, t[v]) << v;
  EXPECT_EQ(96, t[100]);
}

TEST(AutoAdjustment, WorkedBounds) {
  // Half at 10, half at 200: low 11, high 199.
  std::vector<uint64_t> histogram(256, 0);
  histogram[10] = 50;
  histogram[200] = 50;
  marlo::ChannelLevels<Depth8> levels{};
  auto t = Stretch8(histogram, 100, &levels);
  EXPECT_EQ(11, levels.low);
  EXPECT_EQ(199, levels.high);
  EXPECT_EQ(0, t[10]);
  EXPECT_EQ(255, t[200]);

  // One value everywhere: low = v + 1, high = v - 1, the channel becomes 0.
  std::fill(histogram.begin(), histogram.end(), 0);
  histogram[255] = 30;
  t = Stretch8(histogram, 30, &levels);
  EXPECT_EQ(256, levels.low);
  EXPECT_EQ(254, levels.high);
  EXPECT_EQ(0, t[255]);

  // More than 95 % at 0: high wraps to 65535 and every sample stretches to 0.
  std::fill(histogram.begin(), histogram.end(), 0);
  histogram[0] = 96;
  histogram[255] = 4;
  t = Stretch8(histogram, 100, &levels);
  EXPECT_EQ(1, levels.low);
  EXPECT_EQ(65535, levels.high);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(0, t[v]);

  // Equal bounds: 50 % at 10, 1 % at 11, 49 % at 12 give low = high = 11; 11 becomes 255.
  std::fill(histogram.begin(), histogram.end(), 0);
  histogram[10] = 50;
  histogram[11] = 1;
  histogram[12] = 49;
  t = Stretch8(histogram, 100, &levels);
  EXPECT_EQ(11, levels.low);
  EXPECT_EQ(11, levels.high);
  EXPECT_EQ(0, t[10]);
  EXPECT_EQ(255, t[11]);
  EXPECT_EQ(255, t[12]);

  // Fewer than 20 pixels: the threshold is 0 and the table is the identity.
  t = Stretch8(histogram, 19, &levels);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(v, t[v]);
}

TEST(AutoAdjustment, SixteenBitBoundsUseTheirOwnScale) {
  std::vector<uint64_t> histogram(65536, 0);
  histogram[0x1001] = 50;
  histogram[0xC8FF] = 50;
  auto levels = marlo::FindLevels<Depth16>(histogram.data(), 5);
  EXPECT_EQ(0x1002u, levels.low);
  EXPECT_EQ(0xC8FEu, levels.high);
  std::vector<uint16_t> table(65536);
  marlo::BuildStretch<Depth16>(levels, table.data());
  EXPECT_EQ(0, table[0x1001]);
  EXPECT_EQ(65535, table[0xC8FF]);
  EXPECT_EQ((0x8000ull - 0x1002) * 65535 / (0xC8FE - 0x1002), table[0x8000]);

  // More than 95 % at 0: the 32-bit high bound wraps far above every sample, as on 8 bits.
  std::fill(histogram.begin(), histogram.end(), 0);
  histogram[0] = 96;
  histogram[65535] = 4;
  levels = marlo::FindLevels<Depth16>(histogram.data(), 5);
  EXPECT_EQ(1u, levels.low);
  EXPECT_EQ(0xFFFFFFFFu, levels.high);
  marlo::BuildStretch<Depth16>(levels, table.data());
  EXPECT_EQ(0, table[65535]);
  EXPECT_EQ(0, table[1]);
}

TEST(AutoAdjustment, WholeImagesOfEveryTypeSeparateAndInPlace) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 40}, {2, 2}, {45, 1}, {33, 3}, {4, 6}, {13, 9}};
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : sizes) {
      auto src = PatternImage(type, size[0], size[1], 61);
      auto before = CopyOf(*src);
      auto dst = PatternImage(type, size[0], size[1], 62);
      auto expected = CopyOf(*dst);
      LiteralAutoAdjustment(*src, *expected);
      ASSERT_EQ(1, AutoAdjustment(src.get(), dst.get()));
      EXPECT_TRUE(SameBytes(*before, *src));
      EXPECT_TRUE(SameBytes(*expected, *dst)) << static_cast<int>(type) << " " << size[0];

      auto inPlaceExpected = CopyOf(*src);
      LiteralAutoAdjustment(*inPlaceExpected, *inPlaceExpected);
      ASSERT_EQ(1, AutoAdjustment(src.get(), src.get()));
      EXPECT_TRUE(SameBytes(*inPlaceExpected, *src)) << "in place";
    }
  }
}

TEST(AutoAdjustment, NarrowContentIsStretchedOverTheRange) {
  // Samples spread over 100..139 (8-bit) or their 16-bit counterparts with low bytes set: the
  // result must reach both ends and keep the order of values.
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = MakeImage(type, 20, 10);
    const int spp = (type == ImageType::Rgb24 || type == ImageType::Rgb48) ? 3 : 1;
    for (int32_t y = 0; y < 10; ++y) {
      for (int32_t x = 0; x < 20; ++x) {
        for (int k = 0; k < spp; ++k) {
          const uint32_t v = 100 + static_cast<uint32_t>(x + 20 * y + 7 * k) % 40;
          SetSample(*src, x, y, k, IsWide(*src) ? v * 257 + 0x55 : v);
        }
      }
    }
    auto expected = MakeImage(type, 20, 10);
    LiteralAutoAdjustment(*src, *expected);
    auto dst = MakeImage(type, 20, 10);
    ASSERT_EQ(1, AutoAdjustment(src.get(), dst.get()));
    EXPECT_TRUE(SameBytes(*expected, *dst));
    const uint32_t max = IsWide(*src) ? 65535 : 255;
    uint32_t lowest = max, highest = 0;
    for (int32_t y = 0; y < 10; ++y) {
      for (int32_t x = 0; x < 20; ++x) {
        lowest = std::min(lowest, Sample(*dst, x, y, 0));
        highest = std::max(highest, Sample(*dst, x, y, 0));
      }
    }
    EXPECT_EQ(0u, lowest);
    EXPECT_EQ(max, highest);
  }
}

TEST(AutoAdjustment, GreyMatchesColourWithEqualChannels) {
  for (bool wide : {false, true}) {
    auto grey = PatternImage(wide ? ImageType::Gray16 : ImageType::Gray8, 9, 7, 3);
    auto colour = MakeImage(wide ? ImageType::Rgb48 : ImageType::Rgb24, 9, 7);
    for (int32_t y = 0; y < 7; ++y) {
      for (int32_t x = 0; x < 9; ++x) {
        for (int k = 0; k < 3; ++k) SetSample(*colour, x, y, k, Sample(*grey, x, y, 0));
      }
    }
    ASSERT_EQ(1, AutoAdjustment(grey.get(), grey.get()));
    ASSERT_EQ(1, AutoAdjustment(colour.get(), colour.get()));
    for (int32_t y = 0; y < 7; ++y) {
      for (int32_t x = 0; x < 9; ++x) {
        for (int k = 0; k < 3; ++k) {
          ASSERT_EQ(Sample(*grey, x, y, 0), Sample(*colour, x, y, k));
        }
      }
    }
  }
}

TEST(AutoAdjustment, UniformWhiteTurnsBlackAndTinyImagesAreCopied) {
  auto white = MakeImage(ImageType::Rgb24, 5, 4);  // 20 pixels: threshold 1
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 5; ++x) white->SetPixelRGB(x, y, 0xFFFFFF);
  }
  auto dst = PatternImage(ImageType::Rgb24, 5, 4, 1);
  ASSERT_EQ(1, AutoAdjustment(white.get(), dst.get()));
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(0u, dst->GetPixelRGB(x, y, nullptr));
  }
  for (ImageType type : marlo::test::kAllTypes) {
    auto tiny = PatternImage(type, 19, 1, 2);  // 19 pixels: threshold 0
    auto out = MakeImage(type, 19, 1);
    ASSERT_EQ(1, AutoAdjustment(tiny.get(), out.get()));
    for (int32_t x = 0; x < 19; ++x) {
      ASSERT_EQ(Sample(*tiny, x, 0, 0), Sample(*out, x, 0, 0));
    }
  }
}

TEST(AutoAdjustment, LargerDestinationIsWrittenInItsTopLeftPart) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 6, 5, 8);
    auto dst = PatternImage(type, 9, 7, 9);
    auto expected = CopyOf(*dst);
    LiteralAutoAdjustment(*src, *expected);
    ASSERT_EQ(1, AutoAdjustment(src.get(), dst.get()));
    EXPECT_TRUE(SameBytes(*expected, *dst));
  }
}

TEST(AutoAdjustment, RefusalsWriteNothing) {
  marlo::test::ExpectCoveringDestinationRefusals(
      [](Kasa* s, Kasa* d) { return AutoAdjustment(s, d); });
}

}  // namespace
