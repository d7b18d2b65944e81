// HSL enhancement: the colour ranges, worked pixels of the direct function, the lattice tables
// against the direct function, both paths on whole images against a plainly written reference,
// progress, abort, the busy hook and the refusals.
#include "colour/hsl_enhancement.h"

#include "colour_reference.h"
#include "test_support.h"

namespace {

using marlo::CHSLEnhancement;
using marlo::HslParameters;
using marlo::test::CopyOf;
using marlo::test::PatternImage;
using marlo::test::SameBytes;

constexpr ImageType kColourTypes[] = {ImageType::Rgb24, ImageType::Rgb48};

struct Values {
  int32_t hue[7];
  int32_t saturation[7];
  int32_t lightness[7];
};

HslParameters ToParameters(const Values& v) {
  HslParameters p;
  for (int i = 0; i < 7; ++i) {
    p.hue[i] = v.hue[i];
    p.saturation[i] = v.saturation[i];
    p.lightness[i] = v.lightness[i];
  }
  return p;
}

// Parameter sets used throughout: zero, mixed ranges, master lightness on its own, strong
// changes beyond the usual ranges, and the ends of the integer range.
const Values kSets[] = {
    {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}},
    {{10, 0, 20, 0, -30, 0, 0}, {5, 30, 0, 0, 0, -20, 0}, {0, 10, 0, 0, 0, 0, -10}},
    {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {37, 0, 0, 0, 0, 0, 0}},
    {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {-45, 0, 0, 0, 0, 0, 0}},
    {{-200, 90, -45, 180, 17, -359, 400},
     {-60, -70, 150, 33, -33, 99, -1},
     {-20, 80, -90, 55, -13, 140, -150}},
    {{725, -11, -21, 11, 21, 7, -7}, {100, -250, 250, 0, 3, -3, 60}, {-150, -7, 3, 250, 0, 0, 9}},
    {{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX},
     {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN},
     {INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN, 0, INT32_MAX, INT32_MIN}},
    {{INT32_MIN, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {INT32_MIN, 0, 0, 0, 0, 0, 0}},
};

// ---- A plainly written reference of the direct function and of the lattice lookup ----

long long RefRange(const int32_t x[7], int h) {
  auto ramp = [&](int i, int j, int lo) {
    const int hi = lo + 30;
    return static_cast<long long>(x[i]) * (hi - h) / 30 +
           static_cast<long long>(x[j]) * (h - lo) / 30;
  };
  if (h >= 345 || h < 15) return x[1];
  if (h < 45) return ramp(1, 2, 15);
  if (h < 75) return x[2];
  if (h < 105) return ramp(2, 3, 75);
  if (h < 135) return x[3];
  if (h < 165) return ramp(3, 4, 135);
  if (h < 195) return x[4];
  if (h < 225) return ramp(4, 5, 195);
  if (h < 255) return x[5];
  if (h < 285) return ramp(5, 6, 255);
  if (h < 315) return x[6];
  return ramp(6, 1, 315);
}

void RefAdjust(const Values& p, bool wide, int* r, int* g, int* b) {
  const long long top = wide ? 65535 : 255;
  const marlo::test::RefHls x = marlo::test::RefRgbToHls(*r, *g, *b, wide);
  long long rh = 0, rs = 0, rl = 0;
  if (x.h != 9999) {
    rh = RefRange(p.hue, x.h);
    rs = RefRange(p.saturation, x.h);
    rl = RefRange(p.lightness, x.h);
  }
  long long hs = p.hue[0] + rh;
  if (hs > 360) hs = hs - 360 * ((hs - 1) / 360);
  if (hs < 0) hs = hs + 360 * ((359 - hs) / 360);
  long long sc = p.saturation[0] + rs;
  sc = sc > 100 ? 100 : (sc < -100 ? -100 : sc);
  const long long lc = p.lightness[0] + rl * x.delta / top;
  int c[3];
  if (x.h != 9999) {
    long long s = (sc + 100) * x.s / 100;
    if (s > 100) s = 100;
    marlo::test::RefHlsToRgb(static_cast<int>(x.h + hs), x.l, static_cast<int>(s), wide, &c[0],
                             &c[1], &c[2]);
  } else {
    c[0] = c[1] = c[2] = x.l;
  }
  int* out[3] = {r, g, b};
  for (int k = 0; k < 3; ++k) {
    long long v = c[k];
    if (lc < 0) v = ((lc + 100) * v + 50) / 100;
    if (lc > 0) v = v + ((top - v) * lc + 50) / 100;
    *out[k] = static_cast<int>(v > top ? top : (v < 0 ? 0 : v));
  }
}

// The lattice of the reference: lattice[(kb * 16 + kg) * 16 + kr][channel].
std::vector<std::array<int, 3>> RefLattice(const Values& p, bool wide) {
  const int step = wide ? 4352 : 17;
  std::vector<std::array<int, 3>> lattice(4096);
  for (int kb = 0; kb < 16; ++kb) {
    for (int kg = 0; kg < 16; ++kg) {
      for (int kr = 0; kr < 16; ++kr) {
        int r = kr * step, g = kg * step, b = kb * step;
        RefAdjust(p, wide, &r, &g, &b);
        lattice[(kb * 16 + kg) * 16 + kr] = {r, g, b};
      }
    }
  }
  return lattice;
}

void RefLookUp(const std::vector<std::array<int, 3>>& lattice, bool wide, int* r, int* g, int* b) {
  const unsigned long long step = wide ? 4352 : 17;
  const int v[3] = {*r, *g, *b};
  int k[3];
  unsigned long long f[3];
  for (int c = 0; c < 3; ++c) {
    k[c] = static_cast<int>(v[c] / step);
    f[c] = v[c] - step * k[c];
  }
  unsigned long long sum[3] = {0, 0, 0};
  for (int db = 0; db < 2; ++db) {
    for (int dg = 0; dg < 2; ++dg) {
      for (int dr = 0; dr < 2; ++dr) {
        const int kr = std::min(k[0] + dr, 15), kg = std::min(k[1] + dg, 15),
                  kb = std::min(k[2] + db, 15);
        const unsigned long long w =
            (dr ? f[0] : step - f[0]) * (dg ? f[1] : step - f[1]) * (db ? f[2] : step - f[2]);
        for (int c = 0; c < 3; ++c) {
          sum[c] += w * static_cast<unsigned long long>(lattice[(kb * 16 + kg) * 16 + kr][c]);
        }
      }
    }
  }
  const unsigned long long total = step * step * step;
  *r = static_cast<int>(sum[0] / total);
  *g = static_cast<int>(sum[1] / total);
  *b = static_cast<int>(sum[2] / total);
}

// Checks every pixel of `out` against the reference of `in` (table path or direct path), and
// that 16-bit padding is carried through.
void ExpectEnhanced(const Kasa& in, const Kasa& out, const Values& p, bool tables) {
  const bool wide = in.GetBitCount() == 48;
  const auto lattice = RefLattice(p, wide);
  for (int32_t y = 0; y < in.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < in.GetImageWidth(); ++x) {
      int r = static_cast<int>(marlo::test::Sample(in, x, y, 2));
      int g = static_cast<int>(marlo::test::Sample(in, x, y, 1));
      int b = static_cast<int>(marlo::test::Sample(in, x, y, 0));
      if (tables) {
        RefLookUp(lattice, wide, &r, &g, &b);
      } else {
        RefAdjust(p, wide, &r, &g, &b);
      }
      ASSERT_EQ(static_cast<uint32_t>(r), marlo::test::Sample(out, x, y, 2)) << x << "," << y;
      ASSERT_EQ(static_cast<uint32_t>(g), marlo::test::Sample(out, x, y, 1)) << x << "," << y;
      ASSERT_EQ(static_cast<uint32_t>(b), marlo::test::Sample(out, x, y, 0)) << x << "," << y;
    }
  }
  if (wide) {
    ASSERT_TRUE(marlo::test::SamePadding(in, out));
  }
}

// Runs the filter with the direct path forced.
int32_t RunDirect(Kasa* src, Kasa* dst, const Values& p, ProgressCallback cb = nullptr) {
  CHSLEnhancement filter(false);
  if (!filter.SetParameters(p.hue, p.saturation, p.lightness)) return 0;
  EXPECT_FALSE(filter.HasTables());
  return filter.Run(src, dst, cb, 0, 100) == marlo::Status::Ok ? 1 : 0;
}

std::array<int, 3> Direct8(const Values& v, int r, int g, int b) {
  uint8_t rr = static_cast<uint8_t>(r), gg = static_cast<uint8_t>(g), bb = static_cast<uint8_t>(b);
  marlo::AdjustPixel8(ToParameters(v), &rr, &gg, &bb);
  return {rr, gg, bb};
}

// ---- The colour ranges ----

TEST(HslRanges, PlateausGiveTheRangesOwnValue) {
  const int32_t x[7] = {1000, 11, 22, 33, 44, 55, 66};
  for (int h : {345, 350, 359, 0, 14}) EXPECT_EQ(11, marlo::RangeValue(x, h)) << h;
  for (int h = 45; h < 75; ++h) EXPECT_EQ(22, marlo::RangeValue(x, h));
  for (int h = 105; h < 135; ++h) EXPECT_EQ(33, marlo::RangeValue(x, h));
  for (int h = 165; h < 195; ++h) EXPECT_EQ(44, marlo::RangeValue(x, h));
  for (int h = 225; h < 255; ++h) EXPECT_EQ(55, marlo::RangeValue(x, h));
  for (int h = 285; h < 315; ++h) EXPECT_EQ(66, marlo::RangeValue(x, h));
}

TEST(HslRanges, RampsTruncateEachHalfSeparately) {
  // Hue 30, midway between red and yellow: 11 * 15 / 30 + 21 * 15 / 30 = 5 + 10 = 15 (one
  // quotient of the sum would give 16).
  const int32_t up[7] = {0, 11, 21, 0, 0, 0, 0};
  EXPECT_EQ(15, marlo::RangeValue(up, 30));
  const int32_t down[7] = {0, -11, -21, 0, 0, 0, 0};
  EXPECT_EQ(-15, marlo::RangeValue(down, 30));  // truncated toward zero, not down
  EXPECT_EQ(-11, marlo::RangeValue(down, 15));
  EXPECT_EQ(-11 * 29 / 30 + -21 * 1 / 30, marlo::RangeValue(down, 16));
  EXPECT_EQ(-10, marlo::RangeValue(down, 16));
  EXPECT_EQ(-11 * 1 / 30 + -21 * 29 / 30, marlo::RangeValue(down, 44));
  // The magenta-to-red ramp wraps: at 330, half magenta and half red.
  const int32_t wrap[7] = {0, 60, 0, 0, 0, 0, 90};
  EXPECT_EQ(75, marlo::RangeValue(wrap, 330));
  EXPECT_EQ(90, marlo::RangeValue(wrap, 315));
  EXPECT_EQ(90 * 1 / 30 + 60 * 29 / 30, marlo::RangeValue(wrap, 344));
  // Every hue against the reference, and extreme values without overflow.
  const int32_t big[7] = {0, INT32_MAX, INT32_MIN, INT32_MAX, -7, INT32_MIN, INT32_MAX};
  for (int h = 0; h < 360; ++h) {
    ASSERT_EQ(RefRange(big, h), marlo::RangeValue(big, h)) << h;
    ASSERT_EQ(RefRange(up, h), marlo::RangeValue(up, h)) << h;
  }
}

// ---- The direct function ----

TEST(HslDirect, RedHueOffsetTurnsRedToGreen) {
  const Values v = {{0, 120, 0, 0, 0, 0, 0}, {0}, {0}};
  EXPECT_EQ((std::array<int, 3>{0, 255, 0}), Direct8(v, 255, 0, 0));
}

TEST(HslDirect, HueThirtyTakesHalfOfRedAndHalfOfYellow) {
  // (255, 128, 0): H = 30, L = 128, S = 100. Range hue 5 + 10 = 15, so H' = 45:
  // m2 = 256, m1 = 0, green = 256 * 45 / 60 = 192 (a shift of 16 would give 196).
  const Values v = {{0, 11, 21, 0, 0, 0, 0}, {0}, {0}};
  EXPECT_EQ((std::array<int, 3>{255, 192, 0}), Direct8(v, 255, 128, 0));
}

TEST(HslDirect, HueShiftsReduceModulo360) {
  const Values zero = {{0}, {0}, {0}};
  const Values full = {{720, 0, 0, 0, 0, 0, 0}, {0}, {0}};
  // 360 in every range: ramps give 360 * a / 30 + 360 * (30 - a) / 30 = 360, so 720 everywhere.
  const Values split = {{360, 360, 360, 360, 360, 360, 360}, {0}, {0}};
  const Values minus = {{-1, 0, 0, 0, 0, 0, 0}, {0}, {0}};
  const Values plus = {{359, 0, 0, 0, 0, 0, 0}, {0}, {0}};
  const Values back = {{-360, 0, 0, 0, 0, 0, 0}, {0}, {0}};
  const Values over = {{361, 0, 0, 0, 0, 0, 0}, {0}, {0}};
  const Values one = {{1, 0, 0, 0, 0, 0, 0}, {0}, {0}};
  for (int r = 0; r < 256; r += 15) {
    for (int g = 0; g < 256; g += 17) {
      for (int b = 0; b < 256; b += 51) {
        const auto base = Direct8(zero, r, g, b);
        ASSERT_EQ(base, Direct8(full, r, g, b));
        ASSERT_EQ(base, Direct8(back, r, g, b));
        ASSERT_EQ(Direct8(plus, r, g, b), Direct8(minus, r, g, b));
        ASSERT_EQ(Direct8(one, r, g, b), Direct8(over, r, g, b));
        ASSERT_EQ(base, Direct8(split, r, g, b));
      }
    }
  }
}

TEST(HslDirect, SaturationChangesAreHeldWithinHundred) {
  const Values master = {{0}, {-100, 0, 0, 0, 0, 0, 0}, {0}};
  const Values summed = {{0}, {-60, -70, 0, 0, 0, 0, 0}, {0}};
  // (200, 100, 100): red, L = 150; every pixel becomes grey at its lightness.
  EXPECT_EQ((std::array<int, 3>{150, 150, 150}), Direct8(master, 200, 100, 100));
  EXPECT_EQ((std::array<int, 3>{150, 150, 150}), Direct8(summed, 200, 100, 100));
  const Values high = {{0}, {250, 0, 0, 0, 0, 0, 0}, {0}};
  const Values hundred = {{0}, {100, 0, 0, 0, 0, 0, 0}, {0}};
  for (int g = 0; g < 256; g += 5) {
    EXPECT_EQ(Direct8(hundred, 30, g, 200), Direct8(high, 30, g, 200));
  }
  // +100 doubles S = 47 to 94: m2 = 150 + (105 * 94 + 50) / 100 = 249, m1 = 51.
  EXPECT_EQ((std::array<int, 3>{249, 51, 51}), Direct8(hundred, 200, 100, 100));
}

TEST(HslDirect, LightnessMasterActsOnGreysRangePartIsWeightedByChroma) {
  const Values brighter = {{0}, {0}, {50, 0, 0, 0, 0, 0, 0}};
  const Values darker = {{0}, {0}, {-50, 0, 0, 0, 0, 0, 0}};
  // Grey 100: 100 + (155 * 50 + 50) / 100 = 178; (50 * 100 + 50) / 100 = 50.
  EXPECT_EQ((std::array<int, 3>{178, 178, 178}), Direct8(brighter, 100, 100, 100));
  EXPECT_EQ((std::array<int, 3>{50, 50, 50}), Direct8(darker, 100, 100, 100));
  // A range lightness does not touch greys at all.
  const Values red = {{0}, {0}, {0, 51, 0, 0, 0, 0, 0}};
  EXPECT_EQ((std::array<int, 3>{100, 100, 100}), Direct8(red, 100, 100, 100));
  // (200, 100, 100): delta 100, lc = 51 * 100 / 255 = 20; the model gives (199, 101, 101),
  // then 199 + (56 * 20 + 50) / 100 = 210 and 101 + (154 * 20 + 50) / 100 = 132.
  EXPECT_EQ((std::array<int, 3>{210, 132, 132}), Direct8(red, 200, 100, 100));
  // Below -100 every channel ends at 0; far above +100 at the top.
  const Values black = {{0}, {0}, {-150, 0, 0, 0, 0, 0, 0}};
  EXPECT_EQ((std::array<int, 3>{0, 0, 0}), Direct8(black, 200, 100, 1));
  const Values white = {{0}, {0}, {INT32_MAX, 0, 0, 0, 0, 0, 0}};
  EXPECT_EQ((std::array<int, 3>{255, 255, 255}), Direct8(white, 200, 100, 1));
}

TEST(HslDirect, SixteenBitUsesSixtyFourBitProducts) {
  // Master lightness 40000 on a grey 65000: (65535 - 65000) * 40000 overflows 32 bits if formed
  // there; the channel goes to the top.
  const HslParameters p = ToParameters({{0}, {0}, {40000, 0, 0, 0, 0, 0, 0}});
  uint16_t r = 65000, g = 65000, b = 65000;
  marlo::AdjustPixel16(p, &r, &g, &b);
  EXPECT_EQ(65535, r);
  // -99 darkens 65000 to (1 * 65000 + 50) / 100 = 650.
  const HslParameters q = ToParameters({{0}, {0}, {-99, 0, 0, 0, 0, 0, 0}});
  r = g = b = 65000;
  marlo::AdjustPixel16(q, &r, &g, &b);
  EXPECT_EQ(650, r);
  EXPECT_EQ(650, b);
  // A 16-bit red range lightness is weighted by delta / 65535: (65535, 0, 0) takes it fully.
  const HslParameters red = ToParameters({{0}, {0}, {0, -50, 0, 0, 0, 0, 0}});
  r = 65535, g = 0, b = 0;
  marlo::AdjustPixel16(red, &r, &g, &b);
  EXPECT_EQ((65535 * 50 + 50) / 100, r);
  EXPECT_EQ(0, g);
}

TEST(HslDirect, BothWidthsAgreeWithTheReference) {
  for (const Values& v : kSets) {
    const HslParameters p = ToParameters(v);
    for (int r = 0; r < 256; r += 7) {
      for (int g = 0; g < 256; g += 11) {
        for (int b = 0; b < 256; b += 13) {
          int rr = r, rg = g, rb = b;
          RefAdjust(v, false, &rr, &rg, &rb);
          ASSERT_EQ((std::array<int, 3>{rr, rg, rb}), Direct8(v, r, g, b)) << r << " " << g;
        }
      }
    }
    uint32_t state = 99;
    for (int i = 0; i < 20000; ++i) {
      state = marlo::test::Mix(state + static_cast<uint32_t>(i));
      const int r = static_cast<int>(state & 0xFFFF), g = static_cast<int>(state >> 16);
      const int b = static_cast<int>(marlo::test::Mix(state) & 0xFFFF);
      int rr = r, rg = g, rb = b;
      RefAdjust(v, true, &rr, &rg, &rb);
      uint16_t sr = static_cast<uint16_t>(r), sg = static_cast<uint16_t>(g),
               sb = static_cast<uint16_t>(b);
      marlo::AdjustPixel16(p, &sr, &sg, &sb);
      ASSERT_EQ(rr, sr) << r << " " << g << " " << b;
      ASSERT_EQ(rg, sg);
      ASSERT_EQ(rb, sb);
    }
  }
}

// ---- The lattice tables ----

TEST(HslTables, EveryLatticePointHoldsTheDirectValueGreysIncluded) {
  for (const Values& v : kSets) {
    CHSLEnhancement filter;
    ASSERT_TRUE(filter.HasTables());
    ASSERT_EQ(1, filter.SetParameters(v.hue, v.saturation, v.lightness));
    const HslParameters p = ToParameters(v);
    for (int kb = 0; kb < 16; ++kb) {
      for (int kg = 0; kg < 16; ++kg) {
        for (int kr = 0; kr < 16; ++kr) {
          uint8_t r = static_cast<uint8_t>(17 * kr), g = static_cast<uint8_t>(17 * kg),
                  b = static_cast<uint8_t>(17 * kb);
          marlo::AdjustPixel8(p, &r, &g, &b);
          const uint8_t* e8 = filter.Entry8(kr, kg, kb);
          ASSERT_EQ(r, e8[0]);
          ASSERT_EQ(g, e8[1]);
          ASSERT_EQ(b, e8[2]);
          // Looking up a lattice point gives its entry exactly.
          uint8_t lr = static_cast<uint8_t>(17 * kr), lg = static_cast<uint8_t>(17 * kg),
                  lb = static_cast<uint8_t>(17 * kb);
          filter.Pixel8(&lr, &lg, &lb);
          ASSERT_EQ(r, lr);
          ASSERT_EQ(g, lg);
          ASSERT_EQ(b, lb);

          uint16_t r16 = static_cast<uint16_t>(4352 * kr), g16 = static_cast<uint16_t>(4352 * kg),
                   b16 = static_cast<uint16_t>(4352 * kb);
          marlo::AdjustPixel16(p, &r16, &g16, &b16);
          const uint16_t* e16 = filter.Entry16(kr, kg, kb);
          ASSERT_EQ(r16, e16[0]);
          ASSERT_EQ(g16, e16[1]);
          ASSERT_EQ(b16, e16[2]);
          uint16_t l16r = static_cast<uint16_t>(4352 * kr), l16g = static_cast<uint16_t>(4352 * kg),
                   l16b = static_cast<uint16_t>(4352 * kb);
          filter.Pixel16(&l16r, &l16g, &l16b);
          ASSERT_EQ(r16, l16r);
          ASSERT_EQ(g16, l16g);
          ASSERT_EQ(b16, l16b);
        }
      }
    }
  }
}

TEST(HslTables, MasterLightnessMovesGreyLatticePoints) {
  // The grey axis goes through the direct function too: grey 17 * 6 = 102 with master +50
  // becomes 102 + (153 * 50 + 50) / 100 = 179 in the table, as in the direct path.
  const int32_t zero[7] = {0}, light[7] = {50, 0, 0, 0, 0, 0, 0};
  CHSLEnhancement filter;
  ASSERT_EQ(1, filter.SetParameters(zero, zero, light));
  EXPECT_EQ(179, filter.Entry8(6, 6, 6)[0]);
  EXPECT_EQ(179, filter.Entry8(6, 6, 6)[2]);
  EXPECT_EQ(255, filter.Entry8(15, 15, 15)[1]);
  EXPECT_EQ(0 + (255 * 50 + 50) / 100, filter.Entry8(0, 0, 0)[0]);
  EXPECT_EQ(4352 * 3 + ((65535 - 4352 * 3) * 50 + 50) / 100, filter.Entry16(3, 3, 3)[1]);
}

TEST(HslTables, InterpolationBetweenLatticePoints) {
  // Along the red axis between the lattice points 17 and 34 (green and blue 0, so their weights
  // are 17 * 17 on the base corners) the value moves linearly between the two entries.
  const int32_t zero[7] = {0};
  CHSLEnhancement filter;
  ASSERT_EQ(1, filter.SetParameters(zero, zero, zero));
  const int a = filter.Entry8(1, 0, 0)[0], b = filter.Entry8(2, 0, 0)[0];
  for (int f = 0; f <= 16; ++f) {
    uint8_t r = static_cast<uint8_t>(17 + f), g = 0, bl = 0;
    filter.Pixel8(&r, &g, &bl);
    EXPECT_EQ(((17 - f) * 289 * a + f * 289 * b) / 4913, r) << f;
  }
  // 16-bit values above the last lattice point are held at it.
  const uint16_t* top = filter.Entry16(15, 15, 15);
  for (uint16_t v : {65280, 65281, 65400, 65535}) {
    uint16_t r = v, g = v, b = v;
    filter.Pixel16(&r, &g, &b);
    EXPECT_EQ(top[0], r);
    EXPECT_EQ(top[1], g);
    EXPECT_EQ(top[2], b);
  }
}

// ---- Whole images ----

// Sample values that include the top of the 16-bit range and some grey pixels.
void Prepare(Kasa& image) {
  const bool wide = image.GetBitCount() == 48;
  for (int32_t y = 0; y < image.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < image.GetImageWidth(); ++x) {
      if ((x + y) % 5 == 0) {
        const uint32_t v = marlo::test::Sample(image, x, y, 0);
        marlo::test::SetSample(image, x, y, 1, v);
        marlo::test::SetSample(image, x, y, 2, v);
      } else if (wide && (x + y) % 7 == 0) {
        marlo::test::SetSample(image, x, y, 1, 65280 + (marlo::test::Sample(image, x, y, 1) & 255));
      }
    }
  }
}

TEST(HSLEnhancement, WholeImagesThroughTheTables) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 4}, {2, 2}, {5, 1}, {2, 3}, {33, 3}};
  for (ImageType type : kColourTypes) {
    for (const auto& size : sizes) {
      for (const Values& v : kSets) {
        auto src = PatternImage(type, size[0], size[1], 3u + static_cast<uint32_t>(size[0]));
        Prepare(*src);
        auto before = CopyOf(*src);
        Kasa dst;
        ASSERT_EQ(
            1, HSLEnhancement(src.get(), &dst, v.hue, v.saturation, v.lightness, nullptr, 0, 100));
        EXPECT_TRUE(SameBytes(*before, *src));
        ExpectEnhanced(*src, dst, v, true);

        // In place gives the same result.
        ASSERT_EQ(1, HSLEnhancement(src.get(), src.get(), v.hue, v.saturation, v.lightness, nullptr,
                                    0, 100));
        EXPECT_TRUE(marlo::test::SamePixels(dst, *src));
      }
    }
  }
}

TEST(HSLEnhancement, WholeImagesThroughTheDirectFunction) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 3}, {2, 2}, {3, 1}, {33, 2}};
  for (ImageType type : kColourTypes) {
    for (const auto& size : sizes) {
      for (const Values& v : kSets) {
        auto src = PatternImage(type, size[0], size[1], 8u + static_cast<uint32_t>(size[1]));
        Prepare(*src);
        Kasa dst;
        ASSERT_EQ(1, RunDirect(src.get(), &dst, v));
        ExpectEnhanced(*src, dst, v, false);
        auto inPlace = CopyOf(*src);
        ASSERT_EQ(1, RunDirect(inPlace.get(), inPlace.get(), v));
        EXPECT_TRUE(marlo::test::SamePixels(dst, *inPlace));
      }
    }
  }
}

TEST(HSLEnhancement, BothPathsAgreeOnLatticeImagesAndDifferBetween) {
  for (ImageType type : kColourTypes) {
    const uint32_t step = type == ImageType::Rgb48 ? 4352 : 17;
    auto src = PatternImage(type, 19, 7, 21);
    for (int32_t y = 0; y < 7; ++y) {
      for (int32_t x = 0; x < 19; ++x) {
        for (int s = 0; s < 3; ++s) {
          marlo::test::SetSample(*src, x, y, s, step * (marlo::test::Sample(*src, x, y, s) % 16));
        }
      }
    }
    for (const Values& v : kSets) {
      Kasa table, direct;
      ASSERT_EQ(
          1, HSLEnhancement(src.get(), &table, v.hue, v.saturation, v.lightness, nullptr, 0, 100));
      ASSERT_EQ(1, RunDirect(src.get(), &direct, v));
      EXPECT_TRUE(marlo::test::SamePixels(table, direct));
    }
    // Between the lattice points the paths are allowed to differ, and with these settings do.
    auto between = PatternImage(type, 19, 7, 22);
    const Values& v = kSets[1];
    Kasa table, direct;
    ASSERT_EQ(1, HSLEnhancement(between.get(), &table, v.hue, v.saturation, v.lightness, nullptr, 0,
                                100));
    ASSERT_EQ(1, RunDirect(between.get(), &direct, v));
    EXPECT_FALSE(marlo::test::SamePixels(table, direct));
  }
}

TEST(HSLEnhancement, ProgressAfterEachWrittenRowAndAbort) {
  const Values& v = kSets[1];
  for (ImageType type : kColourTypes) {
    auto src = PatternImage(type, 4, 50, 5);
    Kasa full, fullDirect;
    ASSERT_EQ(1, RunDirect(src.get(), &fullDirect, v));
    {
      marlo::test::ProgressRecorder recorder;
      ASSERT_EQ(1, HSLEnhancement(src.get(), &full, v.hue, v.saturation, v.lightness,
                                  &marlo::test::ProgressRecorder::Callback, 0, 100));
      ASSERT_EQ(52u, recorder.values().size());
      EXPECT_EQ(0, recorder.values().front());
      EXPECT_EQ(1, recorder.values()[1]);
      EXPECT_EQ(99, recorder.values()[50]);
      EXPECT_EQ(100, recorder.values().back());
      for (const auto& call : recorder.calls()) {
        EXPECT_EQ(0, call.start);
        EXPECT_EQ(100, call.end);
      }
    }
    for (bool direct : {false, true}) {
      // Abort on the third per-row report: rows 0..2 are written, the others are not.
      auto dst = PatternImage(type, 4, 50, 6);
      auto dstBefore = CopyOf(*dst);
      marlo::test::ProgressRecorder aborting(4);
      if (direct) {
        ASSERT_EQ(1, RunDirect(src.get(), dst.get(), v, &marlo::test::ProgressRecorder::Callback));
      } else {
        ASSERT_EQ(1, HSLEnhancement(src.get(), dst.get(), v.hue, v.saturation, v.lightness,
                                    &marlo::test::ProgressRecorder::Callback, 0, 100));
      }
      EXPECT_EQ((std::vector<int32_t>{0, 1, 3, 5}), aborting.values());
      for (int32_t y = 0; y < 50; ++y) {
        for (int32_t x = 0; x < 4; ++x) {
          for (int s = 0; s < 3; ++s) {
            if (y < 3) {
              ASSERT_EQ(marlo::test::Sample(direct ? fullDirect : full, x, y, s),
                        marlo::test::Sample(*dst, x, y, s));
            } else {
              ASSERT_EQ(marlo::test::Sample(*dstBefore, x, y, s),
                        marlo::test::Sample(*dst, x, y, s))
                  << "row " << y;
            }
          }
        }
      }
    }
  }
}

TEST(HSLEnhancement, WorkersReportAbort) {
  const Values& v = kSets[1];
  CHSLEnhancement filter;
  ASSERT_EQ(1, filter.SetParameters(v.hue, v.saturation, v.lightness));
  auto src = PatternImage(ImageType::Rgb24, 4, 10, 1);
  auto dst = CopyOf(*src);
  {
    marlo::test::ProgressRecorder aborting(2);
    EXPECT_EQ(
        marlo::Status::Aborted,
        filter.Enhance8(src.get(), dst.get(), &marlo::test::ProgressRecorder::Callback, 0, 100));
  }
  auto src16 = PatternImage(ImageType::Rgb48, 4, 10, 1);
  auto dst16 = CopyOf(*src16);
  {
    marlo::test::ProgressRecorder aborting(3);
    EXPECT_EQ(marlo::Status::Aborted,
              filter.Enhance16(src16.get(), dst16.get(), &marlo::test::ProgressRecorder::Callback,
                               0, 100));
  }
  marlo::test::ProgressRecorder quiet;
  EXPECT_EQ(marlo::Status::Ok, filter.Enhance16(src16.get(), dst16.get(),
                                                &marlo::test::ProgressRecorder::Callback, 0, 100));
  EXPECT_EQ(100, quiet.values().back());
}

TEST(HSLEnhancement, BusyHookAroundTheWork) {
  marlo::test::BusyRecorder busy;
  const Values& v = kSets[1];
  auto src = PatternImage(ImageType::Rgb24, 3, 3, 1);
  Kasa dst;
  EXPECT_EQ(1, HSLEnhancement(src.get(), &dst, v.hue, v.saturation, v.lightness, nullptr, 0, 100));
  EXPECT_EQ((std::vector<int>{1, 0}), marlo::test::BusyRecorder::Calls());
  marlo::test::BusyRecorder::Calls().clear();
  EXPECT_EQ(0,
            HSLEnhancement(src.get(), &dst, nullptr, v.saturation, v.lightness, nullptr, 0, 100));
  EXPECT_TRUE(marlo::test::BusyRecorder::Calls().empty());
}

TEST(HSLEnhancement, RefusalsWriteNothing) {
  const Values& v = kSets[1];
  marlo::test::ProgressRecorder recorder;
  auto* cb = &marlo::test::ProgressRecorder::Callback;
  auto src = PatternImage(ImageType::Rgb48, 5, 3, 1);
  // Null parameter arrays.
  for (int missing = 0; missing < 3; ++missing) {
    auto dst = PatternImage(ImageType::Rgb48, 5, 3, 2);
    auto dstBefore = CopyOf(*dst);
    Kasa empty;
    const int32_t* h = missing == 0 ? nullptr : v.hue;
    const int32_t* s = missing == 1 ? nullptr : v.saturation;
    const int32_t* l = missing == 2 ? nullptr : v.lightness;
    EXPECT_EQ(0, HSLEnhancement(src.get(), dst.get(), h, s, l, cb, 0, 100));
    EXPECT_TRUE(SameBytes(*dstBefore, *dst));
    EXPECT_EQ(0, HSLEnhancement(src.get(), &empty, h, s, l, cb, 0, 100));
    EXPECT_EQ(1, empty.IsEmpty());
    CHSLEnhancement filter;
    EXPECT_EQ(0, filter.SetParameters(h, s, l));
  }
  // Grey sources.
  for (ImageType type : {ImageType::Gray8, ImageType::Gray16}) {
    auto grey = PatternImage(type, 4, 3, 1);
    auto dst = PatternImage(type, 4, 3, 2);
    auto dstBefore = CopyOf(*dst);
    Kasa empty;
    EXPECT_EQ(0,
              HSLEnhancement(grey.get(), dst.get(), v.hue, v.saturation, v.lightness, cb, 0, 100));
    EXPECT_TRUE(SameBytes(*dstBefore, *dst));
    EXPECT_EQ(0, HSLEnhancement(grey.get(), &empty, v.hue, v.saturation, v.lightness, cb, 0, 100));
    EXPECT_EQ(1, empty.IsEmpty());
  }
  // A destination of another size or type.
  auto other = PatternImage(ImageType::Rgb48, 5, 4, 2);
  auto otherBefore = CopyOf(*other);
  EXPECT_EQ(0,
            HSLEnhancement(src.get(), other.get(), v.hue, v.saturation, v.lightness, cb, 0, 100));
  EXPECT_TRUE(SameBytes(*otherBefore, *other));
  auto narrow = PatternImage(ImageType::Rgb24, 5, 3, 2);
  auto narrowBefore = CopyOf(*narrow);
  EXPECT_EQ(0,
            HSLEnhancement(src.get(), narrow.get(), v.hue, v.saturation, v.lightness, cb, 0, 100));
  EXPECT_TRUE(SameBytes(*narrowBefore, *narrow));
  // Null and empty images.
  Kasa empty, emptyDst;
  EXPECT_EQ(0, HSLEnhancement(&empty, &emptyDst, v.hue, v.saturation, v.lightness, cb, 0, 100));
  EXPECT_EQ(1, emptyDst.IsEmpty());
  EXPECT_EQ(0, HSLEnhancement(nullptr, &emptyDst, v.hue, v.saturation, v.lightness, cb, 0, 100));
  EXPECT_EQ(0, HSLEnhancement(src.get(), nullptr, v.hue, v.saturation, v.lightness, cb, 0, 100));
  EXPECT_EQ(1, emptyDst.IsEmpty());
  EXPECT_TRUE(recorder.calls().empty());
}

// ---- The row workers' lookups against the lattice lookup of one pixel ----

TEST(HslRows, EveryEightBitColourAsTheLatticeGivesIt) {
  // The red-interpolated packed table of the 8-bit rows against Pixel8, over the whole 8-bit
  // domain (4096 x 4096 pixels), for a mixed and an extreme parameter set.
  auto src = marlo::test::MakeImage(ImageType::Rgb24, 4096, 4096);
  for (int32_t y = 0; y < 4096; ++y) {
    uint8_t* row = src->RowData(y);
    for (int32_t x = 0; x < 4096; ++x) {
      const uint32_t colour = static_cast<uint32_t>(y) * 4096u + static_cast<uint32_t>(x);
      for (int s = 0; s < 3; ++s) row[3 * x + s] = static_cast<uint8_t>(colour >> (8 * s));
    }
  }
  for (const Values* v : {&kSets[1], &kSets[5]}) {
    CHSLEnhancement filter;
    ASSERT_EQ(1, filter.SetParameters(v->hue, v->saturation, v->lightness));
    Kasa dst;
    ASSERT_EQ(marlo::Status::Ok, filter.Run(src.get(), &dst, nullptr, 0, 100));
    for (int32_t y = 0; y < 4096; ++y) {
      const uint8_t* in = src->RowData(y);
      const uint8_t* out = dst.RowData(y);
      for (int32_t x = 0; x < 4096; ++x) {
        uint8_t b = in[3 * x], g = in[3 * x + 1], r = in[3 * x + 2];
        filter.Pixel8(&r, &g, &b);
        if (b != out[3 * x] || g != out[3 * x + 1] || r != out[3 * x + 2]) {
          FAIL() << "colour " << int(in[3 * x + 2]) << "," << int(in[3 * x + 1]) << ","
                 << int(in[3 * x]);
        }
      }
    }
  }
}

TEST(HslRows, SixteenBitPixelsAsTheLatticeGivesThem) {
  // The padded lattice of the 16-bit rows against Pixel16: random samples, the lattice points
  // and their neighbours, and the samples above the last lattice point (65280..65535).
  auto src = marlo::test::MakeImage(ImageType::Rgb48, 701, 40);
  for (int32_t y = 0; y < 40; ++y) {
    for (int32_t x = 0; x < 701; ++x) {
      for (int s = 0; s < 3; ++s) {
        const uint32_t m = marlo::test::Mix(static_cast<uint32_t>((y * 701 + x) * 3 + s));
        uint32_t v = (m >> 8) & 0xFFFF;
        if (m % 4 == 0) v = 4352 * ((m >> 4) % 16) + (m >> 12) % 3 - 1;  // near a lattice point
        if (m % 4 == 1) v = 65280 + (m >> 8) % 256;
        marlo::test::SetSample(*src, x, y, s, v & 0xFFFF);
      }
    }
  }
  for (const Values* v : {&kSets[1], &kSets[5], &kSets[6]}) {
    CHSLEnhancement filter;
    ASSERT_EQ(1, filter.SetParameters(v->hue, v->saturation, v->lightness));
    Kasa dst;
    ASSERT_EQ(marlo::Status::Ok, filter.Run(src.get(), &dst, nullptr, 0, 100));
    for (int32_t y = 0; y < 40; ++y) {
      for (int32_t x = 0; x < 701; ++x) {
        uint16_t b = static_cast<uint16_t>(marlo::test::Sample(*src, x, y, 0));
        uint16_t g = static_cast<uint16_t>(marlo::test::Sample(*src, x, y, 1));
        uint16_t r = static_cast<uint16_t>(marlo::test::Sample(*src, x, y, 2));
        filter.Pixel16(&r, &g, &b);
        ASSERT_EQ(b, marlo::test::Sample(dst, x, y, 0)) << x << "," << y;
        ASSERT_EQ(g, marlo::test::Sample(dst, x, y, 1)) << x << "," << y;
        ASSERT_EQ(r, marlo::test::Sample(dst, x, y, 2)) << x << "," << y;
      }
    }
  }
}

}  // namespace
