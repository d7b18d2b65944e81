// The frame: type predicates, sample byte order, the progress protocol, host hooks and the
// guarded exports.
#include <string>

#include "frame/frame.h"
#include "test_support.h"

namespace {

using marlo::Progress;
using marlo::test::ProgressCall;
using marlo::test::ProgressRecorder;

TEST(Frame, TypePredicates) {
  for (int type = -1; type <= 12; ++type) {
    const bool supported = type == 1 || type == 5 || type == 9 || type == 10;
    EXPECT_EQ(supported, marlo::IsSupportedType(type)) << type;
    EXPECT_EQ(type == 1 || type == 9, marlo::IsColorType(type)) << type;
  }
}

// Two values computed side by side and widened again (the shape GCC 12 vectorises and in which
// it drops a plain float round trip) keep their single-precision rounding.
struct Widened {
  double value[3];
};
__attribute__((noinline)) Widened WidenPair(double a, double b, double c) {
  const float x = marlo::RoundToSingle(255.0 * a + 255.0);
  const float y = marlo::RoundToSingle(255.0 * b + 255.0);
  Widened w;
  w.value[0] = x;
  w.value[1] = y;
  w.value[2] = 255.0 * c + 255.0;
  return w;
}

TEST(Frame, RoundToSingleKeepsTheRounding) {
  volatile double a = 0.123456789, b = 0.987654321;
  const Widened w = WidenPair(a, b, a);
  EXPECT_EQ(0x1.1e7b42p+8, w.value[0]);  // 0x1.1e7b425a022a0p+8 rounded to 24 bits
  EXPECT_EQ(0x1.fada12p+8, w.value[1]);  // 0x1.fada12f692430p+8 rounded to 24 bits
  EXPECT_EQ(0x1.1e7b425a022a0p+8, w.value[2]);
  EXPECT_EQ(0x1.99999ap-4, static_cast<double>(marlo::RoundToSingle(0.1)));
  EXPECT_EQ(0x1.555556p-2, static_cast<double>(marlo::RoundToSingle(1.0 / 3.0)));
}

TEST(Frame, SwapSampleBytesReversesTwoAndFourByteSamplesOnly) {
  uint8_t four[4] = {1, 2, 3, 4};
  marlo::SwapSampleBytes(four, 4);
  EXPECT_EQ((std::vector<uint8_t>{4, 3, 2, 1}), std::vector<uint8_t>(four, four + 4));
  uint8_t two[3] = {1, 2, 3};
  marlo::SwapSampleBytes(two, 2);
  EXPECT_EQ((std::vector<uint8_t>{2, 1, 3}), std::vector<uint8_t>(two, two + 3));
  for (uint16_t size : {0, 1, 3, 5, 8}) {
    uint8_t other[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    marlo::SwapSampleBytes(other, size);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}),
              std::vector<uint8_t>(other, other + 8));
  }
}

// Runs the meter over `rows` rows the way a worker does and returns every value reported.
std::vector<int32_t> Walk(int32_t start, int32_t end, int32_t rows, int abortAt = 0,
                          int* rowsDone = nullptr) {
  ProgressRecorder recorder(abortAt);
  Progress progress(&ProgressRecorder::Callback, start, end, rows);
  progress.Begin();
  int done = 0;
  bool aborted = false;
  for (int32_t y = 0; y < rows; ++y) {
    ++done;
    if (!progress.Step()) {
      aborted = true;
      break;
    }
  }
  if (!aborted) progress.Finish();
  if (rowsDone != nullptr) *rowsDone = done;
  return recorder.values();
}

TEST(Progress, FiftyRowsOverZeroToHundred) {
  std::vector<int32_t> expected = {0};
  for (int32_t v = 1; v <= 99; v += 2) expected.push_back(v);
  expected.push_back(100);
  const auto values = Walk(0, 100, 50);
  EXPECT_EQ(expected, values);
  EXPECT_EQ(52u, values.size());
}

TEST(Progress, StartEqualToEndReportsOnlyTheOpening) {
  EXPECT_EQ((std::vector<int32_t>{7}), Walk(7, 7, 30));
}

TEST(Progress, MoreRowsThanRangeSkipsRowsAndNeverRepeats) {
  const auto values = Walk(10, 20, 40);
  ASSERT_GE(values.size(), 3u);
  EXPECT_EQ(10, values.front());
  EXPECT_EQ(20, values.back());
  for (size_t i = 1; i < values.size(); ++i) EXPECT_LT(values[i - 1], values[i]);
  // step = 9 / 40 = 0.225: a report needs the accumulator past position + 1, so only about
  // every fifth row reports.
  EXPECT_EQ((std::vector<int32_t>{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20}), values);
}

TEST(Progress, AbortOnTheFirstRowReportStopsWithoutClosingReport) {
  int rows = 0;
  const auto values = Walk(0, 100, 50, 2, &rows);
  EXPECT_EQ((std::vector<int32_t>{0, 1}), values);
  EXPECT_EQ(1, rows);
}

TEST(Progress, NullCallbackReportsNothingAndNeverAborts) {
  Progress progress(nullptr, 0, 100, 10);
  progress.Begin();
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(progress.Step());
  progress.Finish();
  EXPECT_FALSE(progress.active());
}

TEST(Progress, ExtremeRangesStayWithinEndAndIncrease) {
  const struct {
    int32_t start, end, rows;
  } cases[] = {{INT32_MIN, INT32_MAX, 7},
               {0, INT32_MAX, 3},
               {INT32_MAX - 5, INT32_MAX, 10},
               {100, 0, 5},
               {-50, 50, 1},
               {0, INT32_MIN, 5},
               {INT32_MAX, INT32_MIN, 4},
               {0, 1 << 30, 3000000}};
  for (const auto& c : cases) {
    const auto values = Walk(c.start, c.end, c.rows);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(c.start, values.front());
    // After the opening report: strictly increasing values never above end, then end.
    for (size_t i = 1; i + 1 < values.size(); ++i) {
      EXPECT_LT(values[i - 1], values[i]) << c.start << ".." << c.end;
      EXPECT_LT(values[i], c.end);
    }
    if (c.start != c.end) {
      EXPECT_EQ(c.end, values.back());
    }
  }
  // A falling range whose difference does not fit 32 bits makes no per-row report.
  EXPECT_EQ((std::vector<int32_t>{0, INT32_MIN}), Walk(0, INT32_MIN, 5));
}

TEST(Hooks, BusyHandlerIsCalledAroundTheWorkAndCanBeRemoved) {
  {
    marlo::test::BusyRecorder busy;
    { marlo::BusyScope scope; }
    EXPECT_EQ((std::vector<int>{1, 0}), marlo::test::BusyRecorder::Calls());
  }
  // Removed again: a scope calls nothing.
  marlo::test::BusyRecorder::Calls().clear();
  { marlo::BusyScope scope; }
  EXPECT_TRUE(marlo::test::BusyRecorder::Calls().empty());
}

std::string g_lastMessage;
void RecordMessage(const char* text) {
  g_lastMessage = text;
}

TEST(Hooks, MessageHandlerReceivesTheTextAndNullRestoresTheDefault) {
  MarloMessageHandler previous = MarloSetMessageHandler(&RecordMessage);
  ASSERT_NE(nullptr, previous);
  marlo::ShowMessage("Image error !");
  EXPECT_EQ("Image error !", g_lastMessage);
  EXPECT_EQ(&RecordMessage, MarloSetMessageHandler(nullptr));
  // The default writes to standard error.
  testing::internal::CaptureStderr();
  marlo::ShowMessage("Axis location is out of range !");
  EXPECT_EQ("Axis location is out of range !\n", testing::internal::GetCapturedStderr());
  EXPECT_EQ(previous, MarloSetMessageHandler(previous));
}

TEST(Frame, GuardTurnsExceptionsIntoTheFailureResult) {
  EXPECT_EQ(0, marlo::Guard(0, []() -> int32_t { throw std::bad_alloc(); }));
  EXPECT_EQ(1, marlo::Guard(1, []() -> int32_t { throw 5; }));
  EXPECT_EQ(1, marlo::Guard(0, []() -> int32_t { return 1; }));
}

TEST(Frame, PrepareDestinationCreatesChecksAndRefuses) {
  using marlo::Status;
  const auto PrepareDestination = [](Kasa* s, Kasa* d, bool (*accepts)(int)) {
    return marlo::Admit(s, d, {marlo::Destination::CreatedWhenEmpty, accepts});
  };
  auto src = marlo::test::PatternImage(ImageType::Rgb48, 3, 2, 4);
  Kasa dst;
  EXPECT_EQ(Status::Ok, PrepareDestination(src.get(), &dst, &marlo::IsColorType));
  EXPECT_EQ(src->GetImageType(), dst.GetImageType());
  EXPECT_EQ(3, dst.GetImageWidth());
  EXPECT_EQ(2, dst.GetImageHeight());
  EXPECT_EQ(Status::Ok, PrepareDestination(src.get(), &dst, &marlo::IsColorType));
  auto other = marlo::test::MakeImage(ImageType::Rgb48, 3, 3);
  EXPECT_EQ(Status::Refused, PrepareDestination(src.get(), other.get(), &marlo::IsColorType));
  auto grey = marlo::test::MakeImage(ImageType::Gray16, 3, 2);
  EXPECT_EQ(Status::Refused, PrepareDestination(grey.get(), &dst, &marlo::IsColorType));
  Kasa empty, empty2;
  EXPECT_EQ(Status::Refused, PrepareDestination(&empty, &empty2, &marlo::IsSupportedType));
  EXPECT_EQ(1, empty2.IsEmpty());
  EXPECT_EQ(Status::Refused, PrepareDestination(nullptr, &dst, &marlo::IsSupportedType));
  EXPECT_EQ(Status::Refused, PrepareDestination(src.get(), nullptr, &marlo::IsSupportedType));
}

TEST(Frame, RowsAreReadAndWrittenInMachineOrder) {
  auto image = marlo::test::PatternImage(ImageType::Rgb48, 3, 2, 11);
  auto row = marlo::AllocateRow<marlo::Depth16>(*image);
  ASSERT_GE(row.size(), 10u);  // 20 line bytes: 10 samples including the padding
  marlo::ReadRow<marlo::Depth16>(*image, 1, row.data());
  EXPECT_EQ(marlo::test::Sample(*image, 2, 1, 2), row[8]);
  row[8] = 0xBEEF;
  const uint16_t padding = row[9];
  marlo::WriteRow<marlo::Depth16>(*image, 1, row.data());
  EXPECT_EQ(0xBEEFu, marlo::test::Sample(*image, 2, 1, 2));
  EXPECT_EQ(0xBEEF, row[8]);  // the buffer is back in machine order
  EXPECT_EQ(padding, row[9]);

  auto grey = marlo::test::PatternImage(ImageType::Gray8, 5, 1, 2);
  auto grow = marlo::AllocateRow<marlo::Depth8>(*grey);
  marlo::ReadRow<marlo::Depth8>(*grey, 0, grow.data());
  EXPECT_EQ(marlo::test::Sample(*grey, 4, 0, 0), grow[4]);
}

TEST(Frame, WritePixelsTouchesOnlyTheGivenColumns) {
  for (ImageType type : marlo::test::kAllTypes) {
    auto image = marlo::test::PatternImage(type, 5, 2, 21);
    auto before = marlo::test::CopyOf(*image);
    const int spp = (type == ImageType::Rgb24 || type == ImageType::Rgb48) ? 3 : 1;
    const uint32_t wide = (type == ImageType::Rgb48 || type == ImageType::Gray16) ? 257u : 1u;
    if (wide == 1) {
      auto row = marlo::AllocateRow<marlo::Depth8>(*image);
      marlo::ReadRow<marlo::Depth8>(*image, 1, row.data());
      for (int x = 0; x < 5 * spp; ++x) row[x] = static_cast<uint8_t>(x + 1);
      marlo::WritePixels<marlo::Depth8>(*image, 1, 1, 3, row.data());
      EXPECT_EQ(1u, row[0]);
    } else {
      auto row = marlo::AllocateRow<marlo::Depth16>(*image);
      marlo::ReadRow<marlo::Depth16>(*image, 1, row.data());
      for (int x = 0; x < 5 * spp; ++x) row[x] = static_cast<uint16_t>((x + 1) * 257 + 1);
      marlo::WritePixels<marlo::Depth16>(*image, 1, 1, 3, row.data());
      EXPECT_EQ(spp * 257u + 258u, row[spp]);  // the buffer is back in machine order
    }
    for (int32_t x = 0; x < 5; ++x) {
      for (int k = 0; k < spp; ++k) {
        const uint32_t i = static_cast<uint32_t>(x * spp + k);
        const uint32_t expected = (x >= 1 && x <= 3) ? (wide == 1 ? i + 1 : (i + 1) * 257 + 1)
                                                     : marlo::test::Sample(*before, x, 1, k);
        EXPECT_EQ(expected, marlo::test::Sample(*image, x, 1, k)) << x;
        EXPECT_EQ(marlo::test::Sample(*before, x, 0, k), marlo::test::Sample(*image, x, 0, k));
      }
    }
    const size_t used = static_cast<size_t>(image->GetBitCount() / 8) * 5;
    for (size_t i = used; i < static_cast<size_t>(image->GetLineBytes()); ++i) {
      EXPECT_EQ(before->RowData(1)[i], image->RowData(1)[i]) << "padding";
    }
  }
}

}  // namespace
