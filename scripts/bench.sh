#!/usr/bin/env bash
# Benchmarks inireg against peer INI libraries (SimpleIni, QSettings, inih,
# Boost.PropertyTree), then RegistryStore on the Linux registry and, when
# mingw-w64 and wine64 are installed (scripts/install-deps.sh test), on
# Wine's registry, side by side.  Installs the peers when they are missing.
# Run as root on Debian 12.  Arguments go to profile_bench (for example
# --quick or --sizes S,M); --quick also shortens the registry runs.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh bench
peers=(libsimpleini-dev qtbase5-dev libinih-dev libboost-dev)

build=build/bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DINIREG_BUILD_BENCH=ON \
  -DINIREG_BUILD_TESTS=OFF -DINIREG_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j 2 >/dev/null

echo "=== machine"
echo "nproc: $(nproc)"
echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "compiler: $(c++ --version | head -1)"
echo "peers: $(dpkg-query -W -f='${Package} ${Version}; ' "${peers[@]}")"

echo "=== profile files"
# The files live in the build folder, on the disk the project is on, so that
# fsync costs what it costs there (a tmpfs would make it free).
"$build/bench/profile_bench" --dir "$build/files" "$@"

quick=()
for argument in "$@"; do [ "$argument" = --quick ] && quick=(--quick); done

echo "=== registry store (microseconds per call, median)"
"$build/bench/registry_bench" --dir "$build/files" "${quick[@]}" >"$build/registry-linux.txt"
windows=$PWD/build/bench-windows
source scripts/wine-env.sh
: >"$build/registry-windows.txt"
# A prefix of the benchmark's own.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && wine_setup "$windows/wineprefix"; then
  cmake -S . -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DINIREG_BUILD_BENCH=ON -DINIREG_BUILD_TESTS=OFF \
    -DINIREG_BUILD_TOOLS=OFF >/dev/null
  cmake --build "$windows" -j 2 --target registry_bench >/dev/null
  trap wine_stop EXIT
  wine_make_prefix || true
  timeout 600 "$wine64" "$windows/bench/registry_bench.exe" "${quick[@]}" \
    | tr -d '\r' >"$build/registry-windows.txt" || true
else
  echo "(no mingw-w64 or wine64: the Windows column stays empty; scripts/install-deps.sh test installs them)"
fi
awk '
  FNR == 1 { file++ }
  { value = $NF; $1 = ""; $NF = ""; sub(/^ +/, ""); sub(/ +$/, "") }
  file == 1 { order[++count] = $0; linux[$0] = value; next }
  { windows[$0] = value }
  END {
    printf "%-30s %14s %22s\n", "operation", "Linux (SQLite)", "Windows (Wine, x86_64)"
    for (i = 1; i <= count; i++) {
      name = order[i]
      printf "%-30s %14s %22s\n", name, linux[name], (name in windows) ? windows[name] : "-"
    }
  }' "$build/registry-linux.txt" "$build/registry-windows.txt"
