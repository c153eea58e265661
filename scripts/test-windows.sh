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

# Debian puts wine64 on PATH only with the recommended "wine" package.
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(dirname "$wine64")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || true)
if [ ! -x "$wine64" ] || [ ! -x "$wineserver" ]; then
  echo "wine64 not found: run scripts/install-deps.sh test" >&2
  exit 1
fi

# The same environment the toolchain gives the test programs: CI has no
# display, Wine must never offer to install Mono or Gecko, and nothing may be
# written outside the build folder (winemenubuilder would add menu entries).
export WINEPREFIX=$prefix WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
unset WAYLAND_DISPLAY

# Wine's background programs (services.exe and the rest) inherit the output
# of the program that starts a session, and leave a few seconds after the last
# one ends.  Started by a test, they would hold ctest's pipe open and add those
# seconds to every test; so the session is started here, away from ctest, and
# kept up by a persistent server until the tests are done.
start_wine() {
  "$wineserver" -p
  "$wine64" cmd.exe /c exit </dev/null >/dev/null 2>&1
}
stop_wine() {  # Ends only the Wine server (and programs) of this prefix.
  if [ -d "$prefix" ]; then
    "$wineserver" -k 2>/dev/null || true
    timeout 30 "$wineserver" -w 2>/dev/null || true
  fi
}
trap stop_wine EXIT

# A prefix is only used once wineboot has finished with it; a half-made one
# (an interrupted run) is made again.
make_prefix() {
  [ -f "$prefix/.inireg-ready" ] && return 0
  rm -rf "$prefix"
  mkdir -p "$root"
  if ! timeout 300 "$wine64" wineboot.exe --init >"$root/wineboot.log" 2>&1 \
      || ! timeout 120 "$wineserver" -w; then
    cat "$root/wineboot.log" >&2
    echo "could not create the Wine prefix $prefix" >&2
    exit 1
  fi
  touch "$prefix/.inireg-ready"
}

echo "=== Windows x86_64 under Wine"
cmake -S . -B "$root/x86_64" -DINIREG_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DINIREG_WINEPREFIX="$prefix" >/dev/null
cmake --build "$root/x86_64" -j "$jobs" >/dev/null
make_prefix
start_wine
ctest --test-dir "$root/x86_64" --output-on-failure -j "$jobs" --timeout 300
stop_wine

echo "=== Windows i686 (compiled, not run)"
cmake -S . -B "$root/i686" -DINIREG_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-i686.cmake" >/dev/null
cmake --build "$root/i686" -j "$jobs" >/dev/null
echo "compiled: $(find "$root/i686" -maxdepth 2 -name '*.exe' | wc -l) programs"
