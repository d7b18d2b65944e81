// The cost of progress reporting: every export that takes a callback runs alternately with a
// null callback and with one that records each report, on the same images, and the counter
// `overhead %` gives how much longer the reporting runs took (fastest run against fastest run,
// in thread CPU time, so that the two halves see the same machine state).
#include <ctime>
#include <string>

#include "bench_images.h"
#include "export_calls.h"

namespace {

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// What a host typically does with a report: remember it for its progress bar.
volatile int32_t g_lastReport = 0;
int32_t MARLO_STDCALL RecordReport(int32_t, int32_t, int32_t current) {
  g_lastReport = current;
  return 0;  // go on
}

void RunOverhead(benchmark::State& state, const marlo::test::ExportCall& call, ImageType type) {
  Kasa& src = marlo::bench::SourceFor(call.name, type);
  Kasa& dst = marlo::bench::ReusedDestination(type);
  double fastestQuiet = 1e300;
  double fastestReporting = 1e300;
  for (auto _ : state) {
    double t0 = ThreadSeconds();
    benchmark::DoNotOptimize(call.Run(&src, &dst, nullptr, 0));
    const double quiet = ThreadSeconds() - t0;
    t0 = ThreadSeconds();
    benchmark::DoNotOptimize(call.Run(&src, &dst, &RecordReport, 0));
    const double reporting = ThreadSeconds() - t0;
    if (quiet < fastestQuiet) fastestQuiet = quiet;
    if (reporting < fastestReporting) fastestReporting = reporting;
  }
  state.counters["overhead %"] = 100.0 * (fastestReporting - fastestQuiet) / fastestQuiet;
}

void Register() {
  for (const auto& call : marlo::test::ExportCalls()) {
    if (!call.takesCallback()) continue;
    for (ImageType type : marlo::test::kAllTypes) {
      if (!call.Accepts(type)) continue;
      const std::string name =
          std::string("ProgressOverhead/") + call.name + "/" + marlo::bench::TypeName(type);
      benchmark::RegisterBenchmark(name.c_str(), [&call, type](benchmark::State& s) {
        RunOverhead(s, call, type);
      })->Unit(benchmark::kMillisecond);
    }
  }
}

const int registered = (Register(), 0);

}  // namespace
