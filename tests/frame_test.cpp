// The image store (creation, row layout, bounds, pixel packings, copies) and the frame (type
// predicates, sample byte order, the progress protocol, the host hooks).
#include "test_support.h"

namespace {

using namespace marlo::test;

TEST(Store, CreateSetsGeometryAndZeroedRowsPaddedToFourBytes) {
  // Type, width, bits, line bytes.
  const int32_t cases[][4] = {{1, 5, 24, 16},  {5, 5, 8, 8},   {9, 5, 48, 32},
                              {10, 5, 16, 12}, {1, 4, 24, 12}, {5, 1, 8, 4}};
  for (const auto& c : cases) {
    auto image = MakeImage(static_cast<ImageType>(c[0]), c[1], 3);
    EXPECT_EQ((std::vector<int32_t>{0, c[0], c[1], 3, c[2], c[3]}),
              (std::vector<int32_t>{image->IsEmpty(), image->GetImageType(), image->GetImageWidth(),
                                    image->GetImageHeight(), image->GetBitCount(),
                                    image->GetLineBytes()}));
    for (int32_t i = 0; i < 3 * c[3]; ++i) ASSERT_EQ(0, image->RowData(i / c[3])[i % c[3]]);
  }
  // Bad types, sizes and byte counts are refused and leave the image as it was.
  auto image = PatternImage(ImageType::Gray8, 2, 2, 1), before = CopyOf(*image);
  const int32_t bad[][3] = {
      {2, 4, 4}, {1, 0, 4}, {1, 4, -1}, {9, INT32_MAX, 1}, {9, 100000, 100000}};
  for (const auto& b : bad)
    EXPECT_EQ(0, image->CreateImage(b[0], b[1], b[2], 0, nullptr, 0, 0, 15, 0, 0));
  EXPECT_TRUE(SameBytes(*before, *image));
  Kasa empty;
  EXPECT_EQ((std::vector<int32_t>{1, 0, 0, 0}),
            (std::vector<int32_t>{empty.IsEmpty(), empty.GetImageWidth(), empty.GetImageType(),
                                  empty.GetLineBytes()}));
  EXPECT_EQ(nullptr, empty.RowData(0));
}

// The stored layout and the packings of the pixel operations; every filter's images in the
// golden table go through them as well.
TEST(Store, LayoutAndPackings) {
  int64_t v = 0;
  auto rgb = MakeImage(ImageType::Rgb24, 2, 1), grey = MakeImage(ImageType::Gray8, 1, 1);
  EXPECT_EQ(1, rgb->SetPixelRGB(1, 0, 0x102030));
  EXPECT_EQ((std::vector<uint8_t>{0x30, 0x20, 0x10}),
            std::vector<uint8_t>(rgb->RowData(0) + 3, rgb->RowData(0) + 6));
  EXPECT_EQ(0x102030u, rgb->GetPixel(1, 0, &v));
  grey->SetPixel(0, 0, 0x1234C8);  // bits 0-7 only
  EXPECT_EQ(0xC8C8C8u, grey->GetPixelRGB(0, 0, &v));
  grey->SetPixelRGB(0, 0, 0x0A0B0B);  // the rounded mean of 10, 11, 11
  EXPECT_EQ(11u, grey->GetPixel(0, 0, nullptr));
  auto rgb48 = MakeImage(ImageType::Rgb48, 1, 1), grey16 = MakeImage(ImageType::Gray16, 1, 1);
  const int64_t packed = 0x1234LL << 32 | 0x5678LL << 16 | 0x9ABCLL;  // blue, green, red
  EXPECT_EQ(1, rgb48->SetPixelRGB(0, 0, packed));
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}),
            std::vector<uint8_t>(rgb48->RowData(0), rgb48->RowData(0) + 6));
  EXPECT_EQ(0x9A5612u, rgb48->GetPixelRGB(0, 0, &v));
  EXPECT_EQ(packed, v);
  grey16->SetPixel(0, 0, 0xFFFF1234);  // most significant byte first
  EXPECT_EQ((std::vector<uint8_t>{0x12, 0x34}),
            std::vector<uint8_t>(grey16->RowData(0), grey16->RowData(0) + 2));
  grey16->SetPixelRGB(0, 0, 4LL << 32 | 2LL << 16 | 2LL);  // (2 + 2 + 4 + 1) / 3 = 3
  EXPECT_EQ(3u, grey16->GetPixel(0, 0, nullptr));
  // Ranges outside the image, reversed ranges, null buffers and the other type's lines are
  // refused: nothing copied, nothing written.
  auto image = PatternImage(ImageType::Rgb24, 4, 3, 1), before = CopyOf(*image);
  uint8_t buffer[64];
  std::memset(buffer, 0xAB, sizeof buffer);
  EXPECT_EQ(0, image->Get24bitHorLine(0, 4, 0, buffer, nullptr));
  EXPECT_EQ(0, image->Get24bitHorLine(-1, 2, 0, buffer, nullptr));
  EXPECT_EQ(0, image->Get24bitHorLine(2, 1, 0, buffer, nullptr));
  EXPECT_EQ(0, image->Get24bitHorLine(0, 3, 3, buffer, nullptr));
  EXPECT_EQ(0, image->GetGrayHorLine(0, 3, 0, buffer, nullptr));
  EXPECT_EQ(0xAB, buffer[0]);
  EXPECT_EQ(0, image->Get24bitHorLine(0, 3, 0, nullptr, nullptr));
  EXPECT_EQ(0, image->Put24bitHorLine(INT32_MIN, INT32_MAX, 0, buffer));
  EXPECT_EQ(0, image->PutHorLine(-1, buffer));
  EXPECT_EQ(0, image->PutHorLine(3, buffer));
  EXPECT_EQ(0, image->PutHorLine(0, 4, 0, buffer));
  EXPECT_EQ(0, image->PutGrayHorLine(0, 0, 0, buffer));
  EXPECT_EQ(0, image->SetPixel(4, 0, 0));
  EXPECT_EQ(0, image->SetPixelRGB(0, -1, 0));
  EXPECT_TRUE(SameBytes(*before, *image));
  v = 99;
  EXPECT_EQ(0u, image->GetPixel(-1, 0, &v));
  EXPECT_EQ(0, v);
  Kasa empty;
  EXPECT_EQ(0, empty.GetHorLine(0, buffer));
}

TEST(Store, CopyGenerateAndDelete) {
  for (ImageType type : kAllTypes) {
    auto src = PatternImage(type, 5, 3, 9);
    Kasa copy, generated;
    EXPECT_EQ(1, copy.CopyImage(src.get()));
    EXPECT_EQ(1, generated.GenerateImage(src.get(), 15, 0, 0));
    EXPECT_EQ(1, copy.CopyImage(&copy));
    EXPECT_TRUE(SameBytes(*src, copy));
    EXPECT_TRUE(SameBytes(*src, generated));
    // Over a larger image of any type: replaced whole, an exact copy.
    auto larger = PatternImage(type, 9, 7, 2);
    EXPECT_EQ(1, larger->CopyImage(src.get()));
    EXPECT_TRUE(SameBytes(*src, *larger));
    copy.DeleteImage(1);
    EXPECT_EQ(1, copy.IsEmpty());
    EXPECT_EQ(0, copy.GetLineBytes());
    Kasa empty;
    EXPECT_EQ(0, src->CopyImage(&empty));
    EXPECT_EQ(0, src->CopyImage(nullptr));
    EXPECT_TRUE(SameBytes(generated, *src));
  }
  // Over an image with as many bytes of pixel memory: that memory is reused.
  auto src = PatternImage(ImageType::Rgb24, 4, 3, 5);  // 12 line bytes, 36 bytes
  auto same = PatternImage(ImageType::Gray8, 12, 3, 1);
  const uint8_t* memory = same->RowData(0);
  EXPECT_EQ(1, same->CopyImage(src.get()));
  EXPECT_EQ(memory, same->RowData(0));
  EXPECT_TRUE(SameBytes(*src, *same));
}

TEST(Frame, TypePredicatesAndSampleBytes) {
  for (int type = -1; type <= 12; ++type) {
    EXPECT_EQ(type == 1 || type == 5 || type == 9 || type == 10, marlo::IsSupportedType(type))
        << type;
    EXPECT_EQ(type == 1 || type == 9, marlo::IsColorType(type)) << type;
  }
  uint8_t four[4] = {1, 2, 3, 4}, two[3] = {1, 2, 3};
  marlo::SwapSampleBytes(four, 4);
  marlo::SwapSampleBytes(two, 2);
  EXPECT_EQ((std::vector<uint8_t>{4, 3, 2, 1, 2, 1, 3}),
            (std::vector<uint8_t>{four[0], four[1], four[2], four[3], two[0], two[1], two[2]}));
  for (uint16_t size : {0, 1, 3, 5, 8}) {
    uint8_t other[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    marlo::SwapSampleBytes(other, size);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}),
              std::vector<uint8_t>(other, other + 8))
        << size;
  }
}

// Runs the progress object over `rows` rows the way a worker does and returns every value
// reported.
std::vector<int32_t> Walk(int32_t start, int32_t end, int32_t rows, int abortAt = 0) {
  Recorder recorder(abortAt);
  marlo::Progress progress(&Recorder::Callback, start, end, rows);
  progress.Begin();
  int32_t y = 0;
  while (y < rows && progress.Step()) ++y;
  if (y == rows) progress.Finish();
  return recorder.values();
}

TEST(Progress, Protocol) {
  std::vector<int32_t> fifty = {0};
  for (int32_t v = 1; v <= 99; v += 2) fifty.push_back(v);
  fifty.push_back(100);
  EXPECT_EQ(fifty, Walk(0, 100, 50));                    // 52 reports
  EXPECT_EQ((std::vector<int32_t>{7}), Walk(7, 7, 30));  // start = end: the opening only
  // A report needs the accumulator past position + 1: a step of exactly 1 reports every other row.
  EXPECT_EQ((std::vector<int32_t>{0, 2, 4, 6, 8, 10, 11}), Walk(0, 11, 10));
  // More rows than the range: step 9 / 40 = 0.225, a report about every fifth row, no repeats.
  EXPECT_EQ((std::vector<int32_t>{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}), Walk(10, 20, 40));
  EXPECT_EQ((std::vector<int32_t>{0, 1}), Walk(0, 100, 50, 2));  // stopped at the first row
  marlo::Progress quiet(nullptr, 0, 100, 10);
  quiet.Begin();
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(quiet.Step());
  quiet.Finish();
  EXPECT_FALSE(quiet.active());
  // Extreme ranges: strictly increasing values below end after the opening, then end.
  const int32_t M = INT32_MAX, N = INT32_MIN;
  const int32_t ranges[][3] = {{N, M, 7},    {0, M, 3}, {M - 5, M, 10},       {100, 0, 5},
                               {-50, 50, 1}, {M, N, 4}, {0, 1 << 30, 3000000}};
  for (const auto& r : ranges) {
    const auto values = Walk(r[0], r[1], r[2]);
    ASSERT_LE(2u, values.size());
    EXPECT_EQ(r[0], values.front());
    EXPECT_EQ(r[1], values.back());
    for (size_t i = 1; i + 1 < values.size(); ++i) {
      EXPECT_LT(values[i - 1], values[i]) << r[0] << ".." << r[1];
      EXPECT_LT(values[i], r[1]);
    }
  }
  // A falling range whose difference does not fit 32 bits makes no per-row report.
  EXPECT_EQ((std::vector<int32_t>{0, INT32_MIN}), Walk(0, INT32_MIN, 5));
}

// The busy handler is called around a busy scope while it is installed; the default message
// handler writes to standard error, and installing null restores it.
// The busy handler is called around a busy scope while it is installed; the default message
// handler writes to standard error, and installing null restores it.
TEST(Hooks, BusyAndMessageHandlers) {
  const std::vector<int>* busy = nullptr;
  {
    Recorder hooks;
    { marlo::BusyScope scope; }
    EXPECT_EQ((std::vector<int>{1, 0}), hooks.busy());
    busy = &hooks.busy();
  }
  { marlo::BusyScope scope; }  // removed again: nothing is called
  EXPECT_EQ((std::vector<int>{1, 0}), *busy);
  const MarloMessageHandler previous = MarloSetMessageHandler(nullptr);
  testing::internal::CaptureStderr();
  marlo::ShowMessage("Axis location is out of range !");
  EXPECT_EQ("Axis location is out of range !\n", testing::internal::GetCapturedStderr());
  EXPECT_NE(nullptr, MarloSetMessageHandler(previous));
}

}  // namespace
