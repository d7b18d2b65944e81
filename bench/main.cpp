// marlo_bench's main: the benchmark library's own, plus a thread count for the filters.
//
//   marlo_bench [--threads N] [benchmark flags]
//
// N goes to MarloSetThreads (1, the default, runs every filter on one thread; 0 one thread per
// core); MARLO_BENCH_THREADS=N does the same. Above one thread the MPix/s counters are taken over
// the elapsed time (the library counts the benchmark thread's CPU time only, which leaves out the
// pool's threads).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "marlo.h"

namespace {

// Rescales the rate counters of each run from CPU time to elapsed time.
template <class Base>
class ElapsedRates : public Base {
 public:
  void ReportRuns(const std::vector<benchmark::BenchmarkReporter::Run>& runs) override {
    std::vector<benchmark::BenchmarkReporter::Run> copy = runs;
    for (auto& run : copy) {
      if (run.real_accumulated_time <= 0) continue;
      const double scale = run.cpu_accumulated_time / run.real_accumulated_time;
      for (auto& [name, counter] : run.counters) {
        if (counter.flags & benchmark::Counter::kIsRate) counter.value *= scale;
      }
    }
    Base::ReportRuns(copy);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const char* fromEnvironment = std::getenv("MARLO_BENCH_THREADS");
  int32_t threads = fromEnvironment != nullptr ? std::atoi(fromEnvironment) : 1;
  std::vector<char*> args;
  bool json = false;
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      threads = std::atoi(argv[++i]);
    } else if (std::strncmp(argv[i], "--threads=", 10) == 0) {
      threads = std::atoi(argv[i] + 10);
    } else {
      json = json || std::strcmp(argv[i], "--benchmark_format=json") == 0;
      args.push_back(argv[i]);
    }
  }
  if (threads < 0 || MarloSetThreads(threads) == 0) {
    std::fprintf(stderr, "--threads: a count of 0 or more\n");
    return 2;
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::AddCustomContext("marlo threads", std::to_string(MarloSetThreads(threads)));
  if (threads == 1) {
    benchmark::RunSpecifiedBenchmarks();
  } else if (json) {
    ElapsedRates<benchmark::JSONReporter> reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
  } else {
    ElapsedRates<benchmark::ConsoleReporter> reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
  }
  benchmark::Shutdown();
  return 0;
}
