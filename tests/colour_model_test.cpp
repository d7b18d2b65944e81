// The integer colour model: worked values, truncation toward zero of negative quotients, the
// hue reduction of the way back, and both widths against the plainly written reference.
#include "colour/colour_model.h"

#include "colour_reference.h"
#include "test_support.h"

namespace {

using marlo::HlsToRgb16;
using marlo::HlsToRgb8;
using marlo::HueToValue16;
using marlo::HueToValue8;
using marlo::HueUndefined;
using marlo::RgbHue;
using marlo::RgbToHls16;
using marlo::RgbToHls8;
using marlo::ScaleSaturation16;
using marlo::ScaleSaturation8;

void ExpectRgb(const marlo::Rgb& rgb, int32_t r, int32_t g, int32_t b) {
  EXPECT_EQ(r, rgb.red);
  EXPECT_EQ(g, rgb.green);
  EXPECT_EQ(b, rgb.blue);
}

TEST(ColourModel, PrimaryAndSecondaryHues) {
  marlo::Hls red = RgbToHls8(255, 0, 0);
  EXPECT_EQ(0, red.hue);
  EXPECT_EQ(128, red.lightness);
  EXPECT_EQ(100, red.saturation);
  EXPECT_EQ(255, red.delta);
  EXPECT_EQ(120, RgbToHls8(0, 255, 0).hue);
  EXPECT_EQ(240, RgbToHls8(0, 0, 255).hue);
  EXPECT_EQ(300, RgbToHls8(255, 0, 255).hue);
  EXPECT_EQ(60, RgbToHls8(255, 255, 0).hue);   // red wins the tie with green
  EXPECT_EQ(180, RgbToHls8(0, 255, 255).hue);  // green wins the tie with blue
  // m2 = 256, m1 = 0: red is clamped from 256 to 255.
  ExpectRgb(HlsToRgb8(0, 128, 100), 255, 0, 0);
}

TEST(ColourModel, WorkedPixel) {
  const marlo::Hls x = RgbToHls8(200, 100, 100);
  EXPECT_EQ(0, x.hue);
  EXPECT_EQ(150, x.lightness);  // sum 300, above the middle: divisor 210
  EXPECT_EQ(47, x.saturation);
  EXPECT_EQ(100, x.delta);
}

TEST(ColourModel, GreyHasNoHue) {
  const marlo::Hls grey = RgbToHls8(10, 10, 10);
  EXPECT_EQ(HueUndefined, grey.hue);
  EXPECT_EQ(9999, HueUndefined);
  EXPECT_EQ(10, grey.lightness);
  EXPECT_EQ(0, grey.saturation);
  EXPECT_EQ(0, grey.delta);
  EXPECT_EQ(HueUndefined, RgbToHls16(40000, 40000, 40000).hue);
  EXPECT_EQ(HueUndefined, RgbHue(7, 7, 7));
  for (int32_t p : {-1000, -100, 0, 50, 1000, INT32_MIN, INT32_MAX}) {
    uint8_t r = 10, g = 10, b = 10;
    EXPECT_EQ(0, ScaleSaturation8(&r, &g, &b, p));
    EXPECT_EQ(10, r);
    EXPECT_EQ(10, g);
    EXPECT_EQ(10, b);
    uint16_t r16 = 0x1234, g16 = 0x1234, b16 = 0x1234;
    EXPECT_EQ(0, ScaleSaturation16(&r16, &g16, &b16, p));
    EXPECT_EQ(0x1234, r16);
    EXPECT_EQ(0x1234, g16);
    EXPECT_EQ(0x1234, b16);
  }
}

TEST(ColourModel, LightnessThresholdIsOnTheRoundedUpValue) {
  // Sum 256 (L = 128) divides by the sum; sum 257 (L = 129) by 510 - 257 = 253.
  EXPECT_EQ(128, RgbToHls8(200, 56, 56).lightness);
  EXPECT_EQ(144 * 100 / 256, RgbToHls8(200, 56, 56).saturation);
  EXPECT_EQ(129, RgbToHls8(200, 57, 57).lightness);
  EXPECT_EQ(143 * 100 / 253, RgbToHls8(200, 57, 57).saturation);
  // 16-bit: (65535, 0, 0) has L = 32768, not above the middle, so D = 65535 and S = 100.
  const marlo::Hls red = RgbToHls16(65535, 0, 0);
  EXPECT_EQ(32768, red.lightness);
  EXPECT_EQ(100, red.saturation);
  EXPECT_EQ(0, red.hue);
  // Sum 65537 (L = 32769) divides by 131070 - 65537.
  EXPECT_EQ(32769, RgbToHls16(65535, 2, 2).lightness);
  EXPECT_EQ(65533 * 100 / (131070 - 65537), RgbToHls16(65535, 2, 2).saturation);
  ExpectRgb(HlsToRgb16(0, 32768, 100), 65535, 0, 0);  // m2 = 65536 clamped
}

TEST(ColourModel, HueQuotientTruncatesTowardZero) {
  // green - blue = -1 with delta = 7: -60 / 7 is -8 (not -9), so the hue is 352.
  EXPECT_EQ(352, RgbToHls8(7, 0, 1).hue);
  EXPECT_EQ(352, RgbHue(7, 0, 1));
  EXPECT_EQ(352, RgbToHls16(7, 0, 1).hue);
  // Green maximum: (blue - red) * 60 / delta + 120 = -60 / 7 + 120 = 112.
  EXPECT_EQ(112, RgbToHls8(1, 7, 0).hue);
  // Blue maximum: (red - green) * 60 / delta + 240 = -60 / 7 + 240 = 232.
  EXPECT_EQ(232, RgbToHls8(0, 1, 7).hue);
}

TEST(ColourModel, HueToValueReducesAnyHue) {
  EXPECT_EQ(10, HueToValue8(10, 20, -1));    // 359
  EXPECT_EQ(20, HueToValue8(10, 20, 420));   // 60
  EXPECT_EQ(15, HueToValue8(20, 10, 30));    // 20 + (-10 * 30) / 60
  EXPECT_EQ(10, HueToValue8(10, 20, -360));  // 0: the rising edge at its start
  EXPECT_EQ(10, HueToValue8(10, 20, -361));  // 359
  EXPECT_EQ(11, HueToValue8(10, 20, -354));  // 6: 10 + 10 * 6 / 60
  EXPECT_EQ(20, HueToValue8(10, 20, 180 - 720));
  EXPECT_EQ(15, HueToValue8(10, 20, 210 + 3600));  // falling edge: 10 + 10 * 30 / 60
  EXPECT_EQ(10, HueToValue8(10, 20, 240));
  EXPECT_EQ(20, HueToValue8(10, 20, 179));
  // Extreme hues are reduced without overflow: INT32_MAX is 127 modulo 360, INT32_MIN is 232.
  EXPECT_EQ(255, HueToValue8(0, 255, INT32_MAX));
  EXPECT_EQ(34, HueToValue8(0, 255, INT32_MIN));  // 255 * (240 - 232) / 60
}

TEST(ColourModel, HueToValueTruncatesNegativeSlopesTowardZero) {
  // 20 + (-10 * 50) / 60 = 20 - 8 = 12 (flooring would give 11).
  EXPECT_EQ(12, HueToValue8(20, 10, 50));
  // Falling edge with m2 < m1: 20 + (-10 * 10) / 60 = 19 at hue 230.
  EXPECT_EQ(19, HueToValue8(20, 10, 230));
  EXPECT_EQ(1000 + (-500 * 50) / 60, HueToValue16(1000, 500, 50));
  EXPECT_EQ(584, HueToValue16(1000, 500, 50));
}

TEST(ColourModel, HueToValueClampsToTheSampleRange) {
  EXPECT_EQ(255, HueToValue8(0, 300, 100));
  EXPECT_EQ(0, HueToValue8(-5, 100, 300));
  EXPECT_EQ(300, HueToValue16(0, 300, 100));
  EXPECT_EQ(65535, HueToValue16(0, 70000, 100));
  EXPECT_EQ(0, HueToValue16(-5, 100, 300));
  // Anchors far outside the range do not overflow.
  EXPECT_EQ(255, HueToValue8(INT32_MIN, INT32_MAX, 59));
  EXPECT_EQ(0, HueToValue8(INT32_MAX, INT32_MIN, 59));
}

TEST(ColourModel, ModelDoesNotRoundTripExactly) {
  // H = 240, L = 4, S = 100, m2 = 850 / 100 = 8.
  uint8_t r = 0, g = 0, b = 7;
  EXPECT_EQ(100, ScaleSaturation8(&r, &g, &b, 0));
  EXPECT_EQ(0, r);
  EXPECT_EQ(0, g);
  EXPECT_EQ(8, b);
}

TEST(ColourModel, ScaleSaturationWorkedValues) {
  uint8_t r = 200, g = 100, b = 100;
  EXPECT_EQ(47, ScaleSaturation8(&r, &g, &b, -100));
  EXPECT_EQ(150, r);
  EXPECT_EQ(150, g);
  EXPECT_EQ(150, b);
  // 47 + 470 = 517 is held at 100: m2 = 150 + (105 * 100 + 50) / 100 = 255, m1 = 45.
  r = 200, g = 100, b = 100;
  EXPECT_EQ(47, ScaleSaturation8(&r, &g, &b, 1000));
  EXPECT_EQ(255, r);
  EXPECT_EQ(45, g);
  EXPECT_EQ(45, b);
  // Percentages whose product with S leaves 32 bits.
  r = 200, g = 100, b = 100;
  EXPECT_EQ(47, ScaleSaturation8(&r, &g, &b, INT32_MAX));
  EXPECT_EQ(255, r);
  EXPECT_EQ(45, g);
  r = 200, g = 100, b = 100;
  EXPECT_EQ(47, ScaleSaturation8(&r, &g, &b, INT32_MIN));  // held at -100
  // -100 with L = 150: m2 = 150 + (105 * -100 + 50) / 100 = 150 - 104 = 46, m1 = 254.
  EXPECT_EQ(46, r);
  EXPECT_EQ(254, g);
  EXPECT_EQ(254, b);
}

TEST(ColourModel, NegativeSaturationAboveTheMiddleTruncatesTowardZero) {
  // p = -200 on (200, 100, 100): S' = 47 - 94 = -47; m2 = 150 + (105 * -47 + 50) / 100
  // = 150 + (-4885 / 100) = 150 - 48 = 102 (rounding down would give 101), m1 = 198.
  uint8_t r = 200, g = 100, b = 100;
  EXPECT_EQ(47, ScaleSaturation8(&r, &g, &b, -200));
  EXPECT_EQ(102, r);
  EXPECT_EQ(198, g);
  EXPECT_EQ(198, b);
  // Directly: L = 200, S = -47: (55 * -47 + 50) / 100 = -2535 / 100 = -25, m2 = 175, m1 = 225.
  ExpectRgb(HlsToRgb8(0, 200, -47), 175, 225, 225);
  // 16-bit: L = 40000, S = -3: (25535 * -3 + 50) / 100 = -76555 / 100 = -765.
  ExpectRgb(HlsToRgb16(0, 40000, -3), 40000 - 765, 40000 + 765, 40000 + 765);
  // Below the middle (S + 100) is never negative: ((-47 + 100) * 100 + 50) / 100 = 53.
  ExpectRgb(HlsToRgb8(0, 100, -47), 53, 147, 147);
}

TEST(ColourModel, HlsToRgbAcceptsAnyHue) {
  for (int32_t h : {-1000, -361, -360, -1, 0, 59, 360, 719, 100000}) {
    int r, g, b;
    const int32_t reduced = ((h % 360) + 360) % 360;
    marlo::test::RefHlsToRgb(reduced, 90, 60, false, &r, &g, &b);
    ExpectRgb(HlsToRgb8(h, 90, 60), r, g, b);
  }
  // No overflow at the ends of the integer range.
  const marlo::Rgb a = HlsToRgb8(INT32_MAX, 90, 60);
  const marlo::Rgb c = HlsToRgb8(INT32_MIN, 90, 60);
  EXPECT_LE(0, a.red);
  EXPECT_LE(0, c.blue);
}

TEST(ColourModel, EightBitAgreesWithTheReferenceEverywhere) {
  // Every 8-bit colour on a 5-step grid, and every percentage from a range.
  for (int r = 0; r < 256; r += 5) {
    for (int g = 0; g < 256; g += 3) {
      for (int b = 0; b < 256; b += 7) {
        const marlo::test::RefHls want = marlo::test::RefRgbToHls(r, g, b, false);
        const marlo::Hls got =
            RgbToHls8(static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b));
        ASSERT_EQ(want.h, got.hue) << r << " " << g << " " << b;
        ASSERT_EQ(want.l, got.lightness);
        ASSERT_EQ(want.s, got.saturation);
        ASSERT_EQ(want.delta, got.delta);
        ASSERT_EQ(want.h, RgbHue(static_cast<uint16_t>(r), static_cast<uint16_t>(g),
                                 static_cast<uint16_t>(b)));
        for (int p : {-250, -200, -101, -100, -37, 0, 1, 33, 100, 250}) {
          int rr = r, rg = g, rb = b;
          const int ws = marlo::test::RefScaleSaturation(&rr, &rg, &rb, p, false);
          uint8_t sr = static_cast<uint8_t>(r), sg = static_cast<uint8_t>(g),
                  sb = static_cast<uint8_t>(b);
          ASSERT_EQ(ws, ScaleSaturation8(&sr, &sg, &sb, p));
          ASSERT_EQ(rr, sr) << r << " " << g << " " << b << " p " << p;
          ASSERT_EQ(rg, sg);
          ASSERT_EQ(rb, sb);
        }
      }
    }
  }
}

TEST(ColourModel, SixteenBitAgreesWithTheReference) {
  uint32_t state = 12345;
  for (int i = 0; i < 200000; ++i) {
    state = marlo::test::Mix(state + static_cast<uint32_t>(i));
    const int r = static_cast<int>(state & 0xFFFF);
    const int g = static_cast<int>(state >> 16);
    const int b = static_cast<int>(marlo::test::Mix(state) & 0xFFFF);
    const int p = static_cast<int>(marlo::test::Mix(state ^ 0x55u) % 601) - 300;
    const marlo::test::RefHls want = marlo::test::RefRgbToHls(r, g, b, true);
    const marlo::Hls got =
        RgbToHls16(static_cast<uint16_t>(r), static_cast<uint16_t>(g), static_cast<uint16_t>(b));
    ASSERT_EQ(want.h, got.hue);
    ASSERT_EQ(want.l, got.lightness);
    ASSERT_EQ(want.s, got.saturation);
    int rr = r, rg = g, rb = b;
    const int ws = marlo::test::RefScaleSaturation(&rr, &rg, &rb, p, true);
    uint16_t sr = static_cast<uint16_t>(r), sg = static_cast<uint16_t>(g),
             sb = static_cast<uint16_t>(b);
    ASSERT_EQ(ws, ScaleSaturation16(&sr, &sg, &sb, p));
    ASSERT_EQ(rr, sr) << r << " " << g << " " << b << " p " << p;
    ASSERT_EQ(rg, sg);
    ASSERT_EQ(rb, sb);
  }
}

}  // namespace
