// Saturation: whole images of both widths against the plainly written model, worked pixels,
// where the progress report falls, abort, the busy hook and the refusals.
#include "colour/saturation.h"

#include "colour/colour_model.h"
#include "colour_reference.h"
#include "test_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::PatternImage;
using marlo::test::SameBytes;

constexpr ImageType kColourTypes[] = {ImageType::Rgb24, ImageType::Rgb48};

// Checks every pixel of `out` against the reference scaling of `in`, and that the padding of
// 16-bit rows is carried through unchanged.
void ExpectSaturated(const Kasa& in, const Kasa& out, int p) {
  const bool wide = in.GetBitCount() == 48;
  for (int32_t y = 0; y < in.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < in.GetImageWidth(); ++x) {
      int r = static_cast<int>(marlo::test::Sample(in, x, y, 2));
      int g = static_cast<int>(marlo::test::Sample(in, x, y, 1));
      int b = static_cast<int>(marlo::test::Sample(in, x, y, 0));
      marlo::test::RefScaleSaturation(&r, &g, &b, p, wide);
      ASSERT_EQ(static_cast<uint32_t>(r), marlo::test::Sample(out, x, y, 2)) << x << "," << y;
      ASSERT_EQ(static_cast<uint32_t>(g), marlo::test::Sample(out, x, y, 1)) << x << "," << y;
      ASSERT_EQ(static_cast<uint32_t>(b), marlo::test::Sample(out, x, y, 0)) << x << "," << y;
    }
  }
  if (wide) {
    ASSERT_TRUE(marlo::test::SamePadding(in, out));
  }
}

// Sets some pixels grey and some to the worked colours so that every image has both.
void AddKnownPixels(Kasa& image) {
  const uint32_t k = image.GetBitCount() == 48 ? 257 : 1;
  for (int32_t y = 0; y < image.GetImageHeight(); y += 3) {
    for (int32_t x = y % 2; x < image.GetImageWidth(); x += 4) {
      const uint32_t v = marlo::test::Sample(image, x, y, 1);
      for (int s = 0; s < 3; ++s) marlo::test::SetSample(image, x, y, s, v);  // grey
    }
  }
  marlo::test::SetSample(image, 0, 0, 2, 200 * k);
  marlo::test::SetSample(image, 0, 0, 1, 100 * k);
  marlo::test::SetSample(image, 0, 0, 0, 100 * k);
}

TEST(Saturation, WholeImagesOfBothWidthsAndEveryShape) {
  const int32_t sizes[][2] = {{7, 5}, {1, 1}, {1, 4}, {2, 2}, {5, 1}, {2, 3}, {33, 3}};
  for (ImageType type : kColourTypes) {
    for (const auto& size : sizes) {
      for (int p : {-250, -100, -40, 0, 35, 100, 1000}) {
        auto src = PatternImage(type, size[0], size[1], 40 + static_cast<uint32_t>(p));
        AddKnownPixels(*src);
        auto before = CopyOf(*src);
        Kasa dst;
        ASSERT_EQ(1, Saturation(src.get(), &dst, p, nullptr, 0, 100));
        EXPECT_TRUE(SameBytes(*before, *src));  // the source is not touched
        ExpectSaturated(*src, dst, p);

        // In place gives the same result.
        ASSERT_EQ(1, Saturation(src.get(), src.get(), p, nullptr, 0, 100));
        EXPECT_TRUE(marlo::test::SamePixels(dst, *src));

        // Into an existing destination of the same geometry.
        auto existing = PatternImage(type, size[0], size[1], 99);
        ASSERT_EQ(1, Saturation(before.get(), existing.get(), p, nullptr, 0, 100));
        ExpectSaturated(*before, *existing, p);
      }
    }
  }
}

TEST(Saturation, ExtremeAmountsActAsFullScaling) {
  // INT32_MAX drives every coloured pixel to saturation 100 just as 20000 does; INT32_MIN
  // drives it to -100 just as -20000 does. The product S * amount must not overflow.
  for (ImageType type : kColourTypes) {
    auto src = PatternImage(type, 9, 4, 7);
    Kasa a, b;
    ASSERT_EQ(1, Saturation(src.get(), &a, INT32_MAX, nullptr, 0, 100));
    ExpectSaturated(*src, a, 20000);
    ASSERT_EQ(1, Saturation(src.get(), &b, INT32_MIN, nullptr, 0, 100));
    ExpectSaturated(*src, b, -20000);
  }
}

TEST(Saturation, WorkedPixels) {
  auto src = marlo::test::MakeImage(ImageType::Rgb24, 3, 1);
  src->SetPixelRGB(0, 0, 200u << 16 | 100u << 8 | 100u);
  src->SetPixelRGB(1, 0, 7u);  // (0, 0, 7)
  src->SetPixelRGB(2, 0, 10u << 16 | 10u << 8 | 10u);
  Kasa grey, same, vivid;
  ASSERT_EQ(1, Saturation(src.get(), &grey, -100, nullptr, 0, 100));
  EXPECT_EQ(150u << 16 | 150u << 8 | 150u, grey.GetPixelRGB(0, 0, nullptr));
  EXPECT_EQ(4u << 16 | 4u << 8 | 4u, grey.GetPixelRGB(1, 0, nullptr));
  EXPECT_EQ(10u << 16 | 10u << 8 | 10u, grey.GetPixelRGB(2, 0, nullptr));
  ASSERT_EQ(1, Saturation(src.get(), &same, 0, nullptr, 0, 100));
  // Through the model unchanged: m2 = 150 + (105 * 47 + 50) / 100 = 199, m1 = 101.
  EXPECT_EQ(199u << 16 | 101u << 8 | 101u, same.GetPixelRGB(0, 0, nullptr));
  EXPECT_EQ(8u, same.GetPixelRGB(1, 0, nullptr));  // the model's rounding: 7 becomes 8
  ASSERT_EQ(1, Saturation(src.get(), &vivid, 1000, nullptr, 0, 100));
  EXPECT_EQ(255u << 16 | 45u << 8 | 45u, vivid.GetPixelRGB(0, 0, nullptr));  // S held at 100
  // Below -100 the saturation turns negative and the anchors swap: (102, 198, 198).
  Kasa inverted;
  ASSERT_EQ(1, Saturation(src.get(), &inverted, -200, nullptr, 0, 100));
  EXPECT_EQ(102u << 16 | 198u << 8 | 198u, inverted.GetPixelRGB(0, 0, nullptr));
}

TEST(Saturation, SixteenBitSamplesKeepTheirByteOrder) {
  // Samples that differ in their low byte: (0xC812, 0x6434, 0x6401) as red, green, blue.
  auto src = marlo::test::MakeImage(ImageType::Rgb48, 1, 1);
  marlo::test::SetSample(*src, 0, 0, 2, 0xC812);
  marlo::test::SetSample(*src, 0, 0, 1, 0x6434);
  marlo::test::SetSample(*src, 0, 0, 0, 0x6401);
  Kasa dst;
  ASSERT_EQ(1, Saturation(src.get(), &dst, -100, nullptr, 0, 100));
  // L = (0xC812 + 0x6401 + 1) / 2 = (51218 + 25601 + 1) / 2 = 38410.
  for (int s = 0; s < 3; ++s) EXPECT_EQ(38410u, marlo::test::Sample(dst, 0, 0, s));
}

TEST(Saturation, GreyPixelsNeverChange) {
  for (ImageType type : kColourTypes) {
    auto src = PatternImage(type, 6, 5, 3);
    for (int32_t y = 0; y < 5; ++y) {
      for (int32_t x = 0; x < 6; ++x) {
        const uint32_t v = marlo::test::Sample(*src, x, y, 0);
        marlo::test::SetSample(*src, x, y, 1, v);
        marlo::test::SetSample(*src, x, y, 2, v);
      }
    }
    for (int32_t p : {INT32_MIN, -100, 0, 77, INT32_MAX}) {
      Kasa dst;
      ASSERT_EQ(1, Saturation(src.get(), &dst, p, nullptr, 0, 100));
      EXPECT_TRUE(marlo::test::SamePixels(*src, dst));
    }
  }
}

TEST(Saturation, ProgressAfterReadingAndAbortBeforeWriting) {
  for (ImageType type : kColourTypes) {
    auto src = PatternImage(type, 5, 50, 5);
    Kasa full;
    {
      marlo::test::ProgressRecorder recorder;
      ASSERT_EQ(1,
                Saturation(src.get(), &full, 60, &marlo::test::ProgressRecorder::Callback, 0, 100));
      ASSERT_EQ(52u, recorder.values().size());
      EXPECT_EQ(0, recorder.values().front());
      EXPECT_EQ(1, recorder.values()[1]);
      EXPECT_EQ(3, recorder.values()[2]);
      EXPECT_EQ(99, recorder.values()[50]);
      EXPECT_EQ(100, recorder.values().back());
      for (const auto& call : recorder.calls()) {
        EXPECT_EQ(0, call.start);
        EXPECT_EQ(100, call.end);
      }
    }
    ExpectSaturated(*src, full, 60);

    // Abort on the first per-row report: no row is written, the export still returns 1.
    {
      auto dst = PatternImage(type, 5, 50, 6);
      auto dstBefore = CopyOf(*dst);
      marlo::test::ProgressRecorder aborting(2);
      EXPECT_EQ(1, Saturation(src.get(), dst.get(), 60, &marlo::test::ProgressRecorder::Callback, 0,
                              100));
      EXPECT_EQ((std::vector<int32_t>{0, 1}), aborting.values());
      EXPECT_TRUE(SameBytes(*dstBefore, *dst));
    }
    // Abort on the fourth per-row report (row 3): rows 0..2 written, row 3 and below not.
    {
      auto dst = PatternImage(type, 5, 50, 6);
      auto dstBefore = CopyOf(*dst);
      marlo::test::ProgressRecorder aborting(5);
      EXPECT_EQ(1, Saturation(src.get(), dst.get(), 60, &marlo::test::ProgressRecorder::Callback, 0,
                              100));
      EXPECT_EQ((std::vector<int32_t>{0, 1, 3, 5, 7}), aborting.values());
      for (int32_t y = 0; y < 50; ++y) {
        const Kasa& want = y < 3 ? full : *dstBefore;
        for (int32_t x = 0; x < 5; ++x) {
          for (int s = 0; s < 3; ++s) {
            ASSERT_EQ(marlo::test::Sample(want, x, y, s), marlo::test::Sample(*dst, x, y, s))
                << "row " << y;
          }
        }
      }
    }
  }
}

TEST(Saturation, WorkerReportsAbort) {
  auto src = PatternImage(ImageType::Rgb24, 4, 10, 1);
  auto dst = CopyOf(*src);
  marlo::test::ProgressRecorder aborting(2);
  EXPECT_EQ(marlo::Status::Aborted,
            marlo::SaturateImage8(src.get(), dst.get(), 50,
                                  &marlo::test::ProgressRecorder::Callback, 0, 100));
  auto src16 = PatternImage(ImageType::Rgb48, 4, 10, 1);
  auto dst16 = CopyOf(*src16);
  marlo::test::ProgressRecorder aborting16(3);
  EXPECT_EQ(marlo::Status::Aborted,
            marlo::SaturateImage16(src16.get(), dst16.get(), 50,
                                   &marlo::test::ProgressRecorder::Callback, 0, 100));
  marlo::test::ProgressRecorder quiet;
  EXPECT_EQ(marlo::Status::Ok,
            marlo::SaturateImage16(src16.get(), dst16.get(), 50,
                                   &marlo::test::ProgressRecorder::Callback, 0, 100));
}

TEST(Saturation, BusyHookAroundTheWork) {
  marlo::test::BusyRecorder busy;
  auto src = PatternImage(ImageType::Rgb48, 3, 3, 1);
  Kasa dst;
  EXPECT_EQ(1, Saturation(src.get(), &dst, 20, nullptr, 0, 100));
  EXPECT_EQ((std::vector<int>{1, 0}), marlo::test::BusyRecorder::Calls());
  marlo::test::BusyRecorder::Calls().clear();
  auto grey = PatternImage(ImageType::Gray8, 3, 3, 1);
  EXPECT_EQ(0, Saturation(grey.get(), &dst, 20, nullptr, 0, 100));
  EXPECT_TRUE(marlo::test::BusyRecorder::Calls().empty());
}

TEST(Saturation, RefusalsWriteNothing) {
  marlo::test::ProgressRecorder recorder;
  auto* cb = &marlo::test::ProgressRecorder::Callback;
  for (ImageType type : {ImageType::Gray8, ImageType::Gray16}) {
    auto src = PatternImage(type, 4, 3, 1);
    auto dst = PatternImage(type, 4, 3, 2);
    auto dstBefore = CopyOf(*dst);
    Kasa empty;
    EXPECT_EQ(0, Saturation(src.get(), dst.get(), 50, cb, 0, 100));
    EXPECT_TRUE(SameBytes(*dstBefore, *dst));
    EXPECT_EQ(0, Saturation(src.get(), &empty, 50, cb, 0, 100));
    EXPECT_EQ(1, empty.IsEmpty());
  }
  auto src = PatternImage(ImageType::Rgb24, 4, 3, 1);
  auto other = PatternImage(ImageType::Rgb24, 4, 4, 2);  // other height
  auto otherBefore = CopyOf(*other);
  EXPECT_EQ(0, Saturation(src.get(), other.get(), 50, cb, 0, 100));
  EXPECT_TRUE(SameBytes(*otherBefore, *other));
  auto wide = PatternImage(ImageType::Rgb48, 4, 3, 2);  // other type
  auto wideBefore = CopyOf(*wide);
  EXPECT_EQ(0, Saturation(src.get(), wide.get(), 50, cb, 0, 100));
  EXPECT_TRUE(SameBytes(*wideBefore, *wide));
  Kasa empty, emptyDst;
  EXPECT_EQ(0, Saturation(&empty, &emptyDst, 50, cb, 0, 100));
  EXPECT_EQ(1, emptyDst.IsEmpty());
  EXPECT_EQ(0, Saturation(nullptr, &emptyDst, 50, cb, 0, 100));
  EXPECT_EQ(0, Saturation(src.get(), nullptr, 50, cb, 0, 100));
  EXPECT_EQ(1, emptyDst.IsEmpty());
  EXPECT_TRUE(recorder.calls().empty());
}

// ---- The row passes against the model's own per-pixel function ----

// Every 8-bit colour once (the last row starts over), at a width that is not a multiple of the
// rows' blocks.
std::unique_ptr<Kasa> EveryColour() {
  constexpr int32_t kWidth = 1531;
  auto image = marlo::test::MakeImage(ImageType::Rgb24, kWidth, (1 << 24) / kWidth + 1);
  uint32_t colour = 0;
  for (int32_t y = 0; y < image->GetImageHeight(); ++y) {
    uint8_t* row = image->RowData(y);
    for (int32_t x = 0; x < kWidth; ++x, colour = (colour + 1) & 0xFFFFFFu) {
      for (int s = 0; s < 3; ++s) row[3 * x + s] = static_cast<uint8_t>(colour >> (8 * s));
    }
  }
  return image;
}

TEST(SaturationRows, EveryEightBitColourAsTheModelGivesIt) {
  // The per-call tables and the passes against ScaleSaturation8 over the whole 8-bit domain,
  // with amounts that take S' down to -100, keep it within range, and hold it at 100.
  auto src = EveryColour();
  for (int32_t amount : {-250, 40, 1000}) {
    Kasa dst;
    ASSERT_EQ(1, Saturation(src.get(), &dst, amount, nullptr, 0, 100));
    for (int32_t y = 0; y < src->GetImageHeight(); ++y) {
      const uint8_t* in = src->RowData(y);
      const uint8_t* out = dst.RowData(y);
      for (int32_t x = 0; x < src->GetImageWidth(); ++x) {
        uint8_t b = in[3 * x], g = in[3 * x + 1], r = in[3 * x + 2];
        marlo::ScaleSaturation8(&r, &g, &b, amount);
        if (b != out[3 * x] || g != out[3 * x + 1] || r != out[3 * x + 2]) {
          FAIL() << "amount " << amount << " colour " << int(in[3 * x + 2]) << ","
                 << int(in[3 * x + 1]) << "," << int(in[3 * x]);
        }
      }
    }
  }
}

TEST(SaturationRows, SixteenBitPixelsAsTheModelGivesThem) {
  // Random samples mixed with the ends and the middle of the range, ties and greys, at widths
  // around the rows' block of 512 pixels.
  const uint32_t special[] = {0, 1, 32767, 32768, 32769, 65534, 65535};
  for (int32_t width : {1, 2, 17, 511, 512, 513, 1031}) {
    auto src = marlo::test::MakeImage(ImageType::Rgb48, width, 5);
    for (int32_t y = 0; y < 5; ++y) {
      for (int32_t x = 0; x < width; ++x) {
        const uint32_t key = static_cast<uint32_t>(y * width + x);
        for (int s = 0; s < 3; ++s) {
          const uint32_t m = marlo::test::Mix(key * 3 + static_cast<uint32_t>(s));
          uint32_t v = m % 4 == 0 ? special[(m >> 8) % 7] : (m >> 8) & 0xFFFF;
          if (s > 0 && m % 5 == 0) v = marlo::test::Sample(*src, x, y, s - 1);  // a tie
          marlo::test::SetSample(*src, x, y, s, v);
        }
      }
    }
    for (int32_t amount : {INT32_MIN, -250, -100, -1, 0, 40, 100, 1000, INT32_MAX}) {
      Kasa dst;
      ASSERT_EQ(1, Saturation(src.get(), &dst, amount, nullptr, 0, 100));
      for (int32_t y = 0; y < 5; ++y) {
        for (int32_t x = 0; x < width; ++x) {
          uint16_t b = static_cast<uint16_t>(marlo::test::Sample(*src, x, y, 0));
          uint16_t g = static_cast<uint16_t>(marlo::test::Sample(*src, x, y, 1));
          uint16_t r = static_cast<uint16_t>(marlo::test::Sample(*src, x, y, 2));
          marlo::ScaleSaturation16(&r, &g, &b, amount);
          ASSERT_EQ(b, marlo::test::Sample(dst, x, y, 0)) << width << " " << amount << " " << x;
          ASSERT_EQ(g, marlo::test::Sample(dst, x, y, 1)) << width << " " << amount << " " << x;
          ASSERT_EQ(r, marlo::test::Sample(dst, x, y, 2)) << width << " " << amount << " " << x;
        }
      }
    }
  }
}

}  // namespace
