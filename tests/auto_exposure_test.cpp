// Auto exposure: the worked numbers of each stage, whole images of every type against a plainly
// written per-pixel version of the whole engine, the readings that single precision depends on,
// progress, the strength choices and the refusals.
#include <cmath>
#include <limits>

#include "test_support.h"
#include "tone/auto_exposure.h"

namespace {

using marlo::Status;
using marlo::test::CopyOf;
using marlo::test::MakeImage;
using marlo::test::Mix;
using marlo::test::ProgressRecorder;
using marlo::test::SameBytes;
using marlo::test::Sample;
using marlo::test::SetSample;

bool IsWide(const Kasa& image) {
  return image.GetBitCount() == 16 || image.GetBitCount() == 48;
}
int Spp(const Kasa& image) {
  return image.GetBitCount() == 24 || image.GetBitCount() == 48 ? 3 : 1;
}

// An image whose samples lie in lo..hi (a narrow range is stretched, a wide one is not).
std::unique_ptr<Kasa> RangeImage(ImageType type, int32_t w, int32_t h, uint32_t lo, uint32_t hi,
                                 uint32_t salt) {
  auto image = marlo::test::PatternImage(type, w, h, salt);  // padding bytes too
  const int spp = Spp(*image);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      for (int s = 0; s < spp; ++s) {
        const uint32_t r = Mix(salt * 7919u + static_cast<uint32_t>((y * w + x) * 3 + s));
        // Neighbouring samples of one pixel stay close now and then, to give grey pixels too.
        const uint32_t v = (r % 7 == 0 && s > 0) ? Sample(*image, x, y, 0) : lo + r % (hi - lo + 1);
        SetSample(*image, x, y, s, v);
      }
    }
  }
  return image;
}

// ---------------------------------------------------------------------------------------------
// The engine written out plainly, pixel by pixel and stage by stage as described, with switches
// for the readings that the tests pin (the defaults are the readings the library follows).
struct Readings {
  bool intensityStoredSingle = false;     // I rounded to single precision before use
  bool intensityDoubleConstant = false;   // I = intensity * 0.01 with a double constant
  bool saturationSingleConstant = false;  // S = saturation * 0.01f
  bool greenFromRoundedRed = false;       // first sector: g from the rounded r
};

struct Reference {
  std::vector<uint32_t> samples;  // stored order, pixel by pixel
  bool stretched = false;
};

Reference RunReference(const Kasa& src, int32_t useStrength, float strength,
                       const Readings& readings = Readings()) {
  const bool wide = IsWide(src);
  const int spp = Spp(src);
  const int32_t w = src.GetImageWidth(), h = src.GetImageHeight();
  const int64_t n = int64_t{w} * h;
  const int32_t max = wide ? 65535 : 255;
  const int32_t factor = wide ? 10 : 100;
  const int32_t top = wide ? 655359 : 25599;

  // Black and white points at 1 %.
  const int64_t t = n / 100;
  int32_t black = 0, white = 0;
  for (int c = 0; c < spp; ++c) {
    std::vector<int64_t> hist(static_cast<size_t>(max) + 1, 0);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) hist[Sample(src, x, y, c)]++;
    int32_t level = 0;
    int64_t sum = 0;
    while (sum < t && level <= max) {
      sum += hist[level];
      level++;
    }
    int32_t low = level - 1 < 0 ? 0 : level - 1;
    level = max;
    sum = 0;
    while (sum < t && level >= 0) {
      sum += hist[level];
      level--;
    }
    int32_t high = level + 1 > max ? max : level + 1;
    if (low >= high) {
      if (high == 0) high = 1;
      low = high - 1;
    }
    if (c == 0 || low < black) black = low;
    if (c == 0 || high > white) white = high;
  }

  // HSI planes.
  std::vector<int32_t> hue(static_cast<size_t>(n), 0), sat(static_cast<size_t>(n), 0),
      in(static_cast<size_t>(n), 0);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      if (spp == 1) {
        in[i] = static_cast<int32_t>(Sample(src, x, y, 0)) * factor;
        continue;
      }
      const double b = Sample(src, x, y, 0), g = Sample(src, x, y, 1), r = Sample(src, x, y, 2);
      const double sum = r + g + b;
      in[i] = static_cast<int32_t>(sum * factor * (1.0 / 3.0) + 0.5);
      const double mn = std::min(r, std::min(g, b));
      sat[i] = sum == 0 ? 0 : static_cast<int32_t>((1.0 - 3.0 * mn / sum) * factor);
      double theta = 0;
      if (!(r == g && r == b)) {
        theta =
            std::acos(0.5 * ((r - g) + (r - b)) / std::sqrt((r - g) * (r - g) + (r - b) * (g - b)));
        theta *= 57.29582790879778;
      }
      hue[i] = b <= g ? static_cast<int32_t>(theta + 0.5) : 360 - static_cast<int32_t>(theta);
    }
  }

  // Levels stretch.
  Reference out;
  if (white - black < (wide ? 62965 : 245)) {
    out.stretched = true;
    const int32_t W = white * factor, K = black * factor;
    const float f = 0.8f;
    const int32_t nw = W + static_cast<int32_t>((top - W) * static_cast<double>(f));
    const int32_t nb = K - static_cast<int32_t>(static_cast<double>(f) * K);
    for (auto& v : in) {
      if (v < K)
        v = nb;
      else if (v > W)
        v = nw;
      else
        v = nb + static_cast<int32_t>(static_cast<int64_t>(nw - nb) * (v - K) / (W - K));
    }
  }

  // Measuring bands.
  const int32_t run = wide ? 40960 : 1600;
  float shares[16] = {};
  for (int band = 0; band < 16; ++band) {
    int64_t count = 0;
    for (int32_t v : in)
      if (v >= band * run && v < (band + 1) * run) count++;
    shares[band] = static_cast<float>(static_cast<double>(count) / static_cast<double>(n));
  }

  // Strength.
  float k = 0.5f;
  if (useStrength != 0) {
    k = strength;
    if (std::isnan(k) || k < 0) k = 0;
    if (k > 1) k = 1;
  }
  volatile float bright = shares[15] + shares[14];
  volatile float dark = shares[1] + shares[0];
  volatile float sf = bright + dark;
  const double s = sf;
  if (k == 1.0f) {
    k = s < 0.6
            ? 0.6f
            : (s > 0.75
                   ? 0.75f
                   : static_cast<float>(static_cast<int>(s * 100) * static_cast<double>(0.01f)));
  } else if (k == 0.0f) {
    k = s > 0.75
            ? static_cast<float>(static_cast<int>(s * 100) * static_cast<double>(0.0033333334f))
            : (s < 0.5
                   ? 0.25f
                   : static_cast<float>(static_cast<int>(s * 100) * static_cast<double>(0.005f)));
  }

  // Power-law equalisation.
  const int32_t bands = wide ? 1638 : 64;
  std::vector<int64_t> hist(static_cast<size_t>(top) + 1, 0);
  for (int32_t v : in) hist[v]++;
  std::vector<float> q(bands);
  float total = 0;
  for (int32_t b = 0; b < bands; ++b) {
    int64_t count = 0;
    for (int32_t e = 400 * b; e < 400 * b + 400; ++e) count += hist[e];
    const float p = static_cast<float>(static_cast<double>(count) / static_cast<double>(n));
    q[b] = count == 0
               ? 0.0f
               : static_cast<float>(std::pow(static_cast<double>(p), static_cast<double>(k)));
    total += q[b];
  }
  std::vector<int32_t> c(bands);
  int32_t prev = 0;
  for (int32_t b = 0; b < bands; ++b) {
    int32_t add = 0;
    if (total != 0) {
      const float qb = q[b] / total;
      add = static_cast<int32_t>(static_cast<double>(qb) * (top + 1));
    }
    c[b] = std::min(prev + add, top);
    prev = c[b];
  }
  c[bands - 1] = top;
  std::vector<int32_t> curve(static_cast<size_t>(top) + 1, top);
  for (int32_t b = 0; b < bands; ++b) {
    const int32_t before = b == 0 ? 0 : c[b - 1];
    for (int32_t j = 0; j < 400; ++j) curve[400 * b + j] = before + (c[b] - before) * j / 400;
  }
  curve[top] = top;
  for (auto& v : in) v = curve[v];

  // Rebuilding the pixels.
  const float fscale = wide ? 0.1f : 0.01f;
  const double dscale = wide ? 0.1 : 0.01;
  const auto clampTrunc = [max](float v) -> uint32_t {
    if (v > static_cast<float>(max)) return static_cast<uint32_t>(max);
    if (v < 0) return 0;
    return static_cast<uint32_t>(v);
  };
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      double I =
          readings.intensityDoubleConstant ? in[i] * dscale : in[i] * static_cast<double>(fscale);
      if (readings.intensityStoredSingle) I = static_cast<float>(I);
      if (spp == 1) {
        out.samples.push_back(clampTrunc(static_cast<float>(I)));
        continue;
      }
      const float Sf = readings.saturationSingleConstant
                           ? static_cast<float>(sat[i] * static_cast<double>(wide ? 0.1f : 0.01f))
                           : static_cast<float>(sat[i] * dscale);
      const double S = Sf;  // the arithmetic on it is double
      const int32_t H = hue[i];
      const double hr = H * 0.01745327777777778;
      const double A = 1.0471966666666666;
      float r, g, b;
      if (H <= 120) {
        b = static_cast<float>((1 - S) / 3.0);
        const double rd = (1 + S * std::cos(hr) / std::cos(A - hr)) / 3.0;
        r = static_cast<float>(rd);
        g = static_cast<float>(1 - (readings.greenFromRoundedRed ? static_cast<double>(r) : rd) -
                               b);
      } else if (H <= 240) {
        const double hp = hr - 2.094393333333333;
        r = static_cast<float>((1 - S) / 3.0);
        g = static_cast<float>((1 + S * std::cos(hp) / std::cos(A - hp)) / 3.0);
        b = static_cast<float>(1.0 - r - static_cast<double>(g));
      } else {
        const double hp = hr - 4.188786666666666;
        g = static_cast<float>((1 - S) / 3.0);
        b = static_cast<float>((1 + S * std::cos(hp) / std::cos(A - hp)) / 3.0);
        r = static_cast<float>(1.0 - g - static_cast<double>(b));
      }
      out.samples.push_back(clampTrunc(static_cast<float>(b * I * 3 + 0.5)));
      out.samples.push_back(clampTrunc(static_cast<float>(g * I * 3 + 0.5)));
      out.samples.push_back(clampTrunc(static_cast<float>(r * I * 3 + 0.5)));
    }
  }
  return out;
}

std::vector<uint32_t> Samples(const Kasa& image) {
  std::vector<uint32_t> v;
  for (int32_t y = 0; y < image.GetImageHeight(); ++y)
    for (int32_t x = 0; x < image.GetImageWidth(); ++x)
      for (int s = 0; s < Spp(image); ++s) v.push_back(Sample(image, x, y, s));
  return v;
}

// Index of the first differing sample, for messages.
size_t FirstDifference(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
    if (a[i] != b[i]) return i;
  return std::min(a.size(), b.size());
}

// ---------------------------------------------------------------------------------------------
// Stage arithmetic.

TEST(AutoExposureHsi, PrimariesAndGrey) {
  EXPECT_EQ(8500, marlo::HsiIntensity(255, 100.0));  // trunc(8500 + 0.5)
  EXPECT_EQ(850, marlo::HsiIntensity(255, 10.0));
  EXPECT_EQ(33, marlo::HsiIntensity(1, 100.0));  // 33.33 + 0.5
  EXPECT_EQ(34, marlo::HsiIntensity(2, 50.5));   // 33.6666 + 0.5
  EXPECT_EQ(100, marlo::HsiSaturation(255, 0, 100.0));
  EXPECT_EQ(0, marlo::HsiSaturation(0, 0, 100.0));
  EXPECT_EQ(0, marlo::HsiSaturation(30, 10, 100.0));
  EXPECT_EQ(50, marlo::HsiSaturation(300, 50, 100.0));  // 1 - 150 / 300
  EXPECT_EQ(5, marlo::HsiSaturation(300, 50, 10.0));    // tenths for 16-bit
  EXPECT_EQ(0, marlo::HsiHue(0, 0));                    // grey
  EXPECT_EQ(0, marlo::HsiHue(255, 255));                // red: theta 0
  EXPECT_EQ(120, marlo::HsiHue(-255, 0));               // green: 120.0003 + 0.5 truncated
  EXPECT_EQ(240, marlo::HsiHue(0, -255));               // blue: 360 - 120
  EXPECT_EQ(60, marlo::HsiHue(0, 255));                 // yellow
  EXPECT_EQ(300, marlo::HsiHue(255, 0));                // magenta: 360 - trunc(60.0001)
  EXPECT_EQ(180, marlo::HsiHue(-255, -255));            // cyan: trunc(180.0005 + 0.5)
}

TEST(AutoExposureHsi, HueTableHoldsTheFormulaForEveryPair) {
  std::vector<int16_t> table(static_cast<size_t>(marlo::kHueTableSide) * marlo::kHueTableSide);
  marlo::BuildHueTable8(table.data());
  for (int32_t rg = -255; rg <= 255; ++rg) {
    for (int32_t rb = -255; rb <= 255; ++rb) {
      const int16_t v = table[static_cast<size_t>(rg + 255) * 511 + static_cast<size_t>(rb + 255)];
      // Written out again from the three samples of one pixel that has these differences.
      const double r = 255, g = r - rg, b = r - rb;
      int32_t expected = 0;
      if (rg != 0 || rb != 0) {
        const double theta = std::acos(0.5 * ((r - g) + (r - b)) /
                                       std::sqrt((r - g) * (r - g) + (r - b) * (g - b))) *
                             57.29582790879778;
        expected = b <= g ? static_cast<int32_t>(theta + 0.5) : 360 - static_cast<int32_t>(theta);
      }
      ASSERT_EQ(expected, v) << rg << " " << rb;
      ASSERT_LE(0, v);
      ASSERT_GE(360, v);
    }
  }
}

TEST(AutoExposureHsi, SaturationTableHoldsTheFormulaForEveryPixelSum) {
  std::vector<uint8_t> table(marlo::kSaturationTableSize8, 0xEE);
  marlo::BuildSaturationTable8(table.data());
  for (int32_t sum = 0; sum <= 765; ++sum) {
    for (int32_t least = 0; least <= 255; ++least) {
      const uint8_t v = table[static_cast<size_t>(sum) * 256 + static_cast<size_t>(least)];
      if (least * 3 > sum) {  // no pixel has this least sample and sum
        ASSERT_EQ(0, v) << sum << " " << least;
        continue;
      }
      const int32_t expected =
          sum == 0 ? 0 : static_cast<int32_t>((1.0 - 3.0 * least / static_cast<double>(sum)) * 100);
      ASSERT_EQ(expected, v) << sum << " " << least;
    }
  }
}

TEST(AutoExposureHsi, HueStepsGiveTheFormulaForSixteenBitPairs) {
  const marlo::HueSteps steps;
  // Every pair of small differences.
  for (int32_t rg = -300; rg <= 300; ++rg) {
    for (int32_t rb = -300; rb <= 300; ++rb) {
      ASSERT_EQ(marlo::HsiHue(rg, rb), steps.Hue(rg, rb)) << rg << " " << rb;
    }
  }
  // Sweeps of one difference against fixed others, through every step of both functions.
  for (int32_t fixed : {65535, -65535, 65534, -1, 1, 32768, -40000, 12345}) {
    for (int32_t v = -65535; v <= 65535; ++v) {
      ASSERT_EQ(marlo::HsiHue(v, fixed), steps.Hue(v, fixed)) << v << " " << fixed;
      ASSERT_EQ(marlo::HsiHue(fixed, v), steps.Hue(fixed, v)) << fixed << " " << v;
    }
  }
  // Nearly equal differences: quotients next to -1 and 1.
  for (int32_t v = -65535; v <= 65535; v += 7) {
    for (int32_t d : {-2, -1, 1, 2}) {
      if (v + d < -65535 || v + d > 65535) continue;
      ASSERT_EQ(marlo::HsiHue(v, v + d), steps.Hue(v, v + d)) << v << " " << d;
    }
  }
  // Pairs of whole 16-bit pixels, spread over the range.
  for (uint32_t i = 0; i < 1000000; ++i) {
    const uint32_t r = Mix(i * 3 + 1) & 0xFFFF, g = Mix(i * 3 + 2) & 0xFFFF,
                   b = Mix(i * 3 + 3) & 0xFFFF;
    const auto rg = static_cast<int32_t>(r) - static_cast<int32_t>(g);
    const auto rb = static_cast<int32_t>(r) - static_cast<int32_t>(b);
    ASSERT_EQ(marlo::HsiHue(rg, rb), steps.Hue(rg, rb)) << rg << " " << rb;
  }
}

TEST(AutoExposureHsi, GreyChromaticitiesAndTheHalfwaySample) {
  const auto c = marlo::HsiChromaticity(0, 0.0f);
  EXPECT_EQ(0.3333333432674408, static_cast<double>(c.red));
  EXPECT_EQ(0.3333333134651184, static_cast<double>(c.green));
  EXPECT_EQ(0.3333333432674408, static_cast<double>(c.blue));
  // Intensity 150 hundredths lies halfway between levels 1 and 2.
  const double I = 150 * static_cast<double>(0.01f);
  EXPECT_EQ(2, marlo::HsiSample(c.red, I, 255));
  EXPECT_EQ(1, marlo::HsiSample(c.green, I, 255));
  EXPECT_EQ(2, marlo::HsiSample(c.blue, I, 255));
  const double whole = 200 * static_cast<double>(0.01f);
  EXPECT_EQ(2, marlo::HsiSample(c.red, whole, 255));
  EXPECT_EQ(2, marlo::HsiSample(c.green, whole, 255));
  EXPECT_EQ(255, marlo::HsiSample(0.5f, 255.0, 255));
  EXPECT_EQ(0, marlo::HsiSample(-0.01f, 255.0, 255));
  EXPECT_EQ(65535, marlo::HsiSample(0.4f, 65535.0, 65535));
}

TEST(AutoExposureHsi, ChromaticitiesPerSector) {
  // Saturated primaries come back as one channel: red at 0, green at 120, blue at 240 degrees.
  const auto red = marlo::HsiChromaticity(0, 1.0f);
  EXPECT_EQ(0.0f, red.blue);
  EXPECT_NEAR(1.0, red.red, 1e-5);
  EXPECT_NEAR(0.0, red.green, 1e-5);
  const auto green = marlo::HsiChromaticity(120, 1.0f);
  EXPECT_EQ(0.0f, green.blue);  // the first sector ends at 120
  EXPECT_NEAR(1.0, green.green, 1e-5);
  const auto blue = marlo::HsiChromaticity(240, 1.0f);
  EXPECT_EQ(0.0f, blue.red);
  EXPECT_NEAR(1.0, blue.blue, 1e-5);
  const auto wrap = marlo::HsiChromaticity(360, 1.0f);
  EXPECT_EQ(0.0f, wrap.green);
  EXPECT_NEAR(1.0, wrap.red, 1e-5);
  const auto mid = marlo::HsiChromaticity(121, 0.5f);
  EXPECT_EQ(static_cast<float>((1.0 - 0.5) / 3.0), mid.red);  // second sector: red is (1 - S) / 3
  const auto last = marlo::HsiChromaticity(241, 0.5f);
  EXPECT_EQ(static_cast<float>((1.0 - 0.5) / 3.0), last.green);
}

TEST(AutoExposureLevels, OnePercentLevels) {
  std::vector<int64_t> bins(256, 0);
  bins[40] = 50;
  EXPECT_EQ(39, marlo::HistogramLevels(bins.data(), 255, 50).low);  // flat: low = high - 1
  EXPECT_EQ(40, marlo::HistogramLevels(bins.data(), 255, 50).high);
  bins.assign(256, 0);
  bins[0] = 50;
  EXPECT_EQ(0, marlo::HistogramLevels(bins.data(), 255, 50).low);  // black: high becomes 1
  EXPECT_EQ(1, marlo::HistogramLevels(bins.data(), 255, 50).high);
  bins.assign(256, 0);
  bins[255] = 9;
  EXPECT_EQ(0, marlo::HistogramLevels(bins.data(), 255, 0).low);  // T = 0: 0 and the maximum
  EXPECT_EQ(255, marlo::HistogramLevels(bins.data(), 255, 0).high);
  bins.assign(256, 0);
  bins[10] = 1;
  bins[11] = 1;
  bins[12] = 98;
  bins[200] = 1;
  bins[201] = 2;
  const auto levels = marlo::HistogramLevels(bins.data(), 255, 2);
  EXPECT_EQ(11, levels.low);    // 10 and 11 reach 2
  EXPECT_EQ(201, levels.high);  // 201 alone reaches 2
  std::vector<int64_t> wide(65536, 0);
  wide[300] = 5;
  wide[65000] = 5;
  const auto w = marlo::HistogramLevels(wide.data(), 65535, 3);
  EXPECT_EQ(300, w.low);
  EXPECT_EQ(65000, w.high);
}

TEST(AutoExposureLevels, StretchTable) {
  std::vector<int32_t> t(25600);
  marlo::BuildStretchTable(20000, 5000, 0.8f, 25599, t.data());
  // New white 20000 + trunc(5599 * 0.8) = 24479; new black 5000 - trunc(4000.0000596) = 1000.
  EXPECT_EQ(1000, t[0]);
  EXPECT_EQ(1000, t[4999]);
  EXPECT_EQ(1000, t[5000]);
  EXPECT_EQ(1000 + 23479 * 1 / 15000, t[5001]);
  EXPECT_EQ(1000 + 23479 * 7777LL / 15000, t[12777]);
  EXPECT_EQ(24479, t[20000]);
  EXPECT_EQ(24479, t[25599]);
  std::vector<int32_t> t16(655360);
  marlo::BuildStretchTable(600000, 10, 0.8f, 655359, t16.data());
  // 55359 * 0.800000011920929 = 44287.2006..., 10 * 0.8f = 8.0000001...
  EXPECT_EQ(2, t16[10]);
  EXPECT_EQ(644287, t16[600000]);
  EXPECT_EQ(2 + static_cast<int32_t>(644285LL * 599989 / 599990), t16[599999]);
}

TEST(AutoExposureStrength, RuleRowsInOrder) {
  float shares[16] = {};
  const auto with = [&](float dark, float bright) {
    std::fill(shares, shares + 16, 0.0f);
    shares[0] = dark;
    shares[15] = bright;
    return shares;
  };
  EXPECT_EQ(0.6f, marlo::StrengthForShares(1.0f, with(0.1f, 0.2f)));
  EXPECT_EQ(0.75f, marlo::StrengthForShares(1.0f, with(0.5f, 0.3f)));
  EXPECT_EQ(0.25f, marlo::StrengthForShares(0.0f, with(0.1f, 0.2f)));
  EXPECT_EQ(static_cast<float>(80 * static_cast<double>(0.0033333334f)),
            marlo::StrengthForShares(0.0f, with(0.5f, 0.3f)));
  EXPECT_EQ(static_cast<float>(62 * static_cast<double>(0.005f)),
            marlo::StrengthForShares(0.0f, with(0.3125f, 0.3125f)));
  EXPECT_EQ(0.99f, marlo::StrengthForShares(0.99f, with(0.5f, 0.3f)));
  EXPECT_EQ(0.5f, marlo::StrengthForShares(0.5f, with(0.0f, 0.0f)));
  // 0.35f + 0.35f is 0.69999999 in single precision: the percentage is 69, not 70.
  EXPECT_EQ(static_cast<float>(69 * static_cast<double>(0.01f)),
            marlo::StrengthForShares(1.0f, with(0.35f, 0.35f)));
  // Exactly 0.6 in single precision is above the double 0.6: not the first row.
  EXPECT_EQ(static_cast<float>(60 * static_cast<double>(0.01f)),
            marlo::StrengthForShares(1.0f, with(0.6f, 0.0f)));
  // The two middle bands count: shares 1 and 14.
  std::fill(shares, shares + 16, 0.0f);
  shares[1] = 0.4f;
  shares[14] = 0.4f;
  shares[2] = 0.2f;
  EXPECT_EQ(static_cast<float>(80 * static_cast<double>(0.0033333334f)),
            marlo::StrengthForShares(0.0f, shares));
}

TEST(AutoExposureEqualisation, OneBandTakesTheWholeRise) {
  std::vector<int64_t> hist(25600, 0);
  hist[5040] = 10;  // band 12 (4800..5199)
  std::vector<int32_t> curve(25600);
  marlo::BuildEqualisationCurve(hist.data(), 10, 0.6f, 64, 25599, curve.data());
  for (int32_t i = 0; i < 4800; ++i) ASSERT_EQ(0, curve[i]);
  EXPECT_EQ(25599 * 240 / 400, curve[5040]);
  EXPECT_EQ(25599 * 399 / 400, curve[5199]);
  for (int32_t i = 5200; i < 25600; ++i) ASSERT_EQ(25599, curve[i]);
}

TEST(AutoExposureEqualisation, WorkedTwoBandsAndTheSixteenBitTail) {
  std::vector<int64_t> hist(25600, 0);
  hist[0] = 3;    // band 0: p = 0.75
  hist[401] = 1;  // band 1: p = 0.25
  std::vector<int32_t> curve(25600);
  marlo::BuildEqualisationCurve(hist.data(), 4, 0.5f, 64, 25599, curve.data());
  const float q0 = static_cast<float>(std::sqrt(0.75)), q1 = static_cast<float>(std::sqrt(0.25));
  const float total = q0 + q1;
  const int32_t c0 = static_cast<int32_t>(static_cast<double>(q0 / total) * 25600);
  const int32_t c1 =
      std::min(c0 + static_cast<int32_t>(static_cast<double>(q1 / total) * 25600), 25599);
  EXPECT_EQ(c0 * 200 / 400, curve[200]);
  EXPECT_EQ(c0 + (c1 - c0) * 1 / 400, curve[401]);
  EXPECT_EQ(c1, curve[800]);
  EXPECT_EQ(25599, curve[25599]);

  std::vector<int64_t> wide(655360, 0);
  wide[655300] = 4;  // above the last band: no band counts it, every band adds 0
  std::vector<int32_t> curve16(655360);
  marlo::BuildEqualisationCurve(wide.data(), 4, 0.5f, 1638, 655359, curve16.data());
  EXPECT_EQ(0, curve16[654799]);
  EXPECT_EQ(655359 * 1 / 400, curve16[654801]);  // the last band rises to the top
  for (int32_t i = 655200; i <= 655359; ++i) ASSERT_EQ(655359, curve16[i]);
}

// ---------------------------------------------------------------------------------------------
// Whole images.

void ExpectLikeReference(Kasa& src, int32_t useStrength, float strength) {
  auto before = CopyOf(src);
  auto dst = marlo::test::PatternImage(static_cast<ImageType>(src.GetImageType()),
                                       src.GetImageWidth(), src.GetImageHeight(), 99);
  ASSERT_EQ(1, AutoExposure(&src, dst.get(), useStrength, strength, nullptr, 0, 100));
  EXPECT_TRUE(SameBytes(*before, src));
  const auto expected = RunReference(src, useStrength, strength).samples;
  const auto got = Samples(*dst);
  ASSERT_EQ(expected.size(), got.size());
  const size_t i = FirstDifference(expected, got);
  ASSERT_EQ(expected.size(), i) << "type " << src.GetImageType() << " " << src.GetImageWidth()
                                << "x" << src.GetImageHeight() << " strength " << useStrength << "/"
                                << strength << " sample " << i << ": " << expected[i]
                                << " expected, " << got[i];
  // In place gives the same samples.
  ASSERT_EQ(1, AutoExposure(&src, &src, useStrength, strength, nullptr, 0, 100));
  EXPECT_EQ(expected, Samples(src));
}

TEST(AutoExposure, WholeImagesOfEveryTypeAndShape) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 4}, {2, 2}, {5, 1}, {33, 3}, {13, 11}, {40, 30}};
  uint32_t salt = 10;
  for (ImageType type : marlo::test::kAllTypes) {
    const bool wide = type == ImageType::Rgb48 || type == ImageType::Gray16;
    for (const auto& size : sizes) {
      auto full = marlo::test::PatternImage(type, size[0], size[1], ++salt);
      ExpectLikeReference(*full, 0, 0.0f);
      auto narrow =
          RangeImage(type, size[0], size[1], wide ? 9000 : 40, wide ? 60000 : 230, ++salt);
      ExpectLikeReference(*narrow, 0, 0.0f);
      auto dark = RangeImage(type, size[0], size[1], wide ? 300 : 1, wide ? 20000 : 70, ++salt);
      ExpectLikeReference(*dark, 1, 1.0f);
      ExpectLikeReference(*dark, 1, 0.0f);
      ExpectLikeReference(*narrow, 1, 0.37f);
    }
  }
}

TEST(AutoExposure, LargerImagesUseTheHueTableWithTheSameResults) {
  // 66000 pixels: the 8-bit hue comes from the table of differences.
  auto narrow = RangeImage(ImageType::Rgb24, 300, 220, 20, 210, 5);
  ExpectLikeReference(*narrow, 1, 1.0f);
  auto full = marlo::test::PatternImage(ImageType::Rgb24, 300, 220, 6);
  ExpectLikeReference(*full, 1, 0.8f);
  auto wide = RangeImage(ImageType::Rgb48, 301, 219, 1000, 50000, 7);
  ExpectLikeReference(*wide, 0, 0.0f);
  // The 16-bit rows are worked two pixels at a time: widths that leave one pixel over and none,
  // and samples at both ends of the range.
  for (int32_t w : {1, 2, 3}) {
    auto column = RangeImage(ImageType::Rgb48, w, 65536 / w + 1, 0, 65535, 8 + w);
    ExpectLikeReference(*column, 1, 1.0f);
    auto colour = RangeImage(ImageType::Rgb24, w, 65536 / w + 1, 0, 255, 11 + w);
    ExpectLikeReference(*colour, 1, 0.0f);
  }
}

TEST(AutoExposure, TheReadingsOfSinglePrecisionAreTellable) {
  // Each alternative reading changes some sample of these images; the library follows the
  // chosen one (the defaults of Readings), so it cannot be following an alternative.
  std::vector<std::unique_ptr<Kasa>> images;
  images.push_back(RangeImage(ImageType::Rgb24, 300, 220, 20, 210, 5));
  images.push_back(RangeImage(ImageType::Rgb24, 64, 64, 0, 255, 8));
  images.push_back(RangeImage(ImageType::Rgb48, 64, 64, 2000, 60000, 9));
  Readings alternatives[4];
  alternatives[0].intensityStoredSingle = true;
  alternatives[1].intensityDoubleConstant = true;
  alternatives[2].saturationSingleConstant = true;
  alternatives[3].greenFromRoundedRed = true;
  for (const Readings& alternative : alternatives) {
    bool tellable = false;
    for (auto& image : images) {
      for (float strength : {1.0f, 0.0f, 0.45f}) {
        const auto chosen = RunReference(*image, 1, strength).samples;
        tellable = tellable || chosen != RunReference(*image, 1, strength, alternative).samples;
      }
    }
    EXPECT_TRUE(tellable);
  }
  for (auto& image : images) {
    for (float strength : {1.0f, 0.0f, 0.45f}) ExpectLikeReference(*image, 1, strength);
  }
}

TEST(AutoExposure, StrengthRuleSumInSinglePrecisionDecidesARow) {
  // 100 grey pixels over the full range (no stretch): 3 in band 0, 56 in band 1 and 1 in
  // band 15. In single precision (0.01f + 0.0f) + (0.56f + 0.03f) is 0.59999996, below 0.6: the
  // strong rule's first row gives 0.6. Summed in double the shares would give 0.60000002 and
  // the third row, 60 * 0.01f = 0.59999996.
  auto image = MakeImage(ImageType::Gray8, 10, 10);
  for (int32_t i = 0; i < 100; ++i) {
    const uint32_t v = i < 3 ? 0 : (i < 59 ? 20 : (i < 60 ? 255 : 128));
    SetSample(*image, i % 10, i / 10, 0, v);
  }
  float shares[16] = {};
  shares[0] = static_cast<float>(3 / 100.0);
  shares[1] = static_cast<float>(56 / 100.0);
  shares[15] = static_cast<float>(1 / 100.0);
  EXPECT_EQ(0.6f, marlo::StrengthForShares(1.0f, shares));
  // The double sum would be at 0.6 or above (and the strength 0.59999996 through row three).
  const float doubleSum = static_cast<float>(static_cast<double>(shares[15]) + shares[14] +
                                             static_cast<double>(shares[1]) + shares[0]);
  EXPECT_GE(static_cast<double>(doubleSum), 0.6);
  ExpectLikeReference(*image, 1, 1.0f);

  // Shares of exactly 0.3f and 0.3f sum to 0.6f, above the double 0.6: not the first row.
  std::fill(shares, shares + 16, 0.0f);
  shares[0] = 0.3f;
  shares[15] = 0.3f;
  EXPECT_EQ(static_cast<float>(60 * static_cast<double>(0.01f)),
            marlo::StrengthForShares(1.0f, shares));
  EXPECT_NE(0.6f, marlo::StrengthForShares(1.0f, shares));
}

TEST(AutoExposure, StrengthChoices) {
  auto src = RangeImage(ImageType::Rgb24, 20, 20, 30, 200, 3);
  const auto run = [&](int32_t use, float strength) {
    Kasa dst;
    dst.CreateImage(1, 20, 20, 0, nullptr, 0, 0, 15, 0, 0);
    EXPECT_EQ(1, AutoExposure(src.get(), &dst, use, strength, nullptr, 0, 100));
    return Samples(dst);
  };
  EXPECT_EQ(run(1, 1.0f), run(1, 1.5f));   // clamped to 1: the strong automatic rule
  EXPECT_EQ(run(1, 0.0f), run(1, -0.2f));  // clamped to 0: the mild automatic rule
  EXPECT_EQ(run(1, 0.0f), run(1, std::numeric_limits<float>::quiet_NaN()));
  EXPECT_EQ(run(1, 0.5f), run(0, 0.9f));  // use strength 0: always 0.5
  EXPECT_EQ(run(0, -7.0f), run(0, 0.9f));
  EXPECT_NE(run(1, 1.0f), run(1, 0.0f));
  EXPECT_NE(run(1, 0.99f), run(1, 1.0f));  // 0.99 is used as it is
  EXPECT_EQ(RunReference(*src, 1, 0.99f).samples, run(1, 0.99f));
}

TEST(AutoExposure, FlatGreyImages) {
  for (ImageType type : marlo::test::kAllTypes) {
    const bool wide = type == ImageType::Rgb48 || type == ImageType::Gray16;
    for (uint32_t v : {0u, 1u, 77u, 255u}) {
      auto src = MakeImage(type, 12, 10);
      const int spp = Spp(*src);
      for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 12; ++x)
          for (int s = 0; s < spp; ++s) SetSample(*src, x, y, s, wide ? v * 257 : v);
      ExpectLikeReference(*src, 0, 0.0f);
      ProgressRecorder recorder;
      Kasa dst;
      dst.CreateImage(static_cast<int>(type), 12, 10, 0, nullptr, 0, 0, 15, 0, 0);
      ASSERT_EQ(1, AutoExposure(src.get(), &dst, 0, 0.0f, &ProgressRecorder::Callback, 0, 100));
      // A flat image has a narrow range: it is stretched.
      EXPECT_EQ(wide ? (std::vector<int32_t>{0, 10, 40, 60, 90, 100})
                     : (std::vector<int32_t>{0, 10, 40, 50, 60, 90, 100}),
                recorder.values());
      // Grey stays grey within one level (green may come out one below at a halfway intensity).
      if (spp == 3) {
        for (int32_t y = 0; y < 10; ++y) {
          EXPECT_EQ(Sample(dst, 0, y, 0), Sample(dst, 0, y, 2));
          EXPECT_GE(Sample(dst, 0, y, 0), Sample(dst, 0, y, 1));
          EXPECT_LE(Sample(dst, 0, y, 0), Sample(dst, 0, y, 1) + 1);
        }
      }
    }
  }
}

// A grey image of 100 pixels whose black and white points are `low` and `high`.
std::unique_ptr<Kasa> TwoLevelImage(ImageType type, uint32_t low, uint32_t high) {
  auto image = MakeImage(type, 10, 10);
  const bool wide = type == ImageType::Gray16;
  for (int32_t i = 0; i < 100; ++i) SetSample(*image, i % 10, i / 10, 0, wide ? 30000 : 120);
  SetSample(*image, 0, 0, 0, low);
  SetSample(*image, 9, 9, 0, high);
  return image;
}

std::vector<int32_t> ProgressOf(Kasa& src, int32_t start, int32_t end) {
  auto dst = CopyOf(src);
  ProgressRecorder recorder;
  EXPECT_EQ(1, AutoExposure(&src, dst.get(), 0, 0.0f, &ProgressRecorder::Callback, start, end));
  for (const auto& call : recorder.calls()) {
    EXPECT_EQ(start, call.start);
    EXPECT_EQ(end, call.end);
  }
  return recorder.values();
}

TEST(AutoExposure, ProgressAndTheNarrowRangeThreshold) {
  const std::vector<int32_t> narrow8{0, 10, 40, 50, 60, 90, 100};
  const std::vector<int32_t> plain{0, 10, 40, 60, 90, 100};
  auto a = TwoLevelImage(ImageType::Gray8, 5, 249);  // 244 apart: stretched
  EXPECT_EQ(narrow8, ProgressOf(*a, 0, 100));
  ExpectLikeReference(*a, 0, 0.0f);
  auto b = TwoLevelImage(ImageType::Gray8, 5, 250);  // 245 apart: not
  EXPECT_EQ(plain, ProgressOf(*b, 0, 100));
  ExpectLikeReference(*b, 0, 0.0f);
  auto c = TwoLevelImage(ImageType::Gray16, 1000, 63964);  // 62964 apart: stretched, no 50
  EXPECT_EQ(plain, ProgressOf(*c, 0, 100));
  EXPECT_TRUE(RunReference(*c, 0, 0.0f).stretched);
  ExpectLikeReference(*c, 0, 0.0f);
  auto d = TwoLevelImage(ImageType::Gray16, 1000, 63965);
  EXPECT_EQ(plain, ProgressOf(*d, 0, 100));
  EXPECT_FALSE(RunReference(*d, 0, 0.0f).stretched);
  ExpectLikeReference(*d, 0, 0.0f);
  // Fractions of end, whatever start is; the opening report is 0.
  EXPECT_EQ((std::vector<int32_t>{0, 5, 22, 27, 33, 49, 55}), ProgressOf(*a, 7, 55));
  EXPECT_EQ((std::vector<int32_t>{0, -1, -6, -7, -9, -13, -15}), ProgressOf(*a, 3, -15));
  // An image of fewer than 100 pixels: T = 0, full range, no stretch.
  auto small = marlo::test::PatternImage(ImageType::Rgb24, 9, 11, 4);
  SetSample(*small, 0, 0, 0, 100);
  EXPECT_EQ(plain, ProgressOf(*small, 0, 100));
  // The callback's answer is ignored.
  ProgressRecorder stopper(1);
  auto dst = CopyOf(*a);
  EXPECT_EQ(1, AutoExposure(a.get(), dst.get(), 0, 0.0f, &ProgressRecorder::Callback, 0, 100));
  EXPECT_EQ(narrow8, stopper.values());
}

TEST(AutoExposure, RefusalsWriteNothing) {
  auto* cb = &ProgressRecorder::Callback;
  auto src = RangeImage(ImageType::Rgb48, 6, 5, 100, 40000, 2);
  const std::unique_ptr<Kasa> wrong[] = {marlo::test::PatternImage(ImageType::Rgb48, 5, 5, 1),
                                         marlo::test::PatternImage(ImageType::Rgb48, 6, 4, 1),
                                         marlo::test::PatternImage(ImageType::Gray16, 6, 5, 1),
                                         marlo::test::PatternImage(ImageType::Rgb24, 6, 5, 1)};
  for (const auto& dst : wrong) {
    auto before = CopyOf(*dst);
    ProgressRecorder recorder;
    EXPECT_EQ(0, AutoExposure(src.get(), dst.get(), 1, 0.5f, cb, 20, 80));
    EXPECT_TRUE(SameBytes(*before, *dst));
    EXPECT_EQ((std::vector<int32_t>{0}), recorder.values());  // the single opening report
  }
  {
    Kasa empty;
    ProgressRecorder recorder;
    EXPECT_EQ(0, AutoExposure(src.get(), &empty, 1, 0.5f, cb, 20, 80));
    EXPECT_EQ(1, empty.IsEmpty());
    EXPECT_EQ((std::vector<int32_t>{0}), recorder.values());
  }
  {
    ProgressRecorder recorder;
    Kasa empty;
    EXPECT_EQ(0, AutoExposure(src.get(), nullptr, 1, 0.5f, cb, 20, 80));
    EXPECT_EQ(0, AutoExposure(&empty, src.get(), 1, 0.5f, cb, 20, 80));  // type 0: no report
    EXPECT_EQ(0, AutoExposure(nullptr, src.get(), 1, 0.5f, cb, 20, 80));
    EXPECT_EQ((std::vector<int32_t>{0}), recorder.values());
  }
  {
    // A worker given a type of the other width reports its opening value and refuses.
    marlo::CAutoExposure engine;
    auto before = CopyOf(*src);
    ProgressRecorder recorder;
    EXPECT_EQ(Status::Refused, engine.Expose8(src.get(), src.get(), 0, 0.0f, cb, 1, 2));
    EXPECT_EQ(Status::Refused, engine.Expose16(nullptr, src.get(), 0, 0.0f, cb, 1, 2));
    EXPECT_TRUE(SameBytes(*before, *src));
    EXPECT_EQ((std::vector<int32_t>{0, 0}), recorder.values());
  }
}

TEST(AutoExposure, OneEngineRunsTwiceAlike) {
  marlo::CAutoExposure engine;
  auto a = RangeImage(ImageType::Rgb24, 9, 7, 10, 100, 1);
  auto b = marlo::test::PatternImage(ImageType::Gray16, 9, 7, 2);
  auto a1 = CopyOf(*a), a2 = CopyOf(*a), b1 = CopyOf(*b);
  ASSERT_EQ(Status::Ok, engine.Run(a.get(), a1.get(), 1, 1.0f, nullptr, 0, 100));
  ASSERT_EQ(Status::Ok, engine.Run(b.get(), b1.get(), 1, 0.3f, nullptr, 0, 100));
  ASSERT_EQ(Status::Ok, engine.Run(a.get(), a2.get(), 1, 1.0f, nullptr, 0, 100));
  EXPECT_TRUE(SameBytes(*a1, *a2));
  EXPECT_EQ(RunReference(*b, 1, 0.3f).samples, Samples(*b1));
}

}  // namespace
