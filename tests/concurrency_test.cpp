// Every export of the shared table at once from several threads on different images, while the
// host hooks are swapped: each result must equal the single-threaded one, byte for byte.
#include <atomic>
#include <thread>

#include "test_support.h"

namespace {

using namespace marlo::test;

struct Job {
  const ExportCall* call;
  ImageType type;
  int variant;
};

struct Outcome {
  int32_t result;
  std::unique_ptr<Kasa> image;
};

int32_t MARLO_STDCALL Quiet(int32_t, int32_t, int32_t) {
  return 0;
}

Outcome RunJob(const Job& job, uint32_t salt) {
  auto src = Scene(job.type, 41, 23, salt);
  Outcome out{
      0, job.call->destination == Destination::Create ? std::make_unique<Kasa>() : CopyOf(*src)};
  out.result = job.call->Run(src.get(), out.image.get(), &Quiet, job.variant);
  return out;
}

void NoMessage(const char*) {}
void BusyA(int) {}
void BusyB(int) {}

TEST(Concurrency, EveryExportFromSeveralThreadsMatchesTheSingleThreadedResult) {
  MarloMessageHandler previousMessage = MarloSetMessageHandler(&NoMessage);
  std::vector<Job> jobs;
  for (const ExportCall& call : ExportCalls()) {
    for (ImageType type : kAllTypes) {
      for (int v = 0; v < call.variants && call.Accepts(type); ++v)
        jobs.push_back({&call, type, v});
    }
  }
  std::vector<Outcome> reference;
  for (size_t j = 0; j < jobs.size(); ++j)
    reference.push_back(RunJob(jobs[j], static_cast<uint32_t>(j)));

  constexpr int kThreads = 4;
  std::atomic<bool> done{false};
  std::thread swapper([&done] {
    for (bool a = true; !done.load(); a = !a) {
      MarloSetBusyHandler(a ? &BusyA : &BusyB);
      MarloSetMessageHandler(a ? &NoMessage : nullptr);
      MarloSetMessageHandler(&NoMessage);
      std::this_thread::yield();
    }
  });
  std::vector<std::vector<Outcome>> results(kThreads);
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      // Each thread walks the jobs starting at its own place.
      for (size_t i = 0; i < jobs.size(); ++i) {
        const size_t j = (i + static_cast<size_t>(t) * 13) % jobs.size();
        results[t].push_back(RunJob(jobs[j], static_cast<uint32_t>(j)));
      }
    });
  }
  for (auto& w : workers) w.join();
  done = true;
  swapper.join();
  MarloSetBusyHandler(nullptr);
  MarloSetMessageHandler(previousMessage);

  for (int t = 0; t < kThreads; ++t) {
    for (size_t i = 0; i < jobs.size(); ++i) {
      const size_t j = (i + static_cast<size_t>(t) * 13) % jobs.size();
      const std::string what = std::string(jobs[j].call->name) + " type " +
                               std::to_string(static_cast<int>(jobs[j].type));
      EXPECT_EQ(reference[j].result, results[t][i].result) << what;
      EXPECT_TRUE(SameBytes(*reference[j].image, *results[t][i].image)) << what;
    }
  }
}

}  // namespace
