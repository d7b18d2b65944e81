#!/usr/bin/env bash
# Reliability checks beyond the unit tests:
# - a ThreadSanitizer build runs every export at once from several threads, while the thread
#   count changes, and the golden cases split over three threads;
# - the libFuzzer targets run for a bounded time each (FUZZ_SECONDS, default 60) under
#   AddressSanitizer and UndefinedBehaviorSanitizer, starting from the committed corpora.
# Any report or broken invariant fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
jobs=$(nproc)

need=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${need[@]}"
fi

echo "== ThreadSanitizer: every export from several threads, and split over threads"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARLO_TSAN=ON \
  -DMARLO_BUILD_BENCH=OFF -DMARLO_BUILD_CLI=OFF
cmake --build build-tsan -j "$jobs" --target marlo_tests
# The golden cases of 13 x 7 pixels at three threads in bands of two rows (every case, at 2, 3
# and 8 threads, runs in ctest).
MARLO_GOLDEN_ONLY=/13x7/ TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/marlo_tests \
  --gtest_filter='Concurrency.*:Threads.*:Counts/GoldenThreads.*/1'

echo "== libFuzzer targets, ${seconds} s each"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMARLO_FUZZ=ON -DMARLO_SANITIZE=ON -DMARLO_BUILD_TESTS=OFF -DMARLO_BUILD_BENCH=OFF \
  -DMARLO_BUILD_CLI=ON
cmake --build build-fuzz -j "$jobs"
for target in build-fuzz/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  work=$(mktemp -d)
  cp fuzz/corpus/"$name"/* "$work"/ 2>/dev/null || true
  echo "-- $name"
  # The format targets decode under the io library's memory budget for their 4-megapixel limit
  # (see fuzz/image_fuzz.cpp): a single allocation above 96 MB is a finding.
  limit=()
  [ "$name" != exports ] && limit=(-malloc_limit_mb=96)
  UBSAN_OPTIONS=halt_on_error=1 "$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 \
    "${limit[@]}" -artifact_prefix="$work/" -print_final_stats=1 "$work" 2>&1 | tail -n 12
  if ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-* >/dev/null 2>&1; then
    echo "fuzz target $name found a failing input:"; ls "$work"
    exit 1
  fi
  rm -rf "$work"
done
echo "reliability checks passed"
