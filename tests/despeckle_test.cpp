// Despeckle: worked samples, whole images of every type against a plainly written reference,
// in place, thresholds at their limits, progress, abort and refusals.
#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

#include "detail/despeckle.h"
#include "test_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::MakeImage;
using marlo::test::PatternImage;
using marlo::test::ProgressRecorder;
using marlo::test::SameBytes;
using marlo::test::Sample;
using marlo::test::SetSample;

int SamplesOf(const Kasa& image) {
  return (image.GetBitCount() == 24 || image.GetBitCount() == 48) ? 3 : 1;
}

bool IsWide(const Kasa& image) {
  return image.GetBitCount() == 16 || image.GetBitCount() == 48;
}

// Every sample of row y (padding aside: 8-bit rows are written pixel by pixel).
bool SameRow(const Kasa& a, const Kasa& b, int32_t y) {
  for (int32_t x = 0; x < a.GetImageWidth(); ++x) {
    for (int k = 0; k < SamplesOf(a); ++k) {
      if (Sample(a, x, y, k) != Sample(b, x, y, k)) return false;
    }
  }
  return true;
}

// The filter written out sample by sample from the stored bytes: rows beyond the top and the
// bottom are the edge row itself; the first and last column are copied.
int64_t Expected(const Kasa& in, int32_t x, int32_t y, int k, int64_t threshold) {
  const int32_t w = in.GetImageWidth();
  const int32_t h = in.GetImageHeight();
  const int64_t centre = Sample(in, x, y, k);
  if (x == 0 || x == w - 1) return centre;
  const int32_t up = std::max(y - 1, 0);
  const int32_t down = std::min(y + 1, h - 1);
  int64_t sum = 0;
  for (int32_t dx = -1; dx <= 1; ++dx) {
    sum += Sample(in, x + dx, up, k);
    sum += Sample(in, x + dx, down, k);
  }
  sum += Sample(in, x - 1, y, k);
  sum += Sample(in, x + 1, y, k);
  const int64_t mean = sum / 8;
  const int64_t deviation = centre - mean;
  return (deviation > threshold || deviation < -threshold) ? mean : centre;
}

// Every sample of `out` against the reference of `in`; 16-bit padding comes from `in` too.
void ExpectDespeckled(const Kasa& in, const Kasa& out, int32_t threshold) {
  const int64_t t = IsWide(in) ? static_cast<int64_t>(threshold) * 257 : threshold;
  for (int32_t y = 0; y < in.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < in.GetImageWidth(); ++x) {
      for (int k = 0; k < SamplesOf(in); ++k) {
        ASSERT_EQ(Expected(in, x, y, k, t), static_cast<int64_t>(Sample(out, x, y, k)))
            << "x " << x << " y " << y << " sample " << k << " threshold " << threshold;
      }
    }
  }
  if (IsWide(in)) {
    ASSERT_TRUE(marlo::test::SamePadding(in, out));
  }
}

TEST(Despeckle, WholeImagesOfEveryTypeAndShapeSeparateAndInPlace) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 4}, {2, 2}, {5, 1}, {3, 2}, {33, 3}, {4, 6}};
  const int32_t thresholds[] = {128, 0, -5, 20, 60, 255, 256, INT32_MAX, INT32_MIN};
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : sizes) {
      for (int32_t threshold : thresholds) {
        auto src = PatternImage(type, size[0], size[1], 31);
        auto before = CopyOf(*src);
        auto dst = PatternImage(type, size[0], size[1], 32);
        ASSERT_EQ(1, Despeckle(src.get(), dst.get(), threshold, nullptr, 0, 100));
        EXPECT_TRUE(SameBytes(*before, *src));
        ExpectDespeckled(*src, *dst, threshold);

        ASSERT_EQ(1, Despeckle(src.get(), src.get(), threshold, nullptr, 0, 100));
        ExpectDespeckled(*before, *src, threshold);
      }
    }
  }
}

// Samples with ties and the values at the ends of the range, and remainders modulo 8 that add
// up to their largest sums (the means are formed from eighths and remainders).
std::unique_ptr<Kasa> EdgyImage(ImageType type, int32_t width, int32_t height, uint32_t salt) {
  auto image = MakeImage(type, width, height);
  const uint32_t top = IsWide(*image) ? 65535 : 255;
  const uint32_t values[] = {0, 1, 7, 8, 15, top / 2, top - 8, top - 7, top - 1, top};
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      for (int k = 0; k < SamplesOf(*image); ++k) {
        const uint32_t r = marlo::test::Mix(salt * 7919u + (static_cast<uint32_t>(y) << 20) +
                                            static_cast<uint32_t>(x * 3 + k));
        SetSample(*image, x, y, k, r % 4 == 0 ? r % (top + 1) : values[(r >> 8) % 10]);
      }
    }
  }
  return image;
}

TEST(Despeckle, RowsOfEveryShortWidthAndAcrossWorkStretches) {
  // Widths 3 to 40 cover every tail of the vector loops; the long rows cross the boundaries of
  // the stretches the rows are worked in (3072 bytes of samples) once or more.
  for (ImageType type : marlo::test::kAllTypes) {
    std::vector<int32_t> widths;
    for (int32_t w = 3; w <= 40; ++w) widths.push_back(w);
    const bool rgb = type == ImageType::Rgb24 || type == ImageType::Rgb48;
    const bool wide = type == ImageType::Rgb48 || type == ImageType::Gray16;
    const int32_t stretch = (wide ? 1536 : 3072) / (rgb ? 3 : 1);
    for (int32_t w : {stretch + 2, stretch + 3, 2 * stretch + 5}) widths.push_back(w);
    for (int32_t w : widths) {
      for (int32_t threshold : {0, 3, -1, 100}) {
        auto src = EdgyImage(type, w, 3, static_cast<uint32_t>(w));
        auto dst = PatternImage(type, w, 3, 6);
        ASSERT_EQ(1, Despeckle(src.get(), dst.get(), threshold, nullptr, 0, 100));
        ExpectDespeckled(*src, *dst, threshold);
        if (HasFailure()) return;
      }
    }
  }
}

TEST(Despeckle, ThinImagesAreCopiedUnchanged) {
  for (ImageType type : marlo::test::kAllTypes) {
    for (int32_t width : {1, 2}) {
      auto src = PatternImage(type, width, 9, 4);
      auto dst = PatternImage(type, width, 9, 5);
      ASSERT_EQ(1, Despeckle(src.get(), dst.get(), -100, nullptr, 0, 100));
      for (int32_t y = 0; y < 9; ++y) EXPECT_TRUE(SameRow(*src, *dst, y)) << y;
    }
  }
}

TEST(Despeckle, WorkedSamplesOnABlackField) {
  auto field = MakeImage(ImageType::Gray8, 5, 5);
  SetSample(*field, 2, 2, 0, 255);
  Kasa& src = *field;
  auto dst = MakeImage(ImageType::Gray8, 5, 5);
  ASSERT_EQ(1, Despeckle(&src, dst.get(), 128, nullptr, 0, 100));
  EXPECT_EQ(0u, Sample(*dst, 2, 2, 0));  // 255 against a mean of 0
  // Each neighbour sees 255 among its eight: mean 31, deviation -31, kept at threshold 128.
  EXPECT_EQ(0u, Sample(*dst, 1, 1, 0));

  SetSample(src, 2, 2, 0, 100);
  ASSERT_EQ(1, Despeckle(&src, dst.get(), 128, nullptr, 0, 100));
  EXPECT_EQ(100u, Sample(*dst, 2, 2, 0));

  // Strict comparisons: a deviation equal to the threshold stays, one more is replaced.
  ASSERT_EQ(1, Despeckle(&src, dst.get(), 100, nullptr, 0, 100));
  EXPECT_EQ(100u, Sample(*dst, 2, 2, 0));
  ASSERT_EQ(1, Despeckle(&src, dst.get(), 99, nullptr, 0, 100));
  EXPECT_EQ(0u, Sample(*dst, 2, 2, 0));
  // The neighbours now deviate by -12 (mean 100 / 8): a threshold of 11 replaces them by 12.
  ASSERT_EQ(1, Despeckle(&src, dst.get(), 11, nullptr, 0, 100));
  EXPECT_EQ(12u, Sample(*dst, 1, 1, 0));
  EXPECT_EQ(0u, Sample(*dst, 0, 1, 0));  // first column never changes
}

TEST(Despeckle, EdgeRowsCountThemselvesTwice) {
  // 3 x 2 grey with 200 in the middle of the top row: the top row's centre sees itself as the
  // row above, so its eight neighbours sum to 200 (mean 25) rather than 0. The bottom row's
  // centre sees the 200 above it: mean 25, deviation -25, also replaced.
  auto src = MakeImage(ImageType::Gray8, 3, 2);
  SetSample(*src, 1, 0, 0, 200);
  auto dst = MakeImage(ImageType::Gray8, 3, 2);
  ASSERT_EQ(1, Despeckle(src.get(), dst.get(), 10, nullptr, 0, 100));
  EXPECT_EQ(25u, Sample(*dst, 1, 0, 0));
  EXPECT_EQ(25u, Sample(*dst, 1, 1, 0));
  ASSERT_EQ(1, Despeckle(src.get(), dst.get(), 25, nullptr, 0, 100));
  EXPECT_EQ(25u, Sample(*dst, 1, 0, 0));
  EXPECT_EQ(0u, Sample(*dst, 1, 1, 0));  // -25 is not below -25

  // The same at the bottom of a 3 x 3 image.
  auto low = MakeImage(ImageType::Gray8, 3, 3);
  SetSample(*low, 1, 2, 0, 200);
  auto out = MakeImage(ImageType::Gray8, 3, 3);
  ASSERT_EQ(1, Despeckle(low.get(), out.get(), 30, nullptr, 0, 100));
  EXPECT_EQ(25u, Sample(*out, 1, 2, 0));
  EXPECT_EQ(0u, Sample(*out, 1, 1, 0));
  EXPECT_EQ(0u, Sample(*out, 1, 0, 0));

  // A one-row image is its own row above and below: the centre 160 between two zeros sees
  // itself twice (above and below), so its neighbours sum to 320, mean 40.
  auto line = MakeImage(ImageType::Gray8, 3, 1);
  SetSample(*line, 1, 0, 0, 160);
  auto lineOut = MakeImage(ImageType::Gray8, 3, 1);
  ASSERT_EQ(1, Despeckle(line.get(), lineOut.get(), 0, nullptr, 0, 100));
  EXPECT_EQ(40u, Sample(*lineOut, 1, 0, 0));
}

TEST(Despeckle, SixteenBitThresholdIsScaledBy257) {
  for (uint32_t centre : {32896u, 32897u}) {
    auto src = MakeImage(ImageType::Gray16, 3, 3);
    SetSample(*src, 1, 1, 0, centre);
    auto dst = MakeImage(ImageType::Gray16, 3, 3);
    ASSERT_EQ(1, Despeckle(src.get(), dst.get(), 128, nullptr, 0, 100));
    EXPECT_EQ(centre == 32896u ? 32896u : 0u, Sample(*dst, 1, 1, 0));
  }
  // A 48-bit pixel whose samples differ only in the low byte from their neighbours' mean.
  auto src = MakeImage(ImageType::Rgb48, 3, 3);
  for (int32_t y = 0; y < 3; ++y) {
    for (int32_t x = 0; x < 3; ++x) SetSample(*src, x, y, 0, 0x1200);
  }
  SetSample(*src, 1, 1, 0, 0x1203);  // deviation 3
  auto dst = MakeImage(ImageType::Rgb48, 3, 3);
  ASSERT_EQ(1, Despeckle(src.get(), dst.get(), 0, nullptr, 0, 100));
  EXPECT_EQ(0x1200u, Sample(*dst, 1, 1, 0));
  ASSERT_EQ(1, Despeckle(src.get(), dst.get(), 1, nullptr, 0, 100));  // acts as 257
  EXPECT_EQ(0x1203u, Sample(*dst, 1, 1, 0));
}

TEST(Despeckle, ProgressAfterEachWrittenRowAndAbort) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 5, 50, 8);
    auto dst = MakeImage(type, 5, 50);
    {
      ProgressRecorder recorder;
      ASSERT_EQ(1, Despeckle(src.get(), dst.get(), 10, &ProgressRecorder::Callback, 0, 100));
      std::vector<int32_t> expected = {0};
      for (int32_t v = 1; v <= 99; v += 2) expected.push_back(v);
      expected.push_back(100);
      EXPECT_EQ(expected, recorder.values());
    }
    // Abort on the first per-row report: row 0 is written, the others keep what they held.
    auto dst2 = PatternImage(type, 5, 50, 9);
    auto dst2Before = CopyOf(*dst2);
    ProgressRecorder aborting(2);
    EXPECT_EQ(0, Despeckle(src.get(), dst2.get(), 10, &ProgressRecorder::Callback, 0, 100));
    EXPECT_EQ((std::vector<int32_t>{0, 1}), aborting.values());
    EXPECT_TRUE(SameRow(*dst, *dst2, 0));
    for (int32_t y = 1; y < 50; ++y) {
      ASSERT_EQ(0, std::memcmp(dst2Before->RowData(y), dst2->RowData(y),
                               static_cast<size_t>(dst->GetLineBytes())));
    }
  }
}

TEST(Despeckle, RefusalsWriteNothing) {
  auto* cb = &ProgressRecorder::Callback;
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 6, 4, 1);
    auto srcBefore = CopyOf(*src);
    const ImageType other = type == ImageType::Rgb24 ? ImageType::Rgb48 : ImageType::Rgb24;
    std::unique_ptr<Kasa> wrong[] = {PatternImage(type, 5, 4, 2), PatternImage(type, 6, 5, 2),
                                     PatternImage(other, 6, 4, 2)};
    for (auto& dst : wrong) {
      auto dstBefore = CopyOf(*dst);
      ProgressRecorder recorder;
      EXPECT_EQ(0, Despeckle(src.get(), dst.get(), 10, cb, 0, 100));
      EXPECT_TRUE(SameBytes(*dstBefore, *dst));
      // The opening report is made before the images are checked, and nothing follows it.
      EXPECT_EQ((std::vector<int32_t>{0}), recorder.values());
    }
    Kasa empty;
    EXPECT_EQ(0, Despeckle(src.get(), &empty, 10, nullptr, 0, 100));
    EXPECT_EQ(1, empty.IsEmpty());  // not created
    EXPECT_EQ(0, Despeckle(src.get(), nullptr, 10, nullptr, 0, 100));
    EXPECT_TRUE(SameBytes(*srcBefore, *src));
  }
  Kasa empty;
  auto dst = PatternImage(ImageType::Gray8, 3, 3, 1);
  ProgressRecorder recorder;
  EXPECT_EQ(0, Despeckle(&empty, dst.get(), 10, cb, 0, 100));
  EXPECT_EQ(0, Despeckle(nullptr, dst.get(), 10, cb, 0, 100));
  EXPECT_TRUE(recorder.calls().empty());  // no worker ran
}

TEST(Despeckle, WorkersRefuseTheOtherWidth) {
  marlo::CDespeckle filter;
  auto rgb = PatternImage(ImageType::Rgb24, 4, 4, 1);
  auto wide = PatternImage(ImageType::Rgb48, 4, 4, 1);
  EXPECT_EQ(marlo::Status::Refused, filter.Despeckle16(rgb.get(), rgb.get(), 0, nullptr, 0, 1));
  EXPECT_EQ(marlo::Status::Refused, filter.Despeckle8(wide.get(), wide.get(), 0, nullptr, 0, 1));
}

}  // namespace
