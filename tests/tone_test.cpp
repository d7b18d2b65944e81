// The tone filters: worked values of each stage, the tables against their formulas over whole
// domains, the properties of each filter (identity settings change nothing, grey stays grey),
// and a digest of the auto-exposure pictures larger than the golden table's.
#include <cmath>
#include <limits>

#include "test_support.h"
#include "tone/auto_adjustment.h"
#include "tone/auto_enhancement.h"
#include "tone/auto_exposure.h"
#include "tone/cb_enhancement.h"
#include "tone/light_adjustment.h"

namespace {

using namespace marlo::test;
using marlo::Depth16;
using marlo::Depth8;

// ---- Light-source adjustment ----

// The daylight locus from its formulas, rounded to four decimals; the first four rows are
// printed values.
std::vector<marlo::LocusRow> Locus() {
  std::vector<marlo::LocusRow> rows = {{1000, 0.6526, 0.3446},
                                       {2000, 0.5266, 0.4133},
                                       {2500, 0.4769, 0.4137},
                                       {3000, 0.4368, 0.4041}};
  std::vector<int32_t> temps = {9000,  9500,  10000, 10500, 11000, 12000,
                                13000, 14000, 15000, 17000, 20000, 25000};
  for (int32_t t = 8500; t >= 4000; t -= 100) temps.insert(temps.begin(), t);
  for (int32_t t : temps) {
    const double T = t,
                 x = t <= 7000
                         ? -4.6070e9 / (T * T * T) + 2.9678e6 / (T * T) + 0.09911e3 / T + 0.244063
                         : -2.0064e9 / (T * T * T) + 1.9018e6 / (T * T) + 0.24748e3 / T + 0.237040;
    const double y = -3.0 * x * x + 2.87 * x - 0.275;
    rows.push_back({t, std::round(x * 10000.0) / 10000.0, std::round(y * 10000.0) / 10000.0});
  }
  return rows;
}

// The three tables written out: chromaticities and XYZ in single precision, the gains of
// 8-bit R'' and G'' in single precision, the 16-bit ones truncated, the exact quotient
// i * gain / M, then the gamma step from the average of the tables' last entries.
using Tables = std::vector<std::vector<int32_t>>;
Tables LightTables(int32_t t1, int32_t t2, bool wide) {
  const int32_t F = wide ? 65535 : 255;
  auto single = [](double d) { return static_cast<double>(marlo::RoundToSingle(d)); };
  double X[2], Z[2];
  for (int i = 0; i < 2; ++i) {
    const int32_t t = i == 0 ? t1 : t2;
    const double x = single(marlo::LocusX(t)), y = single(marlo::LocusY(t));
    X[i] = single(x / y), Z[i] = single((1 - x - y) / y);
  }
  const double dX = X[1] - X[0], dZ = Z[1] - Z[0];
  double g[3] = {F * (3.2410 * dX - 0.4986 * dZ) + F, F * (-0.9692 * dX + 0.0416 * dZ) + F,
                 F * (0.0556 * dX + 1.0570 * dZ) + F};
  if (!wide) g[0] = single(g[0]), g[1] = single(g[1]);
  const double M = std::max({g[0], g[1], g[2]});
  Tables t(3, std::vector<int32_t>(F + 1));
  for (int c = 0; c < 3; ++c) {
    for (int32_t i = 0; i <= F; ++i) {
      const long double q = wide ? static_cast<double>(int64_t{i} * static_cast<int64_t>(g[c])) / M
                                 : static_cast<long double>(i) * g[c] / M;
      t[c][i] = q <= 0 ? 0 : (q >= F ? F : static_cast<int32_t>(q));
    }
  }
  const int32_t avg = (t[2][F] + t[1][F] + t[0][F]) / 3;
  if (avg > 0 && avg < F) {
    const double gamma = std::min(
        1.5, single(std::log(static_cast<double>(F)) / std::log(static_cast<double>(avg))));
    for (auto& table : t) {
      for (auto& e : table) {
        if (e > 0 && e < F) {
          e = std::min(
              F, static_cast<int32_t>(F * std::pow(static_cast<double>(e) / F, 1.0 / gamma) + 0.5));
        }
      }
    }
  }
  return t;
}

Tables Built(int32_t t1, int32_t t2, bool wide) {
  marlo::CLightAdjustment filter;
  wide ? filter.BuildTables16(t1, t2) : filter.BuildTables8(t1, t2);
  Tables t;
  for (int c = 0; c < 3; ++c) {
    t.push_back(wide ? std::vector<int32_t>(filter.Table16(c), filter.Table16(c) + 65536)
                     : std::vector<int32_t>(filter.Table8(c), filter.Table8(c) + 256));
  }
  return t;
}

TEST(LightAdjustment, Locus) {
  const auto rows = Locus();
  for (int i = 0; i < marlo::kDaylightLocusRows; ++i) {
    EXPECT_EQ(rows[i].kelvin, marlo::DaylightLocus[i].kelvin);
    EXPECT_EQ(rows[i].x, marlo::DaylightLocus[i].x) << rows[i].kelvin;
    EXPECT_EQ(rows[i].y, marlo::DaylightLocus[i].y) << rows[i].kelvin;
  }
  // The look-up holds the ends and interpolates linearly: 6550 K lies halfway between rows.
  EXPECT_EQ(0.6526, marlo::LocusX(INT32_MIN));
  EXPECT_EQ(0.2548, marlo::LocusY(INT32_MAX));
  EXPECT_EQ(0.3128 + (0.3112 - 0.3128) * 50.0 / 100.0, marlo::LocusX(6550));
  EXPECT_EQ(0.6526 + (0.5266 - 0.6526) * 500.0 / 1000.0, marlo::LocusX(1500));
  const marlo::Xyz w = marlo::ChromaticityToXYZ(0.3128f, 0.3292f);  // single precision
  EXPECT_EQ(static_cast<float>(0.3128f / static_cast<double>(0.3292f)), w.x);
  EXPECT_EQ(static_cast<float>((1.0 - 0.3128f - 0.3292f) / 0.3292f), w.z);
}

TEST(LightAdjustment, TablesAsWrittenOut) {
  // 3000 K to 6500 K: table ends 41, 176, 255 after the gamma step (34, 170, 255 before);
  // mid-grey comes out as (22, 94, 136); back: (138, 71, 25). 2000 K to 25000 K: red is all 0.
  auto t = Built(3000, 6500, false);
  EXPECT_EQ(
      (std::vector<int32_t>{41, 176, 255, 22, 94, 136}),
      (std::vector<int32_t>{t[0][255], t[1][255], t[2][255], t[0][128], t[1][128], t[2][128]}));
  t = Built(6500, 3000, false);
  EXPECT_EQ((std::vector<int32_t>{138, 71, 25}),
            (std::vector<int32_t>{t[0][128], t[1][128], t[2][128]}));
  EXPECT_EQ(std::vector<int32_t>(256, 0), Built(2000, 25000, false)[0]);
  EXPECT_EQ(std::vector<int32_t>(65536, 0), Built(2000, 25000, true)[0]);
  // Equal temperatures give the identity at both widths.
  for (int32_t k : {500, 4321, 25000, 40000}) {
    for (bool wide : {false, true}) {
      const auto id = Built(k, k, wide);
      for (int c = 0; c < 3; ++c) {
        for (int32_t i = 0; i < static_cast<int32_t>(id[c].size()); ++i) ASSERT_EQ(i, id[c][i]);
      }
    }
  }
  // Pairs close enough that each single-precision step decides some entries.
  for (int32_t t1 = 500; t1 <= 30000; t1 += 230) {
    for (int32_t t2 = 1000; t2 <= 25000; t2 += 370)
      ASSERT_EQ(LightTables(t1, t2, false), Built(t1, t2, false)) << t1 << " " << t2;
  }
  const int32_t pairs16[][2] = {{3000, 6500}, {3000, 5000}, {3000, 9500},  {3000, 3300},
                                {6500, 3000}, {5000, 9500}, {2000, 25000}, {8800, 4100}};
  for (const auto& p : pairs16)
    ASSERT_EQ(LightTables(p[0], p[1], true), Built(p[0], p[1], true)) << p[0];
}

// ---- Contrast and brightness ----

template <class D>
std::vector<int32_t> ToneLine(int32_t c, int32_t b) {
  std::vector<typename D::Sample> t(D::kMax + 1);
  marlo::BuildToneLine<D>(c, b, t.data());
  return std::vector<int32_t>(t.begin(), t.end());
}

TEST(CBEnhancement, ToneLines) {
  // contrast, brightness, then (entry, value) pairs
  const std::vector<int32_t> cases[] = {{0, 50, 0, 128, 64, 191, 127, 254, 128, 255},
                                        {50, 0, 73, 0, 74, 1, 127, 126, 128, 129, 182, 255},
                                        {-100, 0, 0, 125, 255, 130},
                                        {103, 0, 0, 255, 127, 217, 128, 38, 192, 0}};  // beyond 90°
  for (const auto& c : cases) {
    const auto t = ToneLine<Depth8>(c[0], c[1]);
    for (size_t i = 2; i < c.size(); i += 2)
      EXPECT_EQ(c[i + 1], t[c[i]]) << c[0] << " " << c[1] << " " << c[i];
  }
  // The line written out, every entry at both widths (the neutral settings give the identity).
  for (int32_t c : {-100, -37, -1, 0, 1, 25, 77, 100}) {
    for (int32_t b : {-100, -13, 0, 7, 100}) {
      for (bool wide : {false, true}) {
        const double t = std::tan((c * 0.44 + 45.0) * (3.14159 / 180.0)), max = wide ? 65535 : 255;
        const auto line = wide ? ToneLine<Depth16>(c, b) : ToneLine<Depth8>(c, b);
        for (int32_t i = 0; i <= max; ++i) {
          const double v = i * t + ((t + 1.0) * b * (max / 200) + (1.0 - t) * (max / 2)) + 0.5;
          ASSERT_EQ(v < 0 ? 0 : static_cast<int32_t>(std::min(v, max)), line[i])
              << c << " " << b << " " << i;
        }
      }
    }
  }
}

// ---- Auto adjustment ----

template <class D>
std::vector<int64_t> Stretch(std::vector<uint64_t> histogram, uint64_t n) {
  const auto levels = marlo::FindLevels<D>(histogram.data(), n / 20);
  std::vector<typename D::Sample> table(D::kMax + 1);
  marlo::BuildStretch<D>(levels, table.data());
  std::vector<int64_t> out = {static_cast<int64_t>(levels.low), static_cast<int64_t>(levels.high)};
  out.insert(out.end(), table.begin(), table.end());
  return out;  // low, high, then the table
}

TEST(AutoAdjustment, WorkedLevels) {
  auto spread = Stretch<Depth8>(std::vector<uint64_t>(256, 20), 5120);  // 13 bins cut at each end
  EXPECT_EQ(13, spread[0]);
  EXPECT_EQ(242, spread[1]);
  for (int v = 0; v < 256; ++v)
    EXPECT_EQ(v < 13 ? 0 : (v > 242 ? 255 : (v - 13) * 255 / 229), spread[2 + v]);
  const struct {
    std::vector<std::pair<int, uint64_t>> bins;
    uint64_t n;
    int64_t low, high;
    std::vector<std::pair<int, int64_t>> entries;
  } cases[] = {{{{10, 50}, {200, 50}}, 100, 11, 199, {{10, 0}, {200, 255}}},
               {{{255, 30}}, 30, 256, 254, {{255, 0}}},  // one value: low = v + 1, high = v - 1
               {{{0, 96}, {255, 4}}, 100, 1, 65535, {{0, 0}, {255, 0}}},  // high wraps
               {{{10, 50}, {11, 1}, {12, 49}}, 100, 11, 11, {{10, 0}, {11, 255}, {12, 255}}},
               {{{10, 50}, {11, 1}, {12, 49}}, 19, 0, 255, {{10, 10}, {200, 200}}}};  // N < 20
  for (const auto& c : cases) {
    std::vector<uint64_t> histogram(256, 0);
    for (const auto& [bin, count] : c.bins) histogram[bin] = count;
    const auto s = Stretch<Depth8>(histogram, c.n);
    EXPECT_EQ(c.low, s[0]);
    EXPECT_EQ(c.high, s[1]);
    for (const auto& [v, entry] : c.entries) EXPECT_EQ(entry, s[2 + v]) << c.n << " " << v;
  }
  std::vector<uint64_t> wide(65536, 0);
  wide[0x1001] = 50, wide[0xC8FF] = 50;
  auto s = Stretch<Depth16>(wide, 100);
  EXPECT_EQ((std::vector<int64_t>{0x1002, 0xC8FE, 0, 65535,
                                  (0x8000 - 0x1002) * 65535 / (0xC8FE - 0x1002)}),
            (std::vector<int64_t>{s[0], s[1], s[2 + 0x1001], s[2 + 0xC8FF], s[2 + 0x8000]}));
  wide.assign(65536, 0);
  wide[0] = 96, wide[65535] = 4;  // the 32-bit high bound wraps above every sample
  s = Stretch<Depth16>(wide, 100);
  EXPECT_EQ((std::vector<int64_t>{1, 0xFFFFFFFF, 0}),
            (std::vector<int64_t>{s[0], s[1], s[2 + 65535]}));
}

TEST(AutoAdjustment, Properties) {
  for (ImageType type : kAllTypes) {
    // Narrow content is stretched over the whole range; grey matches colour with equal channels.
    auto src = MakeImage(type, 20, 10), dst = MakeImage(type, 20, 10);
    auto grey = MakeImage(IsWide(type) ? ImageType::Gray16 : ImageType::Gray8, 20, 10);
    for (int32_t i = 0; i < 200; ++i) {
      const uint32_t v = 100 + static_cast<uint32_t>(i * 7) % 40;
      for (int k = 0; k < Spp(*src); ++k)
        SetSample(*src, i % 20, i / 20, k, IsWide(type) ? v * 257 + 0x55 : v);
      SetSample(*grey, i % 20, i / 20, 0, Sample(*src, i % 20, i / 20, 0));
    }
    ASSERT_EQ(1, AutoAdjustment(src.get(), dst.get()));
    ASSERT_EQ(1, AutoAdjustment(grey.get(), grey.get()));
    uint32_t lowest = UINT32_MAX, highest = 0;
    for (int32_t i = 0; i < 200; ++i) {
      lowest = std::min(lowest, Sample(*dst, i % 20, i / 20, 0));
      highest = std::max(highest, Sample(*dst, i % 20, i / 20, 0));
      for (int k = 0; k < Spp(*dst); ++k)
        ASSERT_EQ(Sample(*grey, i % 20, i / 20, 0), Sample(*dst, i % 20, i / 20, k));
    }
    EXPECT_EQ(0u, lowest);
    EXPECT_EQ(IsWide(type) ? 65535u : 255u, highest);
    // Fewer than 20 pixels: copied unchanged.
    auto tiny = PatternImage(type, 19, 1, 2), out = MakeImage(type, 19, 1);
    ASSERT_EQ(1, AutoAdjustment(tiny.get(), out.get()));
    EXPECT_TRUE(SamePixels(*tiny, *out));
  }
}

// ---- Auto exposure ----

TEST(AutoExposure, WorkedStages) {
  EXPECT_EQ(8500, marlo::HsiIntensity(255, 100.0));  // trunc(8500 + 0.5)
  EXPECT_EQ(850, marlo::HsiIntensity(255, 10.0));
  EXPECT_EQ(33, marlo::HsiIntensity(1, 100.0));
  EXPECT_EQ(34, marlo::HsiIntensity(2, 50.5));  // 33.67 + 0.5
  const int32_t saturation[][4] = {
      {255, 0, 100, 100}, {0, 0, 100, 0}, {30, 10, 100, 0}, {300, 50, 100, 50}, {300, 50, 10, 5}};
  for (const auto& c : saturation) EXPECT_EQ(c[3], marlo::HsiSaturation(c[0], c[1], c[2]));
  // Hue from (red - green, red - blue): grey, the primaries and secondaries.
  const int32_t hues[][3] = {{0, 0, 0},    {255, 255, 0}, {-255, 0, 120},   {0, -255, 240},
                             {0, 255, 60}, {255, 0, 300}, {-255, -255, 180}};
  for (const auto& h : hues) EXPECT_EQ(h[2], marlo::HsiHue(h[0], h[1])) << h[2];
  // The grey chromaticities are a third in single precision each way; intensity 150 hundredths
  // lies halfway between levels 1 and 2.
  const auto c = marlo::HsiChromaticity(0, 0.0f);
  EXPECT_EQ(0.3333333432674408, static_cast<double>(c.red));
  EXPECT_EQ(0.3333333134651184, static_cast<double>(c.green));
  const double I = 150 * static_cast<double>(0.01f);
  EXPECT_EQ(
      (std::vector<int32_t>{2, 1, 2}),
      (std::vector<int32_t>{marlo::HsiSample(c.red, I, 255), marlo::HsiSample(c.green, I, 255),
                            marlo::HsiSample(c.blue, I, 255)}));
  EXPECT_EQ(255, marlo::HsiSample(0.5f, 255.0, 255));
  EXPECT_EQ(0, marlo::HsiSample(-0.01f, 255.0, 255));
  // Saturated primaries come back as one channel; the second sector's red is (1 - S) / 3.
  EXPECT_EQ(0.0f, marlo::HsiChromaticity(0, 1.0f).blue);
  EXPECT_NEAR(1.0, marlo::HsiChromaticity(120, 1.0f).green, 1e-5);
  EXPECT_EQ(0.0f, marlo::HsiChromaticity(240, 1.0f).red);
  EXPECT_EQ(static_cast<float>((1.0 - 0.5) / 3.0), marlo::HsiChromaticity(121, 0.5f).red);
  // 1 % levels: flat gives low = high - 1, black gives high 1, T = 0 the whole range.
  std::vector<int64_t> bins(256, 0);
  bins[10] = 1, bins[11] = 1, bins[12] = 98, bins[200] = 1, bins[201] = 2;
  EXPECT_EQ(11, marlo::HistogramLevels(bins.data(), 255, 2).low);
  EXPECT_EQ(201, marlo::HistogramLevels(bins.data(), 255, 2).high);
  bins.assign(256, 0);
  bins[0] = 50;
  EXPECT_EQ(1, marlo::HistogramLevels(bins.data(), 255, 50).high);
  EXPECT_EQ(255, marlo::HistogramLevels(bins.data(), 255, 0).high);
  // Stretch: new white 20000 + trunc(5599 * 0.8) = 24479, new black 5000 - trunc(4000.00006).
  std::vector<int32_t> t(25600);
  marlo::BuildStretchTable(20000, 5000, 0.8f, 25599, t.data());
  EXPECT_EQ((std::vector<int32_t>{1000, 1000, 1000 + 23479 * 7777LL / 15000, 24479, 24479}),
            (std::vector<int32_t>{t[0], t[5000], t[12777], t[20000], t[25599]}));
  // Equalisation: one band takes the whole rise; two bands share it by p^k.
  std::vector<int64_t> hist(25600, 0);
  hist[5040] = 10;
  marlo::BuildEqualisationCurve(hist.data(), 10, 0.6f, 64, 25599, t.data());
  EXPECT_EQ((std::vector<int32_t>{0, 25599 * 240 / 400, 25599 * 399 / 400, 25599}),
            (std::vector<int32_t>{t[4799], t[5040], t[5199], t[5200]}));
  hist.assign(25600, 0);
  hist[0] = 3, hist[401] = 1;
  marlo::BuildEqualisationCurve(hist.data(), 4, 0.5f, 64, 25599, t.data());
  const float q0 = static_cast<float>(std::sqrt(0.75)), q1 = static_cast<float>(std::sqrt(0.25));
  const int32_t c0 = static_cast<int32_t>(static_cast<double>(q0 / (q0 + q1)) * 25600);
  const int32_t c1 =
      std::min(c0 + static_cast<int32_t>(static_cast<double>(q1 / (q0 + q1)) * 25600), 25599);
  EXPECT_EQ((std::vector<int32_t>{c0 / 2, c0 + (c1 - c0) / 400, c1}),
            (std::vector<int32_t>{t[200], t[401], t[800]}));
}

TEST(AutoExposure, StrengthRule) {
  float shares[16];
  const auto with = [&](float dark, float bright) {
    std::fill(shares, shares + 16, 0.0f);
    shares[0] = dark, shares[15] = bright;
    return shares;
  };
  const auto rows = [](int percent, float k) {
    return static_cast<float>(percent * static_cast<double>(k));
  };
  EXPECT_EQ(0.6f, marlo::StrengthForShares(1.0f, with(0.1f, 0.2f)));
  EXPECT_EQ(0.75f, marlo::StrengthForShares(1.0f, with(0.5f, 0.3f)));
  EXPECT_EQ(0.25f, marlo::StrengthForShares(0.0f, with(0.1f, 0.2f)));
  EXPECT_EQ(rows(80, 0.0033333334f), marlo::StrengthForShares(0.0f, with(0.5f, 0.3f)));
  EXPECT_EQ(rows(62, 0.005f), marlo::StrengthForShares(0.0f, with(0.3125f, 0.3125f)));
  EXPECT_EQ(0.99f, marlo::StrengthForShares(0.99f, with(0.5f, 0.3f)));
  // 0.35f + 0.35f is 0.69999999 in single precision: 69, not 70; 0.6f is above the double 0.6.
  EXPECT_EQ(rows(69, 0.01f), marlo::StrengthForShares(1.0f, with(0.35f, 0.35f)));
  EXPECT_EQ(rows(60, 0.01f), marlo::StrengthForShares(1.0f, with(0.6f, 0.0f)));
  // The sum in single precision, (0.01f + 0.0f) + (0.56f + 0.03f) = 0.59999996, decides the
  // first row; in double it would give the third.
  with(0.03f, 0.01f);
  shares[1] = 0.56f;
  EXPECT_EQ(0.6f, marlo::StrengthForShares(1.0f, shares));
  shares[0] = 0.0f, shares[14] = 0.4f, shares[2] = 0.2f;  // the two middle bands count
  shares[1] = 0.4f, shares[15] = 0.0f;
  EXPECT_EQ(rows(80, 0.0033333334f), marlo::StrengthForShares(0.0f, shares));
}

// Every pair of 8-bit differences in the hue table, every pixel sum and least sample in the
// saturation table, and the steps of the 16-bit hue against the formula.
TEST(AutoExposure, TablesAndHueStepsOverTheirDomains) {
  std::vector<int16_t> hue(static_cast<size_t>(marlo::kHueTableSide) * marlo::kHueTableSide);
  marlo::BuildHueTable8(hue.data());
  for (int32_t rg = -255; rg <= 255; ++rg) {
    for (int32_t rb = -255; rb <= 255; ++rb) {
      const double r = 255, g = r - rg, b = r - rb;
      const double theta =
          std::acos(0.5 * ((r - g) + (r - b)) / std::sqrt((r - g) * (r - g) + (r - b) * (g - b))) *
          57.29582790879778;
      const int32_t expected = rg == 0 && rb == 0 ? 0
                                                  : (b <= g ? static_cast<int32_t>(theta + 0.5)
                                                            : 360 - static_cast<int32_t>(theta));
      ASSERT_EQ(expected, hue[(rg + 255) * 511 + rb + 255]) << rg << " " << rb;
    }
  }
  std::vector<uint8_t> sat(marlo::kSaturationTableSize8, 0xEE);
  marlo::BuildSaturationTable8(sat.data());
  for (int32_t sum = 0; sum <= 765; ++sum) {
    for (int32_t least = 0; least <= 255; ++least) {
      const int32_t expected =
          least * 3 > sum || sum == 0 ? 0 : static_cast<int32_t>((1.0 - 3.0 * least / sum) * 100);
      ASSERT_EQ(expected, sat[sum * 256 + least]) << sum << " " << least;
    }
  }
  const marlo::HueSteps steps;
  for (int32_t rg = -300; rg <= 300; ++rg) {
    for (int32_t rb = -300; rb <= 300; ++rb)
      ASSERT_EQ(marlo::HsiHue(rg, rb), steps.Hue(rg, rb)) << rg << " " << rb;
  }
  for (int32_t fixed : {65535, -65535, 65534, -1, 1, 32768, -40000, 12345}) {
    for (int32_t v = -65535; v <= 65535; ++v) {
      ASSERT_EQ(marlo::HsiHue(v, fixed), steps.Hue(v, fixed)) << v << " " << fixed;
      ASSERT_EQ(marlo::HsiHue(fixed, v), steps.Hue(fixed, v)) << fixed << " " << v;
    }
  }
  for (int32_t v = -65533; v <= 65533; v += 7) {  // quotients next to -1 and 1
    for (int32_t d : {-2, -1, 1, 2}) ASSERT_EQ(marlo::HsiHue(v, v + d), steps.Hue(v, v + d)) << v;
  }
  for (uint32_t i = 0; i < 1000000; ++i) {
    const int32_t r = Mix(i * 3 + 1) & 0xFFFF, g = Mix(i * 3 + 2) & 0xFFFF,
                  b = Mix(i * 3 + 3) & 0xFFFF;
    ASSERT_EQ(marlo::HsiHue(r - g, r - b), steps.Hue(r - g, r - b)) << r << " " << g << " " << b;
  }
}

// Samples within lo..hi (a narrow range is stretched, a wide one is not), some pixels grey.
std::unique_ptr<Kasa> RangeImage(ImageType type, int32_t w, int32_t h, uint32_t lo, uint32_t hi,
                                 uint32_t salt) {
  auto image = PatternImage(type, w, h, salt);
  for (int32_t i = 0; i < w * h * Spp(*image); ++i) {
    const int32_t x = i / Spp(*image) % w, y = i / Spp(*image) / w, s = i % Spp(*image);
    const uint32_t r = Mix(salt * 7919u + static_cast<uint32_t>(i));
    SetSample(*image, x, y, s,
              r % 7 == 0 && s > 0 ? Sample(*image, x, y, 0) : lo + r % (hi - lo + 1));
  }
  return image;
}

std::vector<int32_t> ExposureReports(Kasa& src, int32_t use, float strength, int32_t start,
                                     int32_t end) {
  auto dst = CopyOf(src);
  Recorder recorder(1);  // the answers are ignored
  EXPECT_EQ(1, AutoExposure(&src, dst.get(), use, strength, &Recorder::Callback, start, end));
  for (const auto& call : recorder.calls())
    EXPECT_EQ(std::make_pair(start, end), std::make_pair(call[0], call[1]));
  return recorder.values();
}

TEST(AutoExposure, StrengthsProgressAndProperties) {
  auto src = RangeImage(ImageType::Rgb24, 20, 20, 30, 200, 3);
  const auto run = [&](int32_t use, float strength) {
    auto dst = MakeImage(ImageType::Rgb24, 20, 20);
    EXPECT_EQ(1, AutoExposure(src.get(), dst.get(), use, strength, nullptr, 0, 100));
    return dst;
  };
  const auto same = [&](std::pair<int32_t, float> a, std::pair<int32_t, float> b) {
    return SameBytes(*run(a.first, a.second), *run(b.first, b.second));
  };
  EXPECT_TRUE(same({1, 1.0f}, {1, 1.5f}));   // clamped to 1: the strong rule
  EXPECT_TRUE(same({1, 0.0f}, {1, -0.2f}));  // clamped to 0: the mild rule
  EXPECT_TRUE(same({1, 0.0f}, {1, std::numeric_limits<float>::quiet_NaN()}));
  EXPECT_TRUE(same({1, 0.5f}, {0, 0.9f}));  // use strength 0: always 0.5
  EXPECT_FALSE(same({1, 1.0f}, {1, 0.0f}));
  EXPECT_FALSE(same({1, 0.99f}, {1, 1.0f}));  // 0.99 is used as it is
  // Reports are fractions of end, the opening one 0; an 8-bit stretch reports 50 after it. The
  // 8-bit threshold of the stretch is 245 apart, the 16-bit one 62965.
  const std::vector<int32_t> stretched{0, 10, 40, 50, 60, 90, 100}, plain{0, 10, 40, 60, 90, 100};
  const uint32_t levels[][2] = {{5, 249}, {5, 250}, {1000, 63964}};
  for (const auto& l : levels) {
    const ImageType type = l[1] > 255 ? ImageType::Gray16 : ImageType::Gray8;
    auto image = MakeImage(type, 10, 10);
    for (int32_t i = 0; i < 100; ++i)
      SetSample(*image, i % 10, i / 10, 0,
                i == 0 ? l[0] : (i == 99 ? l[1] : (IsWide(type) ? 30000 : 120)));
    EXPECT_EQ(l[1] == 249 ? stretched : plain, ExposureReports(*image, 0, 0.0f, 0, 100)) << l[1];
    if (l[1] == 249) {
      EXPECT_EQ((std::vector<int32_t>{0, 5, 22, 27, 33, 49, 55}),
                ExposureReports(*image, 0, 0.0f, 7, 55));
      EXPECT_EQ((std::vector<int32_t>{0, -1, -6, -7, -9, -13, -15}),
                ExposureReports(*image, 0, 0.0f, 3, -15));
    }
  }
  // Flat grey pictures are stretched and stay grey within one level (green may come out one below
  // at a halfway intensity).
  for (ImageType type : kAllTypes) {
    for (uint32_t v : {0u, 77u, 255u}) {
      auto flat = MakeImage(type, 12, 10);
      for (int32_t i = 0; i < 120 * Spp(*flat); ++i)
        SetSample(*flat, i / Spp(*flat) % 12, i / Spp(*flat) / 12, i % Spp(*flat),
                  IsWide(type) ? v * 257 : v);
      EXPECT_EQ(IsWide(type) ? plain : stretched, ExposureReports(*flat, 0, 0.0f, 0, 100));
      ASSERT_EQ(1, AutoExposure(flat.get(), flat.get(), 0, 0.0f, nullptr, 0, 100));
      for (int32_t y = 0; y < 10 && IsColour(type); ++y) {
        EXPECT_EQ(Sample(*flat, 0, y, 0), Sample(*flat, 0, y, 2));
        EXPECT_LE(Sample(*flat, 0, y, 1), Sample(*flat, 0, y, 0));
        EXPECT_LE(Sample(*flat, 0, y, 0), Sample(*flat, 0, y, 1) + 1);
      }
    }
  }
}

// Pictures of 66,000 pixels and more (the 8-bit hue from the table of differences) and columns
// of one to three pixels (the 16-bit rows worked two pixels at a time), recorded from a build
// checked against the whole engine written out pixel by pixel.
TEST(AutoExposure, LargerPicturesMatchTheirDigest) {
  Digest digest;
  const auto add = [&digest](std::unique_ptr<Kasa> src, int32_t use, float strength) {
    auto dst = PatternImage(TypeOf(*src), src->GetImageWidth(), src->GetImageHeight(), 99);
    ASSERT_EQ(1, AutoExposure(src.get(), dst.get(), use, strength, nullptr, 0, 100));
    digest.Image(*dst);
  };
  add(RangeImage(ImageType::Rgb24, 300, 220, 20, 210, 5), 1, 1.0f);
  add(PatternImage(ImageType::Rgb24, 300, 220, 6), 1, 0.8f);
  add(RangeImage(ImageType::Rgb48, 301, 219, 1000, 50000, 7), 0, 0.0f);
  for (int32_t w : {1, 2, 3}) {
    add(RangeImage(ImageType::Rgb48, w, 65536 / w + 1, 0, 65535, 8 + w), 1, 1.0f);
    add(RangeImage(ImageType::Rgb24, w, 65536 / w + 1, 0, 255, 11 + w), 1, 0.0f);
  }
  EXPECT_EQ(0xdf808a2fe962c29aULL, digest.value());
}

// ---- Auto enhancement ----

TEST(AutoEnhancement, SplitPoint) {
  // The split point is half the length, truncated toward zero.
  const int32_t splits[] = {0,         100,       50,        40,        100,       30,
                            0,         99,        49,        99,        0,         -49,
                            INT32_MIN, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MIN, -INT32_MAX};
  for (const int32_t* s = splits; s < std::end(splits); s += 3)
    EXPECT_EQ(s[2], marlo::EnhancementSplit(s[0], s[1]));
}

TEST(AutoEnhancement, ProgressSplitsTheRangeAndAbortStopsTheSharpening) {
  auto src = RangeImage(ImageType::Rgb24, 6, 20, 40, 200, 5), dst = CopyOf(*src);
  Recorder recorder;
  ASSERT_EQ(1, AutoEnhancement(src.get(), dst.get(), 1.0f, 50, &Recorder::Callback, 0, 100));
  std::vector<ProgressCall> expected{{0, 50, 0},  {0, 50, 5},  {0, 50, 20}, {0, 50, 25},
                                     {0, 50, 30}, {0, 50, 45}, {0, 50, 50}};
  for (int32_t v : ProgressProtocol(50, 100, 20, 20)) expected.push_back({50, 100, v});
  EXPECT_EQ(expected, recorder.calls());
  // Stopped after the sharpening's first row: row 0 sharpened, the others exposed only.
  auto exposed = CopyOf(*src), stopped = CopyOf(*src);
  ASSERT_EQ(1, AutoExposure(src.get(), exposed.get(), 1, 1.0f, nullptr, 0, 100));
  auto sharpened = CopyOf(*exposed);
  ASSERT_EQ(1, ImageFocus(sharpened.get(), sharpened.get(), 70, nullptr, 0, 100));
  Recorder aborting(9);
  EXPECT_EQ(0, AutoEnhancement(src.get(), stopped.get(), 1.0f, 70, &Recorder::Callback, 0, 100));
  EXPECT_EQ((ProgressCall{50, 100, 52}), aborting.calls().back());
  for (int32_t y = 0; y < 20; ++y) {
    ASSERT_EQ(0, std::memcmp((y == 0 ? *sharpened : *exposed).RowData(y), stopped->RowData(y), 18))
        << y;
  }
  // A refused exposure stops the call after its opening report.
  auto other = PatternImage(ImageType::Rgb24, 6, 19, 1);
  Recorder refused;
  EXPECT_EQ(0, AutoEnhancement(src.get(), other.get(), 1.0f, 50, &Recorder::Callback, 0, 100));
  EXPECT_EQ((std::vector<ProgressCall>{{0, 50, 0}}), refused.calls());
}

}  // namespace
