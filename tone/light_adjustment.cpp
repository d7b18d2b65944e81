// Light-source adjustment (LightAdjustment) on 24-bit and 48-bit RGB.
#include "tone/light_adjustment.h"

#include <cmath>

#include "frame/channel_map.h"

namespace marlo {

// The daylight locus. The first four rows are fixed values; from 4000 K every row holds the
// CIE daylight chromaticity of its temperature T, rounded to four decimals:
//   4000 <= T <= 7000: x = -4.6070e9 / T^3 + 2.9678e6 / T^2 + 0.09911e3 / T + 0.244063
//   7000 <  T:         x = -2.0064e9 / T^3 + 1.9018e6 / T^2 + 0.24748e3 / T + 0.237040
//   y = -3.000 x^2 + 2.870 x - 0.275 (from the unrounded x).
const LocusRow DaylightLocus[kDaylightLocusRows] = {
    {1000, 0.6526, 0.3446},  {2000, 0.5266, 0.4133},  {2500, 0.4769, 0.4137},
    {3000, 0.4368, 0.4041},  {4000, 0.3823, 0.3838},  {4100, 0.3779, 0.3812},
    {4200, 0.3737, 0.3786},  {4300, 0.3697, 0.3760},  {4400, 0.3658, 0.3734},
    {4500, 0.3621, 0.3709},  {4600, 0.3585, 0.3684},  {4700, 0.3551, 0.3659},
    {4800, 0.3519, 0.3634},  {4900, 0.3487, 0.3610},  {5000, 0.3457, 0.3587},
    {5100, 0.3429, 0.3564},  {5200, 0.3401, 0.3541},  {5300, 0.3375, 0.3519},
    {5400, 0.3349, 0.3497},  {5500, 0.3325, 0.3476},  {5600, 0.3302, 0.3455},
    {5700, 0.3279, 0.3435},  {5800, 0.3258, 0.3416},  {5900, 0.3237, 0.3397},
    {6000, 0.3217, 0.3378},  {6100, 0.3198, 0.3360},  {6200, 0.3179, 0.3342},
    {6300, 0.3161, 0.3325},  {6400, 0.3144, 0.3308},  {6500, 0.3128, 0.3292},
    {6600, 0.3112, 0.3276},  {6700, 0.3097, 0.3260},  {6800, 0.3082, 0.3245},
    {6900, 0.3067, 0.3231},  {7000, 0.3054, 0.3216},  {7100, 0.3040, 0.3202},
    {7200, 0.3027, 0.3189},  {7300, 0.3015, 0.3176},  {7400, 0.3003, 0.3163},
    {7500, 0.2991, 0.3150},  {7600, 0.2980, 0.3138},  {7700, 0.2969, 0.3126},
    {7800, 0.2958, 0.3115},  {7900, 0.2948, 0.3103},  {8000, 0.2938, 0.3092},
    {8100, 0.2928, 0.3081},  {8200, 0.2919, 0.3071},  {8300, 0.2910, 0.3061},
    {8400, 0.2901, 0.3051},  {8500, 0.2892, 0.3041},  {9000, 0.2853, 0.2996},
    {9500, 0.2818, 0.2956},  {10000, 0.2788, 0.2920}, {10500, 0.2761, 0.2887},
    {11000, 0.2737, 0.2858}, {12000, 0.2697, 0.2808}, {13000, 0.2664, 0.2767},
    {14000, 0.2637, 0.2732}, {15000, 0.2614, 0.2702}, {17000, 0.2578, 0.2655},
    {20000, 0.2539, 0.2603}, {25000, 0.2499, 0.2548},
};

namespace {

// XYZ to linear RGB (sRGB primaries and white), rows red, green, blue.
constexpr double kXyzToRgb[3][3] = {
    {3.2410, -1.5374, -0.4986},
    {-0.9692, 1.8760, 0.0416},
    {0.0556, -0.2040, 1.0570},
};

double Locus(int32_t kelvin, double LocusRow::*column) {
  const LocusRow& first = DaylightLocus[0];
  const LocusRow& last = DaylightLocus[kDaylightLocusRows - 1];
  if (kelvin <= first.kelvin) return first.*column;
  if (kelvin >= last.kelvin) return last.*column;
  for (int i = 1; i < kDaylightLocusRows; ++i) {
    const LocusRow& row = DaylightLocus[i];
    if (row.kelvin == kelvin) return row.*column;
    if (row.kelvin > kelvin) {
      const LocusRow& before = DaylightLocus[i - 1];
      const double a = before.*column;
      const double b = row.*column;
      return a + (b - a) * static_cast<double>(kelvin - before.kelvin) /
                     static_cast<double>(row.kelvin - before.kelvin);
    }
  }
  return last.*column;  // not reached: the last row's temperature exceeds kelvin
}

// The colour difference of the two white points in linear RGB: (dR, dG, dB).
struct RgbDelta {
  double d[3];
};

RgbDelta WhitePointDelta(int32_t fromKelvin, int32_t toKelvin) {
  const float x1 = RoundToSingle(LocusX(fromKelvin));
  const float y1 = RoundToSingle(LocusY(fromKelvin));
  const float x2 = RoundToSingle(LocusX(toKelvin));
  const float y2 = RoundToSingle(LocusY(toKelvin));
  const Xyz w1 = ChromaticityToXYZ(x1, y1);
  const Xyz w2 = ChromaticityToXYZ(x2, y2);
  const double dX = static_cast<double>(w2.x) - static_cast<double>(w1.x);
  const double dY = static_cast<double>(w2.y) - static_cast<double>(w1.y);  // always 0
  const double dZ = static_cast<double>(w2.z) - static_cast<double>(w1.z);
  RgbDelta delta;
  for (int c = 0; c < 3; ++c) {
    delta.d[c] = kXyzToRgb[c][0] * dX + kXyzToRgb[c][1] * dY + kXyzToRgb[c][2] * dZ;
  }
  return delta;
}

// Folds the brightness correction into the three tables (index F = D::kMax): the mean of the
// table ends sets the exponent g = ln F / ln avg (single precision, at most 1.5), and every
// entry strictly between 0 and F becomes F * (e / F)^(1 / g) + 0.5, truncated and clamped.
template <class D>
void ApplyGamma(std::vector<typename D::Sample> (&tables)[3]) {
  constexpr int32_t kF = D::kMax;
  const int32_t avg = (static_cast<int32_t>(tables[2][kF]) + static_cast<int32_t>(tables[1][kF]) +
                       static_cast<int32_t>(tables[0][kF])) /
                      3;
  if (avg <= 0 || avg >= kF) return;
  // ln 1 = 0 would make g infinite; it is capped at 1.5 like every g above 1.5.
  // g = ln F / ln avg is evaluated in double and held in single precision.
  float g = 1.5f;
  if (avg > 1) {
    g = RoundToSingle(std::log(static_cast<double>(kF)) / std::log(static_cast<double>(avg)));
  }
  if (g > 1.5f) g = 1.5f;
  const double exponent = 1.0 / static_cast<double>(g);
  const double full = static_cast<double>(kF);
  // The entries of the three tables, in pieces over the run's threads.
  ForPieces(3 * (kF + 1), 4096, [&](int32_t first, int32_t end) {
    for (int32_t k = first; k < end; ++k) {
      auto& entry = tables[k / (kF + 1)][static_cast<size_t>(k % (kF + 1))];
      const int32_t e = entry;
      if (e <= 0 || e >= kF) continue;
      const double v = full * std::pow(static_cast<double>(e) / full, exponent) + 0.5;
      // v lies in (0.5, F + 0.5]: truncation and the clamp to 0..F.
      const int32_t t = v >= full ? kF : static_cast<int32_t>(v);
      entry = static_cast<typename D::Sample>(t);
    }
  });
}

}  // namespace

double LocusX(int32_t kelvin) {
  return Locus(kelvin, &LocusRow::x);
}
double LocusY(int32_t kelvin) {
  return Locus(kelvin, &LocusRow::y);
}

Xyz ChromaticityToXYZ(float x, float y) {
  const double dx = x;
  const double dy = y;
  Xyz w;
  w.x = RoundToSingle(dx / dy);
  w.y = 1.0f;
  w.z = RoundToSingle((1.0 - dx - dy) / dy);
  return w;
}

ChannelGains Gains8(int32_t fromKelvin, int32_t toKelvin) {
  const RgbDelta delta = WhitePointDelta(fromKelvin, toKelvin);
  // R'' and G'' are kept in single precision, B'' in double.
  const float red = RoundToSingle(255.0 * delta.d[0] + 255.0);
  const float green = RoundToSingle(255.0 * delta.d[1] + 255.0);
  const double blue = 255.0 * delta.d[2] + 255.0;
  ChannelGains gains;
  gains.value[0] = red;
  gains.value[1] = green;
  gains.value[2] = blue;
  gains.max = std::fmax(std::fmax(gains.value[0], gains.value[1]), gains.value[2]);
  return gains;
}

ChannelGains Gains16(int32_t fromKelvin, int32_t toKelvin) {
  const RgbDelta delta = WhitePointDelta(fromKelvin, toKelvin);
  ChannelGains gains;
  for (int c = 0; c < 3; ++c) gains.value[c] = 65535.0 * delta.d[c] + 65535.0;
  gains.max = std::fmax(std::fmax(gains.value[0], gains.value[1]), gains.value[2]);
  for (double& v : gains.value) v = std::trunc(v);  // M stays unrounded
  return gains;
}

int32_t ExactScaledEntry(int32_t i, double value, double max, int32_t limit) {
  if (!(max > 0.0) || !std::isfinite(max) || !std::isfinite(value)) return 0;
  if (i <= 0 || !(value > 0.0) || limit <= 0) return 0;  // a negative quotient gives 0
  // value = mv * 2^(ev - 53) and max = mm * 2^(em - 53) with 53-bit integers mv and mm, so
  // i * value / max = (i * mv) / mm * 2^(ev - em), and i * mv < 2^64 for i < 2048.
  int ev = 0;
  int em = 0;
  const auto mv = static_cast<uint64_t>(std::ldexp(std::frexp(value, &ev), 53));
  const auto mm = static_cast<uint64_t>(std::ldexp(std::frexp(max, &em), 53));
  const int e = ev - em;
  const uint64_t num = static_cast<uint64_t>(i) * mv;
  uint64_t q = num / mm;
  if (e < 0) {
    // floor(floor(num / mm) / 2^-e) = floor(num / (mm * 2^-e)).
    q = -e >= 64 ? 0 : q >> -e;
  } else {
    // Binary long division: one more quotient bit per doubling of the remainder (r < mm < 2^53,
    // so 2r never overflows). The quotient only grows, so stop once it passes the limit.
    uint64_t r = num % mm;
    for (int k = 0; k < e && q <= static_cast<uint64_t>(limit); ++k) {
      r <<= 1;
      q <<= 1;
      if (r >= mm) {
        r -= mm;
        q |= 1;
      }
    }
  }
  return q >= static_cast<uint64_t>(limit) ? limit : static_cast<int32_t>(q);
}

CLightAdjustment::CLightAdjustment() {
  for (auto& t : tables8_) t.assign(256, 0);
  for (auto& t : tables16_) t.assign(65536, 0);
}

void CLightAdjustment::BuildTables8(int32_t fromKelvin, int32_t toKelvin) {
  const ChannelGains gains = Gains8(fromKelvin, toKelvin);
  // i * R'' / M evaluated exactly, so that the channel whose value is M gets the identity.
  for (int c = 0; c < 3; ++c) {
    for (int32_t i = 0; i <= 255; ++i) {
      tables8_[c][i] = static_cast<uint8_t>(ExactScaledEntry(i, gains.value[c], gains.max, 255));
    }
  }
  ApplyGamma<Depth8>(tables8_);
}

void CLightAdjustment::BuildTables16(int32_t fromKelvin, int32_t toKelvin) {
  const ChannelGains gains = Gains16(fromKelvin, toKelvin);
  // The product i * R'' is an exact 64-bit integer, divided by the unrounded M in double.
  ForPieces(3 * 65536, 4096, [&](int32_t first, int32_t end) {
    for (int32_t k = first; k < end; ++k) {
      const int c = k >> 16;
      const int32_t i = k & 0xffff;
      const double q =
          static_cast<double>(int64_t{i} * static_cast<int64_t>(gains.value[c])) / gains.max;
      int32_t entry = 0;
      if (q >= 65535.0) {
        entry = 65535;
      } else if (q > 0.0) {
        entry = static_cast<int32_t>(q);
      }
      tables16_[c][static_cast<size_t>(i)] = static_cast<uint16_t>(entry);
    }
  });
  ApplyGamma<Depth16>(tables16_);
}

Status CLightAdjustment::Run(Kasa* src, Kasa* dst, int32_t fromKelvin, int32_t toKelvin,
                             ProgressCallback cb, int32_t start, int32_t end) {
  const Entry entry = Enter(src, dst, Door{Destination::SameAsSource, &IsColorType});
  if (!entry) return entry.status();
  Progress progress(cb, start, end, src->GetImageHeight(), src, dst);
  if (progress.Begin() != Status::Ok) return progress.status();  // before the tables are built
  return ForDepth(src->GetImageType(), [&](auto depth) {
    if constexpr (decltype(depth)::kBits == 8) {
      BuildTables8(fromKelvin, toKelvin);
      return MapChannels<Depth8>(*src, *dst, Table8(0), Table8(1), Table8(2), RowPadding::Keep,
                                 progress);
    }
    BuildTables16(fromKelvin, toKelvin);
    return MapChannels<Depth16>(*src, *dst, Table16(0), Table16(1), Table16(2), RowPadding::Keep,
                                progress);
  });
}

}  // namespace marlo

// The result is reversed: 0 when the image was adjusted, 1 when refused or aborted.
int32_t MARLO_STDCALL LightAdjustment(Kasa* src, Kasa* dst, int32_t fromKelvin, int32_t toKelvin,
                                      ProgressCallback cb, int32_t start, int32_t end) {
  return marlo::Export(1, [&] {
    marlo::CLightAdjustment filter;
    return filter.Run(src, dst, fromKelvin, toKelvin, cb, start, end);
  });
}
