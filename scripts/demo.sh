#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds the marlo tool and runs its demo: every built filter on
# the sample photographs, written as a before/after gallery into ./gallery.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target marlo_tool
./build/cli/marlo demo gallery
echo "Open the gallery in a browser: file://$(pwd)/gallery/index.html"
