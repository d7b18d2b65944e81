// Image focus: the gain, the worked pixels, whole images of every type against a plainly written
// Laplacian, in-place runs, progress, abort and refusals.
#include "detail/image_focus.h"
#include "test_support.h"

namespace {

using marlo::Status;
using marlo::test::CopyOf;
using marlo::test::PatternImage;
using marlo::test::ProgressRecorder;
using marlo::test::SameBytes;
using marlo::test::Sample;

TEST(FocusGain, WorkedValues) {
  EXPECT_EQ(0, marlo::FocusGain(0));
  EXPECT_EQ(512, marlo::FocusGain(100));
  EXPECT_EQ(-256, marlo::FocusGain(-100));
  EXPECT_EQ(5, marlo::FocusGain(1));
  EXPECT_EQ(-2, marlo::FocusGain(-1));  // -2.56 truncated toward zero
  EXPECT_EQ(167767, marlo::FocusGain(32767));
  EXPECT_EQ(-83886, marlo::FocusGain(-32768));
  EXPECT_EQ(7936, marlo::FocusGain(1550));
  EXPECT_EQ(-8192, marlo::FocusGain(-3200));
}

TEST(FocusGain, OnlyTheLowHalfOfTheArgumentCounts) {
  EXPECT_EQ(100, marlo::FocusStrengthFromArgument(100));
  EXPECT_EQ(-100, marlo::FocusStrengthFromArgument(-100));
  EXPECT_EQ(-1, marlo::FocusStrengthFromArgument(0x0001FFFF));
  EXPECT_EQ(100, marlo::FocusStrengthFromArgument(0x7FFF0064));
  EXPECT_EQ(0, marlo::FocusStrengthFromArgument(INT32_MIN));
  EXPECT_EQ(-32768, marlo::FocusStrengthFromArgument(0x8000));
  EXPECT_EQ(32767, marlo::FocusStrengthFromArgument(0x7FFF));
}

// The filter written out sample by sample from the stored bytes, in 64-bit arithmetic.
uint32_t Expected(const Kasa& in, int32_t x, int32_t y, int s, int32_t strength) {
  const int bits = in.GetBitCount();
  const int64_t max = (bits == 16 || bits == 48) ? 65535 : 255;
  const int32_t w = in.GetImageWidth(), h = in.GetImageHeight();
  const uint32_t c = Sample(in, x, y, s);
  if (x == 0 || x == w - 1) return c;
  const int64_t k = strength >= 0 ? int64_t{strength} * 2048 / 400 : int64_t{strength} * 1024 / 400;
  const int32_t yu = y > 0 ? y - 1 : y;
  const int32_t yd = y < h - 1 ? y + 1 : y;
  const int64_t lap = 4 * int64_t{c} - Sample(in, x - 1, y, s) - Sample(in, x + 1, y, s) -
                      Sample(in, x, yu, s) - Sample(in, x, yd, s);
  const int64_t v = int64_t{c} * 1024 + lap * k + 512;
  if (v < 0) return 0;
  if (v > max * 1024) return static_cast<uint32_t>(max);
  return static_cast<uint32_t>(v / 1024);
}

void ExpectFocused(const Kasa& in, const Kasa& out, int32_t strength) {
  const int bits = in.GetBitCount();
  const int spp = (bits == 24 || bits == 48) ? 3 : 1;
  for (int32_t y = 0; y < in.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < in.GetImageWidth(); ++x) {
      for (int s = 0; s < spp; ++s) {
        ASSERT_EQ(Expected(in, x, y, s, strength), Sample(out, x, y, s))
            << "type " << in.GetImageType() << " size " << in.GetImageWidth() << "x"
            << in.GetImageHeight() << " strength " << strength << " at " << x << "," << y << "/"
            << s;
      }
    }
  }
}

TEST(ImageFocus, WorkedPixels) {
  for (int32_t strength : {100, -100}) {
    auto src = marlo::test::MakeImage(ImageType::Gray8, 3, 3);
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t x = 0; x < 3; ++x) src->SetPixel(x, y, 80);
    }
    src->SetPixel(1, 1, 100);
    auto dst = marlo::test::MakeImage(ImageType::Gray8, 3, 3);
    ASSERT_EQ(1, ImageFocus(src.get(), dst.get(), strength, nullptr, 0, 100));
    EXPECT_EQ(strength > 0 ? 140u : 80u, dst->GetPixel(1, 1, nullptr));
    // Row 0's middle pixel: itself above, 100 below: L = 320 - 80 - 80 - 80 - 100 = -20.
    EXPECT_EQ(strength > 0 ? 70u : 85u, dst->GetPixel(1, 0, nullptr));
    for (int32_t y = 0; y < 3; ++y) {
      EXPECT_EQ(80u, dst->GetPixel(0, y, nullptr));
      EXPECT_EQ(80u, dst->GetPixel(2, y, nullptr));
    }
  }
}

TEST(ImageFocus, ClampsAtBothEnds) {
  auto src = marlo::test::MakeImage(ImageType::Rgb48, 3, 1);
  for (int s = 0; s < 3; ++s) {
    marlo::test::SetSample(*src, 0, 0, s, 0);
    marlo::test::SetSample(*src, 1, 0, s, s == 0 ? 40000 : 100);
    marlo::test::SetSample(*src, 2, 0, s, s == 0 ? 0 : 65535);
  }
  auto dst = marlo::test::MakeImage(ImageType::Rgb48, 3, 1);
  ASSERT_EQ(1, ImageFocus(src.get(), dst.get(), 100, nullptr, 0, 100));
  EXPECT_EQ(65535u, Sample(*dst, 1, 0, 0));  // 40000 + 0.5 * 80000 is above the maximum
  EXPECT_EQ(0u, Sample(*dst, 1, 0, 1));      // 100 + 0.5 * (200 - 65535) is below 0
}

TEST(ImageFocus, WholeImagesOfEveryTypeShapeAndStrength) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 4}, {2, 3}, {3, 1}, {5, 2}, {33, 3}, {4, 7}};
  const int32_t strengths[] = {0, 1, -1, 37, 100, -100, 1550, 1551, -3200, -3201, 32767, -32768};
  uint32_t salt = 1;
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : sizes) {
      for (int32_t strength : strengths) {
        auto src = PatternImage(type, size[0], size[1], ++salt);
        auto before = CopyOf(*src);
        auto dst = PatternImage(type, size[0], size[1], ++salt);
        ASSERT_EQ(1, ImageFocus(src.get(), dst.get(), strength, nullptr, 0, 100));
        EXPECT_TRUE(SameBytes(*before, *src));
        ExpectFocused(*src, *dst, strength);
        // In place gives the same samples.
        ASSERT_EQ(1, ImageFocus(src.get(), src.get(), strength, nullptr, 0, 100));
        ExpectFocused(*before, *src, strength);
      }
    }
  }
}

// Every row of every width up to 40 (each vector body and tail of the row kernels), at the
// strengths where the kernel form changes: 8-bit 16-bit lanes up to 6199 and down to -12000,
// 16-bit single products up to 1600 and down to -3200. Besides the pattern, a checkerboard of
// 0 and the maximum gives the largest Laplacians the kernels must hold.
TEST(ImageFocus, KernelFormBoundariesAndVectorTails) {
  const int32_t strengths[] = {80, -100, 1600, 1601, 6199, 6200, -12000, -12001, 32767};
  uint32_t salt = 500;
  for (ImageType type : marlo::test::kAllTypes) {
    const bool wide = type == ImageType::Rgb48 || type == ImageType::Gray16;
    const int spp = (type == ImageType::Rgb24 || type == ImageType::Rgb48) ? 3 : 1;
    for (int32_t width = 1; width <= 40; ++width) {
      for (int32_t strength : strengths) {
        auto src = PatternImage(type, width, 3, ++salt);
        if (strength % 2 == 0) {
          for (int32_t y = 0; y < 3; ++y) {
            for (int32_t x = 0; x < width; ++x) {
              for (int s = 0; s < spp; ++s) {
                marlo::test::SetSample(*src, x, y, s,
                                       (x + y + s) % 2 == 0 ? 0 : (wide ? 65535 : 255));
              }
            }
          }
        }
        auto before = CopyOf(*src);
        auto dst = PatternImage(type, width, 3, ++salt);
        ASSERT_EQ(1, ImageFocus(src.get(), dst.get(), strength, nullptr, 0, 100));
        ExpectFocused(*src, *dst, strength);
        ASSERT_EQ(1, ImageFocus(src.get(), src.get(), strength, nullptr, 0, 100));
        ExpectFocused(*before, *src, strength);
      }
    }
  }
}

// The 16-bit rounded product against the floored quotient over its whole domain.
TEST(ImageFocus, RoundedLowProductOverItsDomain) {
  for (int32_t laplacian = -1020; laplacian <= 1020; ++laplacian) {
    for (int32_t kl = 0; kl < 1024; ++kl) {
      const int64_t n = int64_t{laplacian} * kl + 512;
      const int64_t floored = n >= 0 ? n / 1024 : -((-n + 1023) / 1024);
      ASSERT_EQ(floored,
                marlo::RoundedLowProduct(static_cast<int16_t>(laplacian), static_cast<int16_t>(kl)))
          << laplacian << " " << kl;
    }
  }
}

TEST(ImageFocus, SixteenBitPaddingIsWrittenAsZero) {
  for (ImageType type : {ImageType::Rgb48, ImageType::Gray16}) {
    auto src = PatternImage(type, 3, 3, 8);
    auto dst = PatternImage(type, 3, 3, 9);
    ASSERT_EQ(1, ImageFocus(src.get(), dst.get(), 50, nullptr, 0, 100));
    const size_t used = static_cast<size_t>(3) * (type == ImageType::Rgb48 ? 6 : 2);
    ASSERT_LT(used, static_cast<size_t>(dst->GetLineBytes()));
    for (int32_t y = 0; y < 3; ++y) {
      for (size_t i = used; i < static_cast<size_t>(dst->GetLineBytes()); ++i) {
        EXPECT_EQ(0, dst->RowData(y)[i]);
      }
    }
  }
}

TEST(ImageFocus, ProgressAfterEachWrittenRow) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 5, 50, 5);
    auto dst = PatternImage(type, 5, 50, 6);
    ProgressRecorder recorder;
    ASSERT_EQ(1, ImageFocus(src.get(), dst.get(), 60, &ProgressRecorder::Callback, 0, 100));
    std::vector<int32_t> expected{0};
    for (int i = 1; i <= 99; i += 2) expected.push_back(i);
    expected.push_back(100);
    EXPECT_EQ(expected, recorder.values());
    for (const auto& call : recorder.calls()) {
      EXPECT_EQ(0, call.start);
      EXPECT_EQ(100, call.end);
    }
  }
  // A range shorter than the image: step (25 - 20 - 1) / 8 = 0.5, a report every other row.
  auto src = PatternImage(ImageType::Gray8, 3, 8, 5);
  auto dst = PatternImage(ImageType::Gray8, 3, 8, 6);
  ProgressRecorder recorder;
  ASSERT_EQ(1, ImageFocus(src.get(), dst.get(), 60, &ProgressRecorder::Callback, 20, 25));
  EXPECT_EQ((std::vector<int32_t>{20, 21, 22, 23, 25}), recorder.values());
}

TEST(ImageFocus, AbortOnTheFirstRowReport) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 6, 50, 5);
    auto full = PatternImage(type, 6, 50, 6);
    ASSERT_EQ(1, ImageFocus(src.get(), full.get(), 60, nullptr, 0, 100));
    auto dst = PatternImage(type, 6, 50, 7);
    auto before = CopyOf(*dst);
    ProgressRecorder recorder(2);
    EXPECT_EQ(0, ImageFocus(src.get(), dst.get(), 60, &ProgressRecorder::Callback, 0, 100));
    EXPECT_EQ((std::vector<int32_t>{0, 1}), recorder.values());
    const auto bytes = static_cast<size_t>(6 * dst->GetBitCount() / 8);  // the pixels of a row
    EXPECT_EQ(0, std::memcmp(full->RowData(0), dst->RowData(0), bytes));
    for (int32_t y = 1; y < 50; ++y) {
      ASSERT_EQ(0, std::memcmp(before->RowData(y), dst->RowData(y), bytes));
    }
  }
}

TEST(ImageFocus, RefusalsWriteNothing) {
  auto* cb = &ProgressRecorder::Callback;
  auto src = PatternImage(ImageType::Rgb24, 4, 3, 1);
  const std::unique_ptr<Kasa> wrong[] = {
      PatternImage(ImageType::Rgb24, 5, 3, 2), PatternImage(ImageType::Rgb24, 4, 2, 2),
      PatternImage(ImageType::Gray8, 4, 3, 2), PatternImage(ImageType::Rgb48, 4, 3, 2)};
  for (const auto& dst : wrong) {
    auto before = CopyOf(*dst);
    ProgressRecorder recorder;
    EXPECT_EQ(0, ImageFocus(src.get(), dst.get(), 50, cb, 10, 90));
    EXPECT_TRUE(SameBytes(*before, *dst));
    EXPECT_EQ((std::vector<int32_t>{10}), recorder.values());  // only the opening report
  }
  {
    Kasa empty;
    ProgressRecorder recorder;
    EXPECT_EQ(0, ImageFocus(src.get(), &empty, 50, cb, 10, 90));
    EXPECT_EQ(1, empty.IsEmpty());
    EXPECT_EQ(0, ImageFocus(src.get(), nullptr, 50, cb, 10, 90));
    EXPECT_EQ((std::vector<int32_t>{10, 10}), recorder.values());
  }
  {
    // The export tests the type itself: nothing is reported for a null or empty source.
    Kasa empty;
    auto dst = PatternImage(ImageType::Rgb24, 4, 3, 2);
    ProgressRecorder recorder;
    EXPECT_EQ(0, ImageFocus(nullptr, dst.get(), 50, cb, 10, 90));
    EXPECT_EQ(0, ImageFocus(&empty, dst.get(), 50, cb, 10, 90));
    EXPECT_TRUE(recorder.calls().empty());
  }
  {
    // A function called with a type that is not its own reports the opening value only.
    auto wide = PatternImage(ImageType::Rgb48, 4, 3, 1);
    auto before = CopyOf(*wide);
    ProgressRecorder recorder;
    EXPECT_EQ(Status::Refused, marlo::FocusImage8(wide.get(), wide.get(), 50, cb, 3, 9));
    EXPECT_EQ(Status::Refused, marlo::FocusImage16(src.get(), src.get(), 50, cb, 3, 9));
    EXPECT_EQ(Status::Refused, marlo::FocusImage16(nullptr, src.get(), 50, cb, 3, 9));
    EXPECT_TRUE(SameBytes(*before, *wide));
    EXPECT_EQ((std::vector<int32_t>{3, 3, 3}), recorder.values());
  }
}

}  // namespace
