// Every export at once from several threads on different images, while the host hooks are
// swapped: each result must equal the single-threaded one, byte for byte.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "test_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::PatternImage;

struct Job {
  std::string name;
  ImageType type;
  bool emptyDestination;
  std::function<int32_t(Kasa*, Kasa*)> call;
};

int32_t MARLO_STDCALL Quiet(int32_t, int32_t, int32_t) {
  return 0;
}

std::vector<Job> Jobs() {
  const int32_t c3[3] = {20, -10, 5};
  const int32_t b3[3] = {5, 0, -5};
  std::vector<Job> jobs;
  for (ImageType t : marlo::test::kAllTypes) {
    const bool colour = t == ImageType::Rgb24 || t == ImageType::Rgb48;
    jobs.push_back({"CBEnhancement", t, true, [c3, b3](Kasa* s, Kasa* d) {
                      return CBEnhancement(s, d, c3, b3, &Quiet, 0, 100);
                    }});
    jobs.push_back({"AutoExposure", t, false,
                    [](Kasa* s, Kasa* d) { return AutoExposure(s, d, 1, 0.4f, &Quiet, 0, 100); }});
    jobs.push_back({"AutoEnhancement", t, false, [](Kasa* s, Kasa* d) {
                      return AutoEnhancement(s, d, 0.4f, 60, &Quiet, 0, 100);
                    }});
    jobs.push_back({"ImageFocus", t, false,
                    [](Kasa* s, Kasa* d) { return ImageFocus(s, d, 80, &Quiet, 0, 100); }});
    jobs.push_back({"ImageFocusInCircle", t, false, [](Kasa* s, Kasa* d) {
                      return ImageFocusInCircle(s, d, 10, 8, 7, 150, &Quiet, 0, 100);
                    }});
    jobs.push_back({"Despeckle", t, false,
                    [](Kasa* s, Kasa* d) { return Despeckle(s, d, 20, &Quiet, 0, 100); }});
    jobs.push_back(
        {"AutoAdjustment", t, false, [](Kasa* s, Kasa* d) { return AutoAdjustment(s, d); }});
    jobs.push_back({"RemoveNoise", t, false, [](Kasa* s, Kasa* d) { return RemoveNoise(s, d); }});
    jobs.push_back(
        {"BookEffect", t, false, [](Kasa* s, Kasa* d) { return BookEffect(s, d, 40, 20, 30); }});
    jobs.push_back(
        {"ConvexLens", t, false, [](Kasa* s, Kasa* d) { return ConvexLens(s, d, 20, 10, 9, 3); }});
    if (!colour) continue;
    jobs.push_back({"Saturation", t, true,
                    [](Kasa* s, Kasa* d) { return Saturation(s, d, 40, &Quiet, 0, 100); }});
    jobs.push_back({"HSLEnhancement", t, true, [](Kasa* s, Kasa* d) {
                      const int32_t h[7] = {10, 0, 20, 0, -30, 0, 0};
                      const int32_t sat[7] = {5, 30, 0, 0, 0, -20, 0};
                      const int32_t l[7] = {0, 10, 0, 0, 0, 0, -10};
                      return HSLEnhancement(s, d, h, sat, l, &Quiet, 0, 100);
                    }});
    jobs.push_back({"LightAdjustment", t, false, [](Kasa* s, Kasa* d) {
                      return LightAdjustment(s, d, 3200, 6500, &Quiet, 0, 100);
                    }});
    jobs.push_back({"ColorTintAddByRGB", t, false, [](Kasa* s, Kasa* d) {
                      return ColorTintAddByRGB(s, d, 20, -10, 5, &Quiet, 0, 100);
                    }});
    jobs.push_back({"ColorTintAddByHS", t, false, [](Kasa* s, Kasa* d) {
                      return ColorTintAddByHS(s, d, 200, 0.3f, &Quiet, 0, 100);
                    }});
    jobs.push_back({"ColorTintRemove", t, true,
                    [](Kasa* s, Kasa* d) { return ColorTintRemove(s, d, 5, 5, &Quiet, 0, 100); }});
    jobs.push_back({"RemoveRedEyeClr", t, true,
                    [](Kasa* s, Kasa* d) { return RemoveRedEyeClr(s, d, 6, 6, &Quiet, 0, 100); }});
  }
  return jobs;
}

struct Outcome {
  int32_t result;
  std::unique_ptr<Kasa> image;
};

// A source made of smooth gradients with some noise, so that every filter has work to do and
// the reference colour of tint removal is a mild cast.
std::unique_ptr<Kasa> Source(ImageType type, uint32_t salt) {
  auto image = PatternImage(type, 41, 23, salt);
  const int spp = (type == ImageType::Rgb24 || type == ImageType::Rgb48) ? 3 : 1;
  const uint32_t max = (type == ImageType::Rgb48 || type == ImageType::Gray16) ? 65535 : 255;
  for (int32_t y = 0; y < 23; ++y) {
    for (int32_t x = 0; x < 41; ++x) {
      for (int k = 0; k < spp; ++k) {
        const uint32_t base =
            (max / 3) + (max / 3) * static_cast<uint32_t>(x + y) / 64 + k * max / 20;
        const uint32_t noise = marlo::test::Sample(*image, x, y, k) % (max / 16 + 1);
        marlo::test::SetSample(*image, x, y, k, base + noise);
      }
    }
  }
  return image;
}

Outcome RunJob(const Job& job, uint32_t salt) {
  auto src = Source(job.type, salt);
  Outcome out;
  out.image = std::make_unique<Kasa>();
  if (!job.emptyDestination) out.image->CopyImage(src.get());
  out.result = job.call(src.get(), out.image.get());
  return out;
}

void NoMessage(const char*) {}
void BusyA(int) {}
void BusyB(int) {}

TEST(Concurrency, EveryExportFromSeveralThreadsMatchesTheSingleThreadedResult) {
  MarloMessageHandler previousMessage = MarloSetMessageHandler(&NoMessage);
  const auto jobs = Jobs();
  constexpr int kThreads = 4;
  std::vector<Outcome> reference;
  for (size_t j = 0; j < jobs.size(); ++j)
    reference.push_back(RunJob(jobs[j], static_cast<uint32_t>(j)));

  std::atomic<bool> done{false};
  std::thread swapper([&done] {
    bool a = true;
    while (!done.load()) {
      MarloSetBusyHandler(a ? &BusyA : &BusyB);
      MarloSetMessageHandler(a ? &NoMessage : nullptr);
      MarloSetMessageHandler(&NoMessage);
      a = !a;
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
      const std::string what =
          jobs[j].name + " type " + std::to_string(static_cast<int>(jobs[j].type));
      EXPECT_EQ(reference[j].result, results[t][i].result) << what;
      EXPECT_TRUE(marlo::test::SameBytes(*reference[j].image, *results[t][i].image)) << what;
    }
  }
}

}  // namespace
