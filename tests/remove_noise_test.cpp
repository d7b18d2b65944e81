// Noise removal: the median, worked pixels, whole images of every type against a literal
// pixel-by-pixel version through the store's pixel operations (separate and in place), and
// the destination rules.
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "detail/remove_noise.h"
#include "test_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::MakeImage;
using marlo::test::PatternImage;
using marlo::test::SameBytes;
using marlo::test::Sample;
using marlo::test::SetSample;

bool IsWide(const Kasa& image) {
  return image.GetBitCount() == 16 || image.GetBitCount() == 48;
}

// Channels of a pixel through the pixel operations: the 24-bit packing for 8-bit images, the
// 48-bit packing (read through the result pointer) for 16-bit ones.
void ReadChannels(Kasa& image, int32_t x, int32_t y, uint32_t c[3]) {
  if (IsWide(image)) {
    int64_t v = 0;
    image.GetPixelRGB(x, y, &v);
    for (int k = 0; k < 3; ++k) c[k] = static_cast<uint32_t>((v >> (16 * k)) & 0xFFFF);
  } else {
    const uint32_t v = image.GetPixelRGB(x, y, nullptr);
    for (int k = 0; k < 3; ++k) c[k] = (v >> (8 * k)) & 0xFF;
  }
}

void WriteChannels(Kasa& image, int32_t x, int32_t y, const uint32_t c[3]) {
  if (IsWide(image)) {
    image.SetPixelRGB(x, y,
                      static_cast<int64_t>(c[0]) | static_cast<int64_t>(c[1]) << 16 |
                          static_cast<int64_t>(c[2]) << 32);
  } else {
    image.SetPixelRGB(x, y, static_cast<int64_t>(c[0] | c[1] << 8 | c[2] << 16));
  }
}

// The filter as written for packed pixels: ten pixel reads, insertion into sorted arrays, the
// fifth value as median, the quiet rule d < ln(d) + 26 on 8-bit levels and d <= 29 x 257 on
// 16-bit ones, one pixel write. Works in place when src == dst.
void LiteralRemoveNoise(Kasa& src, Kasa& dst) {
  const int32_t w = src.GetImageWidth(), h = src.GetImageHeight();
  if (h <= 2) return;
  for (int32_t y = 1; y <= h - 2; ++y) {
    for (int32_t x = 1; x <= w - 2; ++x) {
      uint32_t centre[3];
      ReadChannels(src, x, y, centre);
      uint32_t sorted[3][9];
      int n = 0;
      for (int32_t dy = -1; dy <= 1; ++dy) {
        for (int32_t dx = -1; dx <= 1; ++dx) {
          uint32_t c[3];
          ReadChannels(src, x + dx, y + dy, c);
          for (int k = 0; k < 3; ++k) {
            int j = n;
            sorted[k][j] = c[k];
            while (j > 0 && sorted[k][j - 1] > sorted[k][j]) {
              std::swap(sorted[k][j - 1], sorted[k][j]);
              --j;
            }
          }
          ++n;
        }
      }
      bool quiet = true;
      uint32_t median[3];
      for (int k = 0; k < 3; ++k) {
        median[k] = sorted[k][4];
        const double d = std::fabs(static_cast<double>(median[k]) - centre[k]);
        if (IsWide(src)) {
          quiet = quiet && d <= 29.0 * 257.0;
        } else {
          quiet = quiet && d < (d < 1.0 ? 0.0 : std::log(d)) + 26.0;
        }
      }
      WriteChannels(dst, x, y, quiet ? centre : median);
    }
  }
}

TEST(RemoveNoise, MedianOfNineIsTheFifthSmallest) {
  uint32_t state = 7;
  for (int trial = 0; trial < 20000; ++trial) {
    int32_t v[9];
    for (int32_t& e : v) {
      state = marlo::test::Mix(state + 1);
      e = static_cast<int32_t>(state % (trial % 2 ? 5u : 65536u));  // many ties, or wide values
    }
    int32_t s[9];
    std::copy(v, v + 9, s);
    std::sort(s, s + 9);
    ASSERT_EQ(s[4], marlo::Median9(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]));
  }
}

TEST(RemoveNoise, QuietRuleHoldsUpToTwentyNineLevels) {
  for (int d = 0; d <= 100000; ++d) {
    const double dd = d;
    const bool rule = dd < (dd < 1.0 ? 0.0 : std::log(dd)) + 26.0;
    ASSERT_EQ(rule, d <= 29) << d;
  }
  EXPECT_EQ(29, marlo::kQuietDistance<marlo::Depth8>);
  EXPECT_EQ(7453, marlo::kQuietDistance<marlo::Depth16>);
}

TEST(RemoveNoise, WholeImagesOfEveryTypeSeparateAndInPlace) {
  const int32_t sizes[][2] = {{7, 5}, {3, 3}, {9, 4}, {33, 3}, {4, 6}, {5, 9}};
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : sizes) {
      for (uint32_t salt : {1u, 2u}) {
        // Low-contrast content so that quiet and replaced pixels both occur.
        auto src = PatternImage(type, size[0], size[1], salt);
        if (salt == 2) {
          const int spp = (type == ImageType::Rgb24 || type == ImageType::Rgb48) ? 3 : 1;
          for (int32_t y = 0; y < size[1]; ++y) {
            for (int32_t x = 0; x < size[0]; ++x) {
              for (int k = 0; k < spp; ++k) {
                const uint32_t v = Sample(*src, x, y, k);
                SetSample(*src, x, y, k, IsWide(*src) ? 30000 + v % 12000 : 100 + v % 45);
              }
            }
          }
        }
        auto before = CopyOf(*src);
        auto dst = PatternImage(type, size[0], size[1], 50);
        auto expected = CopyOf(*dst);
        LiteralRemoveNoise(*src, *expected);
        ASSERT_EQ(1, RemoveNoise(src.get(), dst.get()));
        EXPECT_TRUE(SameBytes(*before, *src));
        EXPECT_TRUE(SameBytes(*expected, *dst)) << static_cast<int>(type) << " " << size[0];

        auto inPlaceExpected = CopyOf(*src);
        LiteralRemoveNoise(*inPlaceExpected, *inPlaceExpected);
        ASSERT_EQ(1, RemoveNoise(src.get(), src.get()));
        EXPECT_TRUE(SameBytes(*inPlaceExpected, *src)) << "in place " << static_cast<int>(type);
      }
    }
  }
}

// Samples that put many medians exactly at, just inside and just outside the quiet distance
// from the centre, with ties and the extreme values of the sample range.
std::unique_ptr<Kasa> EdgyImage(ImageType type, int32_t width, int32_t height, uint32_t salt) {
  auto image = MakeImage(type, width, height);
  const uint32_t top = IsWide(*image) ? 65535 : 255;
  const uint32_t quiet = IsWide(*image) ? 29 * 257 : 29;
  const uint32_t values[] = {0,
                             1,
                             quiet,
                             quiet + 1,
                             top / 2,
                             top / 2 + quiet,
                             top / 2 + quiet + 1,
                             top - quiet - 1,
                             top - quiet,
                             top - 1,
                             top};
  const int spp = (type == ImageType::Rgb24 || type == ImageType::Rgb48) ? 3 : 1;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      for (int k = 0; k < spp; ++k) {
        const uint32_t r = marlo::test::Mix(salt * 7919u + (static_cast<uint32_t>(y) << 20) +
                                            static_cast<uint32_t>(x * spp + k));
        SetSample(*image, x, y, k, r % 4 == 0 ? r % (top + 1) : values[(r >> 8) % 11]);
      }
    }
  }
  return image;
}

TEST(RemoveNoise, RowsOfEveryShortWidthAndAcrossWorkStretches) {
  // Widths 3 to 40 cover every tail of the vector loops; the long rows cross the boundaries of
  // the stretches the rows are worked in (1536 bytes of samples) once or more.
  for (ImageType type : marlo::test::kAllTypes) {
    std::vector<int32_t> widths;
    for (int32_t w = 3; w <= 40; ++w) widths.push_back(w);
    const bool rgb = type == ImageType::Rgb24 || type == ImageType::Rgb48;
    const bool wide = type == ImageType::Rgb48 || type == ImageType::Gray16;
    const int32_t stretch = (wide ? 768 : 1536) / (rgb ? 3 : 1);
    for (int32_t w : {stretch + 2, stretch + 3, stretch + 4, 2 * stretch + 7}) widths.push_back(w);
    for (int32_t w : widths) {
      auto src = EdgyImage(type, w, 4, static_cast<uint32_t>(w));
      auto dst = PatternImage(type, w, 4, 5);
      auto expected = CopyOf(*dst);
      LiteralRemoveNoise(*src, *expected);
      ASSERT_EQ(1, RemoveNoise(src.get(), dst.get()));
      ASSERT_TRUE(SameBytes(*expected, *dst)) << static_cast<int>(type) << " width " << w;

      auto inPlaceExpected = CopyOf(*src);
      LiteralRemoveNoise(*inPlaceExpected, *inPlaceExpected);
      ASSERT_EQ(1, RemoveNoise(src.get(), src.get()));
      ASSERT_TRUE(SameBytes(*inPlaceExpected, *src)) << "in place " << static_cast<int>(type);
    }
  }
}

TEST(RemoveNoise, InPlaceReadsFilteredNeighboursAboveAndLeft) {
  // A block of 200 on a black grey field. With a separate destination every pixel is judged
  // from the unfiltered source; in place the pixel to the left has already been cleared.
  auto src = MakeImage(ImageType::Gray8, 5, 4);
  const uint8_t values[4][5] = {
      {0, 0, 0, 0, 0}, {0, 200, 200, 0, 0}, {0, 200, 200, 200, 0}, {0, 0, 0, 0, 0}};
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 0; x < 5; ++x) SetSample(*src, x, y, 0, values[y][x]);
  }
  auto separate = MakeImage(ImageType::Gray8, 5, 4);
  ASSERT_EQ(1, RemoveNoise(src.get(), separate.get()));
  // (1, 1): neighbourhood 0 0 0 / 0 200 200 / 0 200 200: median 0, replaced.
  EXPECT_EQ(0u, Sample(*separate, 1, 1, 0));
  // (2, 1): 0 0 0 / 200 200 0 / 200 200 200: median 200, quiet.
  EXPECT_EQ(200u, Sample(*separate, 2, 1, 0));
  ASSERT_EQ(1, RemoveNoise(src.get(), src.get()));
  EXPECT_EQ(0u, Sample(*src, 1, 1, 0));
  // In place (2, 1) sees its left neighbour already 0: 0 0 0 / 0 200 0 / 200 200 200, median 0.
  EXPECT_EQ(0u, Sample(*src, 2, 1, 0));
}

TEST(RemoveNoise, WorkedPixels) {
  // A single white pixel on a black field becomes black.
  auto src = MakeImage(ImageType::Rgb24, 3, 3);
  src->SetPixelRGB(1, 1, 0xFFFFFF);
  auto dst = MakeImage(ImageType::Rgb24, 3, 3);
  ASSERT_EQ(1, RemoveNoise(src.get(), dst.get()));
  EXPECT_EQ(0u, dst->GetPixelRGB(1, 1, nullptr));

  // On a field of (50, 60, 70): +29 in red stays, +30 replaces all three channels.
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 3; ++x) src->SetPixelRGB(x, y, 50 << 16 | 60 << 8 | 70);
  }
  src->SetPixelRGB(1, 1, 79 << 16 | 61 << 8 | 41);  // +29 red, +1 green, -29 blue
  ASSERT_EQ(1, RemoveNoise(src.get(), dst.get()));
  EXPECT_EQ(static_cast<uint32_t>(79 << 16 | 61 << 8 | 41), dst->GetPixelRGB(1, 1, nullptr));
  src->SetPixelRGB(1, 1, 80 << 16 | 61 << 8 | 41);
  ASSERT_EQ(1, RemoveNoise(src.get(), dst.get()));
  EXPECT_EQ(static_cast<uint32_t>(50 << 16 | 60 << 8 | 70), dst->GetPixelRGB(1, 1, nullptr));

  // 16-bit: the quiet distance is 7453 levels; low bytes count.
  auto wide = MakeImage(ImageType::Gray16, 3, 3);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 3; ++x) SetSample(*wide, x, y, 0, 0x1234);
  }
  auto wideOut = MakeImage(ImageType::Gray16, 3, 3);
  SetSample(*wide, 1, 1, 0, 0x1234 + 7453);
  ASSERT_EQ(1, RemoveNoise(wide.get(), wideOut.get()));
  EXPECT_EQ(0x1234u + 7453u, Sample(*wideOut, 1, 1, 0));
  SetSample(*wide, 1, 1, 0, 0x1234 + 7454);
  ASSERT_EQ(1, RemoveNoise(wide.get(), wideOut.get()));
  EXPECT_EQ(0x1234u, Sample(*wideOut, 1, 1, 0));
}

TEST(RemoveNoise, SmallImagesWriteNothing) {
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : {std::pair<int32_t, int32_t>{1, 5}, {2, 5}, {5, 1}, {5, 2}, {2, 2}}) {
      auto src = PatternImage(type, size.first, size.second, 3);
      auto dst = PatternImage(type, size.first, size.second, 4);
      auto before = CopyOf(*dst);
      EXPECT_EQ(1, RemoveNoise(src.get(), dst.get()));
      EXPECT_TRUE(SameBytes(*before, *dst));
    }
  }
}

TEST(RemoveNoise, DestinationBorderAndLargerDestination) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 6, 5, 8);
    auto dst = PatternImage(type, 9, 7, 9);  // larger: written in its top-left part
    auto expected = CopyOf(*dst);
    LiteralRemoveNoise(*src, *expected);
    ASSERT_EQ(1, RemoveNoise(src.get(), dst.get()));
    EXPECT_TRUE(SameBytes(*expected, *dst));
    // The border (and everything beyond the source's interior) keeps what it held.
    auto before = PatternImage(type, 9, 7, 9);
    for (int32_t y = 0; y < 7; ++y) {
      for (int32_t x = 0; x < 9; ++x) {
        if (y >= 1 && y <= 3 && x >= 1 && x <= 4) continue;
        ASSERT_EQ(Sample(*before, x, y, 0), Sample(*dst, x, y, 0)) << x << " " << y;
      }
    }
  }
}

TEST(RemoveNoise, RefusalsWriteNothing) {
  marlo::test::ExpectCoveringDestinationRefusals(
      [](Kasa* s, Kasa* d) { return RemoveNoise(s, d); });
}

}  // namespace
