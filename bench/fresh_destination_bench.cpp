// The exports that create an empty destination themselves, timed into a fresh destination on
// every call, so that the figure includes the first touch of new memory (compare with the
// steady-state Export/Type figure into a reused destination).
#include <string>

#include "bench_images.h"
#include "export_calls.h"

namespace {

void RunFresh(benchmark::State& state, const marlo::test::ExportCall& call, ImageType type) {
  Kasa& src = marlo::bench::SourceFor(call.name, type);
  for (auto _ : state) {
    Kasa dst;
    benchmark::DoNotOptimize(call.Run(&src, &dst, nullptr, 0));
  }
  marlo::bench::SetMegapixelRate(state,
                                 static_cast<double>(marlo::bench::kWidth) * marlo::bench::kHeight);
}

void Register() {
  for (const auto& call : marlo::test::ExportCalls()) {
    if (call.destination != marlo::test::Destination::Create) continue;
    for (ImageType type : marlo::test::kAllTypes) {
      if (!call.Accepts(type)) continue;
      const std::string name =
          std::string(call.name) + "/" + marlo::bench::TypeName(type) + "/FreshDestination";
      benchmark::RegisterBenchmark(name.c_str(), [&call, type](benchmark::State& s) {
        RunFresh(s, call, type);
      })->Unit(benchmark::kMillisecond);
    }
  }
}

const int registered = (Register(), 0);

}  // namespace
