#!/usr/bin/env bash
# Benchmarks inireg against peer INI libraries (SimpleIni, QSettings, inih,
# Boost.PropertyTree) and the registry store, installing the peers when they
# are missing.  Run as root on Debian 12.  Arguments go to profile_bench
# (for example --quick or --sizes S,M).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh build
peers=(libsimpleini-dev qtbase5-dev libinih-dev libboost-dev)
missing=()
for package in "${peers[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

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
