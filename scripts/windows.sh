#!/usr/bin/env bash
# Cross-builds Kasa.dll and Marlo.dll for 32-bit Windows with Debian's MinGW-w64 i686 toolchain
# (installed with apt-get where missing) and checks what the DLLs export and import:
#   - Marlo.dll exports exactly what frame/marlo.def lists: the seventeen filters by name, each
#     under its ordinal, and the two host-hook setters and the two thread-setting functions by
#     ordinal only;
#   - the DLLs import only Windows' own DLLs (and Marlo.dll imports Kasa.dll): the GCC runtime
#     is linked in statically;
#   - Marlo.dll imports from Kasa.dll only members that include/kasa.h declares;
#   - a host program links the import libraries (every export) and looks exports up by name and
#     by ordinal; the installed CMake package builds the consumer program for Windows.
# The DLLs cannot run on this machine, so the filters themselves are tested by scripts/test.sh
# on the same sources.
set -euo pipefail
cd "$(dirname "$0")/.."

prefix=i686-w64-mingw32
packages=(cmake ninja-build g++-mingw-w64-i686 binutils-mingw-w64-i686)
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
jobs=$(nproc)
build=build-windows
objdump=$prefix-objdump

# (The toolchain file is read only when the build folder is new; --no-warn-unused-cli keeps later
# runs from warning that it went unused.)
cmake -S . -B "$build" -G Ninja --no-warn-unused-cli \
  -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release \
  -DMARLO_BUILD_TESTS=OFF -DMARLO_BUILD_BENCH=OFF -DMARLO_BUILD_CLI=OFF
cmake --build "$build" -j "$jobs"

fail() {
  echo "windows: $*" >&2
  exit 1
}

# "ordinal name" for every named export, from objdump's export table. The name table lists each
# name with its index into the address table (ordinal - base) or, in newer binutils, the ordinal.
named_exports() {
  $objdump -p "$1" | awk '
    /^Ordinal Base/ { base = $3 }
    /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
    names && /^[ \t]*$/ { names = 0 }
    names && match($0, /\+base\[ *[0-9]+\]/) {
      n = substr($0, RSTART, RLENGTH); gsub(/[^0-9]/, "", n); print n + 0, $NF; next }
    names && match($0, /^[ \t]*\[ *[0-9]+\]/) {
      n = substr($0, RSTART, RLENGTH); gsub(/[^0-9]/, "", n); print n + base, $NF }'
}

# Every ordinal in the export address table, named or not.
all_ordinals() {
  $objdump -p "$1" | awk '/^Export Address Table -- Ordinal Base/ { t = 1; next }
    t && /^[ \t]*$/ { t = 0 }
    t && match($0, /\+base\[ *[0-9]+\]/) {
      n = substr($0, RSTART, RLENGTH); gsub(/[^0-9]/, "", n); print n + 0 }'
}

imported_dlls() {
  $objdump -p "$1" | awk '/DLL Name:/ { print $3 }'
}

# Windows' own DLLs (the C runtime msvcrt.dll ships with Windows; api-ms-win-* are its
# forwarders).
is_system_dll() {
  case "${1,,}" in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | msvcrt.dll | ntdll.dll | shell32.dll | \
      ole32.dll | oleaut32.dll | comdlg32.dll | ws2_32.dll | api-ms-win-*.dll) return 0 ;;
  esac
  return 1
}

# The export table as frame/marlo.def gives it: "ordinal name" of each named export (the
# decoration @bytes dropped), and every ordinal.
def=frame/marlo.def
expected=$(awk '$2 ~ /^@[0-9]+$/ && $3 != "NONAME" {
  name = $1; sub(/@[0-9]+$/, "", name); print substr($2, 2), name }' "$def" | sort -n)
expected_ordinals=$(awk '$2 ~ /^@[0-9]+$/ { print substr($2, 2) }' "$def" | sort -n | tr '\n' ' ')
export_count=$(wc -w <<<"$expected_ordinals")
[ "$(wc -l <<<"$expected")" -eq 17 ] || fail "$def should name the seventeen filters"

marlo_dll=$build/Marlo.dll
kasa_dll=$build/Kasa.dll
[ -f "$marlo_dll" ] && [ -f "$kasa_dll" ] || fail "Marlo.dll or Kasa.dll was not built"
# (Outputs are captured before grep -q reads them: an early exit of grep would otherwise break
# the pipe, which pipefail reports as a failure.)
for dll in "$marlo_dll" "$kasa_dll"; do
  header=$($objdump -f "$dll")
  grep -q 'file format pei-i386' <<<"$header" || fail "$(basename "$dll") is not a 32-bit DLL"
done

echo "Marlo.dll named exports (ordinal name):"
actual=$(named_exports "$marlo_dll" | sort -n)
echo "$actual" | sed 's/^/  /'
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  fail "Marlo.dll must name exactly the seventeen filters under their ordinals"
fi
# The host-hook and thread setters follow without names.
ordinals=$(all_ordinals "$marlo_dll" | sort -n | tr '\n' ' ')
[ "$ordinals" = "$expected_ordinals" ] ||
  fail "Marlo.dll export ordinals are '$ordinals', expected '$expected_ordinals'"

for dll in "$marlo_dll" "$kasa_dll"; do
  name=$(basename "$dll")
  imports=$(imported_dlls "$dll")
  echo "$name imports: $(echo "$imports" | tr '\n' ' ')"
  while read -r imp; do
    [ -n "$imp" ] || continue
    if is_system_dll "$imp"; then continue; fi
    if [ "$name" = Marlo.dll ] && [ "$imp" = Kasa.dll ]; then continue; fi
    fail "$name imports $imp, which is neither a Windows DLL nor Kasa.dll"
  done <<<"$imports"
done
grep -qx Kasa.dll <<<"$(imported_dlls "$marlo_dll")" || fail "Marlo.dll does not import Kasa.dll"
grep -q '_ZN4Kasa11CreateImage' <<<"$($objdump -p "$kasa_dll")" ||
  fail "Kasa.dll does not export the Kasa class"
# The members of Kasa that Marlo.dll calls, each declared in the store's header.
members=$($objdump -p "$marlo_dll" | awk '/DLL Name:/ { dll = $3; next }
  dll == "Kasa.dll" && /^[ \t]+[0-9a-f]+[ \t]+[0-9]+/ { print $NF } /^[ \t]*$/ { dll = "" }' |
  $prefix-c++filt -n | sed -n 's/^Kasa::\([A-Za-z0-9_~]*\)(.*/\1/p' | sort -u)
echo "Marlo.dll imports from Kasa.dll: $(echo "$members" | tr '\n' ' ')"
[ -n "$members" ] || fail "Marlo.dll imports no member of Kasa"
while read -r member; do
  grep -q "[^A-Za-z0-9_]$member(" include/kasa.h ||
    fail "Marlo.dll imports Kasa::$member, which include/kasa.h does not declare"
done <<<"$members"

# A host program against the import libraries: every export must link.
host_dir=$build/host
mkdir -p "$host_dir"
$prefix-g++ -std=c++17 -O2 -Wall -Wextra -Werror -msse2 -mfpmath=sse -Iinclude \
  tests/windows/host.cpp "$build/libMarlo.dll.a" "$build/libKasa.dll.a" \
  -static -o "$host_dir/host.exe"
host_imports=$($objdump -p "$host_dir/host.exe" | awk '/DLL Name:/ { dll = $3; next }
  dll == "Marlo.dll" && /^[ \t]+[0-9a-f]+[ \t]+[0-9]+/ { print } /^[ \t]*$/ { dll = "" }')
echo "host.exe imports from Marlo.dll:"
echo "$host_imports" | sed 's/^[ \t]*/  /'
[ "$(echo "$host_imports" | wc -l)" -eq "$export_count" ] ||
  fail "host.exe should import $export_count entries of Marlo.dll"
for name in $(echo "$expected" | awk '{ print $2 }'); do
  grep -qx "$name" <<<"$(awk '{ print $NF }' <<<"$host_imports")" ||
    fail "host.exe does not import $name by its plain name"
done

# The installed package builds the consumer program for Windows too.
rm -rf "$build/prefix" "$build/consumer"
cmake --install "$build" --prefix "$build/prefix" >/dev/null
cmake -S tests/consumer -B "$build/consumer" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/i686-w64-mingw32.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DMarlo_DIR="$PWD/$build/prefix/lib/cmake/Marlo" >/dev/null
cmake --build "$build/consumer" >/dev/null
grep -qx Marlo.dll <<<"$(imported_dlls "$build/consumer/consumer.exe")" ||
  fail "the consumer program does not import Marlo.dll"
# pkg-config users link the import libraries by their names.
grep -q '^Libs: .*-lMarlo -lKasa' "$build/prefix/lib/pkgconfig/marlo.pc" ||
  fail "marlo.pc does not name the import libraries"
[ -f "$build/prefix/lib/libMarlo.dll.a" ] && [ -f "$build/prefix/bin/Marlo.dll" ] ||
  fail "the installation lacks Marlo.dll or its import library"

echo "windows: Kasa.dll and Marlo.dll cross-built and checked"
