// The thread setting and the band runner: at any thread count and band height every row is
// worked once, the progress reports are those of one thread, an abort stops the run with every
// row above the aborting one done, and nested runs from a callback finish.
#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "frame/threads.h"
#include "test_support.h"

namespace {

using namespace marlo::test;

// Sets the thread count and the band height for one test, and restores the defaults.
struct Threads {
  Threads(int32_t count, int32_t bandRows) {
    MarloSetThreads(count);
    marlo::SetBandRowsForTesting(bandRows);
  }
  ~Threads() {
    MarloSetThreads(1);
    marlo::SetBandRowsForTesting(0);
  }
};

TEST(Threads, Setting) {
  EXPECT_EQ(1, MarloGetThreads());
  EXPECT_EQ(0, MarloSetThreads(-1));
  EXPECT_EQ(1, MarloGetThreads());
  EXPECT_EQ(marlo::CoreCount(), MarloSetThreads(0));
  EXPECT_EQ(0, MarloGetThreads());
  EXPECT_EQ(3, MarloSetThreads(3));
  EXPECT_EQ(3, MarloGetThreads());
  EXPECT_EQ(256, MarloSetThreads(100000));
  EXPECT_EQ(1, MarloSetThreads(1));
  EXPECT_EQ(1, marlo::RowBands(1000, 1).slots());
}

// Runs `rows` rows through the runner, reporting to the current Recorder; returns the status and,
// per row, how often it was worked.
marlo::Status RunRows(int32_t rows, std::vector<int>& worked) {
  marlo::Progress progress(&Recorder::Callback, 0, 100, rows);
  progress.Begin();
  std::vector<std::atomic<int>> count(static_cast<size_t>(rows));
  const marlo::RowBands bands(rows, 1000);
  const marlo::Status status = bands.Run(&progress, [&](marlo::Band& band) {
    for (int32_t y = band.first(); y < band.end(); ++y) {
      if (!band.Enter()) return;
      ++count[static_cast<size_t>(y)];
      if (!band.Leave()) return;
    }
  });
  if (status == marlo::Status::Ok) progress.Finish();
  worked.assign(rows, 0);
  for (int32_t y = 0; y < rows; ++y) worked[static_cast<size_t>(y)] = count[static_cast<size_t>(y)];
  return status;
}

TEST(Threads, EveryRowOnceWithTheOneThreadReportsAndAborts) {
  for (int32_t rows : {1, 7, 37, 250}) {
    for (int abortAt : {0, 2, 5}) {
      std::vector<int> worked;
      std::vector<ProgressCall> expected;
      marlo::Status expectedStatus;
      {
        Recorder recorder(abortAt);
        expectedStatus = RunRows(rows, worked);
        expected = recorder.calls();
      }
      for (int32_t count : {2, 3, 8}) {
        for (int32_t bandRows : {1, 2, 5}) {
          Threads threads(count, bandRows);
          Recorder recorder(abortAt);
          const marlo::Status status = RunRows(rows, worked);
          const std::string what = std::to_string(rows) + " rows, abort at " +
                                   std::to_string(abortAt) + ", " + std::to_string(count) +
                                   " threads, bands of " + std::to_string(bandRows);
          EXPECT_EQ(expectedStatus, status) << what;
          EXPECT_EQ(expected, recorder.calls()) << what;
          // Every row up to the aborting report's is done, once; no row twice.
          const size_t reported = recorder.calls().size() > 1 ? recorder.calls().size() - 1 : 0;
          for (int32_t y = 0; y < rows; ++y) {
            EXPECT_LE(worked[static_cast<size_t>(y)], 1) << what << " row " << y;
            if (status == marlo::Status::Ok || static_cast<size_t>(y) < reported) {
              EXPECT_EQ(1, worked[static_cast<size_t>(y)]) << what << " row " << y;
            }
          }
        }
      }
    }
  }
}

const ExportCall& Call(const std::string& name) {
  const auto& calls = ExportCalls();
  return *std::find_if(calls.begin(), calls.end(),
                       [&](const ExportCall& c) { return c.name == name; });
}

int32_t MARLO_STDCALL Quiet(int32_t, int32_t, int32_t) {
  return 0;
}

// One filter run on a copy of `source` (into a copy of it) at the current settings.
std::unique_ptr<Kasa> RunOn(const ExportCall& call, const Kasa& source, ProgressCallback cb,
                            int32_t* result) {
  auto src = CopyOf(source);
  auto dst = CopyOf(source);
  *result = call.Run(src.get(), dst.get(), cb, 0);
  return dst;
}

// What the callback below runs, and what it must give.
struct NestedRun {
  const Kasa* source;
  const Kasa* expected;
  int reports = 0;
  int wrong = 0;
} g_nested;

// Despeckles an image of its own, itself reporting, from inside a report of another filter.
int32_t MARLO_STDCALL Nesting(int32_t, int32_t, int32_t) {
  int32_t result = 0;
  const auto out = RunOn(Call("Despeckle"), *g_nested.source, &Quiet, &result);
  ++g_nested.reports;
  if (result != 1 || !SameBytes(*out, *g_nested.expected)) ++g_nested.wrong;
  return 0;
}

TEST(Threads, AFilterCalledFromAProgressCallbackFinishes) {
  const auto scene = Scene(ImageType::Rgb24, 40, 27, 5);
  int32_t result = 0;
  const auto focused = RunOn(Call("ImageFocus"), *scene, &Quiet, &result);
  const auto despeckled = RunOn(Call("Despeckle"), *scene, &Quiet, &result);
  for (int32_t count : {3, 2}) {
    Threads threads(count, 2);
    g_nested = NestedRun{scene.get(), despeckled.get()};
    const auto out = RunOn(Call("ImageFocus"), *scene, &Nesting, &result);
    EXPECT_EQ(1, result);
    EXPECT_TRUE(SameBytes(*focused, *out));
    EXPECT_EQ(29, g_nested.reports);  // the opening report, one per row and the closing one
    EXPECT_EQ(0, g_nested.wrong);
  }
}

}  // namespace
