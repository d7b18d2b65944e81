// Light-source adjustment: the daylight-locus table, the look-up, the gains and gamma tables
// against a plainly written reference (with the single-precision steps exactly where they
// belong), whole images of both types, progress, abort, the reversed result and the refusals.
#include <cmath>

#include "test_support.h"
#include "tone/light_adjustment.h"

namespace {

using marlo::CLightAdjustment;
using marlo::test::CopyOf;
using marlo::test::PatternImage;
using marlo::test::SameBytes;

// ---------------------------------------------------------------------------------------------
// Reference arithmetic, written out directly.

struct RefRow {
  int32_t t;
  double x, y;
};

// The locus computed from the daylight formulas and rounded to four decimals.
std::vector<RefRow> RefLocus() {
  std::vector<RefRow> rows = {{1000, 0.6526, 0.3446},
                              {2000, 0.5266, 0.4133},
                              {2500, 0.4769, 0.4137},
                              {3000, 0.4368, 0.4041}};
  std::vector<int32_t> temps;
  for (int32_t t = 4000; t <= 8500; t += 100) temps.push_back(t);
  for (int32_t t :
       {9000, 9500, 10000, 10500, 11000, 12000, 13000, 14000, 15000, 17000, 20000, 25000}) {
    temps.push_back(t);
  }
  for (int32_t t : temps) {
    const double T = t;
    double x;
    if (t <= 7000) {
      x = -4.6070e9 / (T * T * T) + 2.9678e6 / (T * T) + 0.09911e3 / T + 0.244063;
    } else {
      x = -2.0064e9 / (T * T * T) + 1.9018e6 / (T * T) + 0.24748e3 / T + 0.237040;
    }
    const double y = -3.0 * x * x + 2.87 * x - 0.275;
    rows.push_back({t, std::round(x * 10000.0) / 10000.0, std::round(y * 10000.0) / 10000.0});
  }
  return rows;
}

double RefLook(int32_t t, bool wantX) {
  static const std::vector<RefRow> rows = RefLocus();
  auto value = [&](const RefRow& r) { return wantX ? r.x : r.y; };
  if (t <= rows.front().t) return value(rows.front());
  if (t >= rows.back().t) return value(rows.back());
  size_t i = 0;
  while (rows[i].t < t) ++i;
  if (rows[i].t == t) return value(rows[i]);
  const double a = value(rows[i - 1]), b = value(rows[i]);
  return a + (b - a) * (t - rows[i - 1].t) / (rows[i].t - rows[i - 1].t);
}

// Switches that replace one single-precision step by double precision (or the exact division by
// a plain double one), to show that the tests depend on each of them.
struct Variant {
  bool doubleChromaticity = false;  // x, y and X, Z kept in double
  bool doubleGains = false;         // 8-bit R'' and G'' kept in double
  bool doubleExponent = false;      // g kept in double
  bool plainDivision = false;       // 8-bit i * R'' / M in plain double arithmetic
};

using Tables = std::vector<std::vector<int32_t>>;

Tables RefTables(int32_t t1, int32_t t2, bool wide, Variant v = {}) {
  const int32_t F = wide ? 65535 : 255;
  auto single = [&](double d, bool keepDouble) {
    if (keepDouble) return d;
    volatile float f = static_cast<float>(d);
    return static_cast<double>(f);
  };
  const double x1 = single(RefLook(t1, true), v.doubleChromaticity);
  const double y1 = single(RefLook(t1, false), v.doubleChromaticity);
  const double x2 = single(RefLook(t2, true), v.doubleChromaticity);
  const double y2 = single(RefLook(t2, false), v.doubleChromaticity);
  const double X1 = single(x1 / y1, v.doubleChromaticity);
  const double Z1 = single((1 - x1 - y1) / y1, v.doubleChromaticity);
  const double X2 = single(x2 / y2, v.doubleChromaticity);
  const double Z2 = single((1 - x2 - y2) / y2, v.doubleChromaticity);
  const double dX = X2 - X1, dZ = Z2 - Z1;
  const double dR = 3.2410 * dX - 0.4986 * dZ;
  const double dG = -0.9692 * dX + 0.0416 * dZ;
  const double dB = 0.0556 * dX + 1.0570 * dZ;
  double g3[3] = {F * dR + F, F * dG + F, F * dB + F};
  if (!wide) {
    g3[0] = single(g3[0], v.doubleGains);
    g3[1] = single(g3[1], v.doubleGains);
  }
  const double M = std::max(g3[0], std::max(g3[1], g3[2]));
  Tables t(3, std::vector<int32_t>(F + 1));
  for (int c = 0; c < 3; ++c) {
    for (int32_t i = 0; i <= F; ++i) {
      long double q;
      if (wide) {
        const long long product = static_cast<long long>(i) * static_cast<long long>(g3[c]);
        q = product / M;
      } else if (v.plainDivision) {
        q = i * g3[c] / M;
      } else {
        // The product is exact in extended precision.
        q = static_cast<long double>(i) * g3[c] / M;
      }
      t[c][i] = q <= 0 ? 0 : (q >= F ? F : static_cast<int32_t>(q));
    }
  }
  const int32_t avg = (t[2][F] + t[1][F] + t[0][F]) / 3;
  if (avg > 0 && avg < F) {
    double g = std::log(static_cast<double>(F)) / std::log(static_cast<double>(avg));
    if (!v.doubleExponent) g = single(g, false);
    if (g > 1.5) g = 1.5;
    for (auto& table : t) {
      for (auto& e : table) {
        if (e > 0 && e < F) {
          const double r = F * std::pow(static_cast<double>(e) / F, 1.0 / g) + 0.5;
          e = r > F ? F : static_cast<int32_t>(r);
        }
      }
    }
  }
  return t;
}

Tables Built(int32_t t1, int32_t t2, bool wide) {
  CLightAdjustment filter;
  Tables t(3);
  if (wide) {
    filter.BuildTables16(t1, t2);
    for (int c = 0; c < 3; ++c) t[c].assign(filter.Table16(c), filter.Table16(c) + 65536);
  } else {
    filter.BuildTables8(t1, t2);
    for (int c = 0; c < 3; ++c) t[c].assign(filter.Table8(c), filter.Table8(c) + 256);
  }
  return t;
}

// ---------------------------------------------------------------------------------------------

TEST(DaylightLocus, RowsFollowTheFormulasRoundedToFourDecimals) {
  const auto ref = RefLocus();
  ASSERT_EQ(62u, ref.size());
  for (int i = 0; i < marlo::kDaylightLocusRows; ++i) {
    EXPECT_EQ(ref[i].t, marlo::DaylightLocus[i].kelvin) << i;
    EXPECT_EQ(ref[i].x, marlo::DaylightLocus[i].x) << ref[i].t;
    EXPECT_EQ(ref[i].y, marlo::DaylightLocus[i].y) << ref[i].t;
    if (i > 0) {
      EXPECT_LT(marlo::DaylightLocus[i - 1].kelvin, marlo::DaylightLocus[i].kelvin);
    }
  }
  // The telling rows.
  const struct {
    int32_t t;
    double x, y;
  } telling[] = {{1000, 0.6526, 0.3446}, {3000, 0.4368, 0.4041}, {4000, 0.3823, 0.3838},
                 {5000, 0.3457, 0.3587}, {6500, 0.3128, 0.3292}, {9500, 0.2818, 0.2956},
                 {25000, 0.2499, 0.2548}};
  for (const auto& r : telling) {
    EXPECT_EQ(r.x, marlo::LocusX(r.t)) << r.t;
    EXPECT_EQ(r.y, marlo::LocusY(r.t)) << r.t;
  }
}

TEST(DaylightLocus, LookUpInterpolatesAndClampsToTheEnds) {
  EXPECT_EQ(0.6526, marlo::LocusX(500));
  EXPECT_EQ(0.6526, marlo::LocusX(INT32_MIN));
  EXPECT_EQ(0.2548, marlo::LocusY(30000));
  EXPECT_EQ(0.2548, marlo::LocusY(INT32_MAX));
  // 6550 K lies halfway between the 6500 and 6600 rows.
  EXPECT_EQ(0.3128 + (0.3112 - 0.3128) * 50.0 / 100.0, marlo::LocusX(6550));
  EXPECT_NEAR(0.3120, marlo::LocusX(6550), 1e-12);
  EXPECT_NEAR(0.3284, marlo::LocusY(6550), 1e-12);
  // 1500 K lies between the 1000 and 2000 rows.
  EXPECT_EQ(0.6526 + (0.5266 - 0.6526) * 500.0 / 1000.0, marlo::LocusX(1500));
  for (int32_t t = 900; t <= 25100; t += 37) {
    ASSERT_EQ(RefLook(t, true), marlo::LocusX(t)) << t;
    ASSERT_EQ(RefLook(t, false), marlo::LocusY(t)) << t;
  }
}

TEST(LightGains, ChromaticityToXyzIsSinglePrecision) {
  const float x = 0.3128f, y = 0.3292f;
  const marlo::Xyz w = marlo::ChromaticityToXYZ(x, y);
  EXPECT_EQ(static_cast<float>(static_cast<double>(x) / y), w.x);
  EXPECT_EQ(1.0f, w.y);
  EXPECT_EQ(static_cast<float>((1.0 - x - y) / y), w.z);
}

TEST(LightGains, WorkedGainsAndTableEnds) {
  // 3000 K to 6500 K: gains red 0.133, green 0.669, blue 1.0.
  auto g = marlo::Gains8(3000, 6500);
  EXPECT_EQ(g.max, g.value[2]);
  EXPECT_NEAR(0.133, g.value[0] / g.max, 0.0005);
  EXPECT_NEAR(0.669, g.value[1] / g.max, 0.0005);
  // 6500 K to 3000 K: red 1.0, green 0.477, blue 0.155.
  g = marlo::Gains8(6500, 3000);
  EXPECT_EQ(g.max, g.value[0]);
  EXPECT_NEAR(0.477, g.value[1] / g.max, 0.0005);
  EXPECT_NEAR(0.155, g.value[2] / g.max, 0.0005);
  // 2000 K to 25000 K: a negative red gain.
  g = marlo::Gains8(2000, 25000);
  EXPECT_NEAR(-0.29, g.value[0] / g.max, 0.005);
  // Equal temperatures: every value is F.
  for (int32_t t : {1000, 5555, 25000}) {
    g = marlo::Gains8(t, t);
    EXPECT_EQ(255.0, g.value[0]);
    EXPECT_EQ(255.0, g.value[1]);
    EXPECT_EQ(255.0, g.value[2]);
    EXPECT_EQ(255.0, g.max);
    g = marlo::Gains16(t, t);
    EXPECT_EQ(65535.0, g.value[0]);
    EXPECT_EQ(65535.0, g.max);
  }
  // 8-bit: R'' and G'' are single-precision values, B'' is not rounded to single precision.
  g = marlo::Gains8(3000, 6500);
  EXPECT_EQ(static_cast<double>(static_cast<float>(g.value[0])), g.value[0]);
  EXPECT_EQ(static_cast<double>(static_cast<float>(g.value[1])), g.value[1]);
  EXPECT_NE(static_cast<double>(static_cast<float>(g.value[2])), g.value[2]);
  // 16-bit: R'', G'', B'' truncated to integers, M not.
  g = marlo::Gains16(3000, 6500);
  for (double v : g.value) EXPECT_EQ(std::trunc(v), v);
  EXPECT_NE(std::trunc(g.max), g.max);
  EXPECT_EQ(std::trunc(g.max), g.value[2]);
}

TEST(LightGains, ExactScaledEntryIsExact) {
  EXPECT_EQ(7, marlo::ExactScaledEntry(7, 300.1, 300.1, 255));
  EXPECT_EQ(0, marlo::ExactScaledEntry(7, -3.0, 300.1, 255));
  EXPECT_EQ(0, marlo::ExactScaledEntry(0, 3.0, 300.1, 255));
  EXPECT_EQ(255, marlo::ExactScaledEntry(255, 1e300, 1e-300, 255));
  EXPECT_EQ(0, marlo::ExactScaledEntry(255, 1e-300, 1e300, 255));
  EXPECT_EQ(0, marlo::ExactScaledEntry(255, 3.0, 0.0, 255));
  EXPECT_EQ(0, marlo::ExactScaledEntry(255, 3.0, NAN, 255));
  EXPECT_EQ(0, marlo::ExactScaledEntry(255, NAN, 3.0, 255));
  EXPECT_EQ(127, marlo::ExactScaledEntry(255, 1.0, 2.0, 255));  // 127.5
  EXPECT_EQ(85, marlo::ExactScaledEntry(255, 1.0, 3.0, 255));
  EXPECT_EQ(84, marlo::ExactScaledEntry(255, std::nextafter(1.0, 0.0), 3.0, 255));
  EXPECT_EQ(414, marlo::ExactScaledEntry(3, 1000.5, 7.25, 65535));  // exactly 414
  EXPECT_EQ(413, marlo::ExactScaledEntry(3, std::nextafter(1000.5, 0.0), 7.25, 65535));
  EXPECT_EQ(255, marlo::ExactScaledEntry(255, 1e10, 1.0, 255));
  EXPECT_EQ(2, marlo::ExactScaledEntry(1, 2.5, 1.0, 255));
  EXPECT_EQ(0, marlo::ExactScaledEntry(1, 0.999999, 1.0, 255));
  // Against extended precision, where the product is exact too, over many magnitudes.
  uint32_t state = 12345;
  for (int n = 0; n < 20000; ++n) {
    state = marlo::test::Mix(state + 1);
    const int32_t i = static_cast<int32_t>(state % 256);
    const double v = std::ldexp(1.0 + (marlo::test::Mix(state) % 1000003) / 1000003.0,
                                static_cast<int>(marlo::test::Mix(state + 7) % 20) - 5);
    const double m = std::ldexp(1.0 + (marlo::test::Mix(state + 3) % 999983) / 999983.0,
                                static_cast<int>(marlo::test::Mix(state + 9) % 12));
    const long double q = static_cast<long double>(i) * v / m;
    const int32_t expected = q >= 255 ? 255 : static_cast<int32_t>(q);
    ASSERT_EQ(expected, marlo::ExactScaledEntry(i, v, m, 255)) << i << " " << v << " " << m;
  }
  // i * v / v is i for every i and many v, also where plain double arithmetic gives i - 1.
  int plainFailures = 0;
  for (double v = 255.0; v < 1300.0; v += 0.7310000000000001) {
    for (int32_t i = 0; i <= 255; ++i) {
      ASSERT_EQ(i, marlo::ExactScaledEntry(i, v, v, 255)) << v;
      volatile double product = i * v;
      if (static_cast<int32_t>(product / v) != i) ++plainFailures;
    }
  }
  EXPECT_GT(plainFailures, 0);
}

TEST(LightTables, WorkedEightBitExample) {
  // 3000 K to 6500 K: table ends 34, 170, 255 before the gamma step, 41, 176, 255 after;
  // mid-grey comes out as (22, 94, 136).
  const auto g = marlo::Gains8(3000, 6500);
  EXPECT_EQ(34, marlo::ExactScaledEntry(255, g.value[0], g.max, 255));
  EXPECT_EQ(170, marlo::ExactScaledEntry(255, g.value[1], g.max, 255));
  EXPECT_EQ(255, marlo::ExactScaledEntry(255, g.value[2], g.max, 255));
  EXPECT_NEAR(1.1015, std::log(255.0) / std::log(153.0), 0.0001);
  auto t = Built(3000, 6500, false);
  EXPECT_EQ(41, t[0][255]);
  EXPECT_EQ(176, t[1][255]);
  EXPECT_EQ(255, t[2][255]);
  EXPECT_EQ(22, t[0][128]);
  EXPECT_EQ(94, t[1][128]);
  EXPECT_EQ(136, t[2][128]);
  // 6500 K to 3000 K: mid-grey comes out as (138, 71, 25).
  t = Built(6500, 3000, false);
  EXPECT_EQ(138, t[0][128]);
  EXPECT_EQ(71, t[1][128]);
  EXPECT_EQ(25, t[2][128]);
  // 2000 K to 25000 K: the red table is all 0.
  t = Built(2000, 25000, false);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(0, t[0][i]);
  const auto t16 = Built(2000, 25000, true);
  for (int i = 0; i < 65536; ++i) ASSERT_EQ(0, t16[0][i]);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(0, t[c][0]);
    EXPECT_EQ(0, t16[c][0]);
  }
}

TEST(LightTables, StrongestChannelBeforeGamma) {
  // 8-bit: the channel whose value is M gets the identity table; 16-bit: R'' is truncated but M
  // is not, so the strongest channel's table falls just short of the identity.
  for (int32_t t1 = 1000; t1 <= 25000; t1 += 1300) {
    for (int32_t t2 = 1000; t2 <= 25000; t2 += 1700) {
      const auto g = marlo::Gains8(t1, t2);
      const int strongest = g.max == g.value[0] ? 0 : (g.max == g.value[1] ? 1 : 2);
      for (int32_t i = 0; i <= 255; ++i) {
        ASSERT_EQ(i, marlo::ExactScaledEntry(i, g.value[strongest], g.max, 255)) << t1 << " " << t2;
      }
    }
  }
  const auto g = marlo::Gains16(3000, 6500);
  const double expected = std::floor(65535.0 * g.value[2] / g.max);
  EXPECT_EQ(65534.0, expected);
  // Blue entry 65535 before the gamma step is 65534; the gamma step (avg < F) then maps it.
  const auto t = Built(3000, 6500, true);
  EXPECT_EQ(t, RefTables(3000, 6500, true));
  EXPECT_NE(65535, t[2][65535]);
}

TEST(LightTables, EqualTemperaturesGiveTheIdentity) {
  for (int32_t t : {500, 1000, 4321, 6500, 25000, 40000}) {
    const auto t8 = Built(t, t, false);
    const auto t16 = Built(t, t, true);
    for (int c = 0; c < 3; ++c) {
      for (int32_t i = 0; i <= 255; ++i) ASSERT_EQ(i, t8[c][i]);
      for (int32_t i = 0; i <= 65535; ++i) ASSERT_EQ(i, t16[c][i]);
    }
  }
}

TEST(LightTables, MatchTheReferenceAcrossTemperatures) {
  for (int32_t t1 : {500, 1000, 1750, 2600, 3000, 4050, 5000, 6550, 7001, 9999, 18000, 30000}) {
    for (int32_t t2 : {1000, 2222, 3300, 5000, 6500, 8888, 12345, 25000}) {
      ASSERT_EQ(RefTables(t1, t2, false), Built(t1, t2, false)) << t1 << " " << t2;
    }
  }
  for (auto p : {std::pair<int32_t, int32_t>{3000, 6500},
                 {6500, 3000},
                 {5000, 9500},
                 {2000, 25000},
                 {8800, 4100}}) {
    ASSERT_EQ(RefTables(p.first, p.second, true), Built(p.first, p.second, true))
        << p.first << " " << p.second;
  }
}

// Each single-precision step (and the exact division) matters: for some temperature pair the
// double-precision variant gives another table, and the filter agrees with the literal one.
TEST(LightTables, EverySinglePrecisionStepIsTelling) {
  const Variant variants[] = {
      {true, false, false, false},
      {false, true, false, false},
      {false, false, true, false},
      {false, false, false, true},
  };
  for (int k = 0; k < 4; ++k) {
    bool found = false;
    for (int32_t t1 = 1000; t1 <= 25000 && !found; t1 += 230) {
      for (int32_t t2 = 1000; t2 <= 25000 && !found; t2 += 370) {
        const auto literal = RefTables(t1, t2, false);
        if (RefTables(t1, t2, false, variants[k]) != literal) {
          found = true;
          EXPECT_EQ(literal, Built(t1, t2, false)) << "variant " << k << " " << t1 << " " << t2;
        }
      }
    }
    EXPECT_TRUE(found) << "variant " << k;
  }
  // The single-precision exponent also decides 16-bit entries.
  const Variant doubleExponent{false, false, true, false};
  bool found = false;
  for (int32_t t2 : {6500, 5000, 9500, 3300}) {
    const auto literal = RefTables(3000, t2, true);
    if (RefTables(3000, t2, true, doubleExponent) != literal) {
      found = true;
      EXPECT_EQ(literal, Built(3000, t2, true));
      break;
    }
  }
  EXPECT_TRUE(found);
}

// ---------------------------------------------------------------------------------------------
// Whole images.

void ExpectMapped(const Kasa& in, const Kasa& out, const Tables& t) {
  for (int32_t y = 0; y < in.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < in.GetImageWidth(); ++x) {
      for (int k = 0; k < 3; ++k) {  // stored blue, green, red
        const uint32_t v = marlo::test::Sample(in, x, y, k);
        ASSERT_EQ(static_cast<uint32_t>(t[2 - k][v]), marlo::test::Sample(out, x, y, k))
            << "x " << x << " y " << y << " sample " << k;
      }
    }
  }
}

TEST(LightAdjustment, WholeImagesOfBothTypesAndShapes) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 3}, {2, 2}, {5, 1}, {2, 9}};
  for (bool wide : {false, true}) {
    const ImageType type = wide ? ImageType::Rgb48 : ImageType::Rgb24;
    const auto t = RefTables(3300, 7700, wide);
    for (const auto& size : sizes) {
      auto src = PatternImage(type, size[0], size[1], 41);
      auto before = CopyOf(*src);
      auto dst = PatternImage(type, size[0], size[1], 42);
      auto dstBefore = CopyOf(*dst);
      EXPECT_EQ(0, LightAdjustment(src.get(), dst.get(), 3300, 7700, nullptr, 0, 100));
      EXPECT_TRUE(SameBytes(*before, *src));
      ExpectMapped(*src, *dst, t);
      if (wide) {
        // Raw 16-bit rows are written whole: the padding comes from the source's row.
        const size_t used = static_cast<size_t>(size[0]) * 6;
        for (int32_t y = 0; y < size[1]; ++y) {
          for (size_t i = used; i < static_cast<size_t>(src->GetLineBytes()); ++i) {
            ASSERT_EQ(src->RowData(y)[i], dst->RowData(y)[i]);
          }
        }
      } else {
        // 24-bit rows are written pixel by pixel: the destination keeps its padding.
        const size_t used = static_cast<size_t>(size[0]) * 3;
        for (int32_t y = 0; y < size[1]; ++y) {
          for (size_t i = used; i < static_cast<size_t>(dst->GetLineBytes()); ++i) {
            ASSERT_EQ(dstBefore->RowData(y)[i], dst->RowData(y)[i]);
          }
        }
      }
      // In place.
      EXPECT_EQ(0, LightAdjustment(src.get(), src.get(), 3300, 7700, nullptr, 0, 100));
      ExpectMapped(*before, *src, t);
    }
  }
}

TEST(LightAdjustment, EqualTemperaturesCopyTheImage) {
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    auto src = PatternImage(type, 5, 4, 3);
    auto dst = PatternImage(type, 5, 4, 4);
    EXPECT_EQ(0, LightAdjustment(src.get(), dst.get(), 5000, 5000, nullptr, 0, 100));
    for (int32_t y = 0; y < 4; ++y) {
      for (int32_t x = 0; x < 5; ++x) {
        for (int k = 0; k < 3; ++k) {
          ASSERT_EQ(marlo::test::Sample(*src, x, y, k), marlo::test::Sample(*dst, x, y, k));
        }
      }
    }
  }
}

TEST(LightAdjustment, WorkedMidGreyPixel) {
  auto src = marlo::test::MakeImage(ImageType::Rgb24, 1, 1);
  src->SetPixelRGB(0, 0, 128 << 16 | 128 << 8 | 128);
  auto dst = marlo::test::MakeImage(ImageType::Rgb24, 1, 1);
  EXPECT_EQ(0, LightAdjustment(src.get(), dst.get(), 3000, 6500, nullptr, 0, 100));
  EXPECT_EQ(static_cast<uint32_t>(22 << 16 | 94 << 8 | 136), dst->GetPixelRGB(0, 0, nullptr));
  EXPECT_EQ(0, LightAdjustment(src.get(), dst.get(), 6500, 3000, nullptr, 0, 100));
  EXPECT_EQ(static_cast<uint32_t>(138 << 16 | 71 << 8 | 25), dst->GetPixelRGB(0, 0, nullptr));
}

TEST(LightAdjustment, ProgressAfterEachRowAndAbortGivesTheReversedFailure) {
  for (ImageType type : {ImageType::Rgb24, ImageType::Rgb48}) {
    auto src = PatternImage(type, 3, 50, 8);
    auto full = PatternImage(type, 3, 50, 9);
    {
      marlo::test::ProgressRecorder recorder;
      EXPECT_EQ(0, LightAdjustment(src.get(), full.get(), 4000, 9000,
                                   &marlo::test::ProgressRecorder::Callback, 0, 100));
      EXPECT_EQ(marlo::test::FiftyRowProgress(), recorder.values());
    }
    // Abort at the third per-row report (row 2): rows 0..2 written, the rest untouched.
    auto dst = PatternImage(type, 3, 50, 10);
    auto dstBefore = CopyOf(*dst);
    marlo::test::ProgressRecorder aborting(4);
    EXPECT_EQ(1, LightAdjustment(src.get(), dst.get(), 4000, 9000,
                                 &marlo::test::ProgressRecorder::Callback, 0, 100));
    EXPECT_EQ((std::vector<int32_t>{0, 1, 3, 5}), aborting.values());
    const size_t bytes = 3u * 3u * (type == ImageType::Rgb48 ? 2u : 1u);  // a row's pixels
    for (int32_t y = 0; y < 50; ++y) {
      const Kasa& expected = y <= 2 ? *full : *dstBefore;
      ASSERT_EQ(0, std::memcmp(expected.RowData(y), dst->RowData(y), bytes)) << y;
    }
  }
}

TEST(LightAdjustment, RefusalsWriteNothingAndReturnOne) {
  marlo::test::BusyRecorder busy;
  marlo::test::ProgressRecorder recorder;
  auto* cb = &marlo::test::ProgressRecorder::Callback;
  auto src = PatternImage(ImageType::Rgb24, 4, 3, 1);
  Kasa empty;
  EXPECT_EQ(1, LightAdjustment(src.get(), &empty, 3000, 6500, cb, 0, 100));
  EXPECT_EQ(1, empty.IsEmpty());
  EXPECT_EQ(1, LightAdjustment(&empty, src.get(), 3000, 6500, cb, 0, 100));
  EXPECT_EQ(1, LightAdjustment(nullptr, src.get(), 3000, 6500, cb, 0, 100));
  EXPECT_EQ(1, LightAdjustment(src.get(), nullptr, 3000, 6500, cb, 0, 100));
  EXPECT_EQ(1, LightAdjustment(nullptr, nullptr, 3000, 6500, cb, 0, 100));
  const int32_t others[][3] = {{1, 4, 4}, {1, 5, 3}, {9, 4, 3}};
  for (const auto& o : others) {
    auto other = PatternImage(static_cast<ImageType>(o[0]), o[1], o[2], 2);
    auto before = CopyOf(*other);
    EXPECT_EQ(1, LightAdjustment(src.get(), other.get(), 3000, 6500, cb, 0, 100));
    EXPECT_TRUE(SameBytes(*before, *other));
  }
  for (ImageType grey : {ImageType::Gray8, ImageType::Gray16}) {
    auto g = PatternImage(grey, 4, 3, 5);
    auto d = PatternImage(grey, 4, 3, 6);
    auto before = CopyOf(*d);
    EXPECT_EQ(1, LightAdjustment(g.get(), d.get(), 3000, 6500, cb, 0, 100));
    EXPECT_TRUE(SameBytes(*before, *d));
  }
  EXPECT_TRUE(recorder.calls().empty());
  EXPECT_TRUE(marlo::test::BusyRecorder::Calls().empty());  // no busy hook, even on success
  EXPECT_EQ(0, LightAdjustment(src.get(), src.get(), 3000, 6500, nullptr, 0, 100));
  EXPECT_TRUE(marlo::test::BusyRecorder::Calls().empty());
}

}  // namespace
