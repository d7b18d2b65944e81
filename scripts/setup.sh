#!/usr/bin/env bash
# Installs the Debian packages marlo needs to build, test and benchmark (only what is missing).
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  libpng-dev libjpeg62-turbo-dev libtiff-dev libcli11-dev)
# The Python package, for Debian's /usr/bin/python3: pybind11, numpy, and pytest, Hypothesis and
# Dask's distributed for its tests.
packages+=(python3-dev pybind11-dev python3-numpy python3-pytest python3-hypothesis
  python3-distributed)
# Only the gallery test needs a browser; it is skipped without one. CI (and MARLO_BROWSER=1)
# installs Debian's chromium for it.
if [ -n "${CI:-}" ] || [ "${MARLO_BROWSER:-}" = 1 ]; then
  packages+=(chromium)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
