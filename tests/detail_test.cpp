// The neighbourhood filters: worked samples, the row kernels against the filters written out
// sample by sample at every short width and across the kernels' work stretches, the whole
// domains of the focus kernels' arithmetic, and digests of the focus circles beyond the golden
// table's.
#include <algorithm>
#include <array>
#include <cmath>

#include "detail/focus_circle.h"
#include "detail/image_focus.h"
#include "detail/remove_noise.h"
#include "test_support.h"

namespace {

using namespace marlo::test;

// Samples at and around the values where the kernels' arithmetic changes: the ends and the
// middle of the range, remainders of eighths, the quiet distance of noise removal; some random.
std::unique_ptr<Kasa> EdgyImage(ImageType type, int32_t width, int32_t height, uint32_t salt) {
  auto image = PatternImage(type, width, height, salt);
  const uint32_t top = IsWide(type) ? 65535 : 255, q = IsWide(type) ? 29 * 257 : 29;
  const uint32_t values[] = {0,           1,       7,       8,           15,
                             q,           q + 1,   top / 2, top / 2 + q, top / 2 + q + 1,
                             top - q - 1, top - q, top - 8, top - 7,     top - 1,
                             top};
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      for (int k = 0; k < Spp(*image); ++k) {
        const uint32_t r =
            Mix(salt * 7919u + (static_cast<uint32_t>(y) << 20) + static_cast<uint32_t>(x * 3 + k));
        SetSample(*image, x, y, k, r % 4 == 0 ? r % (top + 1) : values[(r >> 8) % 16]);
      }
    }
  }
  return image;
}

// Widths 1 to 40 (every tail of the vector loops) and across the row stretches of `bytes`.
std::vector<int32_t> Widths(ImageType type, int32_t bytes) {
  std::vector<int32_t> widths;
  for (int32_t w = 1; w <= 40; ++w) widths.push_back(w);
  const int32_t stretch = bytes / (IsWide(type) ? 2 : 1) / (IsColour(type) ? 3 : 1);
  for (int32_t w : {stretch + 2, stretch + 3, stretch + 4, 2 * stretch + 7}) {
    if (bytes > 0) widths.push_back(w);
  }
  return widths;
}

// Despeckle written out: the mean of the eight neighbours (rows beyond the top and the bottom
// are the edge row itself) replaces a sample that deviates from it by more than the threshold;
// the first and the last column are copied.
void DespeckleReference(Kasa& in, Kasa& out, int64_t threshold) {
  const auto src = CopyOf(in);
  const int32_t w = in.GetImageWidth(), h = in.GetImageHeight();
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      for (int k = 0; k < Spp(in); ++k) {
        const int64_t c = Sample(*src, x, y, k);
        int64_t sum = -c;
        for (int32_t yy : {std::max(y - 1, 0), y, std::min(y + 1, h - 1)}) {
          for (int32_t dx = -1; dx <= 1 && x > 0 && x < w - 1; ++dx)
            sum += Sample(*src, x + dx, yy, k);
        }
        const int64_t mean = sum / 8, d = c - mean;
        const bool keep = x == 0 || x == w - 1 || (d <= threshold && d >= -threshold);
        SetSample(out, x, y, k, static_cast<uint32_t>(keep ? c : mean));
      }
    }
  }
}

TEST(Despeckle, WorkedSamples) {
  // 3 x 3 grey, 0 but for the centre (mean of its neighbours 0; each neighbour sees it among its
  // eight): centre, threshold, then the centre and its upper neighbour afterwards. Comparisons
  // are strict; 16 bits scale the threshold by 257.
  const int32_t cases[][4] = {{255, 128, 0, 0},  {100, 128, 100, 0}, {100, 100, 100, 0},
                              {100, 99, 0, 0},   {100, 11, 0, 12},   {32896, 128, 32896, 0},
                              {32897, 128, 0, 0}};
  for (const auto& c : cases) {
    const ImageType type = c[0] > 255 ? ImageType::Gray16 : ImageType::Gray8;
    auto src = MakeImage(type, 3, 3), dst = MakeImage(type, 3, 3);
    SetSample(*src, 1, 1, 0, c[0]);
    ASSERT_EQ(1, Despeckle(src.get(), dst.get(), c[1], nullptr, 0, 100));
    EXPECT_EQ((std::vector<uint32_t>{static_cast<uint32_t>(c[2]), static_cast<uint32_t>(c[3]), 0}),
              (std::vector<uint32_t>{Sample(*dst, 1, 1, 0), Sample(*dst, 1, 0, 0),
                                     Sample(*dst, 0, 1, 0)}))
        << c[0] << " " << c[1];  // the first column never changes
  }
  // Edge rows count themselves twice: 200 in the top row's middle of a 3 x 2 image gives both
  // middles a mean of 25; a one-row image sees its own row above and below.
  auto top = MakeImage(ImageType::Gray8, 3, 2), line = MakeImage(ImageType::Gray8, 3, 1);
  SetSample(*top, 1, 0, 0, 200);
  SetSample(*line, 1, 0, 0, 160);
  auto dst = MakeImage(ImageType::Gray8, 3, 2), lineOut = MakeImage(ImageType::Gray8, 3, 1);
  ASSERT_EQ(1, Despeckle(top.get(), dst.get(), 24, nullptr, 0, 100));
  EXPECT_EQ(25u, Sample(*dst, 1, 0, 0));
  EXPECT_EQ(25u, Sample(*dst, 1, 1, 0));
  ASSERT_EQ(1, Despeckle(line.get(), lineOut.get(), 0, nullptr, 0, 100));
  EXPECT_EQ(40u, Sample(*lineOut, 1, 0, 0));
}

TEST(Despeckle, RowKernelsAsWrittenOutAtEveryWidth) {
  for (ImageType type : kAllTypes) {
    for (int32_t w : Widths(type, 3072)) {
      for (int32_t threshold : {0, 3, -1, 100, INT32_MIN}) {
        const int64_t scaled = int64_t{threshold} * (IsWide(type) ? 257 : 1);
        ExpectOutput(
            *EdgyImage(type, w, 3, static_cast<uint32_t>(w)),
            [&](Kasa* s, Kasa* d) { return Despeckle(s, d, threshold, nullptr, 0, 100); },
            [&](Kasa& in, Kasa& out) { DespeckleReference(in, out, scaled); });
        if (HasFailure()) return;
      }
    }
  }
}

// Noise removal written out: every interior pixel, in order, takes the medians of its 3 x 3
// neighbourhood unless each channel's median lies within the quiet distance of its own sample.
// Reads `in` as it stands, so that in place it sees the pixels already written.
void NoiseReference(Kasa& in, Kasa& out) {
  const uint32_t quiet = IsWide(TypeOf(in)) ? 29 * 257 : 29;
  for (int32_t y = 1; y < in.GetImageHeight() - 1; ++y) {
    for (int32_t x = 1; x < in.GetImageWidth() - 1; ++x) {
      uint32_t median[3], centre[3];
      bool still = true;
      for (int k = 0; k < Spp(in); ++k) {
        uint32_t v[9];
        for (int i = 0; i < 9; ++i) v[i] = Sample(in, x + i % 3 - 1, y + i / 3 - 1, k);
        std::nth_element(v, v + 4, v + 9);
        median[k] = v[4], centre[k] = Sample(in, x, y, k);
        still = still &&
                (median[k] > centre[k] ? median[k] - centre[k] : centre[k] - median[k]) <= quiet;
      }
      for (int k = 0; k < Spp(in); ++k) SetSample(out, x, y, k, still ? centre[k] : median[k]);
    }
  }
}

TEST(RemoveNoise, MedianQuietDistanceAndWorkedPixels) {
  for (uint32_t trial = 0, state = 7; trial < 20000; ++trial) {
    int32_t v[9];
    for (int32_t& e : v)
      e = static_cast<int32_t>((state = Mix(state + 1)) % (trial % 2 ? 5u : 65536u));
    int32_t s[9];
    std::copy(v, v + 9, s);
    std::nth_element(s, s + 4, s + 9);
    ASSERT_EQ(s[4], marlo::Median9(v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8]));
  }
  // The rule d < ln(d) + 26 on 8-bit levels holds exactly up to 29.
  for (int d = 0; d <= 100000; ++d) ASSERT_EQ(d < (d < 1 ? 0.0 : std::log(d)) + 26.0, d <= 29) << d;
  EXPECT_EQ(7453, marlo::kQuietDistance<marlo::Depth16>);
  // On a field of (50, 60, 70): +29 in red (with +1 green, -29 blue) stays, +30 replaces all.
  auto src = MakeImage(ImageType::Rgb24, 3, 3), dst = MakeImage(ImageType::Rgb24, 3, 3);
  for (int32_t i = 0; i < 9; ++i) src->SetPixelRGB(i % 3, i / 3, 50 << 16 | 60 << 8 | 70);
  for (uint32_t red : {79u, 80u}) {
    src->SetPixelRGB(1, 1, red << 16 | 61 << 8 | 41);
    ASSERT_EQ(1, RemoveNoise(src.get(), dst.get()));
    EXPECT_EQ(red == 79 ? (79u << 16 | 61 << 8 | 41) : (50u << 16 | 60 << 8 | 70),
              dst->GetPixelRGB(1, 1, nullptr));
  }
}

TEST(RemoveNoise, RowKernelsAsWrittenOutAtEveryWidth) {
  for (ImageType type : kAllTypes) {
    for (int32_t w : Widths(type, 1536)) {
      ExpectOutput(
          *EdgyImage(type, w, 4, static_cast<uint32_t>(w)),
          [](Kasa* s, Kasa* d) { return RemoveNoise(s, d); }, &NoiseReference);
      if (HasFailure()) return;
    }
  }
}

// Image focus written out in 64-bit arithmetic: the Laplacian (rows beyond the edges are the
// edge row) times the gain, rounded, clamped; the first and the last column are copied.
void FocusReference(Kasa& in, Kasa& out, int32_t strength) {
  const auto src = CopyOf(in);
  const int64_t max = IsWide(TypeOf(in)) ? 65535 : 255, w = in.GetImageWidth(),
                h = in.GetImageHeight();
  const int64_t k = strength >= 0 ? int64_t{strength} * 2048 / 400 : int64_t{strength} * 1024 / 400;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      for (int s = 0; s < Spp(in); ++s) {
        const int64_t c = Sample(*src, x, y, s);
        int64_t v = c * 1024;
        if (x > 0 && x < w - 1) {
          v += (4 * c - Sample(*src, x - 1, y, s) - Sample(*src, x + 1, y, s) -
                Sample(*src, x, y > 0 ? y - 1 : y, s) - Sample(*src, x, y < h - 1 ? y + 1 : y, s)) *
                   k +
               512;
        }
        SetSample(out, x, y, s,
                  static_cast<uint32_t>(std::clamp<int64_t>(v, 0, max * 1024) / 1024));
      }
    }
  }
}

TEST(ImageFocus, GainAndTheWorkers) {
  const int32_t gains[][2] = {{0, 0},           {100, 512},   {-100, -256},
                              {1, 5},           {-1, -2},     {32767, 167767},
                              {-32768, -83886}, {1550, 7936}, {-3200, -8192}};
  for (const auto& g : gains) EXPECT_EQ(g[1], marlo::FocusGain(static_cast<int16_t>(g[0]))) << g[0];
  // Only the low half of the argument counts.
  const int32_t arguments[][2] = {
      {0x0001FFFF, -1}, {0x7FFF0064, 100}, {INT32_MIN, 0}, {0x8000, -32768}};
  for (const auto& a : arguments) EXPECT_EQ(a[1], marlo::FocusStrengthFromArgument(a[0]));
  // The worker of another width refuses after the opening report.
  auto wide = PatternImage(ImageType::Rgb48, 4, 3, 1);
  Recorder recorder;
  EXPECT_EQ(marlo::Status::Refused,
            marlo::FocusImage8(wide.get(), wide.get(), 50, &Recorder::Callback, 3, 9));
  EXPECT_EQ((std::vector<int32_t>{3}), recorder.values());
}

// The 16-bit rounded product against the floored quotient over its whole domain.
TEST(ImageFocus, RoundedLowProductOverItsDomain) {
  for (int32_t laplacian = -1020; laplacian <= 1020; ++laplacian) {
    for (int32_t kl = 0; kl < 1024; ++kl) {
      const int64_t n = int64_t{laplacian} * kl + 512;
      ASSERT_EQ(
          n >= 0 ? n / 1024 : -((-n + 1023) / 1024),
          marlo::RoundedLowProduct(static_cast<int16_t>(laplacian), static_cast<int16_t>(kl)));
    }
  }
}

// Every width up to 40 at the strengths where the kernels' form changes (8-bit 16-bit lanes up
// to 6199 and down to -12000, 16-bit single products up to 1600 and down to -3200), on the
// pattern and (strengths divisible by 3) on a checkerboard of 0 and the maximum.
TEST(ImageFocus, RowKernelsAsWrittenOutAtEveryWidth) {
  for (ImageType type : kAllTypes) {
    for (int32_t w : Widths(type, 0)) {
      for (int32_t strength : {80, -100, 1600, 1601, 6199, 6200, -12000, -12001, 32767, 61, -99}) {
        auto src = PatternImage(type, w, 3, static_cast<uint32_t>(w * 7 + strength));
        for (int32_t y = 0; y < 3 && strength % 3 == 0; ++y) {
          for (int32_t x = 0; x < w; ++x) {
            for (int s = 0; s < Spp(*src); ++s) {
              SetSample(*src, x, y, s, (x + y + s) % 2 == 0 ? 0 : (IsWide(type) ? 65535 : 255));
            }
          }
        }
        ExpectOutput(
            *src, [&](Kasa* s, Kasa* d) { return ImageFocus(s, d, strength, nullptr, 0, 100); },
            [&](Kasa& in, Kasa& out) { FocusReference(in, out, strength); });
        if (HasFailure()) return;
      }
    }
  }
}

TEST(FocusInCircle, WorkedSamples) {
  EXPECT_EQ(120, marlo::FocusSample(100, 80, 80, 80, 80, 1.0f, 255));
  EXPECT_EQ(80, marlo::FocusSample(100, 80, 80, 80, 80, -1.0f, 255));
  EXPECT_EQ(100, marlo::FocusSample(100, 100, 100, 100, 97, 100.0f, 255));  // 3 / 4 is 0
  EXPECT_EQ(100, marlo::FocusSample(100, 100, 100, 100, 103, -7.0f, 255));  // -3 / 4 is 0
  EXPECT_EQ(255, marlo::FocusSample(250, 0, 0, 0, 0, 1.0f, 255));
  EXPECT_EQ(0, marlo::FocusSample(5, 255, 255, 255, 255, 1.0f, 255));
  EXPECT_EQ(65535, marlo::FocusSample(65000, 0, 0, 0, 0, 21474836.0f, 65535));
  // -7 / 4 truncates to -1: gain 0.5 gives trunc(-0.5 + 100 + 0.5) = 100, gain 0.6 gives 99.
  EXPECT_EQ(100, marlo::FocusSample(100, 102, 102, 102, 101, 0.5f, 255));
  EXPECT_EQ(99, marlo::FocusSample(100, 102, 102, 102, 101, 0.6f, 255));
  // The distance trunc(sqrt(dx^2 + dy^2) + 0.5), formed in 64 bits: sqrt(73) = 8.544 rounds to 9.
  EXPECT_TRUE(marlo::InsideCircle(3, 4, 5));
  EXPECT_FALSE(marlo::InsideCircle(3, 4, 4));
  EXPECT_FALSE(marlo::InsideCircle(8, 3, 8));
  EXPECT_FALSE(marlo::InsideCircle(INT32_MAX, INT32_MAX, INT32_MAX));
}

// The 8-bit offsets give FocusValue for every A and p, at gains across the whole range: every
// strength from -300 to 300, the extremes, and those where 255 * gain crosses 2^22.
TEST(FocusInCircle, EightBitOffsetsMatchTheFormulaEverywhere) {
  std::vector<int32_t> strengths = {INT32_MAX, INT32_MIN, 1644800,  1644900, -1644800,
                                    -1644900,  1000000,   -1000000, 12345,   -54321};
  for (int32_t s = -300; s <= 300; ++s) strengths.push_back(s);
  for (int32_t strength : strengths) {
    const auto gain = static_cast<float>(strength * 0.01);
    const std::array<int32_t, 511> offsets = marlo::FocusOffsets8(gain);
    for (int32_t a = -255; a <= 255; ++a) {
      for (int32_t p = 0; p <= 255; ++p) {
        ASSERT_EQ(marlo::FocusValue(a, p, gain, 255), std::clamp(p + offsets[a + 255], 0, 255))
            << "strength " << strength << " a " << a << " p " << p;
      }
    }
  }
}

// A circle entirely outside gives a copy of the source, 1, and the opening and closing reports.
TEST(FocusInCircle, CirclesOutside) {
  for (ImageType type : kAllTypes) {
    auto src = PatternImage(type, 9, 8, 4), dst = MakeImage(type, 9, 8);
    Recorder recorder;
    ASSERT_EQ(1,
              ImageFocusInCircle(src.get(), dst.get(), 40, 4, 5, 400, &Recorder::Callback, 0, 100));
    EXPECT_TRUE(SameBytes(*src, *dst));
    EXPECT_EQ((std::vector<int32_t>{0, 100}), recorder.values());
  }
}

// Circles of every kind (inside, at the edges, far outside, radii up to the largest and below 0,
// the extreme strengths) and discs over rows of every width up to 40, into a destination of
// another type, one of the source's size, and in place: recorded from a build checked against
// the filter written out pixel by pixel through the store.
TEST(FocusInCircle, CirclesMatchTheirDigest) {
  std::vector<std::array<int32_t, 6>> cases;  // width, height, cx, cy, radius, strength
  const int32_t sizes[] = {13, 11, 1, 1, 2, 7, 7, 2, 3, 3, 33, 4, 5, 1};
  const int32_t circles[] = {6,  5, 4, 100, 6,  5,  4,  -100, 3,  3,  9,  250, 0, 0, 5, 60,
                             12, 1, 3, 180, 20, 9,  30, 1000, 6,  5,  1,  77,  6, 5, 0, 500,
                             -3, 4, 6, 150, 5,  -2, 5,  -40,  30, 30, 40, 90,  7, 7, 2, 3};
  for (int s = 0; s < 14; s += 2) {
    for (int c = 0; c < 48; c += 4)
      cases.push_back(
          {sizes[s], sizes[s + 1], circles[c], circles[c + 1], circles[c + 2], circles[c + 3]});
  }
  for (int32_t w = 1; w <= 40; ++w) {
    for (int32_t strength : {150, -75, 100000}) cases.push_back({w, 3, w / 2, 1, w, strength});
  }
  const int32_t M = INT32_MAX, N = INT32_MIN;
  const int32_t far[] = {6,   5,     M,    100,  N,   N,   M, 100,   M,   M, M, 100, N,   5, M,
                         100, -1000, 5,    1006, 300, 5,   M, M - 5, 300, 6, 5, N,   100, 6, 5,
                         -1,  100,   1000, 1000, 10,  100, 6, 5,     7,   M, 6, 5,   7,   N};
  for (int c = 0; c < 44; c += 4)
    cases.push_back({13, 11, far[c], far[c + 1], far[c + 2], far[c + 3]});
  Digest digest;
  for (ImageType type : kAllTypes) {
    for (const auto& [w, h, cx, cy, radius, strength] : cases) {
      auto src = PatternImage(type, w, h, static_cast<uint32_t>(w * 131 + h));
      auto other = PatternImage(ImageType::Gray8, 3, 2, 1);
      auto same = PatternImage(type, w, h, static_cast<uint32_t>(w * 131 + h + 1));
      for (Kasa* dst : {other.get(), same.get(), src.get()}) {
        ASSERT_EQ(1, ImageFocusInCircle(src.get(), dst, cx, cy, radius, strength, nullptr, 0, 100));
      }
      for (Kasa* image : {other.get(), same.get(), src.get()}) digest.Image(*image);
    }
  }
  EXPECT_EQ(0x957ad271f506051fULL, digest.value());
}

}  // namespace
