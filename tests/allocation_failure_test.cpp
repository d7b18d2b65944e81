// Allocation failure inside a filter: every allocation a call makes is made to fail in turn.
// The call must give its failure result (or, where the failed allocation was not needed for the
// result, its normal one), write nothing into a separate destination when it fails, and leak
// nothing (the sanitizer build checks leaks).
#include <cstdlib>
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

using namespace marlo::test;

int32_t MARLO_STDCALL Quiet(int32_t, int32_t, int32_t) {
  return 0;
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
        t_injector = Injector{true, 0, n, false};
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
