// What every part of the library shares: the outcome of a run, the image-type predicates, the
// sample-depth traits with the one dispatch on them, and the sample byte order.
#ifndef MARLO_FRAME_TYPES_H
#define MARLO_FRAME_TYPES_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "marlo.h"

namespace marlo {

// Outcome of a filter run inside the library; only the exports turn it into 1/0.
enum class Status {
  Ok,
  Refused,
  Aborted,  // the progress callback asked to stop
  NoMemory,
  Changed,  // a progress callback replaced the source or the destination during the run
};

// Types 5, 1, 10 and 9 (tested in that order).
bool IsSupportedType(int type);
// Types 1 and 9.
bool IsColorType(int type);
// True when both images hold pictures of the same type, width and height.
bool SameGeometry(const Kasa& a, const Kasa& b);

// Reverses the bytes of a 2- or 4-byte sample in place; any other size leaves it untouched.
void SwapSampleBytes(void* sample, uint16_t size);

// Rounds a double to single precision in a way that survives optimisation. GCC 12 at -O2 drops
// a plain round trip of a double through float (`double d = static_cast<float>(x);`) in some
// vectorised code, so every value that must be held in single precision goes through here.
inline float RoundToSingle(double value) {
  volatile float rounded = static_cast<float>(value);
  return rounded;
}

// Sample-width traits. Intermediate arithmetic never derives its type from Sample: filters
// write int32_t, int64_t, double or float explicitly.
struct Depth8 {
  using Sample = uint8_t;
  static constexpr int32_t kMax = 255;
  static constexpr int32_t kScale = 1;  // 16-bit constants are 257 times the 8-bit ones
  static constexpr int kBits = 8;
  static bool Accepts(int type) {
    return type == static_cast<int>(ImageType::Rgb24) || type == static_cast<int>(ImageType::Gray8);
  }
};

struct Depth16 {
  using Sample = uint16_t;
  static constexpr int32_t kMax = 65535;
  static constexpr int32_t kScale = 257;
  static constexpr int kBits = 16;
  static bool Accepts(int type) {
    return type == static_cast<int>(ImageType::Rgb48) ||
           type == static_cast<int>(ImageType::Gray16);
  }
};

// The one choice between the 8-bit and the 16-bit worker: calls work(Depth8{}) for Rgb24 and
// Gray8, work(Depth16{}) for Rgb48 and Gray16, and returns its Status (Ok for a worker that
// returns nothing); any other type is Refused without calling it.
template <class Work>
Status ForDepth(int type, Work&& work) {
  using Result = decltype(work(Depth8{}));
  const auto run = [&](auto depth) {
    if constexpr (std::is_void_v<Result>) {
      work(depth);
      return Status::Ok;
    } else {
      return work(depth);
    }
  };
  if (Depth8::Accepts(type)) return run(Depth8{});
  if (Depth16::Accepts(type)) return run(Depth16{});
  return Status::Refused;
}

// The type of an image, 0 for none.
inline int TypeOf(const Kasa* image) {
  return image != nullptr ? image->GetImageType() : 0;
}

// Runs `body` and turns any exception into `failure`, so that none crosses an export.
template <class F>
int32_t Guard(int32_t failure, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

// The body of every export, defined beside its filter: `run` gives the Status of the call, the
// export gives 1 for Ok and 0 for anything else, or the reverse where its failure result is 1
// (LightAdjustment). An exception, such as a failed allocation, gives the failure result.
template <class Run>
int32_t Export(int32_t failure, Run&& run) noexcept {
  return Guard(failure, [&] { return run() == Status::Ok ? 1 - failure : failure; });
}

}  // namespace marlo

#endif  // MARLO_FRAME_TYPES_H
