#!/usr/bin/env bash
# Builds inireg for Windows with mingw-w64 and tests it: the 64-bit build runs
# its test suite under wine64; the 32-bit build is compiled only, since
# running it would need wine32 (an i386 multiarch install).
# Idempotent; needs what `scripts/install-deps.sh test` installs.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
root=$PWD/build/windows
prefix=$root/wineprefix

source scripts/wine-env.sh
if ! wine_setup "$prefix"; then
  echo "wine64 not found: run scripts/install-deps.sh test" >&2
  exit 1
fi
trap wine_stop EXIT

echo "=== Windows x86_64 under Wine"
cmake -S . -B "$root/x86_64" -DINIREG_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DINIREG_WINEPREFIX="$prefix" >/dev/null
cmake --build "$root/x86_64" -j "$jobs" >/dev/null
wine_make_prefix
wine_start
ctest --test-dir "$root/x86_64" --output-on-failure -j "$jobs" --timeout 300
wine_stop

echo "=== Windows i686 (compiled, not run)"
cmake -S . -B "$root/i686" -DINIREG_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-i686.cmake" >/dev/null
cmake --build "$root/i686" -j "$jobs" >/dev/null
echo "compiled: $(find "$root/i686" -maxdepth 2 -name '*.exe' | wc -l) programs"
