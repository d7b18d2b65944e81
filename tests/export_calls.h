// Every export as one uniform call with what callers may rely on about it, and a few parameter
// sets each, for the code that walks all filters alike: the golden digests, the export contract,
// concurrency and allocation-failure checks, the fuzzer and the benchmarks.
#ifndef MARLO_TESTS_EXPORT_CALLS_H
#define MARLO_TESTS_EXPORT_CALLS_H

#include <cstdint>
#include <vector>

#include "marlo.h"

namespace marlo::test {

constexpr ImageType kAllTypes[] = {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48,
                                   ImageType::Gray16};

// The arguments of a call besides the images: the integers and the float in the order they are
// declared, the arrays (CBEnhancement: contrast, brightness; HSLEnhancement: hue, saturation,
// lightness), and the callback with its range.
struct Args {
  int32_t n[4] = {};
  float f = 0.0f;
  int32_t a[3][7] = {};
  ProgressCallback cb = nullptr;
  int32_t start = 0, end = 100;
};

// How an export reports progress: the per-row protocol, a rule of its own, or not at all.
enum class Reports { PerRow, OwnRule, None };

// What an export does with its destination: creates it when empty (a non-empty one must match
// the source); requires it to match the source's type and size; requires the source's type and
// at least its size; requires the source's type and writes where the two overlap; rebuilds any
// non-empty destination as a copy of the source.
enum class Destination { Create, Match, Cover, Overlap, Rebuild };

struct ExportCall {
  const char* name;
  int ordinal;        // in the Windows export table
  int argumentBytes;  // of the __stdcall decoration on 32-bit Windows
  bool colourOnly;    // accepts Rgb24 and Rgb48 only
  Reports reports;
  Destination destination;
  int32_t failure;  // the result of a refused call
  int variants;     // parameter sets, 0 .. variants - 1
  // Parameter set `variant` for a source of w x h pixels.
  void (*set)(int variant, int32_t w, int32_t h, Args& args);
  int32_t (*call)(Kasa* src, Kasa* dst, const Args& args);

  // Runs parameter set `variant` with `cb` over 0..100 (an 8 x 8 source is assumed for a null or
  // empty one).
  int32_t Run(Kasa* src, Kasa* dst, ProgressCallback cb, int variant) const;
  bool takesCallback() const { return reports != Reports::None; }
  bool Accepts(ImageType t) const {
    return !colourOnly || t == ImageType::Rgb24 || t == ImageType::Rgb48;
  }
};

const std::vector<ExportCall>& ExportCalls();

}  // namespace marlo::test

#endif  // MARLO_TESTS_EXPORT_CALLS_H
