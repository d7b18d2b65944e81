// Contrast and brightness: the tone line's exact entries, whole images of every type against a
// plainly written reference, progress, abort, the busy hook and the refusals.
#include <cmath>

#include "test_support.h"
#include "tone/cb_enhancement.h"

namespace {

using marlo::Depth16;
using marlo::Depth8;
using marlo::test::CopyOf;
using marlo::test::PatternImage;
using marlo::test::SameBytes;

std::vector<uint8_t> Table8(int32_t c, int32_t b) {
  std::vector<uint8_t> t(256);
  marlo::BuildToneLine<Depth8>(c, b, t.data());
  return t;
}

std::vector<uint16_t> Table16(int32_t c, int32_t b) {
  std::vector<uint16_t> t(65536);
  marlo::BuildToneLine<Depth16>(c, b, t.data());
  return t;
}

TEST(ToneLine, NeutralSettingsGiveTheIdentityAtBothWidths) {
  const auto t8 = Table8(0, 0);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(i, t8[i]);
  const auto t16 = Table16(0, 0);
  for (int i = 0; i < 65536; ++i) ASSERT_EQ(i, t16[i]);
}

TEST(ToneLine, WorkedEightBitEntries) {
  auto t = Table8(0, 50);
  EXPECT_EQ(128, t[0]);
  EXPECT_EQ(129, t[1]);
  EXPECT_EQ(191, t[64]);
  EXPECT_EQ(254, t[127]);
  for (int i = 128; i < 256; ++i) EXPECT_EQ(255, t[i]);

  t = Table8(50, 0);
  for (int i = 0; i <= 73; ++i) EXPECT_EQ(0, t[i]) << i;
  EXPECT_NE(0, t[74]);
  EXPECT_EQ(126, t[127]);
  EXPECT_EQ(129, t[128]);
  EXPECT_GT(255, t[181]);
  for (int i = 182; i < 256; ++i) EXPECT_EQ(255, t[i]);

  t = Table8(-50, 0);
  EXPECT_EQ(73, t[0]);
  EXPECT_EQ(127, t[127]);
  EXPECT_EQ(128, t[128]);
  EXPECT_EQ(182, t[255]);

  t = Table8(-100, 0);
  for (int i = 0; i < 256; ++i) {
    EXPECT_LE(125, t[i]);
    EXPECT_GE(130, t[i]);
  }
  EXPECT_EQ(125, t[0]);
  EXPECT_EQ(130, t[255]);

  const auto black = Table8(0, -100);
  const auto white = Table8(0, 100);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(0, black[i]);
    EXPECT_EQ(255, white[i]);
  }
}

TEST(ToneLine, ContrastBeyondNinetyDegreesFalls) {
  const auto t = Table8(103, 0);
  EXPECT_EQ(255, t[0]);
  EXPECT_EQ(217, t[127]);
  EXPECT_EQ(38, t[128]);
  EXPECT_EQ(0, t[192]);
  EXPECT_EQ(0, t[255]);
}

// The tone line written out directly, as an independent check of the table and the workers.
int32_t Reference(int32_t c, int32_t b, int32_t i, bool wide) {
  const double t = std::tan((c * 0.44 + 45.0) * (3.14159 / 180.0));
  const double k1 = wide ? 327.675 : 1.275;
  const double k2 = wide ? 32767.5 : 127.5;
  const double max = wide ? 65535.0 : 255.0;
  const double v = i * t + ((t + 1.0) * b * k1 + (1.0 - t) * k2) + 0.5;
  return v < 0.0 ? 0 : (v > max ? static_cast<int32_t>(max) : static_cast<int32_t>(v));
}

TEST(ToneLine, MatchesTheFormulaAcrossSettings) {
  for (int32_t c : {-100, -37, -1, 0, 1, 25, 77, 100}) {
    for (int32_t b : {-100, -13, 0, 7, 100}) {
      const auto t8 = Table8(c, b);
      for (int i = 0; i < 256; ++i) ASSERT_EQ(Reference(c, b, i, false), t8[i]) << c << " " << b;
      const auto t16 = Table16(c, b);
      for (int i = 0; i < 65536; i += 7) ASSERT_EQ(Reference(c, b, i, true), t16[i]);
    }
  }
}

struct Settings {
  int32_t contrast[3];
  int32_t brightness[3];
};

// Checks every sample of `out` against the reference mapping of `in`; padding bytes are copied
// through unchanged on 16-bit rows.
void ExpectMapped(const Kasa& in, const Kasa& out, const Settings& s) {
  const bool wide = in.GetBitCount() == 16 || in.GetBitCount() == 48;
  const int spp = (in.GetBitCount() == 24 || in.GetBitCount() == 48) ? 3 : 1;
  for (int32_t y = 0; y < in.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < in.GetImageWidth(); ++x) {
      for (int k = 0; k < spp; ++k) {
        const int channel = spp == 3 ? 2 - k : 0;  // stored blue, green, red
        const int32_t expected =
            Reference(s.contrast[channel], s.brightness[channel],
                      static_cast<int32_t>(marlo::test::Sample(in, x, y, k)), wide);
        ASSERT_EQ(static_cast<uint32_t>(expected), marlo::test::Sample(out, x, y, k))
            << "x " << x << " y " << y << " sample " << k;
      }
    }
  }
  if (wide) {
    ASSERT_TRUE(marlo::test::SamePadding(in, out));
  }
}

TEST(CBEnhancement, WholeImagesOfEveryTypeAndShape) {
  const Settings s = {{30, -20, 7}, {10, 0, -15}};
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 4}, {2, 2}, {5, 1}, {33, 3}};
  for (ImageType type : marlo::test::kAllTypes) {
    for (const auto& size : sizes) {
      auto src = PatternImage(type, size[0], size[1], 17);
      auto before = CopyOf(*src);
      Kasa dst;
      EXPECT_EQ(1, CBEnhancement(src.get(), &dst, s.contrast, s.brightness, nullptr, 0, 100));
      EXPECT_TRUE(SameBytes(*before, *src));  // the source is not touched
      ExpectMapped(*src, dst, s);

      // In place gives the same result.
      EXPECT_EQ(1, CBEnhancement(src.get(), src.get(), s.contrast, s.brightness, nullptr, 0, 100));
      ExpectMapped(*before, *src, s);
    }
  }
}

TEST(CBEnhancement, GreyImagesUseTheRedValuesOnly) {
  for (ImageType type : {ImageType::Gray8, ImageType::Gray16}) {
    auto src = PatternImage(type, 9, 4, 3);
    Kasa a, b;
    const int32_t c1[3] = {40, 0, 0}, b1[3] = {-10, 0, 0};
    const int32_t c2[3] = {40, -90, 100}, b2[3] = {-10, 100, -100};
    EXPECT_EQ(1, CBEnhancement(src.get(), &a, c1, b1, nullptr, 0, 0));
    EXPECT_EQ(1, CBEnhancement(src.get(), &b, c2, b2, nullptr, 0, 0));
    EXPECT_TRUE(SameBytes(a, b));
  }
}

TEST(CBEnhancement, WorkedPixelBrightensRedOnly) {
  auto src = marlo::test::MakeImage(ImageType::Rgb24, 1, 1);
  src->SetPixelRGB(0, 0, 30 << 16 | 20 << 8 | 10);
  const int32_t contrast[3] = {0, 0, 0}, brightness[3] = {50, 0, 0};
  Kasa dst;
  ASSERT_EQ(1, CBEnhancement(src.get(), &dst, contrast, brightness, nullptr, 0, 100));
  EXPECT_EQ(static_cast<uint32_t>(158 << 16 | 20 << 8 | 10), dst.GetPixelRGB(0, 0, nullptr));
}

TEST(CBEnhancement, ProgressAfterEachWrittenRowAndAbort) {
  const int32_t contrast[3] = {20, 20, 20}, brightness[3] = {0, 0, 0};
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 4, 50, 5);
    Kasa dst;
    {
      marlo::test::ProgressRecorder recorder;
      EXPECT_EQ(1, CBEnhancement(src.get(), &dst, contrast, brightness,
                                 &marlo::test::ProgressRecorder::Callback, 0, 100));
      ASSERT_EQ(52u, recorder.values().size());
      EXPECT_EQ(0, recorder.values().front());
      EXPECT_EQ(99, recorder.values()[50]);
      EXPECT_EQ(100, recorder.values().back());
      for (const auto& call : recorder.calls()) {
        EXPECT_EQ(0, call.start);
        EXPECT_EQ(100, call.end);
      }
    }
    // Abort on the first per-row report: row 0 is written, the others keep the destination's
    // content, and the export still returns 1.
    auto dst2 = PatternImage(type, 4, 50, 6);
    auto dst2Before = CopyOf(*dst2);
    marlo::test::ProgressRecorder aborting(2);
    EXPECT_EQ(1, CBEnhancement(src.get(), dst2.get(), contrast, brightness,
                               &marlo::test::ProgressRecorder::Callback, 0, 100));
    EXPECT_EQ((std::vector<int32_t>{0, 1}), aborting.values());
    EXPECT_EQ(
        0, std::memcmp(dst.RowData(0), dst2->RowData(0), static_cast<size_t>(dst.GetLineBytes())));
    for (int32_t y = 1; y < 50; ++y) {
      ASSERT_EQ(0, std::memcmp(dst2Before->RowData(y), dst2->RowData(y),
                               static_cast<size_t>(dst.GetLineBytes())));
    }
  }
}

TEST(CBEnhancement, BusyHookAroundTheWork) {
  marlo::test::BusyRecorder busy;
  auto src = PatternImage(ImageType::Rgb24, 3, 3, 1);
  Kasa dst;
  const int32_t zero[3] = {0, 0, 0};
  EXPECT_EQ(1, CBEnhancement(src.get(), &dst, zero, zero, nullptr, 0, 100));
  EXPECT_EQ((std::vector<int>{1, 0}), marlo::test::BusyRecorder::Calls());
  marlo::test::BusyRecorder::Calls().clear();
  EXPECT_EQ(0, CBEnhancement(nullptr, &dst, zero, zero, nullptr, 0, 100));
  EXPECT_TRUE(marlo::test::BusyRecorder::Calls().empty());
}

TEST(CBEnhancement, RefusalsWriteNothing) {
  const int32_t zero[3] = {0, 0, 0};
  auto src = PatternImage(ImageType::Rgb24, 4, 3, 1);
  auto dst = PatternImage(ImageType::Rgb24, 4, 4, 2);  // other height
  auto dstBefore = CopyOf(*dst);
  marlo::test::ProgressRecorder recorder;
  auto* cb = &marlo::test::ProgressRecorder::Callback;
  EXPECT_EQ(0, CBEnhancement(src.get(), dst.get(), zero, zero, cb, 0, 100));
  EXPECT_TRUE(SameBytes(*dstBefore, *dst));
  auto grey = PatternImage(ImageType::Gray8, 4, 3, 2);
  EXPECT_EQ(0, CBEnhancement(src.get(), grey.get(), zero, zero, cb, 0, 100));  // other type
  Kasa empty, emptyDst;
  EXPECT_EQ(0, CBEnhancement(&empty, &emptyDst, zero, zero, cb, 0, 100));
  EXPECT_EQ(1, emptyDst.IsEmpty());
  EXPECT_EQ(0, CBEnhancement(nullptr, dst.get(), zero, zero, cb, 0, 100));
  EXPECT_EQ(0, CBEnhancement(src.get(), nullptr, zero, zero, cb, 0, 100));
  EXPECT_EQ(0, CBEnhancement(src.get(), &emptyDst, nullptr, zero, cb, 0, 100));
  EXPECT_EQ(0, CBEnhancement(src.get(), &emptyDst, zero, nullptr, cb, 0, 100));
  EXPECT_EQ(1, emptyDst.IsEmpty());
  EXPECT_TRUE(recorder.calls().empty());
}

TEST(CBEnhancement, UnsupportedTypeIsRefusedBeforeAnything) {
  // A store object whose type is none of the four cannot be made through CreateImage; an empty
  // image reports type 0 and is refused like any unsupported type.
  Kasa empty;
  Kasa dst;
  const int32_t zero[3] = {0, 0, 0};
  EXPECT_EQ(0, CBEnhancement(&empty, &dst, zero, zero, nullptr, 0, 100));
}

}  // namespace
