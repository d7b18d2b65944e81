// The image store: creation, row layout, bounds checks and the pixel packings.
#include "test_support.h"

namespace {

using marlo::test::MakeImage;
using marlo::test::PatternImage;
using marlo::test::SameBytes;

TEST(Store, CreateSetsGeometryAndPadsRowsToFourBytes) {
  struct Case {
    ImageType type;
    int32_t width;
    int bits;
    int32_t lineBytes;
  } cases[] = {{ImageType::Rgb24, 5, 24, 16}, {ImageType::Gray8, 5, 8, 8},
               {ImageType::Rgb48, 5, 48, 32}, {ImageType::Gray16, 5, 16, 12},
               {ImageType::Rgb24, 4, 24, 12}, {ImageType::Gray8, 1, 8, 4}};
  for (const auto& c : cases) {
    auto image = MakeImage(c.type, c.width, 3);
    EXPECT_EQ(0, image->IsEmpty());
    EXPECT_EQ(static_cast<int>(c.type), image->GetImageType());
    EXPECT_EQ(c.width, image->GetImageWidth());
    EXPECT_EQ(3, image->GetImageHeight());
    EXPECT_EQ(c.bits, image->GetBitCount());
    EXPECT_EQ(c.lineBytes, image->GetLineBytes());
    for (int32_t y = 0; y < 3; ++y) {
      for (int32_t i = 0; i < c.lineBytes; ++i) ASSERT_EQ(0, image->RowData(y)[i]);
    }
  }
}

TEST(Store, CreateRefusesBadTypesSizesAndOverflowLeavingTheImage) {
  auto image = MakeImage(ImageType::Gray8, 2, 2);
  image->RowData(0)[0] = 7;
  EXPECT_EQ(0, image->CreateImage(2, 4, 4, 0, nullptr, 0, 0, 15, 0, 0));
  EXPECT_EQ(0, image->CreateImage(1, 0, 4, 0, nullptr, 0, 0, 15, 0, 0));
  EXPECT_EQ(0, image->CreateImage(1, 4, -1, 0, nullptr, 0, 0, 15, 0, 0));
  EXPECT_EQ(0, image->CreateImage(9, INT32_MAX, 1, 0, nullptr, 0, 0, 15, 0, 0));
  EXPECT_EQ(0, image->CreateImage(9, 100000, 100000, 0, nullptr, 0, 0, 15, 0, 0));
  EXPECT_EQ(static_cast<int>(ImageType::Gray8), image->GetImageType());
  EXPECT_EQ(2, image->GetImageWidth());
  EXPECT_EQ(7, image->RowData(0)[0]);

  Kasa empty;
  EXPECT_EQ(1, empty.IsEmpty());
  EXPECT_EQ(0, empty.GetImageWidth());
  EXPECT_EQ(0, empty.GetImageType());
  EXPECT_EQ(nullptr, empty.RowData(0));
}

TEST(Store, LineOperationsUseTheStoredLayout) {
  auto rgb = MakeImage(ImageType::Rgb24, 3, 2);
  uint8_t line[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  EXPECT_EQ(1, rgb->Put24bitHorLine(0, 2, 1, line));
  EXPECT_EQ(0x030201u, rgb->GetPixel(0, 1, nullptr));  // blue 1, green 2, red 3
  uint8_t part[3] = {};
  EXPECT_EQ(1, rgb->Get24bitHorLine(1, 1, 1, part, nullptr));
  EXPECT_EQ(4, part[0]);
  EXPECT_EQ(6, part[2]);
  uint8_t raw[12] = {};
  EXPECT_EQ(1, rgb->GetHorLine(1, raw));
  EXPECT_EQ(0, std::memcmp(raw, line, 9));

  auto grey = MakeImage(ImageType::Gray8, 3, 1);
  uint8_t g[3] = {10, 20, 30};
  EXPECT_EQ(1, grey->PutGrayHorLine(0, 2, 0, g));
  EXPECT_EQ(20u, grey->GetPixel(1, 0, nullptr));

  // 16-bit samples are stored most significant byte first.
  auto wide = MakeImage(ImageType::Gray16, 2, 1);
  uint8_t px[2] = {0x12, 0x34};
  EXPECT_EQ(1, wide->PutHorLine(1, 1, 0, px));
  EXPECT_EQ(0x1234u, wide->GetPixel(1, 0, nullptr));
  EXPECT_EQ(0x12, wide->RowData(0)[2]);
}

TEST(Store, RefusesRangesOutsideTheImageAndWrongTypes) {
  auto rgb = PatternImage(ImageType::Rgb24, 4, 3, 1);
  auto before = marlo::test::CopyOf(*rgb);
  uint8_t buffer[64];
  std::memset(buffer, 0xAB, sizeof buffer);
  EXPECT_EQ(0, rgb->Get24bitHorLine(0, 4, 0, buffer, nullptr));
  EXPECT_EQ(0, rgb->Get24bitHorLine(-1, 2, 0, buffer, nullptr));
  EXPECT_EQ(0, rgb->Get24bitHorLine(2, 1, 0, buffer, nullptr));
  EXPECT_EQ(0, rgb->Get24bitHorLine(0, 3, 3, buffer, nullptr));
  EXPECT_EQ(0, rgb->GetGrayHorLine(0, 3, 0, buffer, nullptr));  // not a grey image
  EXPECT_EQ(0xAB, buffer[0]);
  EXPECT_EQ(0, rgb->Get24bitHorLine(0, 3, 0, nullptr, nullptr));
  EXPECT_EQ(0, rgb->Put24bitHorLine(INT32_MIN, INT32_MAX, 0, buffer));
  EXPECT_EQ(0, rgb->PutHorLine(-1, buffer));
  EXPECT_EQ(0, rgb->PutHorLine(3, buffer));
  EXPECT_EQ(0, rgb->PutHorLine(0, 4, 0, buffer));
  EXPECT_EQ(0, rgb->PutGrayHorLine(0, 0, 0, buffer));
  EXPECT_EQ(0, rgb->SetPixel(4, 0, 0));
  EXPECT_EQ(0, rgb->SetPixelRGB(0, -1, 0));
  EXPECT_TRUE(SameBytes(*before, *rgb));

  int64_t value = 99;
  EXPECT_EQ(0u, rgb->GetPixel(-1, 0, &value));
  EXPECT_EQ(0, value);
  value = 99;
  EXPECT_EQ(0u, rgb->GetPixelRGB(0, 3, &value));
  EXPECT_EQ(0, value);

  Kasa empty;
  EXPECT_EQ(0, empty.GetHorLine(0, buffer));
  EXPECT_EQ(0u, empty.GetPixel(0, 0, nullptr));
}

TEST(Store, PixelPackingsOfEveryType) {
  int64_t v = 0;
  auto rgb = MakeImage(ImageType::Rgb24, 1, 1);
  EXPECT_EQ(1, rgb->SetPixelRGB(0, 0, 0x102030));
  EXPECT_EQ(0x30, rgb->RowData(0)[0]);  // blue first
  EXPECT_EQ(0x102030u, rgb->GetPixel(0, 0, &v));
  EXPECT_EQ(0x102030, v);
  EXPECT_EQ(0x102030u, rgb->GetPixelRGB(0, 0, nullptr));

  auto grey = MakeImage(ImageType::Gray8, 1, 1);
  grey->SetPixel(0, 0, 0x1234C8);  // bits 0-7 only
  EXPECT_EQ(0xC8u, grey->GetPixel(0, 0, nullptr));
  EXPECT_EQ(0xC8C8C8u, grey->GetPixelRGB(0, 0, &v));
  EXPECT_EQ(0xC8C8C8, v);
  grey->SetPixelRGB(0, 0, 0x0A0B0C);  // rounded mean of 10, 11, 12
  EXPECT_EQ(11u, grey->GetPixel(0, 0, nullptr));
  grey->SetPixelRGB(0, 0, 0x010000);  // (1 + 0 + 0 + 1) / 3 = 0
  EXPECT_EQ(0u, grey->GetPixel(0, 0, nullptr));

  auto rgb48 = MakeImage(ImageType::Rgb48, 1, 1);
  const int64_t packed = 0x1234LL << 32 | 0x5678LL << 16 | 0x9ABCLL;  // blue, green, red
  EXPECT_EQ(1, rgb48->SetPixelRGB(0, 0, packed));
  const uint8_t expected[6] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  EXPECT_EQ(0, std::memcmp(expected, rgb48->RowData(0), 6));
  EXPECT_EQ(0x9A5612u, rgb48->GetPixelRGB(0, 0, &v));
  EXPECT_EQ(packed, v);
  EXPECT_EQ(0x9A5612u, rgb48->GetPixelRGB(0, 0, nullptr));
  EXPECT_EQ(0x9A5612u, rgb48->GetPixel(0, 0, &v));
  EXPECT_EQ(packed, v);
  rgb48->SetPixel(0, 0, 0x0001'0002'0003LL);
  EXPECT_EQ(0x0001'0002'0003LL, (rgb48->GetPixel(0, 0, &v), v));

  auto grey16 = MakeImage(ImageType::Gray16, 1, 1);
  grey16->SetPixel(0, 0, 0xFFFF1234);
  EXPECT_EQ(0x1234u, grey16->GetPixel(0, 0, &v));
  EXPECT_EQ(0x1234, v);
  EXPECT_EQ(0x121212u, grey16->GetPixelRGB(0, 0, &v));
  EXPECT_EQ(0x1234LL << 32 | 0x1234LL << 16 | 0x1234LL, v);
  grey16->SetPixelRGB(0, 0, 3LL << 32 | 2LL << 16 | 2LL);  // (2 + 2 + 3 + 1) / 3 = 2
  EXPECT_EQ(2u, grey16->GetPixel(0, 0, nullptr));
  grey16->SetPixelRGB(0, 0, v);  // a grey read back and written again is unchanged
  EXPECT_EQ(0x1234u, grey16->GetPixel(0, 0, nullptr));
}

TEST(Store, CopyGenerateAndDelete) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto src = PatternImage(type, 5, 3, 9);
    Kasa copy;
    EXPECT_EQ(1, copy.CopyImage(src.get()));
    EXPECT_TRUE(SameBytes(*src, copy));
    Kasa generated;
    EXPECT_EQ(1, generated.GenerateImage(src.get(), 15, 0, 0));
    EXPECT_TRUE(SameBytes(*src, generated));
    EXPECT_EQ(1, copy.CopyImage(&copy));
    EXPECT_TRUE(SameBytes(*src, copy));
    copy.DeleteImage(1);
    EXPECT_EQ(1, copy.IsEmpty());
    EXPECT_EQ(0, copy.GetLineBytes());
  }
  auto keep = PatternImage(ImageType::Gray8, 2, 2, 3);
  auto before = marlo::test::CopyOf(*keep);
  Kasa empty;
  EXPECT_EQ(0, keep->CopyImage(&empty));
  EXPECT_EQ(0, keep->CopyImage(nullptr));
  EXPECT_TRUE(SameBytes(*before, *keep));
}

// Copying over an image with the same amount of pixel memory reuses that memory; any other
// image is replaced whole. Either way the result is an exact copy, shape included.
TEST(Store, CopyIntoExistingImage) {
  auto src = PatternImage(ImageType::Rgb24, 4, 3, 5);  // 12 line bytes, 36 bytes
  auto sameBytes = PatternImage(ImageType::Gray8, 12, 3, 1);
  const uint8_t* memory = sameBytes->RowData(0);
  EXPECT_EQ(1, sameBytes->CopyImage(src.get()));
  EXPECT_EQ(memory, sameBytes->RowData(0));
  EXPECT_EQ(static_cast<int>(ImageType::Rgb24), sameBytes->GetImageType());
  EXPECT_EQ(24, sameBytes->GetBitCount());
  EXPECT_TRUE(SameBytes(*src, *sameBytes));

  for (ImageType type : marlo::test::kAllTypes) {
    auto larger = PatternImage(type, 9, 7, 2);
    EXPECT_EQ(1, larger->CopyImage(src.get()));
    EXPECT_TRUE(SameBytes(*src, *larger));
    EXPECT_EQ(24, larger->GetBitCount());
  }
}

}  // namespace
