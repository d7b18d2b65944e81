#!/usr/bin/env bash
# Sets up a fresh Debian machine and installs the Python package `marlo` for Debian's
# /usr/bin/python3, with the libraries and the tool, under PREFIX (default /usr/local, whose
# site folder /usr/local/lib/python3.X/dist-packages that interpreter reads).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
prefix=${PREFIX:-/usr/local}
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=/usr/bin/python3
cmake --build build -j "$(nproc)" --target kasa marlo marlo_io marlo_tool marlo_python
sudo_cmd=""
[ "$(id -u)" -ne 0 ] && [ ! -w "$prefix" ] && sudo_cmd="sudo"
$sudo_cmd cmake --install build --prefix "$prefix"
site=$(sed -n 's/^MARLO_PYTHON_INSTALL_DIR:STRING=//p' build/CMakeCache.txt)
cd /
if /usr/bin/python3 -c "import marlo" 2>/dev/null; then
  echo "marlo is installed for /usr/bin/python3 ($prefix/$site)"
else
  echo "marlo is installed in $prefix/$site; add it to PYTHONPATH for /usr/bin/python3"
fi
