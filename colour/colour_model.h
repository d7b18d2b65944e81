// The integer hue/lightness/saturation model shared by the colour filters (saturation, HSL
// enhancement, tint removal, red-eye removal).
//
// Hue is a whole number of degrees (0..359 from the conversions; the way back accepts any
// integer), lightness is on the sample scale (0..255 or 0..65535) and saturation is a whole
// percentage (0..100 from the conversions; the way back accepts -100..100). Every division
// truncates toward zero, also where the operand is negative: in particular where a formula adds
// 50 before dividing by 100 and the operand is negative (a saturation below 0, reachable only
// through a scaling percentage below -100), the quotient is truncated, not rounded.
//
// Within the documented ranges every intermediate value fits in 32 bits. The way back forms its
// products in 64 bits, which gives the same values there and keeps any other argument free of
// overflow.
//
// All functions are written once as templates on the depth traits (frame/frame.h); the names
// with 8 and 16 are the thin wrappers the filters call.
#ifndef MARLO_COLOUR_COLOUR_MODEL_H
#define MARLO_COLOUR_COLOUR_MODEL_H

#include <cstdint>

#include "frame/frame.h"

namespace marlo {

// The hue given to a grey pixel (all three samples equal) by the callers that keep grey pixels
// in the model.
constexpr int32_t HueUndefined = 9999;

// One pixel in the model.
struct Hls {
  int32_t hue;         // 0..359, or HueUndefined for a grey pixel
  int32_t lightness;   // (max + min + 1) / 2 on the sample scale
  int32_t saturation;  // 0..100 (0 for a grey pixel)
  int32_t delta;       // max - min on the sample scale
};

// Three channel values, each already clamped to the sample range.
struct Rgb {
  int32_t red;
  int32_t green;
  int32_t blue;
};

// The hue formula on its own: 0..359 for a coloured pixel, HueUndefined for a grey one. The
// arithmetic does not depend on the sample width, so 8-bit and 16-bit samples both use it.
// When two channels share the maximum the first of red, green, blue wins; the division by delta
// truncates toward zero, and a negative result is brought up by 360.
inline int32_t RgbHue(uint16_t red, uint16_t green, uint16_t blue) {
  const int32_t r = red, g = green, b = blue;
  const int32_t max = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int32_t min = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int32_t delta = max - min;
  if (delta == 0) return HueUndefined;
  int32_t hue;
  if (max == r) {
    hue = ((g - b) * 60) / delta;
  } else if (max == g) {
    hue = ((b - r) * 60) / delta + 120;
  } else {
    hue = ((r - g) * 60) / delta + 240;
  }
  if (hue < 0) hue += 360;
  return hue;
}

// The saturation of a coloured pixel from its largest and smallest sample (max > min): delta *
// 100 over the sum, or over (2 * kMax - sum) when the rounded-up lightness (sum + 1) / 2 lies
// above the middle (128 or 32768).
template <class D>
int32_t RgbSaturation(int32_t max, int32_t min) {
  const int32_t sum = max + min;
  const int32_t lightness = (sum + 1) / 2;
  const int32_t divisor = lightness > (D::kMax + 1) / 2 ? 2 * D::kMax - sum : sum;
  return ((max - min) * 100) / divisor;
}

// Red, green, blue samples to hue, lightness and saturation. Lightness is half the sum of the
// largest and smallest sample rounded up; saturation as RgbSaturation gives it. A grey pixel
// gets saturation 0 and HueUndefined, and nothing is divided by its zero delta.
template <class D>
Hls RgbToHls(typename D::Sample red, typename D::Sample green, typename D::Sample blue) {
  const int32_t r = red, g = green, b = blue;
  const int32_t max = r > g ? (r > b ? r : b) : (g > b ? g : b);
  const int32_t min = r < g ? (r < b ? r : b) : (g < b ? g : b);
  const int32_t sum = max + min;
  const int32_t delta = max - min;
  Hls out;
  out.lightness = (sum + 1) / 2;
  out.delta = delta;
  if (delta == 0) {
    out.hue = HueUndefined;
    out.saturation = 0;
    return out;
  }
  out.saturation = RgbSaturation<D>(max, min);
  out.hue = RgbHue(red, green, blue);
  return out;
}

// Reduces any hue to 0..359: a hue of 360 or more is taken modulo 360; a negative hue h then
// becomes h + 360 * ((359 - h) / 360).
inline int64_t ReduceHue(int64_t hue) {
  if (hue >= 360) hue %= 360;
  if (hue < 0) hue += 360 * ((359 - hue) / 360);
  return hue;
}

// One channel of the way back: m1 below 60 degrees rising linearly to m2, m2 up to 180 degrees,
// falling back to m1 by 240 and m1 beyond. The division by 60 truncates toward zero, also when
// m2 - m1 is negative; the value is clamped to the sample range.
template <class D>
int32_t HueToValue(int64_t m1, int64_t m2, int64_t hue) {
  const int64_t h = ReduceHue(hue);
  int64_t v;
  if (h < 60) {
    v = m1 + ((m2 - m1) * h) / 60;
  } else if (h < 180) {
    v = m2;
  } else if (h < 240) {
    v = m1 + ((m2 - m1) * (240 - h)) / 60;
  } else {
    v = m1;
  }
  if (v > D::kMax) return D::kMax;
  if (v < 0) return 0;
  return static_cast<int32_t>(v);
}

// The upper anchor m2 of the way back: L + ((max - L) * S + 50) / 100 above the middle, else
// ((S + 100) * L + 50) / 100. With a negative S above the middle the dividend can be negative,
// and the quotient is truncated toward zero. The lower anchor is m1 = 2 * L - m2.
template <class D>
int64_t UpperAnchor(int32_t lightness, int32_t saturation) {
  const int64_t l = lightness;
  const int64_t s = saturation;
  return l > (D::kMax + 1) / 2 ? l + ((D::kMax - l) * s + 50) / 100 : ((s + 100) * l + 50) / 100;
}

// Hue, lightness and saturation back to red, green and blue (each clamped), through the anchors
// m2 (UpperAnchor) and m1 = 2 * L - m2; red is read at H + 120, green at H, blue at H - 120.
template <class D>
Rgb HlsToRgb(int32_t hue, int32_t lightness, int32_t saturation) {
  const int64_t l = lightness;
  const int64_t m2 = UpperAnchor<D>(lightness, saturation);
  const int64_t m1 = 2 * l - m2;
  const int64_t h = hue;
  return Rgb{HueToValue<D>(m1, m2, h + 120), HueToValue<D>(m1, m2, h),
             HueToValue<D>(m1, m2, h - 120)};
}

// Rescales the saturation of one pixel in place by `percent`: S' = ScaledSaturation(S,
// percent); hue and lightness are kept as the model computes them. A grey pixel is left
// untouched. Returns the pixel's saturation before scaling (0 for grey).
//
// ScaledSaturation: S + (S * percent) / 100, truncated toward zero, then 101 or more becomes
// 100 and below -100 becomes -100.
inline int32_t ScaledSaturation(int32_t saturation, int32_t percent) {
  int64_t scaled = saturation + (static_cast<int64_t>(saturation) * percent) / 100;
  if (scaled >= 101) {
    scaled = 100;
  } else if (scaled < -100) {
    scaled = -100;
  }
  return static_cast<int32_t>(scaled);
}

template <class D>
int32_t ScaleSaturation(typename D::Sample* red, typename D::Sample* green,
                        typename D::Sample* blue, int32_t percent) {
  using Sample = typename D::Sample;
  if (*red == *green && *green == *blue) return 0;
  const Hls hls = RgbToHls<D>(*red, *green, *blue);
  const Rgb rgb = HlsToRgb<D>(hls.hue, hls.lightness, ScaledSaturation(hls.saturation, percent));
  *red = static_cast<Sample>(rgb.red);
  *green = static_cast<Sample>(rgb.green);
  *blue = static_cast<Sample>(rgb.blue);
  return hls.saturation;
}

// The names the filters use.
inline Hls RgbToHls8(uint8_t red, uint8_t green, uint8_t blue) {
  return RgbToHls<Depth8>(red, green, blue);
}
inline Hls RgbToHls16(uint16_t red, uint16_t green, uint16_t blue) {
  return RgbToHls<Depth16>(red, green, blue);
}
inline Rgb HlsToRgb8(int32_t hue, int32_t lightness, int32_t saturation) {
  return HlsToRgb<Depth8>(hue, lightness, saturation);
}
inline Rgb HlsToRgb16(int32_t hue, int32_t lightness, int32_t saturation) {
  return HlsToRgb<Depth16>(hue, lightness, saturation);
}
inline int32_t HueToValue8(int32_t m1, int32_t m2, int32_t hue) {
  return HueToValue<Depth8>(m1, m2, hue);
}
inline int32_t HueToValue16(int32_t m1, int32_t m2, int32_t hue) {
  return HueToValue<Depth16>(m1, m2, hue);
}
inline int32_t ScaleSaturation8(uint8_t* red, uint8_t* green, uint8_t* blue, int32_t percent) {
  return ScaleSaturation<Depth8>(red, green, blue, percent);
}
inline int32_t ScaleSaturation16(uint16_t* red, uint16_t* green, uint16_t* blue, int32_t percent) {
  return ScaleSaturation<Depth16>(red, green, blue, percent);
}

}  // namespace marlo

#endif  // MARLO_COLOUR_COLOUR_MODEL_H
