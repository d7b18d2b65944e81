// What every export promises, walked over the shared table: its entry in the Windows export
// table; the refusals of missing images, of types it does not take and of destinations its rule
// does not allow; the per-row progress protocol, abort and the busy hook; the same results from
// several threads at once; and a clean failure wherever an allocation fails.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <thread>

#include "colour/hsl_enhancement.h"
#include "frame/threads.h"
#include "test_support.h"

namespace {

// The allocation counter of the current thread: when armed, the allocation whose number
// reaches `failAt` throws std::bad_alloc.
struct Injector {
  bool armed = false, fired = false;
  long count = 0, failAt = 0;
};
thread_local Injector t_injector;

void* Allocate(std::size_t size) {
  Injector& in = t_injector;
  if (in.armed && ++in.count == in.failAt) {
    in.fired = true;
    throw std::bad_alloc();
  }
  void* p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t n) {
  return Allocate(n);
}
void* operator new[](std::size_t n) {
  return Allocate(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

namespace {

using namespace marlo::test;

struct DefEntry {
  std::string name;
  int bytes;  // the @bytes decoration, -1 when there is none
  bool named;
};

// Ordinal -> entry, from the EXPORTS lines "Name[@bytes] @ordinal [NONAME]".
std::map<int, DefEntry> ReadDefinitionFile() {
  std::ifstream in(MARLO_DEF_FILE);
  EXPECT_TRUE(in.good()) << MARLO_DEF_FILE;
  std::map<int, DefEntry> entries;
  bool exports = false;
  for (std::string line, name, ordinal, flag; std::getline(in, line);) {
    std::istringstream words(line.substr(0, line.find(';')));
    if (!(words >> name) || !exports) {
      exports = exports || name == "EXPORTS";
      continue;
    }
    const size_t at = name.find('@');
    const int n = (words >> ordinal, std::stoi(ordinal.substr(1)));
    EXPECT_EQ(0u, entries.count(n)) << line;
    entries[n] = {name.substr(0, at), at == std::string::npos ? -1 : std::stoi(name.substr(at + 1)),
                  !(words >> flag && flag == "NONAME")};
  }
  return entries;
}

// The cross build links with frame/marlo.def, so a mismatch with the declarations would show only
// there: every filter under its name and ordinal with the decoration of its declared arguments,
// the two hook setters at 18 and 19 and the thread setting at 20 and 21, without names.
TEST(ExportTable, DefinitionFileMatchesTheDeclarations) {
  const auto entries = ReadDefinitionFile();
  ASSERT_EQ(21u, entries.size());
  for (const ExportCall& c : ExportCalls()) {
    ASSERT_EQ(1u, entries.count(c.ordinal)) << c.name;
    const DefEntry& e = entries.at(c.ordinal);
    EXPECT_EQ(c.name, e.name);
    EXPECT_EQ(c.argumentBytes, e.bytes) << c.name;
    EXPECT_TRUE(e.named) << c.name;
  }
  const std::pair<const char*, int> unnamed[] = {{"MarloSetMessageHandler", -1},
                                                 {"MarloSetBusyHandler", -1},
                                                 {"MarloSetThreads", 4},
                                                 {"MarloGetThreads", 0}};
  for (int n = 18; n <= 21; ++n) {
    EXPECT_EQ(unnamed[n - 18].first, entries.at(n).name);
    EXPECT_EQ(unnamed[n - 18].second, entries.at(n).bytes) << n;
    EXPECT_FALSE(entries.at(n).named) << n;
  }
}

// A scene with a mild warm cast around its centre, so that tint removal accepts its reference
// there; large enough for the book effect.
std::unique_ptr<Kasa> Smooth(ImageType type, int32_t w, int32_t h) {
  auto image = Scene(type, w, h, 7);
  for (int32_t i = 0; i < 27 && IsColour(type); ++i) {
    SetSample(*image, w / 2 + i / 3 % 3 - 1, h / 2 + i / 9 - 1, i % 3,
              (100 + 10 * (i % 3)) * (IsWide(type) ? 257 : 1));
  }
  return image;
}

TEST(Exports, RefuseMissingImagesAndTypesTheyDoNotTake) {
  Recorder hooks;
  for (const ExportCall& call : ExportCalls()) {
    for (ImageType type : kAllTypes) {
      auto src = Smooth(type, 41, 23);
      auto dst = PatternImage(type, 41, 23, 1);
      auto before = CopyOf(*dst);
      Kasa empty;
      Recorder progress;
      EXPECT_EQ(call.failure, call.Run(nullptr, nullptr, &Recorder::Callback, 0));
      EXPECT_EQ(call.failure, call.Run(nullptr, dst.get(), &Recorder::Callback, 0));
      EXPECT_EQ(call.failure, call.Run(&empty, dst.get(), &Recorder::Callback, 0));
      EXPECT_EQ(call.failure, call.Run(nullptr, &empty, &Recorder::Callback, 0));
      if (!call.Accepts(type)) {
        EXPECT_EQ(call.failure, call.Run(src.get(), dst.get(), &Recorder::Callback, 0));
        EXPECT_EQ(call.failure, call.Run(src.get(), &empty, &Recorder::Callback, 0));
      }
      EXPECT_TRUE(progress.calls().empty()) << call.name;
      EXPECT_TRUE(hooks.busy().empty()) << call.name;
      EXPECT_EQ(call.failure, call.Run(src.get(), nullptr, nullptr, 0)) << call.name;
      EXPECT_TRUE(SameBytes(*before, *dst)) << call.name;
      EXPECT_EQ(1, empty.IsEmpty()) << call.name;
    }
  }
}

TEST(Exports, DestinationsFollowTheirRule) {
  Recorder hooks;  // quiet messages
  for (const ExportCall& call : ExportCalls()) {
    for (ImageType type : kAllTypes) {
      if (!call.Accepts(type)) continue;
      const ImageType other = type == ImageType::Rgb24 ? ImageType::Rgb48 : ImageType::Rgb24;
      auto src = Smooth(type, 41, 23);
      const auto d = call.destination;
      // Destination -> whether the export takes it.
      const std::pair<std::unique_ptr<Kasa>, bool> cases[] = {
          {std::make_unique<Kasa>(), d == Destination::Create},
          {PatternImage(other, 41, 23, 2), d == Destination::Rebuild},
          {PatternImage(type, 40, 23, 2), d == Destination::Overlap || d == Destination::Rebuild},
          {PatternImage(type, 41, 22, 2), d == Destination::Overlap || d == Destination::Rebuild},
          {PatternImage(type, 42, 24, 2), d != Destination::Create && d != Destination::Match}};
      for (const auto& [dst, taken] : cases) {
        auto before = CopyOf(*dst);
        const int32_t result = call.Run(src.get(), dst.get(), nullptr, 0);
        const std::string what = std::string(call.name) + " into " +
                                 std::to_string(before->GetImageWidth()) + " x " +
                                 std::to_string(before->GetImageHeight());
        EXPECT_EQ(taken ? 1 - call.failure : call.failure, result) << what;
        if (!taken) {
          EXPECT_TRUE(SameBytes(*before, *dst)) << what;
        } else if (d != Destination::Overlap && d != Destination::Cover) {
          EXPECT_EQ(src->GetImageType(), dst->GetImageType()) << what;
          EXPECT_EQ(41, dst->GetImageWidth()) << what;
        }
      }
    }
  }
}

TEST(Exports, PerRowProgressAbortAndTheBusyHook) {
  for (const ExportCall& call : ExportCalls()) {
    for (ImageType type : kAllTypes) {
      if (!call.Accepts(type) || call.reports == Reports::None) continue;
      auto src = Smooth(type, 41, 50);
      auto quiet = PatternImage(type, 41, 50, 3), dst = CopyOf(*quiet);
      ASSERT_EQ(1 - call.failure, call.Run(src.get(), quiet.get(), nullptr, 0)) << call.name;
      Recorder recorder;
      ASSERT_EQ(1 - call.failure, call.Run(src.get(), dst.get(), &Recorder::Callback, 0));
      const std::vector<int> busy =
          call.destination == Destination::Create ? std::vector<int>{1, 0} : std::vector<int>{};
      EXPECT_EQ(busy, recorder.busy()) << call.name;
      EXPECT_TRUE(SamePixels(*quiet, *dst)) << call.name << ": a null callback changes the image";
      const auto values = recorder.values();
      ASSERT_FALSE(values.empty()) << call.name;
      EXPECT_EQ(100, values.back()) << call.name;
      if (call.reports != Reports::PerRow) {
        EXPECT_EQ(0, values.front()) << call.name;
        continue;
      }
      // Focus in circle walks the rows inside the frame of its box, which here is the image.
      const int32_t steps = call.destination == Destination::Rebuild ? 48 : 50;
      EXPECT_EQ(ProgressProtocol(0, 100, 50, steps), values) << call.name;
      for (const auto& [start, end] : {std::pair<int32_t, int32_t>{7, 7}, {10, 20}, {90, 30}}) {
        Recorder range;
        Args args;
        call.set(0, 41, 50, args);
        args.cb = &Recorder::Callback, args.start = start, args.end = end;
        ASSERT_EQ(1 - call.failure, call.call(src.get(), dst.get(), args));
        EXPECT_EQ(ProgressProtocol(start, end, 50, steps), range.values())
            << call.name << " " << start;
      }
      // Stopped at the first per-row report: nothing more is reported, the rows after it are
      // not written, and the wait-cursor filters still report success.
      auto stopped = PatternImage(type, 41, 50, 4);
      auto before = call.destination == Destination::Rebuild ? CopyOf(*src) : CopyOf(*stopped);
      Recorder aborting(2);
      const int32_t abortResult = call.destination == Destination::Create ? 1 : call.failure;
      EXPECT_EQ(abortResult, call.Run(src.get(), stopped.get(), &Recorder::Callback, 0));
      EXPECT_EQ(2u, aborting.calls().size()) << call.name;
      for (int32_t y = 2; y < 50; ++y) {
        ASSERT_EQ(0, std::memcmp(before->RowData(y), stopped->RowData(y),
                                 static_cast<size_t>(before->GetLineBytes())))
            << call.name << " row " << y;
      }
    }
  }
}

int32_t MARLO_STDCALL Quiet(int32_t, int32_t, int32_t) {
  return 0;
}

struct Job {
  const ExportCall* call;
  ImageType type;
  int variant;
};

// The result and the destination of one job on a scene of its own.
std::pair<int32_t, std::unique_ptr<Kasa>> RunJob(const Job& job, uint32_t salt) {
  auto src = Scene(job.type, 41, 23, salt);
  auto dst = job.call->destination == Destination::Create ? std::make_unique<Kasa>() : CopyOf(*src);
  const int32_t result = job.call->Run(src.get(), dst.get(), &Quiet, job.variant);
  return {result, std::move(dst)};
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
  std::vector<std::pair<int32_t, std::unique_ptr<Kasa>>> reference;
  for (size_t j = 0; j < jobs.size(); ++j)
    reference.push_back(RunJob(jobs[j], static_cast<uint32_t>(j)));

  // Meanwhile every worker sets the thread count before each job (1, 2, 3 or one per core), so
  // that runs split in bands of two rows over the pool start while others end.
  marlo::SetBandRowsForTesting(2);
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
  std::vector<std::vector<std::pair<int32_t, std::unique_ptr<Kasa>>>> results(kThreads);
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([&, t] {
      // Each thread walks the jobs starting at its own place.
      for (size_t i = 0; i < jobs.size(); ++i) {
        const size_t j = (i + static_cast<size_t>(t) * 13) % jobs.size();
        MarloSetThreads(static_cast<int32_t>((i + static_cast<size_t>(t)) % 4));
        results[t].push_back(RunJob(jobs[j], static_cast<uint32_t>(j)));
      }
    });
  }
  for (auto& w : workers) w.join();
  done = true;
  swapper.join();
  MarloSetBusyHandler(nullptr);
  MarloSetMessageHandler(previousMessage);
  MarloSetThreads(1);
  marlo::SetBandRowsForTesting(0);

  for (int t = 0; t < kThreads; ++t) {
    for (size_t i = 0; i < jobs.size(); ++i) {
      const size_t j = (i + static_cast<size_t>(t) * 13) % jobs.size();
      const std::string what = std::string(jobs[j].call->name) + " type " +
                               std::to_string(static_cast<int>(jobs[j].type));
      EXPECT_EQ(reference[j].first, results[t][i].first) << what;
      EXPECT_TRUE(SameBytes(*reference[j].second, *results[t][i].second)) << what;
    }
  }
}

// HSL enhancement without its lattice tables, the documented way of working when they cannot be
// had: a second acceptable outcome of a successful call.
int32_t DirectHsl(const ExportCall& call, Kasa* src, Kasa* dst) {
  Args a;
  call.set(0, src->GetImageWidth(), src->GetImageHeight(), a);
  marlo::CHSLEnhancement direct(false);
  direct.SetParameters(a.a[0], a.a[1], a.a[2]);
  return direct.Run(src, dst, &Quiet, 0, 100) == marlo::Status::Ok ? 1 : 0;
}

TEST(AllocationFailure, EveryAllocationOfEveryExportFailsCleanly) {
  MarloMessageHandler previous = MarloSetMessageHandler([](const char*) {});
  for (const ExportCall& call : ExportCalls()) {
    for (ImageType type : kAllTypes) {
      if (!call.Accepts(type)) continue;
      auto src = PatternImage(type, 23, 11, 5);
      // The normal outcome, with no failure injected.
      auto normal = PatternImage(type, 23, 11, 6);
      const int32_t normalResult = call.Run(src.get(), normal.get(), &Quiet, 0);
      std::unique_ptr<Kasa> fallback;
      if (std::string(call.name) == "HSLEnhancement") {
        fallback = PatternImage(type, 23, 11, 6);
        EXPECT_EQ(normalResult, DirectHsl(call, src.get(), fallback.get()));
      }
      for (long n = 1; n < 10000; ++n) {
        auto dst = PatternImage(type, 23, 11, 6);
        auto dstBefore = CopyOf(*dst), srcBefore = CopyOf(*src);
        t_injector = Injector{true, false, 0, n};
        const int32_t result = call.Run(src.get(), dst.get(), &Quiet, 0);
        const bool fired = t_injector.fired;
        t_injector.armed = false;
        const std::string what = std::string(call.name) + " type " +
                                 std::to_string(static_cast<int>(type)) + " allocation " +
                                 std::to_string(n);
        EXPECT_TRUE(SameBytes(*srcBefore, *src)) << what;
        if (!fired) {
          // Every allocation of the call has been failed once: this run is the normal one.
          EXPECT_EQ(normalResult, result) << what;
          EXPECT_TRUE(SameBytes(*normal, *dst)) << what;
          break;
        }
        if (result == call.failure && result != normalResult) {
          EXPECT_TRUE(SameBytes(*dstBefore, *dst)) << what << ": a failed call wrote";
        } else {
          EXPECT_EQ(normalResult, result) << what;
          EXPECT_TRUE(SameBytes(*normal, *dst) || (fallback && SameBytes(*fallback, *dst)))
              << what << ": success with a different image";
        }
      }
    }
  }
  MarloSetMessageHandler(previous);
}

}  // namespace
