// Auto enhancement: the composition of auto exposure and in-place image focus, the split of the
// progress range, in-place runs, the stop after a refused exposure and an abort while sharpening.
#include "tone/auto_enhancement.h"
#include "test_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::Mix;
using marlo::test::PatternImage;
using marlo::test::ProgressCall;
using marlo::test::ProgressRecorder;
using marlo::test::SameBytes;
using marlo::test::Sample;
using marlo::test::SetSample;

int Spp(const Kasa& image) {
  return image.GetBitCount() == 24 || image.GetBitCount() == 48 ? 3 : 1;
}

// Samples in lo..hi: a narrow range, which the exposure step stretches.
std::unique_ptr<Kasa> NarrowImage(ImageType type, int32_t w, int32_t h, uint32_t salt) {
  const bool wide = type == ImageType::Rgb48 || type == ImageType::Gray16;
  const uint32_t lo = wide ? 10000 : 40, hi = wide ? 50000 : 200;
  auto image = PatternImage(type, w, h, salt);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      for (int s = 0; s < Spp(*image); ++s)
        SetSample(*image, x, y, s,
                  lo + Mix(salt + static_cast<uint32_t>(y * w * 3 + x * 3 + s)) % (hi - lo));
  return image;
}

// Every sample of the two images (padding aside).
bool SameSamples(const Kasa& a, const Kasa& b) {
  if (a.GetImageType() != b.GetImageType() || a.GetImageWidth() != b.GetImageWidth() ||
      a.GetImageHeight() != b.GetImageHeight())
    return false;
  for (int32_t y = 0; y < a.GetImageHeight(); ++y)
    for (int32_t x = 0; x < a.GetImageWidth(); ++x)
      for (int s = 0; s < Spp(a); ++s)
        if (Sample(a, x, y, s) != Sample(b, x, y, s)) return false;
  return true;
}

TEST(AutoEnhancement, SplitPoint) {
  EXPECT_EQ(50, marlo::EnhancementSplit(0, 100));
  EXPECT_EQ(30, marlo::EnhancementSplit(40, 100));  // half the length, not start plus half
  EXPECT_EQ(49, marlo::EnhancementSplit(0, 99));
  EXPECT_EQ(-49, marlo::EnhancementSplit(99, 0));  // truncated toward zero
  EXPECT_EQ(2147483647, marlo::EnhancementSplit(INT32_MIN, INT32_MAX));
  EXPECT_EQ(-2147483647, marlo::EnhancementSplit(INT32_MAX, INT32_MIN));
}

TEST(AutoEnhancement, IsExposureThenFocusInPlace) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {2, 3}, {5, 1}, {12, 10}};
  uint32_t salt = 3;
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : sizes) {
      for (float exposure : {1.0f, 0.0f, 0.42f}) {
        for (int32_t focus : {0, 80, -60, 0x10050}) {  // 0x10050: the low half, 80, counts
          auto src = NarrowImage(type, size[0], size[1], ++salt);
          auto before = CopyOf(*src);
          // The two exports one after the other.
          auto expected = PatternImage(type, size[0], size[1], ++salt);
          ASSERT_EQ(1, AutoExposure(src.get(), expected.get(), 1, exposure, nullptr, 0, 100));
          ASSERT_EQ(1, ImageFocus(expected.get(), expected.get(), focus, nullptr, 0, 100));

          auto dst = PatternImage(type, size[0], size[1], ++salt);
          ASSERT_EQ(1, AutoEnhancement(src.get(), dst.get(), exposure, focus, nullptr, 0, 100));
          EXPECT_TRUE(SameBytes(*before, *src));
          EXPECT_TRUE(SameSamples(*expected, *dst)) << static_cast<int>(type) << " " << focus;
          // The same image as source and destination.
          ASSERT_EQ(1, AutoEnhancement(src.get(), src.get(), exposure, focus, nullptr, 0, 100));
          EXPECT_TRUE(SameSamples(*expected, *src));
        }
      }
    }
  }
}

TEST(AutoEnhancement, FocusZeroEqualsAutoExposureWithUseStrength) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = NarrowImage(type, 9, 6, 77);
    auto a = PatternImage(type, 9, 6, 1);
    auto b = PatternImage(type, 9, 6, 2);
    ASSERT_EQ(1, AutoExposure(src.get(), a.get(), 1, 0.7f, nullptr, 0, 100));
    ASSERT_EQ(1, AutoEnhancement(src.get(), b.get(), 0.7f, 0, nullptr, 0, 100));
    EXPECT_TRUE(SameSamples(*a, *b));
  }
}

std::vector<ProgressCall> Focus(int32_t start, int32_t end, int32_t rows) {
  // The per-row protocol over (start, end) for `rows` rows, written out.
  std::vector<ProgressCall> calls{{start, end, start}};
  float acc = static_cast<float>(start);
  const float step =
      static_cast<float>(static_cast<float>(end - start - 1) / static_cast<float>(rows));
  int32_t position = start;
  for (int32_t r = 0; r < rows; ++r) {
    acc = acc + step;
    if (static_cast<float>(position + 1) < acc) {
      position = std::min(end, static_cast<int32_t>(acc));
      calls.push_back({start, end, position});
    }
  }
  if (position != end) calls.push_back({start, end, end});
  return calls;
}

TEST(AutoEnhancement, ProgressSplitsTheRange) {
  {
    auto src = NarrowImage(ImageType::Rgb24, 6, 20, 5);
    auto dst = CopyOf(*src);
    ProgressRecorder recorder;
    ASSERT_EQ(1,
              AutoEnhancement(src.get(), dst.get(), 1.0f, 50, &ProgressRecorder::Callback, 0, 100));
    std::vector<ProgressCall> expected{{0, 50, 0},  {0, 50, 5},  {0, 50, 20}, {0, 50, 25},
                                       {0, 50, 30}, {0, 50, 45}, {0, 50, 50}};
    for (const auto& c : Focus(50, 100, 20)) expected.push_back(c);
    EXPECT_EQ(expected, recorder.calls());
  }
  {
    // Start 40: the split point is 30, so the exposure step reports over (40, 30).
    auto src = NarrowImage(ImageType::Gray16, 6, 7, 5);
    auto dst = CopyOf(*src);
    ProgressRecorder recorder;
    ASSERT_EQ(
        1, AutoEnhancement(src.get(), dst.get(), 0.0f, -50, &ProgressRecorder::Callback, 40, 100));
    std::vector<ProgressCall> expected{{40, 30, 0},  {40, 30, 3},  {40, 30, 12},
                                       {40, 30, 18}, {40, 30, 27}, {40, 30, 30}};
    for (const auto& c : Focus(30, 100, 7)) expected.push_back(c);
    EXPECT_EQ(expected, recorder.calls());
  }
}

TEST(AutoEnhancement, AbortWhileSharpening) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = NarrowImage(type, 5, 30, 9);
    auto exposed = PatternImage(type, 5, 30, 1);
    ASSERT_EQ(1, AutoExposure(src.get(), exposed.get(), 1, 1.0f, nullptr, 0, 100));
    auto sharpened = CopyOf(*exposed);
    ASSERT_EQ(1, ImageFocus(sharpened.get(), sharpened.get(), 70, nullptr, 0, 100));
    auto dst = PatternImage(type, 5, 30, 2);
    // The exposure step makes 7 calls for a stretched 8-bit image and 6 for a 16-bit one (its
    // answers are ignored); then the sharpening opens, and the next call follows its first row.
    const bool wide = type == ImageType::Rgb48 || type == ImageType::Gray16;
    const int opening = wide ? 7 : 8;
    ProgressRecorder recorder(opening + 1);
    EXPECT_EQ(0,
              AutoEnhancement(src.get(), dst.get(), 1.0f, 70, &ProgressRecorder::Callback, 0, 100));
    ASSERT_EQ(static_cast<size_t>(opening + 1), recorder.calls().size());
    EXPECT_EQ((ProgressCall{50, 100, 50}), recorder.calls()[static_cast<size_t>(opening - 1)]);
    EXPECT_EQ((ProgressCall{50, 100, 51}), recorder.calls().back());
    // Row 0 sharpened, the other rows hold the exposure only.
    auto rowOf = [](const Kasa& image, int32_t y) {
      std::vector<uint32_t> v;
      for (int32_t x = 0; x < image.GetImageWidth(); ++x)
        for (int s = 0; s < Spp(image); ++s) v.push_back(Sample(image, x, y, s));
      return v;
    };
    EXPECT_EQ(rowOf(*sharpened, 0), rowOf(*dst, 0));
    for (int32_t y = 1; y < 30; ++y) ASSERT_EQ(rowOf(*exposed, y), rowOf(*dst, y));
  }
}

TEST(AutoEnhancement, ARefusedExposureStopsTheCall) {
  auto* cb = &ProgressRecorder::Callback;
  auto src = NarrowImage(ImageType::Rgb24, 6, 5, 2);
  const std::unique_ptr<Kasa> wrong[] = {PatternImage(ImageType::Rgb24, 6, 4, 1),
                                         PatternImage(ImageType::Rgb48, 6, 5, 1),
                                         PatternImage(ImageType::Gray8, 6, 5, 1)};
  for (const auto& dst : wrong) {
    auto before = CopyOf(*dst);
    ProgressRecorder recorder;
    EXPECT_EQ(0, AutoEnhancement(src.get(), dst.get(), 1.0f, 50, cb, 0, 100));
    EXPECT_TRUE(SameBytes(*before, *dst));
    EXPECT_EQ((std::vector<ProgressCall>{{0, 50, 0}}), recorder.calls());  // no sharpening
  }
  Kasa empty;
  ProgressRecorder recorder;
  EXPECT_EQ(0, AutoEnhancement(src.get(), &empty, 1.0f, 50, cb, 0, 100));
  EXPECT_EQ(1, empty.IsEmpty());
  EXPECT_EQ(0, AutoEnhancement(nullptr, src.get(), 1.0f, 50, cb, 0, 100));
  EXPECT_EQ(0, AutoEnhancement(&empty, src.get(), 1.0f, 50, cb, 0, 100));
  EXPECT_EQ(0, AutoEnhancement(src.get(), nullptr, 1.0f, 50, cb, 0, 100));
  EXPECT_EQ((std::vector<ProgressCall>{{0, 50, 0}, {0, 50, 0}}), recorder.calls());
}

}  // namespace
