#!/usr/bin/env bash
# Builds inireg and runs its main job: a short demonstration on a profile file.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh build
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DINIREG_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" >/dev/null

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
build/release/profile_example "$demo/example.ini"
echo "--- $demo/example.ini as written:"
cat "$demo/example.ini"
