#!/usr/bin/env bash
# Sets up a fresh Debian machine, then builds each configuration once and runs every test in it:
# - an optimised build with warnings as errors, benchmarks included; on a processor with AVX2
#   its row kernels run their AVX2 variants;
# - an AddressSanitizer + UndefinedBehaviorSanitizer build of the portable kernels alone
#   (MARLO_PORTABLE_KERNELS: no AVX2 variant, no SSE2 intrinsics), without the benchmarks.
# Any failure or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DMARLO_WERROR=ON
cmake --build build -j "$jobs"
ctest --test-dir build -j "$jobs" --output-on-failure

cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLO_SANITIZE=ON \
  -DMARLO_PORTABLE_KERNELS=ON -DMARLO_WERROR=ON -DMARLO_BUILD_BENCH=OFF
cmake --build build-sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build-sanitize -j "$jobs" --output-on-failure
