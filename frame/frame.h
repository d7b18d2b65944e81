// What every filter shares: type predicates, sample byte order, sample-width traits, row access
// in machine order, destination checks, the progress meter and the host hooks.
#ifndef MARLO_FRAME_FRAME_H
#define MARLO_FRAME_FRAME_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "marlo.h"

namespace marlo {

// Outcome of a filter run inside the library; only the exports turn it into 1/0.
enum class Status { Ok, Refused, Aborted, NoMemory };

// Types 5, 1, 10 and 9 (tested in that order).
bool IsSupportedType(int type);
// Types 1 and 9.
bool IsColorType(int type);
bool IsType(const Kasa* image, ImageType type);

// Reverses the bytes of a 2- or 4-byte sample in place; any other size leaves it untouched.
void SwapSampleBytes(void* sample, uint16_t size);
// Swaps `count` 16-bit samples between the store's byte order and the machine's (the same
// operation both ways).
void SwapSamples16(uint16_t* samples, size_t count);

// Rounds a double to single precision in a way that survives optimisation. GCC 12 at -O2 drops
// a plain round trip of a double through float (`double d = static_cast<float>(x);`) in some
// vectorised code, so every value that must be held in single precision goes through here.
inline float RoundToSingle(double value) {
  volatile float rounded = static_cast<float>(value);
  return rounded;
}

// Row kernels may be compiled a second time for AVX2 and chosen at run time: on x86 with GCC or
// Clang, unless MARLO_NO_AVX2 is defined (which builds the plain variants alone, to check them on
// any machine). Both variants do the same integer or IEEE arithmetic, so they give the same
// results; the wider vectors only do more samples per step.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__)) && \
    !defined(MARLO_NO_AVX2)
#define MARLO_AVX2_VARIANTS 1
#endif

// True when the AVX2 variants are built and the processor runs them (asked once).
bool CpuHasAvx2();

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

// Samples per pixel of an image: 3 for RGB, 1 for grey.
int SamplesPerPixel(const Kasa& image);

// Row access in machine order. An 8-bit row is width * spp samples read through the 24-bit or
// grey line operation; a 16-bit row is the whole raw line (GetLineBytes / 2 samples, padding
// included) read with GetHorLine and swapped into machine order.
template <class D>
size_t RowSamples(const Kasa& image);

template <class D>
void ReadRow(Kasa& image, int32_t y, typename D::Sample* row);

// Writes a row given in machine order. The 16-bit form swaps the buffer into the store's order
// for the write and back again, so the buffer holds the same values afterwards.
template <class D>
void WriteRow(Kasa& image, int32_t y, typename D::Sample* row);

// Writes pixels x0 to x1 of row y from a row buffer in machine order laid out as ReadRow
// fills it (pixel x at sample x * spp); the rest of the stored row is left as it was. The caller
// passes 0 <= x0 <= x1 < width. The 16-bit form swaps those samples into the store's order for
// the write and back again, so the buffer holds the same values afterwards.
template <class D>
void WritePixels(Kasa& image, int32_t y, int32_t x0, int32_t x1, typename D::Sample* row);

// A row buffer of the right size for `image`. When memory is short it throws std::bad_alloc,
// which the export's Guard turns into the failure result before anything is written.
template <class D>
std::vector<typename D::Sample> AllocateRow(const Kasa& image) {
  std::vector<typename D::Sample> row;
  row.resize(RowSamples<D>(image) + 4);  // a little slack, as the line buffers always had
  return row;
}

// Counts kept in several copies of 32-bit counters, added into 64-bit totals before any counter
// could overflow. The counters stay in cache; spreading successive items over the copies keeps
// a run of equal items from waiting for one counter's previous increment.
template <class Total>
class SplitCounters {
 public:
  SplitCounters(size_t span, size_t copies)
      : span_(span), copies_(copies), counters_(span * copies, 0), totals_(span, 0) {}

  // The `span` counters of copy k (0 <= k < copies).
  uint32_t* Copy(size_t k) { return counters_.data() + k * span_; }

  // Announces up to `items` more counts per counter; first adds the counters into the totals
  // when those counts could overflow them.
  void Expect(uint64_t items) {
    if (pending_ + items > UINT32_MAX) Flush();
    pending_ += items;
  }

  // Adds every counter into the totals and clears it.
  void Flush() {
    for (size_t copy = 0; copy < copies_; ++copy) {
      uint32_t* c = Copy(copy);
      for (size_t k = 0; k < span_; ++k) {
        totals_[k] += c[k];
        c[k] = 0;
      }
    }
    pending_ = 0;
  }

  // The totals, complete after a final Flush.
  const std::vector<Total>& totals() const { return totals_; }

 private:
  size_t span_;
  size_t copies_;
  std::vector<uint32_t> counters_;
  std::vector<Total> totals_;
  uint64_t pending_ = 0;
};

// True when both images hold pictures of the same type, width and height.
bool SameGeometry(const Kasa& a, const Kasa& b);

// The destination treatment of the filters that create an empty destination: refuses a null
// image, an empty source or a source whose type fails `accepts`; creates an empty destination
// with the source's type and size; refuses a non-empty destination of another type or size
// (it would receive rows of the wrong layout).
Status PrepareDestination(Kasa* src, Kasa* dst, bool (*accepts)(int type));

// The destination treatment of the filters that write every source position into an existing
// destination (auto adjustment, noise removal): refuses a null or empty image, and a
// destination of another type or smaller than the source. A larger one is written in its
// top-left part.
Status CheckCoveringDestination(const Kasa* src, const Kasa* dst);

// The progress meter of the per-row protocol. All arithmetic follows the protocol exactly:
// position is a 32-bit integer, accumulator and step are single-precision floats.
class Progress {
 public:
  // rows: the number of rows the worker walks (the divisor of the step).
  Progress(ProgressCallback callback, int32_t start, int32_t end, int32_t rows);

  // Opening report (start, end, start); its result is ignored.
  void Begin();
  // Once per row. Returns false when the callback asked to abort.
  bool Step();
  // Closing report (start, end, end) unless the last report already gave end.
  void Finish();

  bool active() const { return callback_ != nullptr; }
  int32_t position() const { return position_; }

 private:
  ProgressCallback callback_;
  int32_t start_;
  int32_t end_;
  int32_t position_;
  float accumulator_;
  float step_;
};

// Calls the busy handler with 1 on construction and 0 on destruction (the wait cursor).
class BusyScope {
 public:
  BusyScope();
  ~BusyScope();
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  MarloBusyHandler handler_;
};

// Hands a message to the message handler (the message box).
void ShowMessage(const char* text);

// Runs `body` and turns any exception into `failure`, so that none crosses an export.
template <class F>
int32_t Guard(int32_t failure, F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace marlo

#endif  // MARLO_FRAME_FRAME_H
