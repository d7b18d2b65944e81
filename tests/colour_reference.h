// A plainly written second version of the integer colour model, kept apart from the library's
// templates so that the tests compare two independent codings of the same steps. Plain 32-bit
// arithmetic, exactly as the steps are stated; valid for samples in range and saturations in
// -100..100.
#ifndef MARLO_TESTS_COLOUR_REFERENCE_H
#define MARLO_TESTS_COLOUR_REFERENCE_H

#include <algorithm>
#include <cstdint>

namespace marlo::test {

struct RefHls {
  int h, l, s, delta;  // h = 9999 for grey
};

// wide: 16-bit samples (max 65535, middle 32768) instead of 8-bit (255, 128).
inline RefHls RefRgbToHls(int r, int g, int b, bool wide) {
  const int top = wide ? 65535 : 255;
  const int mid = wide ? 32768 : 128;
  const int mx = std::max(r, std::max(g, b));
  const int mn = std::min(r, std::min(g, b));
  RefHls o;
  o.l = (mx + mn + 1) / 2;
  o.delta = mx - mn;
  if (o.delta == 0) {
    o.h = 9999;
    o.s = 0;
    return o;
  }
  if (o.l > mid) {
    o.s = o.delta * 100 / (2 * top - mx - mn);
  } else {
    o.s = o.delta * 100 / (mx + mn);
  }
  if (mx == r) {
    o.h = (g - b) * 60 / o.delta;
  } else if (mx == g) {
    o.h = (b - r) * 60 / o.delta + 120;
  } else {
    o.h = (r - g) * 60 / o.delta + 240;
  }
  if (o.h < 0) o.h += 360;
  return o;
}

inline int RefHueToValue(int m1, int m2, int h, bool wide) {
  if (h >= 360) h = h % 360;
  if (h < 0) h = h + 360 * ((359 - h) / 360);
  int v;
  if (h < 60) {
    v = m1 + (m2 - m1) * h / 60;
  } else if (h < 180) {
    v = m2;
  } else if (h < 240) {
    v = m1 + (m2 - m1) * (240 - h) / 60;
  } else {
    v = m1;
  }
  const int top = wide ? 65535 : 255;
  return v > top ? top : (v < 0 ? 0 : v);
}

inline void RefHlsToRgb(int h, int l, int s, bool wide, int* r, int* g, int* b) {
  const int top = wide ? 65535 : 255;
  const int mid = wide ? 32768 : 128;
  int m2;
  if (l > mid) {
    m2 = l + ((top - l) * s + 50) / 100;
  } else {
    m2 = ((s + 100) * l + 50) / 100;
  }
  const int m1 = 2 * l - m2;
  *r = RefHueToValue(m1, m2, h + 120, wide);
  *g = RefHueToValue(m1, m2, h, wide);
  *b = RefHueToValue(m1, m2, h - 120, wide);
}

// Percentages within -21474836..21474836 so that S * p stays within 32 bits.
inline int RefScaleSaturation(int* r, int* g, int* b, int p, bool wide) {
  if (*r == *g && *g == *b) return 0;
  const RefHls x = RefRgbToHls(*r, *g, *b, wide);
  int s = x.s + x.s * p / 100;
  if (s >= 101) {
    s = 100;
  } else if (s < -100) {
    s = -100;
  }
  RefHlsToRgb(x.h, x.l, s, wide, r, g, b);
  return x.s;
}

}  // namespace marlo::test

#endif  // MARLO_TESTS_COLOUR_REFERENCE_H
