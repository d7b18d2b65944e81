// Every export as one uniform call, with a few parameter sets each, for the code that walks all
// filters alike: the golden digests, the concurrency and allocation-failure checks, the fuzzer
// and the benchmarks.
#ifndef MARLO_TESTS_EXPORT_CALLS_H
#define MARLO_TESTS_EXPORT_CALLS_H

#include <cstdint>
#include <vector>

#include "marlo.h"

namespace marlo::test {

struct ExportCall {
  const char* name;
  bool colourOnly;     // accepts Rgb24 and Rgb48 only
  bool takesCallback;  // reports progress (the others ignore the callback they are given)
  bool createsDestination;
  int variants;  // parameter sets, 0 .. variants - 1
  // Runs parameter set `variant`; points and radii are placed relative to the source's size
  // (an 8 x 8 image is assumed for a null or empty source).
  int32_t (*run)(Kasa* src, Kasa* dst, ProgressCallback cb, int variant);
};

const std::vector<ExportCall>& ExportCalls();

}  // namespace marlo::test

#endif  // MARLO_TESTS_EXPORT_CALLS_H
