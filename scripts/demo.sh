#!/usr/bin/env bash
# Builds inireg and runs its main job: a short demonstration of the inireg
# command on a profile file and on the registry.  The registry is a temporary
# database (INIREG_REGISTRY), so the demonstration leaves nothing behind.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh build
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DINIREG_BUILD_TESTS=OFF >/dev/null
cmake --build build/release -j "$(nproc)" >/dev/null

demo=$(mktemp -d)
trap 'rm -rf "$demo"' EXIT
export INIREG_REGISTRY=$demo/registry.db
cd "$demo"
inireg() {
  local shown=() argument
  for argument in "$@"; do
    case $argument in *[' \']*) shown+=("'$argument'") ;; *) shown+=("$argument") ;; esac
  done
  echo "\$ inireg ${shown[*]}"
  "$OLDPWD/build/release/inireg" "$@" 2>&1
}

echo "--- A profile file"
inireg set example.ini Window Title "Main window"
inireg set example.ini Window Width 640 --int
inireg get example.ini Window Width --int
inireg get example.ini Window Height --default 480
inireg dump example.ini

echo "--- The registry, and .reg files"
inireg set 'reg:CU\Software\Example' Window Title "Main window"
inireg set 'reg:CU\Software\Example' Window Width 640 --dword
inireg export 'CU\Software\Example' example.reg
echo "\$ iconv -f UTF-16 -t UTF-8 example.reg   # written as UTF-16LE, as regedit writes"
iconv -f UTF-16 -t UTF-8 example.reg
inireg delete 'reg:CU\Software\Example' Window
inireg get 'reg:CU\Software\Example' Window Width || echo "(exit status $?)"
inireg import example.reg
inireg dump 'reg:CU\Software\Example'
