#!/usr/bin/env bash
# Installs what building and testing inireg needs, when it is missing.
# Recommended packages come along: Wine needs several of them.
# Idempotent; run as root on Debian 12.  Usage: install-deps.sh [build|test|bench]
# (bench: the peer libraries the benchmark compares with).
set -euo pipefail

want=(cmake make g++ pkg-config libsqlite3-dev)
if [ "${1:-test}" = bench ]; then
  want+=(libsimpleini-dev qtbase5-dev libinih-dev libboost-dev)
fi
if [ "${1:-test}" = test ]; then
  want+=(libgtest-dev libgmock-dev googletest sqlite3 clang libclang-rt-14-dev clang-format-14
         g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64
         dpkg-dev file binutils)  # cpack -G DEB with dpkg-shlibdeps; readelf, nm
fi

missing=()
for package in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
