// Red-eye removal: the worked pixels, whole 24-bit images against a plainly written version, the
// 48-bit flood fill against a region grown step by step, both progress rules, in-place runs,
// the busy hook and the refusals.
#include <algorithm>
#include <cmath>

#include "colour/red_eye.h"
#include "colour_reference.h"
#include "test_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::MakeImage;
using marlo::test::PatternImage;
using marlo::test::ProgressRecorder;
using marlo::test::SameBytes;

// ---- 24-bit: a plain second coding of the test and the recolouring ----

bool RefIsRed8(int r, int g, int b) {
  const int mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
  const int v = (100 * mx + 127) / 255;
  const int s = mx == 0 ? 0 : (mx - mn) * 100 / mx;
  int h = 0;
  if (s != 0) {
    const int d = mx - mn;
    int n;
    if (r == mx) {
      n = g - b;
    } else if (g == mx) {
      n = 2 * d - r + b;
    } else {
      n = 4 * d - g + r;
    }
    h = n * 60 / d;
    if (h < 0) h += 360;
  }
  return (h <= 15 || h >= 345) && s >= 50 && v >= 25;
}

int RefChannel8(float m1, float m2, int h) {
  const float k = 0.016666668f;
  if (h > 360) h -= 360;
  if (h < 0) h += 360;
  double v;
  if (h < 60) {
    v = ((double)m1 + ((double)m2 - (double)m1) * h * (double)k) * 255;
  } else if (h < 180) {
    v = (double)m2 * 255;
  } else if (h < 240) {
    v = ((double)m1 + ((double)m2 - (double)m1) * (240 - h) * (double)k) * 255;
  } else {
    v = (double)m1 * 255;
  }
  return (int)v;
}

void RefRecolour8(int* r, int* g, int* b) {
  const int mx = std::max(*r, std::max(*g, *b)), mn = std::min(*r, std::min(*g, *b));
  const int L = (mx + mn) / 2;
  int H = 0, S = 0;
  if (mx != mn) {
    const double d = mx - mn;
    const double D = L <= 128 ? mx + mn : 510 - (mx + mn);
    S = (int)((mx - mn) / D * 255.0);
    double h;
    if (*r == mx) {
      h = (*g - *b) / d;
    } else if (*g == mx) {
      h = (*b - *r) / d + 2.0;
    } else {
      h = (*r - *g) / d + 4.0;
    }
    H = (int)(h * 60.0);
    if (H < 0) H += 360;
  }
  const int L2 = L - 60 < 0 ? 0 : L - 60;
  const int S2 = S - 90 < 0 ? 0 : S - 90;
  if (S2 == 0) {
    if (H == 0) *r = *g = *b = L2;
    return;
  }
  const double l = L2 / 255.0, s = S2 / 255.0;
  float m2;
  if (l <= 0.5) {
    m2 = (float)(l * (1 + s));
  } else {
    m2 = (float)(l + s - l * s);
  }
  const float m1 = (float)(2 * l - (double)m2);
  *r = RefChannel8(m1, m2, H + 120);
  *g = RefChannel8(m1, m2, H);
  *b = RefChannel8(m1, m2, H - 120);
}

int Red(uint32_t p) {
  return (p >> 16) & 0xFF;
}
int Green(uint32_t p) {
  return (p >> 8) & 0xFF;
}
int Blue(uint32_t p) {
  return p & 0xFF;
}

void RefRemoveRedEye8(Kasa& src, Kasa& dst) {
  for (int32_t y = 0; y < src.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < src.GetImageWidth(); ++x) {
      const uint32_t p = src.GetPixel(x, y, nullptr);
      int r = Red(p), g = Green(p), b = Blue(p);
      if (!RefIsRed8(r, g, b)) continue;
      RefRecolour8(&r, &g, &b);
      dst.SetPixel(x, y, r * 65536 + g * 256 + b);
    }
  }
}

TEST(RedEye8, WorkedPixels) {
  EXPECT_TRUE(marlo::IsRedEyePixel8(200, 50, 50));
  marlo::Rgb out = marlo::RecolourRedEye8(200, 50, 50);
  EXPECT_EQ(81, out.red);
  EXPECT_EQ(48, out.green);
  EXPECT_EQ(48, out.blue);

  EXPECT_FALSE(marlo::IsRedEyePixel8(60, 10, 10));  // V = 24
  EXPECT_FALSE(marlo::IsRedEyePixel8(62, 10, 10));  // (6200 + 127) / 255 = 24
  EXPECT_TRUE(marlo::IsRedEyePixel8(63, 10, 10));   // (6300 + 127) / 255 = 25

  EXPECT_TRUE(marlo::IsRedEyePixel8(180, 40, 50));  // hue 356
  out = marlo::RecolourRedEye8(180, 40, 50);
  EXPECT_EQ(64, out.red);
  EXPECT_EQ(35, out.green);
  EXPECT_EQ(37, out.blue);

  // Saturation 49 is not enough; hues 16 and 344 are not red.
  EXPECT_FALSE(marlo::IsRedEyePixel8(200, 102, 102));
  EXPECT_TRUE(marlo::IsRedEyePixel8(200, 100, 100));
  EXPECT_TRUE(marlo::IsRedEyePixel8(200, 53, 0));   // hue (53 * 60) / 200 = 15
  EXPECT_FALSE(marlo::IsRedEyePixel8(200, 54, 0));  // hue 16
  EXPECT_TRUE(marlo::IsRedEyePixel8(200, 0, 53));   // hue -15 + 360 = 345
  EXPECT_FALSE(marlo::IsRedEyePixel8(200, 0, 54));  // hue 344
  // Green the largest: (2d - red + blue) * 60 / d; blue the largest: (4d - green + red) * 60 / d.
  EXPECT_FALSE(marlo::IsRedEyePixel8(100, 200, 0));
  EXPECT_FALSE(marlo::IsRedEyePixel8(100, 0, 200));
}

TEST(RedEye8, ComparisonTestEqualsTheDefinedOneForEveryColour) {
  for (int32_t r = 0; r < 256; ++r) {
    for (int32_t g = 0; g < 256; ++g) {
      for (int32_t b = 0; b < 256; ++b) {
        if (marlo::IsRedEyePixel8Fast(r, g, b) != marlo::IsRedEyePixel8(r, g, b)) {
          FAIL() << r << " " << g << " " << b;
        }
      }
    }
  }
}

TEST(RedEye8, LoweredSaturationOfZeroIsGreyOnlyAtHueZero) {
  // (100, 50, 50): L = 75, S = 85, so S' = 0 and the hue is 0: grey at L' = 15.
  EXPECT_TRUE(marlo::IsRedEyePixel8(100, 50, 50));
  marlo::Rgb out = marlo::RecolourRedEye8(100, 50, 50);
  EXPECT_EQ(15, out.red);
  EXPECT_EQ(15, out.green);
  EXPECT_EQ(15, out.blue);
  // (100, 50, 55): red (hue 354), S' = 0 but the hue is not 0: left exactly as it was.
  EXPECT_TRUE(marlo::IsRedEyePixel8(100, 50, 55));
  out = marlo::RecolourRedEye8(100, 50, 55);
  EXPECT_EQ(100, out.red);
  EXPECT_EQ(50, out.green);
  EXPECT_EQ(55, out.blue);

  auto src = MakeImage(ImageType::Rgb24, 2, 1);
  src->SetPixel(0, 0, 100 << 16 | 50 << 8 | 55);
  src->SetPixel(1, 0, 100 << 16 | 50 << 8 | 50);
  Kasa dst;
  ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, 0, 0, nullptr, 0, 100));
  EXPECT_EQ(static_cast<uint32_t>(100 << 16 | 50 << 8 | 55), dst.GetPixel(0, 0, nullptr));
  EXPECT_EQ(static_cast<uint32_t>(15 << 16 | 15 << 8 | 15), dst.GetPixel(1, 0, nullptr));
}

TEST(RedEye8, ChannelUsesTheSingleSixtieth) {
  // 1/60 in single precision is 0.016666668, slightly above 1/60: at m1 = 0, m2 = 1 and
  // h = 60 - 1 the value is 59 * 0.016666668 * 255 = 250.75...; h = 120 + 120 wraps past 360.
  EXPECT_EQ(250, marlo::RedEyeChannel8(0.0f, 1.0f, 59));
  EXPECT_EQ(255, marlo::RedEyeChannel8(0.0f, 1.0f, 60));
  EXPECT_EQ(0, marlo::RedEyeChannel8(0.0f, 1.0f, 240));
  EXPECT_EQ(0, marlo::RedEyeChannel8(0.0f, 1.0f, 360));   // not above 360: h >= 240 gives m1
  EXPECT_EQ(4, marlo::RedEyeChannel8(0.0f, 1.0f, 361));   // 1 * k * 255 = 4.25
  EXPECT_EQ(4, marlo::RedEyeChannel8(0.0f, 1.0f, -121));  // 239: falling edge, 1 * k * 255
  // Every (L', S') pair of the 8-bit scale against the plain version.
  for (int r = 0; r < 256; r += 3) {
    for (int g = 0; g < 256; g += 5) {
      for (int b = 0; b < 256; b += 7) {
        int rr = r, gg = g, bb = b;
        RefRecolour8(&rr, &gg, &bb);
        const marlo::Rgb out = marlo::RecolourRedEye8(r, g, b);
        ASSERT_EQ(rr, out.red) << r << " " << g << " " << b;
        ASSERT_EQ(gg, out.green) << r << " " << g << " " << b;
        ASSERT_EQ(bb, out.blue) << r << " " << g << " " << b;
        ASSERT_EQ(RefIsRed8(r, g, b), marlo::IsRedEyePixel8(r, g, b)) << r << " " << g << " " << b;
      }
    }
  }
}

// A 24-bit picture with red patches on the pattern.
std::unique_ptr<Kasa> RedPatches24(int32_t w, int32_t h, uint32_t salt) {
  auto image = PatternImage(ImageType::Rgb24, w, h, salt);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t m = marlo::test::Mix(salt + static_cast<uint32_t>(y * w + x));
      if (m % 3 == 0) {
        image->SetPixel(x, y, (120 + m % 136) << 16 | ((m >> 8) % 60) << 8 | ((m >> 16) % 60));
      }
    }
  }
  return image;
}

TEST(RedEye8, WholeImagesMatchThePlainVersionAtAnyPoint) {
  const int32_t sizes[][2] = {{17, 9}, {1, 1}, {2, 2}, {1, 5}, {6, 1}};
  for (const auto& size : sizes) {
    auto src = RedPatches24(size[0], size[1], 3);
    auto expected = CopyOf(*src);
    RefRemoveRedEye8(*src, *expected);
    auto before = CopyOf(*src);
    for (const auto& point : {std::pair<int32_t, int32_t>{0, 0}, {5, 3}, {-7, INT32_MAX}}) {
      Kasa dst;  // created with the source's type and size
      ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, point.first, point.second, nullptr, 0, 100));
      EXPECT_TRUE(SameBytes(*expected, dst));
      auto other = PatternImage(ImageType::Rgb24, size[0], size[1], 9);
      ASSERT_EQ(
          1, RemoveRedEyeClr(src.get(), other.get(), point.first, point.second, nullptr, 0, 100));
      EXPECT_TRUE(SameBytes(*expected, *other));  // padding copied from the source too
      EXPECT_TRUE(SameBytes(*before, *src));
    }
    auto inPlace = CopyOf(*src);
    ASSERT_EQ(1, RemoveRedEyeClr(inPlace.get(), inPlace.get(), 1, 1, nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*expected, *inPlace));
  }
}

TEST(RedEye8, ProgressOncePerPixelAndNoAbort) {
  auto src = RedPatches24(3, 2, 1);
  auto expected = CopyOf(*src);
  RefRemoveRedEye8(*src, *expected);
  ProgressRecorder recorder(2);  // asks to stop at the first pixel: ignored
  Kasa dst;
  ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, 0, 0, &ProgressRecorder::Callback, 7, 100));
  EXPECT_EQ((std::vector<int32_t>{0, 0, 16, 33, 50, 66, 83, 100}), recorder.values());
  for (const auto& c : recorder.calls()) {
    EXPECT_EQ(7, c.start);
    EXPECT_EQ(100, c.end);
  }
  EXPECT_TRUE(SameBytes(*expected, dst));
}

TEST(RedEye8, ProgressValuesDoNotOverflow) {
  auto src = PatternImage(ImageType::Rgb24, 300, 300, 2);
  ProgressRecorder recorder;
  Kasa dst;
  ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, 0, 0, &ProgressRecorder::Callback, -5, INT32_MAX));
  const auto values = recorder.values();
  ASSERT_EQ(2u + 90000u, values.size());
  for (int64_t i = 0; i < 90000; i += 997) {
    ASSERT_EQ(static_cast<int32_t>(i * INT32_MAX / 90000), values[1 + i]) << i;
  }
  EXPECT_EQ(static_cast<int32_t>(int64_t{89999} * INT32_MAX / 90000), values[90000]);
  EXPECT_EQ(INT32_MAX, values.back());

  ProgressRecorder negative;
  auto small = PatternImage(ImageType::Rgb24, 2, 2, 2);
  Kasa smallDst;
  ASSERT_EQ(1, RemoveRedEyeClr(small.get(), &smallDst, 0, 0, &ProgressRecorder::Callback, 0, -10));
  EXPECT_EQ((std::vector<int32_t>{0, 0, -2, -5, -7, -10}), negative.values());
}

// ---- 48-bit: the flood fill ----

struct Colour16 {
  int r, g, b;
};

int64_t Pack48(Colour16 c) {
  return static_cast<int64_t>(c.r) | static_cast<int64_t>(c.g) << 16 |
         static_cast<int64_t>(c.b) << 32;
}

Colour16 Read48(Kasa& image, int32_t x, int32_t y) {
  int64_t v = 0;
  image.GetPixelRGB(x, y, &v);
  return Colour16{static_cast<int>(v & 0xFFFF), static_cast<int>((v >> 16) & 0xFFFF),
                  static_cast<int>((v >> 32) & 0xFFFF)};
}

// The recolouring written out with the plain colour model of the tests.
Colour16 RefRecolour16(Colour16 c) {
  const marlo::test::RefHls x = marlo::test::RefRgbToHls(c.r, c.g, c.b, true);
  int s = 60 * x.s / 100;
  int darken = -70 * x.delta / 65535;
  if (s != x.s && s < 15) {
    s = 15;
    darken = 0;
  }
  Colour16 o;
  marlo::test::RefHlsToRgb(x.h, x.l, s, true, &o.r, &o.g, &o.b);
  if (darken < 0) {
    o.r = ((darken + 100) * o.r + 50) / 100;
    o.g = ((darken + 100) * o.g + 50) / 100;
    o.b = ((darken + 100) * o.b + 50) / 100;
  }
  return o;
}

bool RefRed16(Colour16 c, Colour16 box) {
  auto in = [](int v, int centre) {
    return v >= std::max(centre - 6120, 0) && v <= std::min(centre + 6120, 65535);
  };
  if (!in(c.r, box.r) || !in(c.g, box.g) || !in(c.b, box.b)) return false;
  const marlo::test::RefHls x = marlo::test::RefRgbToHls(c.r, c.g, c.b, true);
  if (x.h == 9999) return false;
  return x.h <= 15 || x.h >= 345;
}

// The region grown one ring at a time from the start until nothing more joins, then
// recoloured. (sx, sy) is the start pixel, (px, py) the caller's point for the window.
void RefFill16(Kasa& src, Kasa& dst, int px, int py, int sx, int sy) {
  const int W = src.GetImageWidth(), H = src.GetImageHeight();
  const int left = std::max(px - 50, 0), right = std::min(px + 50, W - 1);
  const int top = std::max(py - 50, 0), bottom = std::min(py + 50, H - 1);
  const Colour16 box = Read48(src, sx, sy);
  std::vector<std::vector<bool>> in(H, std::vector<bool>(W, false));
  in[sy][sx] = true;
  for (bool grew = true; grew;) {
    grew = false;
    for (int y = top; y <= bottom; ++y) {
      for (int x = left; x <= right; ++x) {
        if (in[y][x] || !RefRed16(Read48(src, x, y), box)) continue;
        const bool touches = (x > left && in[y][x - 1]) || (x < right && in[y][x + 1]) ||
                             (y > top && in[y - 1][x]) || (y < bottom && in[y + 1][x]);
        if (touches) {
          in[y][x] = true;
          grew = true;
        }
      }
    }
  }
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      if (in[y][x]) dst.SetPixelRGB(x, y, Pack48(RefRecolour16(Read48(src, x, y))));
    }
  }
}

// A 48-bit picture: a neutral grey background with mild noise, a red disc of varying shade
// around (cx, cy) with a hole, a second red blob apart from it, and a red stripe joined to it.
std::unique_ptr<Kasa> EyePicture(int32_t w, int32_t h, int cx, int cy, int radius) {
  auto image = MakeImage(ImageType::Rgb48, w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t m = marlo::test::Mix(static_cast<uint32_t>(y * 7919 + x));
      Colour16 c{30000 + static_cast<int>(m % 2000), 30000 + static_cast<int>((m >> 11) % 2000),
                 30000 + static_cast<int>((m >> 22) % 2000)};
      const int dx = x - cx, dy = y - cy;
      const bool disc = dx * dx + dy * dy <= radius * radius && !(dx == 2 && dy == 1);
      const bool other = (x - 3) * (x - 3) + (y - 3) * (y - 3) <= 4;
      const bool stripe = y == cy && x > cx;
      if (disc || other || stripe) {
        // Shades of red within and partly beyond the colour box (6120) of the centre.
        c = Colour16{45000 + static_cast<int>(m % 20000), 9000 + static_cast<int>((m >> 9) % 3000),
                     9000 + static_cast<int>((m >> 20) % 3500)};
      }
      image->SetPixelRGB(x, y, Pack48(c));
    }
  }
  // Low bytes that differ, and a fixed colour at the centre.
  image->SetPixelRGB(cx, cy, Pack48(Colour16{55001, 10003, 10517}));
  return image;
}

TEST(RedEye16, FillMatchesTheGrownRegion) {
  struct Case {
    int32_t w, h;
    int cx, cy, radius;
  };
  const Case cases[] = {{31, 27, 15, 13, 6}, {130, 20, 60, 10, 9}, {9, 7, 4, 3, 10}};
  for (const Case& c : cases) {
    auto src = EyePicture(c.w, c.h, c.cx, c.cy, c.radius);
    auto expected = CopyOf(*src);
    RefFill16(*src, *expected, c.cx, c.cy, c.cx, c.cy);
    EXPECT_FALSE(SameBytes(*expected, *src));  // something is recoloured
    auto before = CopyOf(*src);
    Kasa dst;
    ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, c.cx, c.cy, nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*expected, dst));
    EXPECT_TRUE(SameBytes(*before, *src));
    auto inPlace = CopyOf(*src);
    ASSERT_EQ(1, RemoveRedEyeClr(inPlace.get(), inPlace.get(), c.cx, c.cy, nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*expected, *inPlace));
  }
}

TEST(RedEye16, RegionLargerThanTheWindowIsCutAtFiftyPixels) {
  auto src = MakeImage(ImageType::Rgb48, 160, 130);
  for (int32_t y = 0; y < 130; ++y) {
    for (int32_t x = 0; x < 160; ++x) src->SetPixelRGB(x, y, Pack48(Colour16{52000, 9000, 9300}));
  }
  Kasa dst;
  ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, 70, 60, nullptr, 0, 100));
  const Colour16 recoloured = RefRecolour16(Colour16{52000, 9000, 9300});
  for (int32_t y = 0; y < 130; ++y) {
    for (int32_t x = 0; x < 160; ++x) {
      const bool inside = x >= 20 && x <= 120 && y >= 10 && y <= 110;
      const Colour16 c = Read48(dst, x, y);
      const Colour16 want = inside ? recoloured : Colour16{52000, 9000, 9300};
      ASSERT_TRUE(c.r == want.r && c.g == want.g && c.b == want.b) << x << " " << y;
    }
  }
}

TEST(RedEye16, SaturationIsLiftedOrScaledAndDarkenedByChroma) {
  // Saturation 20: lifted to 15, not darkened.
  const Colour16 weak{36000, 24000, 24000};
  ASSERT_EQ(20, marlo::test::RefRgbToHls(weak.r, weak.g, weak.b, true).s);
  marlo::Rgb out = marlo::RecolourRedEye16(weak.r, weak.g, weak.b, -40, -70);
  int r, g, b;
  const marlo::test::RefHls w = marlo::test::RefRgbToHls(weak.r, weak.g, weak.b, true);
  marlo::test::RefHlsToRgb(w.h, w.l, 15, true, &r, &g, &b);
  EXPECT_EQ(r, out.red);
  EXPECT_EQ(g, out.green);
  EXPECT_EQ(b, out.blue);
  // Saturation 100: scaled to 60 and darkened by (70 * delta) / 65535 per cent.
  const Colour16 strong{65535, 0, 1000};
  const marlo::test::RefHls s = marlo::test::RefRgbToHls(strong.r, strong.g, strong.b, true);
  ASSERT_EQ(100, s.s);
  out = marlo::RecolourRedEye16(strong.r, strong.g, strong.b, -40, -70);
  marlo::test::RefHlsToRgb(s.h, s.l, 60, true, &r, &g, &b);
  EXPECT_EQ((30 * r + 50) / 100, out.red);  // delta 65535: darkened by 70 per cent
  EXPECT_EQ((30 * g + 50) / 100, out.green);
  EXPECT_EQ((30 * b + 50) / 100, out.blue);
  // Saturation 24 scales to 14, which is lifted to 15 without darkening.
  const Colour16 s24{20000, 12200, 12200};
  const marlo::test::RefHls h24 = marlo::test::RefRgbToHls(s24.r, s24.g, s24.b, true);
  ASSERT_EQ(24, h24.s);
  out = marlo::RecolourRedEye16(s24.r, s24.g, s24.b, -40, -70);
  marlo::test::RefHlsToRgb(h24.h, h24.l, 15, true, &r, &g, &b);
  EXPECT_EQ(r, out.red);
  EXPECT_EQ(g, out.green);
  EXPECT_EQ(b, out.blue);
  // Saturation 25 scales to 15, not below it: darkened by (70 * 8000) / 65535 = 8 per cent.
  const Colour16 s25{20000, 12000, 12000};
  const marlo::test::RefHls h25 = marlo::test::RefRgbToHls(s25.r, s25.g, s25.b, true);
  ASSERT_EQ(25, h25.s);
  out = marlo::RecolourRedEye16(s25.r, s25.g, s25.b, -40, -70);
  marlo::test::RefHlsToRgb(h25.h, h25.l, 15, true, &r, &g, &b);
  EXPECT_EQ((92 * r + 50) / 100, out.red);
  EXPECT_EQ((92 * g + 50) / 100, out.green);
  EXPECT_EQ((92 * b + 50) / 100, out.blue);
  // A grey pixel keeps saturation 0 (it is not lifted) and its samples.
  out = marlo::RecolourRedEye16(30000, 30000, 30000, -40, -70);
  EXPECT_EQ(30000, out.red);
  EXPECT_EQ(30000, out.blue);
  // Against the plain version over a spread of colours.
  for (int i = 0; i < 20000; ++i) {
    const uint32_t m = marlo::test::Mix(static_cast<uint32_t>(i));
    const Colour16 c{static_cast<int>(m & 0xFFFF), static_cast<int>(m >> 16),
                     static_cast<int>(marlo::test::Mix(m) & 0xFFFF)};
    const Colour16 want = RefRecolour16(c);
    out = marlo::RecolourRedEye16(c.r, c.g, c.b, -40, -70);
    ASSERT_TRUE(want.r == out.red && want.g == out.green && want.b == out.blue) << i;
  }
}

TEST(RedEye16, GreyPointStartsAtTheFirstRedNeighbourWithItsOwnColourBox) {
  auto src = MakeImage(ImageType::Rgb48, 12, 9);
  const Colour16 background{30000, 30000, 30000};
  for (int32_t y = 0; y < 9; ++y) {
    for (int32_t x = 0; x < 12; ++x) src->SetPixelRGB(x, y, Pack48(background));
  }
  src->SetPixelRGB(5, 4, Pack48(Colour16{40000, 40000, 40000}));  // the point: grey
  // Left neighbour red; its box excludes the far-red pixel at (3, 4) (11000 above it) but takes
  // (4, 5) (within 6120).
  src->SetPixelRGB(4, 4, Pack48(Colour16{45000, 9000, 9000}));
  src->SetPixelRGB(3, 4, Pack48(Colour16{56121, 9000, 9000}));
  src->SetPixelRGB(4, 5, Pack48(Colour16{51000, 9100, 9000}));
  src->SetPixelRGB(6, 4, Pack48(Colour16{45000, 9000, 9000}));  // right: not reached
  auto expected = CopyOf(*src);
  RefFill16(*src, *expected, 5, 4, 4, 4);
  ProgressRecorder recorder;
  Kasa dst;
  ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, 5, 4, &ProgressRecorder::Callback, 3, 100));
  EXPECT_TRUE(SameBytes(*expected, dst));
  EXPECT_NE(Read48(*src, 4, 5).r, Read48(dst, 4, 5).r);
  EXPECT_EQ(Read48(*src, 3, 4).r, Read48(dst, 3, 4).r);
  EXPECT_EQ(Read48(*src, 6, 4).r, Read48(dst, 6, 4).r);
  EXPECT_EQ((std::vector<int32_t>{0, 30, 35, 60, 80, 100}), recorder.values());
}

TEST(RedEye16, ProgressWhenTheStartIsRedAndAtTheBorder) {
  auto src = EyePicture(31, 27, 15, 13, 6);
  {
    ProgressRecorder recorder(1);  // every answer is ignored
    Kasa dst;
    ASSERT_EQ(1, RemoveRedEyeClr(src.get(), &dst, 15, 13, &ProgressRecorder::Callback, 50, 1000));
    EXPECT_EQ((std::vector<int32_t>{0, 300, 600, 800, 1000}), recorder.values());
  }
  {
    // A grey corner point: left and up are skipped; right (40 %) and down (50 %) are tried.
    auto grey = MakeImage(ImageType::Rgb48, 5, 4);
    ProgressRecorder recorder;
    Kasa dst;
    ASSERT_EQ(1, RemoveRedEyeClr(grey.get(), &dst, 0, 0, &ProgressRecorder::Callback, 0, 100));
    EXPECT_EQ((std::vector<int32_t>{0, 30, 40, 50, 100}), recorder.values());
    EXPECT_TRUE(SameBytes(*grey, dst));
  }
  {
    // end = -7: trunc(-2.1) = -2, then -2 - trunc(0.35) * (k + 1) = -2 for every neighbour.
    auto grey = MakeImage(ImageType::Rgb48, 5, 4);
    ProgressRecorder recorder;
    Kasa dst;
    ASSERT_EQ(1, RemoveRedEyeClr(grey.get(), &dst, 2, 2, &ProgressRecorder::Callback, 0, -7));
    EXPECT_EQ((std::vector<int32_t>{0, -2, -2, -2, -2, -2, -7}), recorder.values());
  }
}

TEST(RedEye16, PointOutsideThePictureFindsNothing) {
  auto src = EyePicture(31, 27, 15, 13, 6);
  // (-1, 13) has a red right neighbour at (0, 13): it is not taken either.
  src->SetPixelRGB(0, 13, Pack48(Colour16{55000, 9000, 9000}));
  for (const auto& point : {std::pair<int32_t, int32_t>{-1, 13},
                            {31, 13},
                            {15, -1},
                            {15, 27},
                            {INT32_MIN, INT32_MAX},
                            {INT32_MAX, INT32_MIN}}) {
    ProgressRecorder recorder;
    auto dst = PatternImage(ImageType::Rgb48, 31, 27, 4);
    ASSERT_EQ(1, RemoveRedEyeClr(src.get(), dst.get(), point.first, point.second,
                                 &ProgressRecorder::Callback, 0, 100));
    EXPECT_TRUE(SameBytes(*src, *dst)) << point.first << " " << point.second;
    const auto v = recorder.values();
    ASSERT_LE(3u, v.size());
    EXPECT_EQ(0, v.front());
    EXPECT_EQ(30, v[1]);
    EXPECT_EQ(100, v.back());
  }
}

// ---- Frame: checks, destination, busy hook ----

TEST(RemoveRedEyeClr, RefusalsAndTheBusyHook) {
  marlo::test::BusyRecorder busy;
  ProgressRecorder recorder;
  auto* cb = &ProgressRecorder::Callback;
  for (ImageType type : {ImageType::Gray8, ImageType::Gray16}) {
    auto grey = PatternImage(type, 5, 5, 1);
    Kasa dst;
    EXPECT_EQ(0, RemoveRedEyeClr(grey.get(), &dst, 1, 1, cb, 0, 100));
    EXPECT_EQ(1, dst.IsEmpty());
  }
  auto src = PatternImage(ImageType::Rgb48, 5, 5, 1);
  auto dst = PatternImage(ImageType::Rgb48, 5, 5, 2);
  auto dstBefore = CopyOf(*dst);
  Kasa empty, emptyDst;
  EXPECT_EQ(0, RemoveRedEyeClr(nullptr, dst.get(), 1, 1, cb, 0, 100));
  EXPECT_EQ(0, RemoveRedEyeClr(src.get(), nullptr, 1, 1, cb, 0, 100));
  EXPECT_EQ(0, RemoveRedEyeClr(&empty, &emptyDst, 1, 1, cb, 0, 100));
  EXPECT_EQ(1, emptyDst.IsEmpty());
  auto otherSize = PatternImage(ImageType::Rgb48, 6, 5, 2);
  auto otherSizeBefore = CopyOf(*otherSize);
  EXPECT_EQ(0, RemoveRedEyeClr(src.get(), otherSize.get(), 1, 1, cb, 0, 100));
  EXPECT_TRUE(SameBytes(*otherSizeBefore, *otherSize));
  EXPECT_TRUE(SameBytes(*dstBefore, *dst));
  EXPECT_TRUE(recorder.calls().empty());
  EXPECT_TRUE(marlo::test::BusyRecorder::Calls().empty());

  EXPECT_EQ(1, RemoveRedEyeClr(src.get(), dst.get(), 1, 1, nullptr, 0, 100));
  EXPECT_EQ((std::vector<int>{1, 0}), marlo::test::BusyRecorder::Calls());
}

}  // namespace
