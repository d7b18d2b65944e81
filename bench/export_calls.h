// Every export with benchmark parameters, as one uniform call, for the measurements that walk
// all filters alike (progress overhead, peak memory).
#ifndef MARLO_BENCH_EXPORT_CALLS_H
#define MARLO_BENCH_EXPORT_CALLS_H

#include <vector>

#include "bench_images.h"

namespace marlo::bench {

struct ExportCall {
  const char* name;
  std::vector<ImageType> types;
  // Runs the export on src into dst with the callback (ignored by the exports that take none).
  int32_t (*run)(Kasa* src, Kasa* dst, ProgressCallback cb);
  bool takesCallback;
  // Whether the export creates an empty destination itself.
  bool createsDestination = false;
  // The source image the parameters are meant for.
  Kasa& (*source)(ImageType) = &SourceImage;
};

const std::vector<ExportCall>& ExportCalls();

}  // namespace marlo::bench

#endif  // MARLO_BENCH_EXPORT_CALLS_H
