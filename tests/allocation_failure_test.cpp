// Allocation failure inside a filter: every allocation a call makes is made to fail in turn.
// The call must give its failure result (or, where the failed allocation was not needed for the
// result, its normal one), write nothing into a separate destination when it fails, and leak
// nothing (the sanitizer build checks leaks).
#include <cstdlib>
#include <functional>
#include <new>
#include <string>

#include "colour/hsl_enhancement.h"
#include "test_support.h"

namespace {

// The allocation counter of the current thread: when armed, the allocation whose number
// reaches `failAt` throws std::bad_alloc.
struct Injector {
  bool armed = false;
  long count = 0;
  long failAt = 0;
  bool fired = false;
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

void* operator new(std::size_t size) {
  return Allocate(size);
}
void* operator new[](std::size_t size) {
  return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
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

struct Call {
  std::string name;
  ImageType type;
  int32_t failure;
  std::function<int32_t(Kasa*, Kasa*)> run;
  // A second acceptable outcome of a successful call, for a filter that falls back to another
  // documented way of working when an allocation fails (HSL enhancement without its tables).
  std::function<int32_t(Kasa*, Kasa*)> fallback = nullptr;
};

int32_t MARLO_STDCALL Quiet(int32_t, int32_t, int32_t) {
  return 0;
}
void NoMessage(const char*) {}

std::vector<Call> Calls() {
  std::vector<Call> calls;
  for (ImageType t : marlo::test::kAllTypes) {
    calls.push_back({"CBEnhancement", t, 0, [](Kasa* s, Kasa* d) {
                       const int32_t c[3] = {30, 0, -20}, b[3] = {0, 10, 0};
                       return CBEnhancement(s, d, c, b, &Quiet, 0, 100);
                     }});
    calls.push_back({"AutoExposure", t, 0,
                     [](Kasa* s, Kasa* d) { return AutoExposure(s, d, 0, 0.f, &Quiet, 0, 100); }});
    calls.push_back({"AutoEnhancement", t, 0, [](Kasa* s, Kasa* d) {
                       return AutoEnhancement(s, d, 0.5f, 40, &Quiet, 0, 100);
                     }});
    calls.push_back({"ImageFocus", t, 0,
                     [](Kasa* s, Kasa* d) { return ImageFocus(s, d, 90, &Quiet, 0, 100); }});
    calls.push_back({"ImageFocusInCircle", t, 0, [](Kasa* s, Kasa* d) {
                       return ImageFocusInCircle(s, d, 6, 5, 4, 100, &Quiet, 0, 100);
                     }});
    calls.push_back(
        {"Despeckle", t, 0, [](Kasa* s, Kasa* d) { return Despeckle(s, d, 10, &Quiet, 0, 100); }});
    calls.push_back(
        {"AutoAdjustment", t, 0, [](Kasa* s, Kasa* d) { return AutoAdjustment(s, d); }});
    calls.push_back({"RemoveNoise", t, 0, [](Kasa* s, Kasa* d) { return RemoveNoise(s, d); }});
    calls.push_back(
        {"BookEffect", t, 0, [](Kasa* s, Kasa* d) { return BookEffect(s, d, 50, 20, 20); }});
    calls.push_back(
        {"ConvexLens", t, 0, [](Kasa* s, Kasa* d) { return ConvexLens(s, d, 20, 10, 8, 2); }});
    if (t != ImageType::Rgb24 && t != ImageType::Rgb48) continue;
    calls.push_back({"Saturation", t, 0,
                     [](Kasa* s, Kasa* d) { return Saturation(s, d, 30, &Quiet, 0, 100); }});
    calls.push_back({"HSLEnhancement", t, 0,
                     [](Kasa* s, Kasa* d) {
                       const int32_t h[7] = {5}, sat[7] = {10}, l[7] = {-5};
                       return HSLEnhancement(s, d, h, sat, l, &Quiet, 0, 100);
                     },
                     [](Kasa* s, Kasa* d) {
                       const int32_t h[7] = {5}, sat[7] = {10}, l[7] = {-5};
                       marlo::CHSLEnhancement direct(false);  // no lattice tables
                       direct.SetParameters(h, sat, l);
                       return direct.Run(s, d, &Quiet, 0, 100) == marlo::Status::Ok ? 1 : 0;
                     }});
    calls.push_back({"LightAdjustment", t, 1, [](Kasa* s, Kasa* d) {
                       return LightAdjustment(s, d, 3000, 6500, &Quiet, 0, 100);
                     }});
    calls.push_back({"ColorTintAddByRGB", t, 0, [](Kasa* s, Kasa* d) {
                       return ColorTintAddByRGB(s, d, 30, 0, -30, &Quiet, 0, 100);
                     }});
    calls.push_back({"ColorTintAddByHS", t, 0, [](Kasa* s, Kasa* d) {
                       return ColorTintAddByHS(s, d, 120, 0.4f, &Quiet, 0, 100);
                     }});
    calls.push_back({"ColorTintRemove", t, 0,
                     [](Kasa* s, Kasa* d) { return ColorTintRemove(s, d, 4, 4, &Quiet, 0, 100); }});
    calls.push_back({"RemoveRedEyeClr", t, 0,
                     [](Kasa* s, Kasa* d) { return RemoveRedEyeClr(s, d, 5, 5, &Quiet, 0, 100); }});
  }
  return calls;
}

TEST(AllocationFailure, EveryAllocationOfEveryExportFailsCleanly) {
  MarloMessageHandler previous = MarloSetMessageHandler(&NoMessage);
  for (const Call& call : Calls()) {
    auto src = marlo::test::PatternImage(call.type, 23, 11, 5);
    // The normal outcome, with no failure injected.
    auto normal = marlo::test::PatternImage(call.type, 23, 11, 6);
    const int32_t normalResult = call.run(src.get(), normal.get());
    std::unique_ptr<Kasa> fallback;
    if (call.fallback) {
      fallback = marlo::test::PatternImage(call.type, 23, 11, 6);
      EXPECT_EQ(normalResult, call.fallback(src.get(), fallback.get())) << call.name;
    }
    for (long n = 1; n < 10000; ++n) {
      auto dst = marlo::test::PatternImage(call.type, 23, 11, 6);
      auto dstBefore = marlo::test::CopyOf(*dst);
      auto srcBefore = marlo::test::CopyOf(*src);
      t_injector = Injector{true, 0, n, false};
      const int32_t result = call.run(src.get(), dst.get());
      const bool fired = t_injector.fired;
      t_injector.armed = false;
      const std::string what = call.name + " type " + std::to_string(static_cast<int>(call.type)) +
                               " allocation " + std::to_string(n);
      EXPECT_TRUE(marlo::test::SameBytes(*srcBefore, *src)) << what;
      if (!fired) {
        // Every allocation of the call has been failed once: this run is the normal one.
        EXPECT_EQ(normalResult, result) << what;
        EXPECT_TRUE(marlo::test::SameBytes(*normal, *dst)) << what;
        break;
      }
      if (result == call.failure && result != normalResult) {
        EXPECT_TRUE(marlo::test::SameBytes(*dstBefore, *dst)) << what << ": a failed call wrote";
      } else {
        EXPECT_EQ(normalResult, result) << what;
        EXPECT_TRUE(marlo::test::SameBytes(*normal, *dst) ||
                    (fallback != nullptr && marlo::test::SameBytes(*fallback, *dst)))
            << what << ": success with a different image";
      }
    }
  }
  MarloSetMessageHandler(previous);
}

}  // namespace
