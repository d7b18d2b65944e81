// Red-eye removal (RemoveRedEyeClr) on 24-bit and 48-bit RGB.
//
// Both workers make the destination a copy of the source first and then recolour red pixels in
// it; every test reads the source. Without a progress callback the 24-bit worker does both in
// one pass, row by row, which gives the same picture since each test and recolouring reads only
// its own pixel. The 24-bit worker recolours every red pixel of the picture
// (the point plays no part) and reports progress once per pixel. The 48-bit worker recolours the
// four-connected red region around the point, within 50 pixels of it, with an explicit stack.
// Progress follows the filter's own rule and cannot abort. The copy and the one-pass walk are
// split into bands over the run's threads; the per-pixel reports and the region's fill (at most
// 101 x 101 pixels) stay on the caller's thread.
#include "colour/red_eye.h"

#include <algorithm>
#include <cstdlib>

namespace marlo {

namespace {

// A fraction of end, truncated toward zero.
int64_t PartOf(int32_t end, double fraction) {
  return static_cast<int64_t>(static_cast<double>(end) * fraction);
}

int32_t Clamp16(int32_t v) {
  return v < 0 ? 0 : (v > 65535 ? 65535 : v);
}

// The values (k * end) / pixels for k = 0, 1, 2, ... in 64 bits, truncated toward zero, by
// carrying a quotient and a remainder instead of dividing for every pixel. Truncation toward
// zero is symmetric, so a negative end gives the negated values of -end (which fits in 64 bits
// for any 32-bit end). Invariant: quotient * pixels + remainder = k * |end|, remainder < pixels.
class PixelProgress {
 public:
  PixelProgress(int32_t end, int64_t pixels)
      : negative_(end < 0),
        pixels_(pixels),
        wholeStep_((negative_ ? -int64_t{end} : int64_t{end}) / pixels),
        partStep_((negative_ ? -int64_t{end} : int64_t{end}) % pixels) {}

  int64_t value() const { return negative_ ? -quotient_ : quotient_; }

  void Advance() {
    quotient_ += wholeStep_;
    remainder_ += partStep_;
    if (remainder_ >= pixels_) {
      ++quotient_;
      remainder_ -= pixels_;
    }
  }

 private:
  bool negative_;
  int64_t pixels_;
  int64_t wholeStep_;
  int64_t partStep_;
  int64_t quotient_ = 0;
  int64_t remainder_ = 0;
};

}  // namespace

bool IsRedEyePixel8(int32_t red, int32_t green, int32_t blue) {
  const int32_t max = std::max({red, green, blue});
  const int32_t min = std::min({red, green, blue});
  const int32_t value = (100 * max + 127) / 255;
  const int32_t saturation = max == 0 ? 0 : ((max - min) * 100) / max;
  int32_t hue = 0;
  if (saturation != 0) {
    const int32_t d = max - min;
    int32_t numerator;
    if (red == max) {
      numerator = green - blue;
    } else if (green == max) {
      numerator = 2 * d - red + blue;
    } else {
      numerator = 4 * d - green + red;
    }
    hue = (numerator * 60) / d;
    if (hue < 0) hue += 360;
  }
  return (hue <= 15 || hue >= 345) && saturation >= 50 && value >= 25;
}

int32_t RedEyeChannel8(float m1, float m2, int32_t h) {
  // 1/60 in single precision (0.016666668); the products are formed in double.
  const float sixtieth = 1.0f / 60.0f;
  const double k = sixtieth;
  if (h > 360) h -= 360;
  if (h < 0) h += 360;
  const double a = m1, b = m2;
  double v;
  if (h < 60) {
    v = (a + (b - a) * h * k) * 255.0;
  } else if (h < 180) {
    v = b * 255.0;
  } else if (h < 240) {
    v = (a + (b - a) * (240 - h) * k) * 255.0;
  } else {
    v = a * 255.0;
  }
  // The anchors lie in 0..1, so v lies in 0..255 up to single-precision rounding; a value a
  // hair outside truncates into the range anyway, and the clamp only guards the conversion.
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<int32_t>(v);
}

bool IsRedEyePixel8Fast(int32_t red, int32_t green, int32_t blue) {
  // Every comparison is made (no early exit): on real pictures these tests go either way at
  // random, while a red pixel is rare, so only the answer is branched on.
  const int32_t min = std::min(green, blue);
  const int32_t spread = std::abs(green - blue);
  return ((red >= green) & (red >= blue) & (red >= 63) & (red >= 2 * min) &
          (15 * spread < 4 * (red - min))) != 0;
}

void RecolourRow8(uint8_t* pixels, int64_t count) {
  for (int64_t x = 0; x < count; ++x) {
    uint8_t* p = pixels + 3 * x;  // blue, green, red
    if (!IsRedEyePixel8Fast(p[2], p[1], p[0])) continue;
    const Rgb out = RecolourRedEye8(p[2], p[1], p[0]);
    p[0] = static_cast<uint8_t>(out.blue);
    p[1] = static_cast<uint8_t>(out.green);
    p[2] = static_cast<uint8_t>(out.red);
  }
}

Rgb RecolourRedEye8(int32_t red, int32_t green, int32_t blue) {
  const int32_t max = std::max({red, green, blue});
  const int32_t min = std::min({red, green, blue});
  const int32_t lightness = (max + min) / 2;
  int32_t hue = 0, saturation = 0;
  if (max != min) {
    const double d = max - min;
    const double divisor = lightness <= 128 ? max + min : 510 - (max + min);
    saturation = static_cast<int32_t>((max - min) / divisor * 255.0);
    double h;
    if (red == max) {
      h = (green - blue) / d;
    } else if (green == max) {
      h = (blue - red) / d + 2.0;
    } else {
      h = (red - green) / d + 4.0;
    }
    hue = static_cast<int32_t>(h * 60.0);
    if (hue < 0) hue += 360;
  }
  const int32_t l2 = std::max(lightness - 60, 0);
  const int32_t s2 = std::max(saturation - 90, 0);
  if (s2 == 0) {
    // Exactly as the recolouring is defined: grey when the hue is 0, else left as it was.
    if (hue == 0) return Rgb{l2, l2, l2};
    return Rgb{red, green, blue};
  }
  const double l = l2 / 255.0;
  const double s = s2 / 255.0;
  const float m2 = static_cast<float>(l <= 0.5 ? l * (1.0 + s) : l + s - l * s);
  const float m1 = static_cast<float>(2.0 * l - m2);
  return Rgb{RedEyeChannel8(m1, m2, hue + 120), RedEyeChannel8(m1, m2, hue),
             RedEyeChannel8(m1, m2, hue - 120)};
}

Rgb RecolourRedEye16(uint16_t red, uint16_t green, uint16_t blue, int32_t saturationChange,
                     int32_t lightnessChange) {
  const Hls hls = RgbToHls16(red, green, blue);
  int32_t saturation = ((saturationChange + 100) * hls.saturation) / 100;
  int32_t darken = (lightnessChange * hls.delta) / 65535;
  if (saturation != hls.saturation && saturation < 15) {
    saturation = 15;  // low saturation is lifted to 15 and not darkened
    darken = 0;
  }
  Rgb out = HlsToRgb16(hls.hue, hls.lightness, saturation);
  if (darken < 0) {
    out.red = ((darken + 100) * out.red + 50) / 100;
    out.green = ((darken + 100) * out.green + 50) / 100;
    out.blue = ((darken + 100) * out.blue + 50) / 100;
  }
  return Rgb{Clamp16(out.red), Clamp16(out.green), Clamp16(out.blue)};
}

CRemoveRedEyeClr::CRemoveRedEyeClr() = default;

int CRemoveRedEyeClr::SetParameters(const int32_t& x, const int32_t& y) {
  x_ = x;
  y_ = y;
  return 1;
}

Status CRemoveRedEyeClr::Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                             int32_t end) {
  return RunWithWaitCursor(src, dst, &IsColorType, [&](auto depth) {
    if constexpr (decltype(depth)::kBits == 8) return RemoveRedEye8(src, dst, cb, start, end);
    return RemoveRedEye16(src, dst, cb, start, end);
  });
}

Status CRemoveRedEyeClr::RemoveRedEye8(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                                       int32_t end) {
  Progress progress(cb, start, end, 1, src, dst);  // reports by the filter's own rule
  if (!progress.Report(0)) return Status::Changed;
  width_ = src->GetImageWidth();
  height_ = src->GetImageHeight();
  src_ = src;
  dst_ = dst;
  if (cb == nullptr) {
    // Without progress, each row is copied and recoloured in one pass: every pixel's test and
    // recolouring reads only that pixel of the source, so the destination row (a copy of the
    // source row, padding included) can be recoloured where it lies, also in place.
    // Rows are independent: bands over the run's threads.
    const RowBands bands(height_, 2 * static_cast<size_t>(src->GetLineBytes()));
    bands.Run(nullptr, [&](Band& band) {
      for (int32_t y = band.first(); y < band.end(); ++y) {
        CopyRow(*src, *dst, y);
        RecolourRow8(StoredRow(*dst, y), width_);
      }
    });
    return Status::Ok;
  }

  // With progress the picture is first copied (in bands over the run's threads), then walked
  // pixel by pixel as defined, a row at a time, with one report per pixel; each row is written
  // back after its reports. The walk stays on the caller's thread, which makes every report:
  // one call per pixel, which costs more than the recolouring.
  std::vector<uint8_t> row = AllocateRow<Depth8>(*src);  // before anything is written
  CopyRows(*src, *dst);
  // ((y * width + x) * end) / (width * height), in 64 bits, for each pixel in turn.
  PixelProgress fraction(end, static_cast<int64_t>(width_) * height_);
  for (int32_t y = 0; y < height_; ++y) {
    ReadRow<Depth8>(*src, y, row.data());
    for (int32_t x = 0; x < width_; ++x) {
      RecolourRow8(row.data() + 3 * static_cast<size_t>(x), 1);
      progress.ReportUnchecked(static_cast<int32_t>(fraction.value()));
      fraction.Advance();
    }
    if (!progress.Unchanged()) return Status::Changed;  // once per row (see frame/progress.h)
    WriteRow<Depth8>(*dst, y, row.data());
  }
  return progress.Report(end) ? Status::Ok : Status::Changed;
}

Rgb CRemoveRedEyeClr::ReadSource16(int64_t x, int64_t y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return Rgb{0, 0, 0};
  int64_t packed = 0;
  src_->GetPixelRGB(static_cast<int32_t>(x), static_cast<int32_t>(y), &packed);
  return Rgb{static_cast<int32_t>(packed & 0xFFFF), static_cast<int32_t>((packed >> 16) & 0xFFFF),
             static_cast<int32_t>((packed >> 32) & 0xFFFF)};
}

void CRemoveRedEyeClr::SetColourBox(int64_t x, int64_t y) {
  const Rgb c = ReadSource16(x, y);
  auto box = [](int32_t v) {
    return ColourBox{std::max(v - kColourReach, 0), std::min(v + kColourReach, 65535)};
  };
  red_ = box(c.red);
  green_ = box(c.green);
  blue_ = box(c.blue);
}

bool CRemoveRedEyeClr::IsRed16(int64_t x, int64_t y) const {
  const Rgb c = ReadSource16(x, y);
  auto within = [](int32_t v, ColourBox b) { return b.min <= v && v <= b.max; };
  if (!within(c.red, red_) || !within(c.green, green_) || !within(c.blue, blue_)) return false;
  const int32_t hue = RgbHue(static_cast<uint16_t>(c.red), static_cast<uint16_t>(c.green),
                             static_cast<uint16_t>(c.blue));
  if (hue == HueUndefined) return false;  // grey
  return hue <= 15 || hue >= 345;
}

void CRemoveRedEyeClr::Recolour16(int64_t x, int64_t y) {
  const Rgb c = ReadSource16(x, y);
  const Rgb out =
      RecolourRedEye16(static_cast<uint16_t>(c.red), static_cast<uint16_t>(c.green),
                       static_cast<uint16_t>(c.blue), saturationChange_[1], lightnessChange_[1]);
  // One raw pixel: blue, green, red, each sample in the store's byte order.
  uint16_t pixel[3] = {static_cast<uint16_t>(out.blue), static_cast<uint16_t>(out.green),
                       static_cast<uint16_t>(out.red)};
  for (uint16_t& sample : pixel) SwapSampleBytes(&sample, 2);
  const auto column = static_cast<int32_t>(x);
  dst_->PutHorLine(column, column, static_cast<int32_t>(y), reinterpret_cast<uint8_t*>(pixel));
}

bool CRemoveRedEyeClr::InWindow(int64_t x, int64_t y) const {
  return x >= left_ && x <= right_ && y >= top_ && y <= bottom_;
}

size_t CRemoveRedEyeClr::MapIndex(int64_t x, int64_t y) const {
  return static_cast<size_t>((y - top_) * (right_ - left_ + 1) + (x - left_));
}

void CRemoveRedEyeClr::FloodFill(int64_t x, int64_t y) {
  // Every pixel is taken once, when it is first found red and unmarked; what is recoloured is
  // the four-connected red region inside the window that holds the start pixel, whatever the
  // order, since every test reads the source.
  pending_.clear();
  visited_[MapIndex(x, y)] = 1;
  pending_.push_back(x);
  pending_.push_back(y);
  const int64_t steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};  // left, right, up, down
  while (!pending_.empty()) {
    const int64_t py = pending_.back();
    pending_.pop_back();
    const int64_t px = pending_.back();
    pending_.pop_back();
    Recolour16(px, py);
    for (const auto& step : steps) {
      const int64_t nx = px + step[0], ny = py + step[1];
      if (!InWindow(nx, ny)) continue;  // the window lies inside the picture
      uint8_t& mark = visited_[MapIndex(nx, ny)];
      if (mark != 0 || !IsRed16(nx, ny)) continue;
      mark = 1;
      pending_.push_back(nx);
      pending_.push_back(ny);
    }
  }
}

Status CRemoveRedEyeClr::RemoveRedEye16(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start,
                                        int32_t end) {
  Progress progress(cb, start, end, 1, src, dst);  // reports by the filter's own rule
  const auto report = [&](int64_t value) { return progress.Report(static_cast<int32_t>(value)); };
  if (!report(0)) return Status::Changed;
  width_ = src->GetImageWidth();
  height_ = src->GetImageHeight();
  src_ = src;
  dst_ = dst;
  for (int k = 0; k < kRanges; ++k) {
    hueChange_[k] = saturationChange_[k] = lightnessChange_[k] = 0;
  }
  saturationChange_[1] = -40;
  lightnessChange_[1] = -70;

  // The window around the caller's point, clipped to the picture (empty when the point lies
  // far outside).
  const int64_t x = x_, y = y_;
  left_ = std::max<int64_t>(x - kWindowReach, 0);
  top_ = std::max<int64_t>(y - kWindowReach, 0);
  right_ = std::min<int64_t>(x + kWindowReach, width_ - 1);
  bottom_ = std::min<int64_t>(y + kWindowReach, height_ - 1);
  // The map and the stack are made before anything is written, so that running out of memory
  // leaves the destination as it was. The stack never holds more pixels than the window.
  const int64_t windowPixels =
      right_ >= left_ && bottom_ >= top_ ? (right_ - left_ + 1) * (bottom_ - top_ + 1) : 0;
  visited_.assign(static_cast<size_t>(windowPixels), 0);
  pending_.clear();
  pending_.reserve(2 * static_cast<size_t>(windowPixels));

  CopyRows(*src, *dst);

  // A point outside the picture finds no red pixel, at itself or next to it.
  const bool inside = x >= 0 && y >= 0 && x < width_ && y < height_;
  currentX_ = x;
  currentY_ = y;
  SetColourBox(currentX_, currentY_);
  if (!report(PartOf(end, 0.3))) return Status::Changed;
  bool found = inside && IsRed16(currentX_, currentY_);
  if (!found) {
    const int64_t steps[4][2] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};  // left, right, up, down
    const bool skipped[4] = {x == 0, x == width_ - 1, y == 0, y == height_ - 1};
    for (int k = 0; k < 4 && !found; ++k) {
      if (skipped[k]) continue;
      currentX_ = x + steps[k][0];
      currentY_ = y + steps[k][1];
      SetColourBox(currentX_, currentY_);
      if (!report(PartOf(end, 0.3) - PartOf(end, -0.05) * (k + 1))) return Status::Changed;
      found = inside && IsRed16(currentX_, currentY_);
    }
    // The destination is the plain copy.
    if (!found) return report(end) ? Status::Ok : Status::Changed;
  }
  if (!report(PartOf(end, 0.6)) || !report(PartOf(end, 0.8))) return Status::Changed;
  FloodFill(currentX_, currentY_);
  return report(end) ? Status::Ok : Status::Changed;
}

}  // namespace marlo

int32_t MARLO_STDCALL RemoveRedEyeClr(Kasa* src, Kasa* dst, int32_t x, int32_t y,
                                      ProgressCallback cb, int32_t start, int32_t end) {
  return marlo::Export(0, [&] {
    marlo::CRemoveRedEyeClr filter;
    filter.SetParameters(x, y);
    return filter.Run(src, dst, cb, start, end);
  });
}
