// The colour filters and their integer colour model: worked values from the formulas, the fast
// tables and row passes against the model's own functions over whole domains, the properties of
// each filter, and a digest of red-eye fills beyond the golden table's.
#include <array>
#include <cmath>

#include "colour/colour_model.h"
#include "colour/hsl_enhancement.h"
#include "colour/red_eye.h"
#include "colour/tint_add.h"
#include "colour/tint_remove.h"
#include "test_support.h"

namespace {

using namespace marlo::test;
using marlo::HlsToRgb16;
using marlo::HlsToRgb8;
using marlo::HueToValue16;
using marlo::HueToValue8;
using marlo::RgbToHls16;
using marlo::RgbToHls8;
using V = std::vector<int32_t>;
constexpr int32_t M = INT32_MAX, N = INT32_MIN;

std::vector<int32_t> Of(const marlo::Hls& x) {
  return {x.hue, x.lightness, x.saturation, x.delta};
}
std::vector<int32_t> Of(const marlo::Rgb& c) {
  return {c.red, c.green, c.blue};
}
template <class T>
std::vector<int32_t> Scaled(T r, T g, T b, int32_t p, bool wide) {
  uint16_t c[3] = {static_cast<uint16_t>(r), static_cast<uint16_t>(g), static_cast<uint16_t>(b)};
  uint8_t n[3] = {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)};
  const int32_t s = wide ? marlo::ScaleSaturation16(c, c + 1, c + 2, p)
                         : marlo::ScaleSaturation8(n, n + 1, n + 2, p);
  return wide ? std::vector<int32_t>{c[0], c[1], c[2], s}
              : std::vector<int32_t>{n[0], n[1], n[2], s};
}

TEST(ColourModel, WorkedConversions) {
  // hue, lightness, saturation, delta
  EXPECT_EQ((V{0, 128, 100, 255}), Of(RgbToHls8(255, 0, 0)));
  EXPECT_EQ((V{0, 150, 47, 100}), Of(RgbToHls8(200, 100, 100)));  // by 210
  EXPECT_EQ((V{9999, 10, 0, 0}), Of(RgbToHls8(10, 10, 10)));
  EXPECT_EQ(marlo::HueUndefined, RgbToHls16(40000, 40000, 40000).hue);
  // Red wins the tie with green (60), green the tie with blue (180); -60 / 7 is -8, not -9.
  const int32_t hues[][4] = {{0, 255, 0, 120},  {0, 0, 255, 240},   {255, 0, 255, 300},
                             {255, 255, 0, 60}, {0, 255, 255, 180}, {7, 0, 1, 352},
                             {1, 7, 0, 112},    {0, 1, 7, 232}};
  for (const auto& h : hues) {
    EXPECT_EQ(h[3], RgbToHls8(h[0], h[1], h[2]).hue) << h[3];
    EXPECT_EQ(h[3], marlo::RgbHue(h[0], h[1], h[2]));
    EXPECT_EQ(h[3], RgbToHls16(h[0], h[1], h[2]).hue);
  }
  // The lightness threshold is on the rounded-up value: sum 256 divides by the sum, 257 by 253.
  EXPECT_EQ((V{0, 128, 144 * 100 / 256, 144}), Of(RgbToHls8(200, 56, 56)));
  EXPECT_EQ((V{0, 129, 143 * 100 / 253, 143}), Of(RgbToHls8(200, 57, 57)));
  EXPECT_EQ((V{0, 32768, 100, 65535}), Of(RgbToHls16(65535, 0, 0)));
  EXPECT_EQ(65533 * 100 / (131070 - 65537), RgbToHls16(65535, 2, 2).saturation);
  // m2 = 256 (65536) is clamped; negative saturations truncate toward zero above the middle:
  // (55 * -47 + 50) / 100 = -25; below it (S + 100) is never negative: (53 * 100 + 50) / 100.
  EXPECT_EQ((V{255, 0, 0}), Of(HlsToRgb8(0, 128, 100)));
  EXPECT_EQ((V{65535, 0, 0}), Of(HlsToRgb16(0, 32768, 100)));
  EXPECT_EQ((V{175, 225, 225}), Of(HlsToRgb8(0, 200, -47)));
  EXPECT_EQ((V{40000 - 765, 40000 + 765, 40000 + 765}), Of(HlsToRgb16(0, 40000, -3)));
  EXPECT_EQ((V{53, 147, 147}), Of(HlsToRgb8(0, 100, -47)));
  for (int32_t h : {-1000, -361, -1, 359, 719, 100000, INT32_MAX, INT32_MIN}) {
    const int32_t reduced = static_cast<int32_t>((h % 360 + 360) % 360);
    EXPECT_EQ(Of(HlsToRgb8(reduced, 90, 60)), Of(HlsToRgb8(h, 90, 60))) << h;
  }
}

TEST(ColourModel, WorkedHueToValue) {
  // m1, m2, hue, value: any hue is reduced (INT32_MAX is 127 modulo 360, INT32_MIN 232),
  // negative slopes truncate toward zero (20 + -500 / 60 = 12, not 11), values are clamped.
  const int32_t cases[][4] = {{10, 20, -1, 10},   {10, 20, 420, 20},  {20, 10, 30, 15},
                              {10, 20, -360, 10}, {10, 20, -361, 10}, {10, 20, -354, 11},
                              {10, 20, -540, 20}, {10, 20, 3810, 15}, {10, 20, 240, 10},
                              {10, 20, 179, 20},  {20, 10, 50, 12},   {20, 10, 230, 19},
                              {0, 255, M, 255},   {0, 255, N, 34},    {0, 300, 100, 255},
                              {-5, 100, 300, 0},  {N, M, 59, 255},    {M, N, 59, 0}};
  for (const auto& c : cases) EXPECT_EQ(c[3], HueToValue8(c[0], c[1], c[2])) << c[2];
  EXPECT_EQ(584, HueToValue16(1000, 500, 50));
  EXPECT_EQ(300, HueToValue16(0, 300, 100));
  EXPECT_EQ(65535, HueToValue16(0, 70000, 100));
}

TEST(ColourModel, WorkedSaturationScaling) {
  // p, red, green, blue, S of (200, 100, 100): -100 greys it at L = 150; 1000 holds S at 100:
  // m2 = 150 + (105 * 100 + 50) / 100 = 255; below -100 the anchors swap:
  // m2 = 150 + (105 * -47 + 50) / 100 = 102 (rounding down would give 101).
  const int32_t cases[][4] = {{-100, 150, 150, 150},    {1000, 255, 45, 45},
                              {INT32_MAX, 255, 45, 45}, {INT32_MIN, 46, 254, 254},
                              {-200, 102, 198, 198},    {0, 199, 101, 101}};
  for (const auto& c : cases) {
    EXPECT_EQ((V{c[1], c[2], c[3], 47}), Scaled(200, 100, 100, c[0], false)) << c[0];
  }
  EXPECT_EQ((V{0, 0, 8, 100}), Scaled(0, 0, 7, 0, false));  // no round trip
  for (int32_t p : {-1000, 0, 50, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ((V{10, 10, 10, 0}), Scaled(10, 10, 10, p, false));
    EXPECT_EQ((V{0x1234, 0x1234, 0x1234, 0}), Scaled(0x1234, 0x1234, 0x1234, p, true));
  }
}

// ---- The rows of saturation and HSL enhancement against their per-pixel functions ----

// Every 8-bit colour once, at a width that is not a multiple of the rows' blocks.
std::unique_ptr<Kasa> EveryColour() {
  auto image = MakeImage(ImageType::Rgb24, 1531, (1 << 24) / 1531 + 1);
  for (int32_t y = 0; y < image->GetImageHeight(); ++y) {
    for (int32_t i = 0; i < 1531 * 3; ++i)
      image->RowData(y)[i] = (y * 1531 + i / 3) >> (8 * (i % 3)) & 0xFF;
  }
  return image;
}

// 16-bit samples: random ones, the ends and the middle of the range, the HSL lattice points and
// their neighbours, those above the last lattice point, and ties, at widths around the rows'
// blocks.
std::unique_ptr<Kasa> Samples16(int32_t width) {
  auto image = MakeImage(ImageType::Rgb48, width, 5);
  const uint32_t special[] = {0, 1, 32767, 32768, 32769, 65534, 65535};
  for (int32_t i = 0; i < width * 15; ++i) {
    const uint32_t m = Mix(static_cast<uint32_t>(i)), x = i / 3 % width, y = i / 3 / width;
    uint32_t v = m % 5 == 0 ? special[(m >> 8) % 7] : (m >> 8) & 0xFFFF;
    if (m % 5 == 1) v = (4352 * ((m >> 4) % 16) + (m >> 12) % 3 - 1) & 0xFFFF;
    if (m % 5 == 2) v = 65280 + (m >> 8) % 256;
    SetSample(*image, x, y, i % 3, i % 3 > 0 && m % 7 == 0 ? Sample(*image, x, y, 0) : v);
  }
  return image;
}

// Runs `filter` on `src` and checks every pixel of the result against `pixel(r, g, b)`.
template <class T, class Filter, class Pixel>
void ExpectPixelwise(const Kasa& src, Filter filter, Pixel pixel) {
  auto in = CopyOf(src);
  Kasa dst;
  ASSERT_EQ(1, filter(in.get(), &dst));
  const auto at = [](const uint8_t* row, int32_t i) -> T {
    return sizeof(T) == 1 ? row[i] : static_cast<T>(row[2 * i] << 8 | row[2 * i + 1]);
  };
  for (int32_t y = 0; y < src.GetImageHeight(); ++y) {
    const uint8_t *a = src.RowData(y), *b = dst.RowData(y);
    for (int32_t i = 0; i < src.GetImageWidth() * 3; i += 3) {
      T c[3] = {at(a, i + 2), at(a, i + 1), at(a, i)};
      pixel(c, c + 1, c + 2);
      if (c[2] != at(b, i) || c[1] != at(b, i + 1) || c[0] != at(b, i + 2)) {
        FAIL() << "pixel (" << i / 3 << ", " << y << ") of " << at(a, i + 2) + 0 << ", "
               << at(a, i + 1) + 0 << ", " << at(a, i) + 0;
      }
    }
  }
}

// Saturation's tables and passes against ScaleSaturation8 and 16, with amounts that take S' down
// to -100, keep it within range, hold it at 100, and reach the ends of the integer range.
TEST(Saturation, RowsAsTheModelGivesThem) {
  const auto every = EveryColour();
  for (int32_t amount : {-250, 40, 1000}) {
    ExpectPixelwise<uint8_t>(
        *every, [&](Kasa* s, Kasa* d) { return Saturation(s, d, amount, nullptr, 0, 100); },
        [&](uint8_t* r, uint8_t* g, uint8_t* b) { marlo::ScaleSaturation8(r, g, b, amount); });
  }
  for (int32_t width : {1, 2, 17, 511, 512, 513, 1031}) {
    for (int32_t amount : {INT32_MIN, -250, -100, -1, 0, 40, 100, 1000, INT32_MAX}) {
      ExpectPixelwise<uint16_t>(
          *Samples16(width),
          [&](Kasa* s, Kasa* d) { return Saturation(s, d, amount, nullptr, 0, 100); },
          [&](uint16_t* r, uint16_t* g, uint16_t* b) {
            marlo::ScaleSaturation16(r, g, b, amount);
          });
    }
  }
}

// ---- HSL enhancement ----

struct Values {
  int32_t hue[7], saturation[7], lightness[7];
};

// Zero, mixed ranges, master lightness alone, strong changes beyond the usual ranges, and the
// ends of the integer range.
const Values kSets[] = {
    {{0}, {0}, {0}},
    {{10, 0, 20, 0, -30, 0, 0}, {5, 30, 0, 0, 0, -20, 0}, {0, 10, 0, 0, 0, 0, -10}},
    {{0}, {0}, {37}},
    {{0}, {0}, {-45}},
    {{-200, 90, -45, 180, 17, -359, 400},
     {-60, -70, 150, 33, -33, 99, -1},
     {-20, 80, -90, 55, -13, 140, -150}},
    {{725, -11, -21, 11, 21, 7, -7}, {100, -250, 250, 0, 3, -3, 60}, {-150, -7, 3, 250, 0, 0, 9}},
    {{M, N, M, N, M, N, M}, {N, M, N, M, N, M, N}, {M, N, M, N, 0, M, N}},
    {{N}, {0}, {N}}};

marlo::HslParameters ToParameters(const Values& v) {
  marlo::HslParameters p;
  std::copy(v.hue, v.hue + 7, p.hue);
  std::copy(v.saturation, v.saturation + 7, p.saturation);
  std::copy(v.lightness, v.lightness + 7, p.lightness);
  return p;
}

std::vector<int32_t> Direct8(const Values& v, int r, int g, int b) {
  uint8_t c[3] = {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)};
  marlo::AdjustPixel8(ToParameters(v), c, c + 1, c + 2);
  return {c[0], c[1], c[2]};
}

TEST(HslEnhancement, WorkedRangesAndPixels) {
  const int32_t x[7] = {1000, 11, 22, 33, 44, 55, 66};
  const int32_t plateaus[][2] = {{345, 11}, {0, 11},   {14, 11},  {45, 22},  {74, 22},
                                 {105, 33}, {165, 44}, {225, 55}, {285, 66}, {314, 66}};
  for (const auto& p : plateaus) EXPECT_EQ(p[1], marlo::RangeValue(x, p[0])) << p[0];
  // Each half of a ramp truncates on its own: 11 * 15 / 30 + 21 * 15 / 30 = 15 (not 16), toward
  // zero for negative values; the magenta-to-red ramp wraps.
  const int32_t up[7] = {0, 11, 21}, down[7] = {0, -11, -21}, wrap[7] = {0, 60, 0, 0, 0, 0, 90};
  EXPECT_EQ(15, marlo::RangeValue(up, 30));
  EXPECT_EQ(-15, marlo::RangeValue(down, 30));
  EXPECT_EQ(-10, marlo::RangeValue(down, 16));
  EXPECT_EQ(75, marlo::RangeValue(wrap, 330));
  EXPECT_EQ(90 * 1 / 30 + 60 * 29 / 30, marlo::RangeValue(wrap, 344));
  // Direct pixels (parameters, then colour in and out): red turned green; hue 30 halfway between
  // red and yellow moves by 5 + 10 = 15 (green 256 * 45 / 60 = 192); S doubled from 47 (m2 = 249)
  // and held at 100 beyond; lightness: masters act on greys ((155 * 50 + 50) / 100), range parts
  // are weighted by chroma (delta 100: 51 * 100 / 255 = 20, after the model's (199, 101, 101));
  // far below -100 black; a shift of 720 is none.
  const std::pair<Values, V> cases[] = {{{{0, 120}, {0}, {0}}, {255, 0, 0, 0, 255, 0}},
                                        {{{0, 11, 21}, {0}, {0}}, {255, 128, 0, 255, 192, 0}},
                                        {{{0}, {-100}, {0}}, {200, 100, 100, 150, 150, 150}},
                                        {{{0}, {-60, -70}, {0}}, {200, 100, 100, 150, 150, 150}},
                                        {{{0}, {100}, {0}}, {200, 100, 100, 249, 51, 51}},
                                        {{{0}, {250}, {0}}, {200, 100, 100, 249, 51, 51}},
                                        {{{0}, {0}, {50}}, {100, 100, 100, 178, 178, 178}},
                                        {{{0}, {0}, {-50}}, {100, 100, 100, 50, 50, 50}},
                                        {{{0}, {0}, {0, 51}}, {100, 100, 100, 100, 100, 100}},
                                        {{{0}, {0}, {0, 51}}, {200, 100, 100, 210, 132, 132}},
                                        {{{0}, {0}, {-150}}, {200, 100, 1, 0, 0, 0}},
                                        {{{0}, {0}, {INT32_MAX}}, {200, 100, 1, 255, 255, 255}},
                                        {{{720}, {0}, {0}}, {200, 100, 100, 199, 101, 101}}};
  for (const auto& [v, c] : cases) {
    EXPECT_EQ(V(c.begin() + 3, c.end()), Direct8(v, c[0], c[1], c[2])) << c[0] << " " << c[1];
  }
  // 16 bits: 64-bit products ((65535 - 65000) * 40000), and the weight delta / 65535.
  const std::pair<Values, std::vector<uint16_t>> wide[] = {
      {{{0}, {0}, {40000}}, {65000, 65000, 65000, 65535, 65535, 65535}},
      {{{0}, {0}, {-99}}, {65000, 65000, 65000, 650, 650, 650}},
      {{{0}, {0}, {0, -50}}, {65535, 0, 0, (65535 * 50 + 50) / 100, 0, 0}}};
  for (const auto& [v, c] : wide) {
    uint16_t r = c[0], g = c[1], b = c[2];
    marlo::AdjustPixel16(ToParameters(v), &r, &g, &b);
    EXPECT_EQ((std::vector<uint16_t>{c[3], c[4], c[5]}), (std::vector<uint16_t>{r, g, b}));
  }
}

// The direct path (without the lattice tables) gives the table path's pixels on pictures made
// of lattice points, for every parameter set.
TEST(HslEnhancement, DirectPathOnLatticePictures) {
  for (ImageType type : kColourTypes) {
    auto src = PatternImage(type, 19, 7, 21);
    for (int32_t i = 0; i < 19 * 7 * 3; ++i) {
      SetSample(*src, i / 3 % 19, i / 57, i % 3, (IsWide(type) ? 4352 : 17) * (Mix(i) % 16));
    }
    for (const Values& v : kSets) {
      Kasa table, direct;
      marlo::CHSLEnhancement path(false);
      ASSERT_EQ(1, path.SetParameters(v.hue, v.saturation, v.lightness));
      ASSERT_EQ(
          1, HSLEnhancement(src.get(), &table, v.hue, v.saturation, v.lightness, nullptr, 0, 100));
      ASSERT_EQ(marlo::Status::Ok, path.Run(src.get(), &direct, nullptr, 0, 100));
      EXPECT_TRUE(SamePixels(table, direct));
    }
  }
}

TEST(HslEnhancement, LatticeTablesHoldTheDirectValues) {
  for (const Values& v : kSets) {
    marlo::CHSLEnhancement filter;
    ASSERT_TRUE(filter.HasTables());
    ASSERT_EQ(1, filter.SetParameters(v.hue, v.saturation, v.lightness));
    const marlo::HslParameters p = ToParameters(v);
    for (int k = 0; k < 4096; ++k) {
      const int kr = k % 16, kg = k / 16 % 16, kb = k / 256;
      uint8_t c8[3] = {static_cast<uint8_t>(17 * kr), static_cast<uint8_t>(17 * kg),
                       static_cast<uint8_t>(17 * kb)};
      uint8_t l8[3] = {c8[0], c8[1], c8[2]};
      marlo::AdjustPixel8(p, c8, c8 + 1, c8 + 2);
      filter.Pixel8(l8, l8 + 1, l8 + 2);  // a lattice point gives its entry exactly
      ASSERT_EQ(0, std::memcmp(c8, filter.Entry8(kr, kg, kb), 3)) << k;
      ASSERT_EQ(0, std::memcmp(c8, l8, 3)) << k;
      uint16_t c16[3] = {static_cast<uint16_t>(4352 * kr), static_cast<uint16_t>(4352 * kg),
                         static_cast<uint16_t>(4352 * kb)};
      uint16_t l16[3] = {c16[0], c16[1], c16[2]};
      marlo::AdjustPixel16(p, c16, c16 + 1, c16 + 2);
      filter.Pixel16(l16, l16 + 1, l16 + 2);
      ASSERT_EQ(0, std::memcmp(c16, filter.Entry16(kr, kg, kb), 6)) << k;
      ASSERT_EQ(0, std::memcmp(c16, l16, 6)) << k;
    }
  }
  // Between lattice points along the red axis the value moves linearly; 16-bit values above the
  // last lattice point are held at it.
  marlo::CHSLEnhancement filter;
  ASSERT_EQ(1, filter.SetParameters(kSets[0].hue, kSets[0].saturation, kSets[0].lightness));
  const int a = filter.Entry8(1, 0, 0)[0], b = filter.Entry8(2, 0, 0)[0];
  for (int f = 0; f <= 16; ++f) {
    uint8_t r = static_cast<uint8_t>(17 + f), g = 0, bl = 0;
    filter.Pixel8(&r, &g, &bl);
    EXPECT_EQ(((17 - f) * 289 * a + f * 289 * b) / 4913, r) << f;
  }
  for (uint16_t v : {65280, 65281, 65535}) {
    uint16_t c[3] = {v, v, v};
    filter.Pixel16(c, c + 1, c + 2);
    EXPECT_EQ(0, std::memcmp(c, filter.Entry16(15, 15, 15), 6));
  }
}

// HSL's rows against the lattice lookup of one pixel: the red-interpolated packed table of the
// 8-bit rows over every colour, the padded lattice of the 16-bit rows.
TEST(HslEnhancement, RowsAsTheLatticeGivesThem) {
  const auto every = EveryColour();
  for (const Values* v : {&kSets[1], &kSets[5], &kSets[6]}) {
    marlo::CHSLEnhancement f;
    ASSERT_EQ(1, f.SetParameters(v->hue, v->saturation, v->lightness));
    const auto run = [&f](Kasa* s, Kasa* d) {
      return f.Run(s, d, nullptr, 0, 100) == marlo::Status::Ok ? 1 : 0;
    };
    ExpectPixelwise<uint8_t>(*every, run,
                             [&f](uint8_t* r, uint8_t* g, uint8_t* b) { f.Pixel8(r, g, b); });
    for (int32_t width : {1, 17, 512, 701}) {
      ExpectPixelwise<uint16_t>(
          *Samples16(width), run,
          [&f](uint16_t* r, uint16_t* g, uint16_t* b) { f.Pixel16(r, g, b); });
    }
  }
  // Missing parameter arrays are refused before anything is written or created.
  const int32_t zero[7] = {0};
  Kasa empty;
  EXPECT_EQ(0, HSLEnhancement(every.get(), &empty, nullptr, zero, zero, nullptr, 0, 100));
  EXPECT_EQ(0, HSLEnhancement(every.get(), &empty, zero, nullptr, zero, nullptr, 0, 100));
  EXPECT_EQ(0, HSLEnhancement(every.get(), &empty, zero, zero, nullptr, nullptr, 0, 100));
  EXPECT_EQ(0, CBEnhancement(every.get(), &empty, nullptr, zero, nullptr, 0, 100));
  EXPECT_EQ(0, CBEnhancement(every.get(), &empty, zero, nullptr, nullptr, 0, 100));
  EXPECT_EQ(1, empty.IsEmpty());
}

// ---- Tint addition ----

template <class D>
V TintCurve(int32_t percent) {
  std::vector<typename D::Sample> t(D::kMax + 1);
  marlo::BuildTintCurve<D>(percent, t.data());
  return V(t.begin(), t.end());
}

V Tint(bool wide, int32_t hue, float s) {
  int32_t t[3] = {-999, -999, -999};
  const int ok = wide ? marlo::HueSaturationToTint16(hue, s, t, t + 1, t + 2)
                      : marlo::HueSaturationToTint8(hue, s, t, t + 1, t + 2);
  return {ok, t[0], t[1], t[2]};
}

TEST(TintAdd, GammaTablesCurvesAndHues) {
  // The table for raising percentages follows 100 * 2^(i / 100); the one for lowering them none:
  // values from each printed row.
  for (int i = 0; i <= 100; ++i)
    EXPECT_EQ(std::lround(100 * std::pow(2.0, i / 100.0)), marlo::TintGammaUp[i]);
  const int down[][2] = {{0, 100}, {1, 100}, {2, 99},  {9, 94},  {10, 93}, {17, 89}, {19, 88},
                         {27, 83}, {29, 82}, {30, 81}, {48, 72}, {49, 71}, {51, 71}, {69, 62},
                         {71, 62}, {80, 57}, {83, 57}, {90, 54}, {96, 51}, {99, 51}, {100, 50}};
  for (const auto& d : down) EXPECT_EQ(d[1], marlo::TintGammaDown[d[0]]) << d[0];
  // Worked entries of gamma 1.41 and 0.71; every 8-bit curve and some 16-bit ones against the
  // curve in extended precision.
  const V up = TintCurve<marlo::Depth8>(50), low = TintCurve<marlo::Depth8>(-50);
  EXPECT_EQ((V{0, 5, 96, 156, 209, 254, 255}),
            (V{up[0], up[1], up[64], up[128], up[192], up[254], up[255]}));
  EXPECT_EQ((V{0, 0, 36, 97, 171, 255}),
            (V{low[0], low[1], low[64], low[128], low[192], low[255]}));
  for (int32_t p = -100; p <= 100; ++p) {
    for (const int32_t top : {255, 65535}) {
      if (top == 65535 && p % 9 != 0) continue;
      const long double g = (p > 0 ? marlo::TintGammaUp[p] : marlo::TintGammaDown[-p]) / 100.0L;
      const V built = top == 255 ? TintCurve<marlo::Depth8>(p) : TintCurve<marlo::Depth16>(p);
      for (int32_t v = 1; v < top; ++v) {
        const long double r = top * std::pow(static_cast<long double>(v) / top, 1.0L / g) + 0.5L;
        ASSERT_EQ(p == 0 ? v : std::min(top, static_cast<int32_t>(r)), built[v]) << p << " " << v;
      }
    }
  }
  // Hue and saturation: worked tints (channels 160, 160, 64 at hue 60 and 0.5), clamped ones, no
  // tint at saturation 0; hues outside the circle and non-numbers are refused, nothing written.
  const int32_t tints[][6] = {{0, 100, 1, 100, -100, -100},   {60, 50, 1, 25, 25, -50},
                              {120, 100, 1, -100, 100, -100}, {240, 100, 1, -100, -100, 100},
                              {360, 100, 1, 100, -100, -100}, {-1, 50, 0, -999, -999, -999},
                              {361, 50, 0, -999, -999, -999}, {INT32_MIN, 50, 0, -999, -999, -999}};
  for (const auto& t : tints)
    EXPECT_EQ(V(t + 2, t + 6), Tint(t[0] == 0, t[0], t[1] / 100.0f)) << t[0];
  EXPECT_EQ((V{1, 100, 100, -100}), Tint(false, 60, 3e38f));
  for (float s : {NAN, INFINITY}) EXPECT_EQ((V{0, -999, -999, -999}), Tint(true, 30, s));
  for (int32_t hue = 0; hue <= 360; ++hue)
    ASSERT_EQ((V{1, 0, 0, 0}), Tint(hue % 2 == 0, hue, 0.0f));
}

TEST(TintAdd, ZeroTintCopiesAndPercentagesOutOfRangeAreRefused) {
  for (ImageType type : kColourTypes) {
    auto src = PatternImage(type, 5, 3, 1), dst = PatternImage(type, 5, 3, 2),
         before = CopyOf(*dst);
    for (int32_t bad : {101, -101, 65536 + 50, INT32_MIN, INT32_MAX}) {
      EXPECT_EQ(0, ColorTintAddByRGB(src.get(), dst.get(), bad, 0, 0, nullptr, 0, 100));
      EXPECT_EQ(0, ColorTintAddByRGB(src.get(), dst.get(), 0, bad, 0, nullptr, 0, 100));
      EXPECT_EQ(0, ColorTintAddByRGB(src.get(), dst.get(), 0, 0, bad, nullptr, 0, 100));
    }
    EXPECT_EQ(0, ColorTintAddByHS(src.get(), dst.get(), 361, 0.5f, nullptr, 0, 100));
    EXPECT_EQ(0, ColorTintAddByHS(src.get(), dst.get(), 10, NAN, nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*before, *dst));
    // Rows are written whole: a zero tint gives a byte-for-byte copy, padding included.
    EXPECT_EQ(1, ColorTintAddByRGB(src.get(), dst.get(), 0, 0, 0, nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*src, *dst));
    EXPECT_EQ(1, ColorTintAddByHS(src.get(), before.get(), 123, 0.0f, nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*src, *before));
  }
}

// ---- Tint removal ----

// The natural cubic spline through (0, 0), (p, q), (top, top), with the slopes, the system and
// each value in single precision.
V Spline(int32_t p, int32_t q, int32_t top) {
  auto single = [](double d) { return static_cast<double>(marlo::RoundToSingle(d)); };
  const double h0 = p, h1 = top - p, s0 = single(q / h0), s1 = single((top - q) / h1);
  const double m1 = single(single(6.0 * (s1 - s0)) / single(3 * h0 + 2 * h1));
  V t(top + 1);
  for (int32_t v = 0; v <= top; ++v) {
    const bool left = v < p;
    const double x0 = left ? 0 : p, x1 = left ? p : top, y0 = left ? 0 : q, y1 = left ? q : top;
    const double mk0 = left ? 0 : m1, mk1 = left ? m1 : 0, h = left ? h0 : h1;
    const double a = (x1 - v) / h, b = (v - x0) / h;
    const double value = single(((b * b - 1) * (v - x0) * mk1 + (a * a - 1) * (x1 - v) * mk0) * h *
                                    0.16666666666666666 +
                                y0 * a + y1 * b);
    t[v] = v == 0 || v == top
               ? v
               : (v == p ? q : (value < 0 ? 0 : (value > top ? top : static_cast<int32_t>(value))));
  }
  return t;
}

// The curve of the third channel from knots (0, 0), (p, q), (top, top) (`count` of them used);
// another channel holds other knots.
template <class Definition, class Sample>
V BuiltSpline(int32_t p, int32_t q, int32_t top, int count = 3) {
  Definition def{};
  def.count[2] = count, def.count[1] = 3, def.position[1][1] = 1;
  def.position[2][1] = static_cast<Sample>(p), def.value[2][1] = static_cast<Sample>(q);
  def.position[2][2] = static_cast<Sample>(top), def.value[2][2] = static_cast<Sample>(top);
  std::vector<Sample> t(top + 1, 7);
  if constexpr (sizeof(Sample) == 1) marlo::CColorTintRemove::BuildCurve8(t.data(), def, 2);
  if constexpr (sizeof(Sample) == 2) marlo::CColorTintRemove::BuildCurve16(t.data(), def, 2);
  return V(t.begin(), t.end());
}
const auto Spline8 = BuiltSpline<marlo::CurveDefinition8, uint8_t>;
const auto Spline16 = BuiltSpline<marlo::CurveDefinition16, uint16_t>;

TEST(TintRemove, SplineCurves) {
  // Reference averages red 100, green 110, blue 120 with grey value 110; unusable knots (not
  // increasing, too many) leave the identity.
  const V red = Spline8(100, 110, 255, 3), blue = Spline8(120, 110, 255, 3);
  EXPECT_EQ((V{0, 56, 110, 205, 255, 53, 110, 194}),
            (V{red[0], red[50], red[100], red[200], red[255], blue[60], blue[120], blue[200]}));
  V identity(256);
  for (int i = 0; i < 256; ++i) identity[i] = i;
  EXPECT_EQ(identity, Spline8(110, 110, 255, 3));
  EXPECT_EQ(identity, Spline8(0, 30, 255, 3));
  EXPECT_EQ(identity, Spline8(100, 30, 255, 4));
  // Every pair of knots (the single-precision slopes and system decide some tables).
  for (int32_t p = 5; p < 255; ++p) {
    for (int32_t q = 5; q < 255; ++q)
      ASSERT_EQ(Spline(p, q, 255), Spline8(p, q, 255, 3)) << p << " " << q;
  }
  const int32_t knots16[][2] = {
      {25700, 28270}, {28270, 28270}, {30840, 28270}, {1280, 1500}, {60000, 58000}};
  for (const auto& k : knots16)
    ASSERT_EQ(Spline(k[0], k[1], 65535), Spline16(k[0], k[1], 65535, 3)) << k[0];
}

void Fill(Kasa& image, int64_t packed) {
  for (int32_t i = 0; i < image.GetImageWidth() * image.GetImageHeight(); ++i) {
    image.SetPixelRGB(i % image.GetImageWidth(), i / image.GetImageWidth(), packed);
  }
}

TEST(TintRemove, TheReference) {
  // A uniform neighbourhood of (100, 110, 120): saturation 9, grey value 110.
  auto src = MakeImage(ImageType::Rgb24, 4, 4);
  Fill(*src, 100 << 16 | 110 << 8 | 120);
  src->SetPixelRGB(3, 3, 50 << 16 | 110 << 8 | 200);  // outside the window of (1, 1)
  marlo::CColorTintRemove filter;
  const int32_t one = 1;
  filter.SetParameters(&one, &one);
  Kasa dst;
  EXPECT_EQ(marlo::Status::Ok, filter.Run(src.get(), &dst, nullptr, 0, 100));
  EXPECT_EQ(9, filter.ReferenceSaturation());
  EXPECT_EQ(56u << 16 | 110 << 8 | 194, dst.GetPixelRGB(3, 3, nullptr));
  EXPECT_EQ(110u * 0x010101, dst.GetPixelRGB(0, 0, nullptr));
  // References that change nothing (grey, too saturated: 26 and 47, too dark, a channel further
  // than 30 % from grey: green 10 from 40): the destination is created and stays as created, an
  // existing one is not written, only the opening report is made. Colour, saturation (-1: not
  // reached).
  const int64_t flat[][2] = {{100 * 0x010101, 0},
                             {194 << 16 | 150 << 8 | 150, 26},
                             {200 << 16 | 100 << 8 | 100, 47},
                             {4 << 16 | 5 << 8 | 6, -1},
                             {49 << 16 | 30 << 8 | 30, 24},
                             {-(25700 | 28270LL << 16 | 1279LL << 32), -1},
                             {-(30000 * 0x000100010001LL), 0},
                             {-(51400 | 25700LL << 16 | 25700LL << 32), 47}};
  for (const auto& f : flat) {
    const ImageType type = f[0] < 0 ? ImageType::Rgb48 : ImageType::Rgb24;  // negated: 48 bits
    auto image = MakeImage(type, 3, 3), existing = PatternImage(type, 3, 3, 4),
         before = CopyOf(*existing);
    Fill(*image, f[0] < 0 ? -f[0] : f[0]);
    marlo::CColorTintRemove remover;
    remover.SetParameters(&one, &one);
    Kasa created;
    EXPECT_EQ(marlo::Status::Ok, remover.Run(image.get(), &created, nullptr, 0, 100));
    EXPECT_EQ(f[1], f[1] < 0 ? -1 : remover.ReferenceSaturation());
    EXPECT_TRUE(SameBytes(*MakeImage(type, 3, 3), created));
    Recorder recorder;
    EXPECT_EQ(1, ColorTintRemove(image.get(), existing.get(), 1, 1, &Recorder::Callback, 3, 40));
    EXPECT_TRUE(SameBytes(*before, *existing));
    EXPECT_EQ((V{3}), recorder.values());
  }
  // The darkest reference taken (5 in a channel) maps its own colour to grey.
  Fill(*src, 5 << 16 | 6 << 8 | 7);
  EXPECT_EQ(1, ColorTintRemove(src.get(), &dst, 1, 1, nullptr, 0, 100));
  EXPECT_EQ(6u * 0x010101, dst.GetPixelRGB(0, 0, nullptr));  // grey value (7 + 5 + 1) / 2
  // Reference points outside the picture are refused before the destination is created.
  const int32_t outside[][2] = {{-1, 0},       {0, -1}, {4, 0}, {0, 4}, {INT32_MIN, INT32_MIN},
                                {INT32_MAX, 0}};
  for (const auto& p : outside) {
    Kasa empty;
    EXPECT_EQ(0, ColorTintRemove(src.get(), &empty, p[0], p[1], nullptr, 0, 100));
    EXPECT_EQ(1, empty.IsEmpty());
  }
}

// ---- Red-eye removal ----

TEST(RedEye, EightBitPixels) {
  // Red, green, blue, whether a red-eye pixel: V = 24 and 25 ((6300 + 127) / 255); saturation 49
  // and 50; hues 356, 15 and 16 ((53 * 60) / 200), 345 and 344; green or blue the largest.
  const int32_t red[] = {200, 50,  50,  1,   60, 10,  10,  0,   62,  10,  10,  0,   63,
                         10,  10,  1,   180, 40, 50,  1,   200, 102, 102, 0,   200, 100,
                         100, 1,   200, 53,  0,  1,   200, 54,  0,   0,   200, 0,   53,
                         1,   200, 0,   54,  0,  100, 200, 0,   0,   100, 0,   200, 0};
  for (const int32_t* c = red; c < std::end(red); c += 4) {
    EXPECT_EQ(c[3] != 0, marlo::IsRedEyePixel8(c[0], c[1], c[2]))
        << c[0] << " " << c[1] << " " << c[2];
  }
  // (100, 50, 50): L = 75, S = 85, so S' = 0 at hue 0: grey at L' = 15. (100, 50, 55) has S' = 0
  // at hue 354: left as it was.
  const int32_t recoloured[][6] = {{200, 50, 50, 81, 48, 48},
                                   {180, 40, 50, 64, 35, 37},
                                   {100, 50, 50, 15, 15, 15},
                                   {100, 50, 55, 100, 50, 55}};
  for (const auto& c : recoloured)
    EXPECT_EQ(V(c + 3, c + 6), Of(marlo::RecolourRedEye8(c[0], c[1], c[2])));
  // 1/60 in single precision is 0.016666668: 59 * k * 255 = 250.75; h = 360 is not above 360.
  const int32_t channel[][2] = {{59, 250}, {60, 255}, {240, 0}, {360, 0}, {361, 4}, {-121, 4}};
  for (const auto& c : channel) EXPECT_EQ(c[1], marlo::RedEyeChannel8(0.0f, 1.0f, c[0])) << c[0];
  // The integer test of the rows against the defined one for every colour.
  for (int32_t c = 0; c < 1 << 24; ++c) {
    const int32_t r = c >> 16, g = c >> 8 & 0xFF, b = c & 0xFF;
    if (marlo::IsRedEyePixel8Fast(r, g, b) != marlo::IsRedEyePixel8(r, g, b))
      FAIL() << r << " " << g << " " << b;
  }
  // One report per pixel, i * end / pixels without overflow; a request to stop is ignored.
  auto src = PatternImage(ImageType::Rgb24, 3, 2, 1),
       large = PatternImage(ImageType::Rgb24, 300, 300, 2);
  Recorder recorder(2);
  Kasa dst, largeDst;
  ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, 0, 0, &Recorder::Callback, 7, 100));
  EXPECT_EQ((V{0, 0, 16, 33, 50, 66, 83, 100}), recorder.values());
  Recorder wide;
  ASSERT_EQ(1, RemoveRedEyeClr(large.get(), &largeDst, 0, 0, &Recorder::Callback, -5, INT32_MAX));
  ASSERT_EQ(90002u, wide.values().size());
  for (int64_t i = 0; i < 90000; i += 997)
    ASSERT_EQ(i * INT32_MAX / 90000, wide.values()[1 + i]) << i;
}

int64_t Pack48(int r, int g, int b) {
  return r | int64_t{g} << 16 | int64_t{b} << 32;
}

V Recolour16(int r, int g, int b) {
  return Of(marlo::RecolourRedEye16(r, g, b, -40, -70));
}

// A grey picture with mild noise, a red disc of varying shade around (cx, cy) with a hole, a
// second red blob apart from it, and a red stripe joined to it.
std::unique_ptr<Kasa> EyePicture(int32_t w, int32_t h, int cx, int cy, int radius) {
  auto image = MakeImage(ImageType::Rgb48, w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t m = Mix(static_cast<uint32_t>(y * 7919 + x));
      const int dx = x - cx, dy = y - cy;
      const bool disc = dx * dx + dy * dy <= radius * radius && !(dx == 2 && dy == 1);
      const bool red = disc || (x - 3) * (x - 3) + (y - 3) * (y - 3) <= 4 || (y == cy && x > cx);
      image->SetPixelRGB(
          x, y,
          red ? Pack48(45000 + m % 20000, 9000 + (m >> 9) % 3000, 9000 + (m >> 20) % 3500)
              : Pack48(30000 + m % 2000, 30000 + (m >> 11) % 2000, 30000 + (m >> 22) % 2000));
    }
  }
  image->SetPixelRGB(cx, cy, Pack48(55001, 10003, 10517));
  return image;
}

TEST(RedEye, SixteenBitRecolouringAndFill) {
  // Saturation 20 and 24 (scaled to 12 and 14) are lifted to 15 without darkening; 25 scales to
  // 15 and is darkened by (70 * 8000) / 65535 = 8 per cent; 100 scales to 60 and is darkened by
  // 70 per cent (delta 65535); a grey pixel keeps its samples.
  const int cases[][5] = {{36000, 24000, 24000, 15, 0},
                          {20000, 12200, 12200, 15, 0},
                          {20000, 12000, 12000, 15, 8},
                          {65535, 0, 1000, 60, 70}};
  for (const auto& c : cases) {
    const marlo::Hls x = RgbToHls16(c[0], c[1], c[2]);
    V want = Of(HlsToRgb16(x.hue, x.lightness, c[3]));
    for (int32_t& v : want) v = c[4] == 0 ? v : ((100 - c[4]) * v + 50) / 100;
    EXPECT_EQ(want, Recolour16(c[0], c[1], c[2])) << c[0] << " " << c[1];
  }
  EXPECT_EQ((V{30000, 30000, 30000}), Recolour16(30000, 30000, 30000));
  // A region larger than the window is cut at 50 pixels around the point.
  auto src = MakeImage(ImageType::Rgb48, 160, 130);
  Fill(*src, Pack48(52000, 9000, 9300));
  Kasa dst;
  ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, 70, 60, nullptr, 0, 100));
  const V r = Recolour16(52000, 9000, 9300);
  for (int32_t i = 0; i < 160 * 130; ++i) {
    const int32_t x = i % 160, y = i / 160;
    int64_t v = 0;
    dst.GetPixelRGB(x, y, &v);
    const bool inside = x >= 20 && x <= 120 && y >= 10 && y <= 110;
    ASSERT_EQ(inside ? Pack48(r[0], r[1], r[2]) : Pack48(52000, 9000, 9300), v) << x << " " << y;
  }
  // The flood fill over pupils with holes, a blob apart and a stripe joined, separate and in
  // place, and 20,000 recoloured colours: recorded from a build checked against a region grown
  // ring by ring and the recolouring written out with a plain colour model.
  Digest digest;
  const int eyes[][5] = {{31, 27, 15, 13, 6}, {130, 20, 60, 10, 9}, {9, 7, 4, 3, 10}};
  for (const auto& e : eyes) {
    auto eye = EyePicture(e[0], e[1], e[2], e[3], e[4]), inPlace = CopyOf(*eye);
    Kasa out;
    ASSERT_EQ(1, RemoveRedEyeClr(eye.get(), &out, e[2], e[3], nullptr, 0, 100));
    ASSERT_EQ(1, RemoveRedEyeClr(inPlace.get(), inPlace.get(), e[2], e[3], nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(out, *inPlace));
    EXPECT_FALSE(SameBytes(out, *eye));
    digest.Image(out);
  }
  for (uint32_t i = 0; i < 20000; ++i) {
    const uint32_t m = Mix(i);
    for (int32_t v : Recolour16(m & 0xFFFF, m >> 16, Mix(m) & 0xFFFF)) digest.Number(v);
  }
  EXPECT_EQ(0xc483d9570a73d13bULL, digest.value());
}

TEST(RedEye, SixteenBitStartAndProgress) {
  // A grey point starts at its first red neighbour (left), with that pixel's colour box: it takes
  // (4, 5), within 6120, but not (3, 4), 11000 above; the right neighbour is not reached.
  auto src = MakeImage(ImageType::Rgb48, 12, 9);
  Fill(*src, Pack48(30000, 30000, 30000));
  const int red[][4] = {{5, 4, 40000, 40000},
                        {4, 4, 45000, 9000},
                        {3, 4, 56121, 9000},
                        {4, 5, 51000, 9100},
                        {6, 4, 45000, 9000}};
  for (const auto& p : red)
    src->SetPixelRGB(p[0], p[1], Pack48(p[2], p[3], p[3] == 9100 ? 9000 : p[3]));
  Recorder recorder;
  Kasa dst;
  ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, 5, 4, &Recorder::Callback, 3, 100));
  EXPECT_EQ((V{0, 30, 35, 60, 80, 100}), recorder.values());
  for (const auto& p : red)
    EXPECT_EQ(p[0] == 4, Sample(*src, p[0], p[1], 2) != Sample(dst, p[0], p[1], 2)) << p[0];
  // A red start (every answer ignored); a grey corner, where left and up are skipped; end -7.
  const std::pair<std::array<int32_t, 4>, V> runs[] = {
      {{15, 13, 50, 1000}, {0, 300, 600, 800, 1000}},
      {{0, 0, 0, 100}, {0, 30, 40, 50, 100}},
      {{2, 2, 0, -7}, {0, -2, -2, -2, -2, -2, -7}}};
  for (const auto& [r, reports] : runs) {
    auto picture = r[0] == 15 ? EyePicture(31, 27, 15, 13, 6) : MakeImage(ImageType::Rgb48, 5, 4);
    Recorder answered(1);
    Kasa out;
    ASSERT_EQ(1, RemoveRedEyeClr(picture.get(), &out, r[0], r[1], &Recorder::Callback, r[2], r[3]));
    EXPECT_EQ(reports, answered.values());
  }
  // Points outside the picture find nothing, also beside a red pixel at the edge.
  auto eye = EyePicture(31, 27, 15, 13, 6);
  eye->SetPixelRGB(0, 13, Pack48(55000, 9000, 9000));
  const int32_t outside[][2] = {{-1, 13}, {31, 13}, {15, -1}, {15, 27}, {INT32_MIN, INT32_MAX}};
  for (const auto& p : outside) {
    Kasa out;
    ASSERT_EQ(1, RemoveRedEyeClr(eye.get(), &out, p[0], p[1], nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*eye, out)) << p[0] << " " << p[1];
  }
}

}  // namespace
