// Colour tint removal (ColorTintRemove) on 24-bit and 48-bit RGB.
#include "colour/tint_remove.h"

#include <cstdlib>

#include "colour/colour_model.h"
#include "frame/channel_map.h"

namespace marlo {

namespace {

// A reference with any channel average below this is too dark to judge (5, and 5 * 256 for
// 16-bit samples).
template <class D>
constexpr int32_t kDarkLimit = 1280;
template <>
constexpr int32_t kDarkLimit<Depth8> = 5;

// The red, green and blue samples of one pixel through the pixel operations.
void ReadReference(Kasa& image, int32_t x, int32_t y, Depth8, int32_t rgb[3]) {
  const uint32_t v = image.GetPixel(x, y, nullptr);  // red * 65536 + green * 256 + blue
  rgb[0] = static_cast<int32_t>((v >> 16) & 0xFF);
  rgb[1] = static_cast<int32_t>((v >> 8) & 0xFF);
  rgb[2] = static_cast<int32_t>(v & 0xFF);
}

void ReadReference(Kasa& image, int32_t x, int32_t y, Depth16, int32_t rgb[3]) {
  int64_t v = 0;  // red in bits 0-15, green in 16-31, blue in 32-47
  image.GetPixelRGB(x, y, &v);
  const auto u = static_cast<uint64_t>(v);
  rgb[0] = static_cast<int32_t>(u & 0xFFFF);
  rgb[1] = static_cast<int32_t>((u >> 16) & 0xFFFF);
  rgb[2] = static_cast<int32_t>((u >> 32) & 0xFFFF);
}

bool Inside(const Kasa& image, int32_t x, int32_t y) {
  return x >= 0 && y >= 0 && x < image.GetImageWidth() && y < image.GetImageHeight();
}

// The cubic spline through the knots of one channel, sampled at every table entry. Widths are
// integers; slopes, the tridiagonal system for the second derivatives and every step of its
// solution are held in single precision (evaluated in double, then rounded); each interpolated
// value is evaluated in double and rounded to single precision before it is clamped and
// truncated. The natural end conditions M(0) = M(n - 1) = 0 hold.
template <class D>
void BuildCurve(typename D::Sample* table, const CurveDefinition<typename D::Sample>& curve,
                int channel) {
  constexpr int32_t kF = D::kMax;
  constexpr int kMax = CurveDefinition<typename D::Sample>::kMaxKnots;
  for (int32_t v = 0; v <= kF; ++v) table[v] = static_cast<typename D::Sample>(v);
  if (channel < 0 || channel > 2) return;
  const int n = curve.count[channel];
  if (n < 2 || n > kMax) return;
  int32_t x[kMax], y[kMax];
  for (int k = 0; k < n; ++k) {
    x[k] = curve.position[channel][k];
    y[k] = curve.value[channel][k];
    if (k > 0 && x[k] <= x[k - 1]) return;
  }

  // Widths and slopes (the work arrays hold one entry per interval: no allocation).
  int32_t h[kMax - 1];
  float s[kMax - 1];
  for (int k = 0; k + 1 < n; ++k) {
    h[k] = x[k + 1] - x[k];
    s[k] = RoundToSingle(static_cast<double>(y[k + 1] - y[k]) / static_cast<double>(h[k]));
  }

  // Rows 1 .. n - 2 of the system: sub-diagonal, diagonal, super-diagonal, right-hand side.
  float sub[kMax], diag[kMax], sup[kMax], rhs[kMax];
  float m[kMax] = {};  // second derivatives, M(0) = M(n - 1) = 0
  for (int i = 1; i + 1 < n; ++i) {
    sub[i] = static_cast<float>(h[i - 1]);
    diag[i] = RoundToSingle(2.0 * (static_cast<double>(h[i - 1]) + h[i]));
    sup[i] = static_cast<float>(h[i]);
    rhs[i] = RoundToSingle(6.0 * (static_cast<double>(s[i]) - static_cast<double>(s[i - 1])));
  }
  if (n > 2) {
    sub[1] = 0.0f;
    diag[1] = RoundToSingle(3.0 * h[0] + 2.0 * h[1]);
    if (n > 3) {
      sup[n - 2] = 0.0f;
      diag[n - 2] = RoundToSingle(3.0 * h[n - 2] + 2.0 * h[n - 3]);
    }
    // Forward elimination and back substitution.
    for (int i = 2; i + 1 < n; ++i) {
      const float factor = RoundToSingle(static_cast<double>(sub[i]) / diag[i - 1]);
      diag[i] = RoundToSingle(diag[i] - static_cast<double>(factor) * sup[i - 1]);
      rhs[i] = RoundToSingle(rhs[i] - static_cast<double>(factor) * rhs[i - 1]);
    }
    m[n - 2] = RoundToSingle(static_cast<double>(rhs[n - 2]) / diag[n - 2]);
    for (int i = n - 3; i >= 1; --i) {
      m[i] = RoundToSingle((rhs[i] - static_cast<double>(sup[i]) * m[i + 1]) / diag[i]);
    }
  }

  // Sample the spline; a knot's own position takes the knot's value.
  int next = 0;
  for (int32_t v = 0; v < kF; ++v) {
    if (next >= n) {
      table[v] = static_cast<typename D::Sample>(y[n - 1]);  // beyond the last knot
    } else if (v < x[next]) {
      if (next == 0) {
        table[v] = static_cast<typename D::Sample>(y[0]);  // before the first knot
        continue;
      }
      const int k = next - 1;
      const double hk = h[k];
      const double a = static_cast<double>(x[k + 1] - v) / hk;
      const double b = static_cast<double>(v - x[k]) / hk;
      const double value = ((b * b - 1.0) * static_cast<double>(v - x[k]) * m[k + 1] +
                            (a * a - 1.0) * static_cast<double>(x[k + 1] - v) * m[k]) *
                               hk * 0.16666666666666666 +
                           y[k] * a + y[k + 1] * b;
      const float rounded = RoundToSingle(value);
      int32_t entry;
      if (rounded < 0.0f) {
        entry = 0;
      } else if (rounded > static_cast<float>(kF)) {
        entry = kF;
      } else {
        entry = static_cast<int32_t>(rounded);
      }
      table[v] = static_cast<typename D::Sample>(entry);
    } else {
      table[v] = static_cast<typename D::Sample>(y[next]);
      ++next;
    }
  }
  table[kF] = static_cast<typename D::Sample>(kF);
}

}  // namespace

CColorTintRemove::CColorTintRemove() {
  for (auto& t : tables16_) t.assign(65536, 0);
}

int CColorTintRemove::SetParameters(const int32_t* x, const int32_t* y) {
  x_ = *x;
  y_ = *y;
  return 1;
}

void CColorTintRemove::BuildCurve8(uint8_t* table, CurveDefinition8 curve, int channel) {
  BuildCurve<Depth8>(table, curve, channel);
}

void CColorTintRemove::BuildCurve16(uint16_t* table, CurveDefinition16 curve, int channel) {
  BuildCurve<Depth16>(table, curve, channel);
}

template <>
uint8_t* CColorTintRemove::Table<Depth8>(int channel) {
  return tables8_[channel];
}

template <>
uint16_t* CColorTintRemove::Table<Depth16>(int channel) {
  return tables16_[channel].data();
}

template <class D>
Status CColorTintRemove::RemoveTint(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                                    int32_t end) {
  using Sample = typename D::Sample;
  // The neighbourhood below reads only inside the image, but the point itself must lie there.
  if (!Inside(*src, x_, y_)) return Status::Refused;
  const int32_t width = src->GetImageWidth();
  const int32_t height = src->GetImageHeight();
  Progress progress(cb, start, end, height, src, dst);
  if (progress.Begin() != Status::Ok) return progress.status();

  // The reference colour: the mean of the point and its neighbours inside the image.
  int32_t sum[3] = {0, 0, 0};
  int32_t count = 0;
  const bool left = x_ > 0, right = x_<width - 1, above = y_> 0, below = y_ < height - 1;
  auto add = [&](int32_t px, int32_t py) {
    int32_t rgb[3];
    ReadReference(*src, px, py, D(), rgb);
    for (int c = 0; c < 3; ++c) sum[c] += rgb[c];
    ++count;
  };
  add(x_, y_);
  if (left) {
    if (above) add(x_ - 1, y_ - 1);
    add(x_ - 1, y_);
    if (below) add(x_ - 1, y_ + 1);
  }
  if (above) add(x_, y_ - 1);
  if (below) add(x_, y_ + 1);
  if (right) {
    if (above) add(x_ + 1, y_ - 1);
    add(x_ + 1, y_);
    if (below) add(x_ + 1, y_ + 1);
  }
  int32_t average[3];
  for (int c = 0; c < 3; ++c) average[c] = sum[c] / count;

  // Decide whether the reference is a mild cast of a neutral surface; if not, change nothing.
  for (int c = 0; c < 3; ++c) {
    if (average[c] < kDarkLimit<D>) return Status::Ok;
  }
  Sample grey[3] = {static_cast<Sample>(average[0]), static_cast<Sample>(average[1]),
                    static_cast<Sample>(average[2])};
  referenceSaturation_ = ScaleSaturation<D>(&grey[0], &grey[1], &grey[2], -100);
  if (referenceSaturation_ > 25 || referenceSaturation_ == 0) return Status::Ok;
  for (int c = 0; c < 3; ++c) {
    if (std::abs(average[c] - static_cast<int32_t>(grey[c])) > average[c] * 30 / 100) {
      return Status::Ok;
    }
  }

  // Curves through (0, 0), (average, grey) and (F, F).
  CurveDefinition<Sample> curve;
  for (int c = 0; c < 3; ++c) {
    curve.count[c] = 3;
    curve.position[c][0] = 0;
    curve.position[c][1] = static_cast<Sample>(average[c]);
    curve.position[c][2] = static_cast<Sample>(D::kMax);
    curve.value[c][0] = 0;
    curve.value[c][1] = grey[c];
    curve.value[c][2] = static_cast<Sample>(D::kMax);
  }
  for (int c = 0; c < 3; ++c) BuildCurve<D>(Table<D>(c), curve, c);
  const Sample* red = Table<D>(0);
  const Sample* green = Table<D>(1);
  const Sample* blue = Table<D>(2);

  return MapChannels<D>(*src, *dst, red, green, blue, RowPadding::Keep, progress);
}

Status CColorTintRemove::RemoveTint8(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                                     int32_t end) {
  return RemoveTint<Depth8>(src, dst, cb, start, end);
}

Status CColorTintRemove::RemoveTint16(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                                      int32_t end) {
  return RemoveTint<Depth16>(src, dst, cb, start, end);
}

Status CColorTintRemove::Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                             int32_t end) {
  // A point outside the image has no neighbourhood: refused before the destination is created.
  if (src == nullptr || !Inside(*src, x_, y_)) return Status::Refused;
  return RunWithWaitCursor(src, dst, &IsColorType, [&](auto depth) {
    return RemoveTint<decltype(depth)>(src, dst, cb, start, end);
  });
}

}  // namespace marlo

int32_t MARLO_STDCALL ColorTintRemove(Kasa* src, Kasa* dst, int32_t x, int32_t y,
                                      ProgressCallback cb, int32_t start, int32_t end) {
  return marlo::Export(0, [&] {
    marlo::CColorTintRemove filter;
    filter.SetParameters(&x, &y);
    return filter.Run(src, dst, cb, start, end);
  });
}
