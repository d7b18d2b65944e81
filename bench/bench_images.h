// Deterministic photo-like test images for the benchmarks, built once per type and shared.
#ifndef MARLO_BENCH_IMAGES_H
#define MARLO_BENCH_IMAGES_H

#include <benchmark/benchmark.h>

#include "marlo.h"

namespace marlo::bench {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;

// A 6000 x 4000 image of the given type: smooth gradients, edges, texture and a little noise,
// with 16-bit samples that use their low bytes. Built on first use and kept for the run.
Kasa& SourceImage(ImageType type);

// A destination of the same type and size, already written once, so that steady-state figures
// do not include the first touch of fresh memory.
Kasa& ReusedDestination(ImageType type);

// The benchmark image with a mild warm cast painted into the 3 x 3 patch around
// (kCastPointX, kCastPointY), so that tint removal accepts that point as its reference and maps
// the whole image. Colour types only.
constexpr int32_t kCastPointX = 3000;
constexpr int32_t kCastPointY = 2000;
Kasa& CastSource(ImageType type);

// The benchmark image for parameter set 0 of an export in the shared table of export calls: tint
// removal takes the cast image, every other export the plain one.
Kasa& SourceFor(const char* exportName, ImageType type);

// Reports megapixels per second of CPU time for `pixels` pixels per iteration.
void SetMegapixelRate(benchmark::State& state, double pixels);

const char* TypeName(ImageType type);

}  // namespace marlo::bench

#endif  // MARLO_BENCH_IMAGES_H
