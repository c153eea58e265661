#!/usr/bin/env bash
# Installs what is missing, builds inireg and runs every test: the normal
# build, the sanitized builds (AddressSanitizer with UndefinedBehaviorSanitizer,
# and ThreadSanitizer for the threaded tests), the Windows build under Wine,
# the fuzzers and the format check.
#
#   scripts/test.sh           everything (about twenty minutes on two cores)
#   scripts/test.sh --quick   the Linux suite only (build/test, then ctest),
#                             without the packaging tests: a couple of minutes,
#                             the loop to run while working
#
# INIREG_FORMAT_CHECK=0 leaves out the format check (scripts/check-format.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

quick=false
case "${1:-}" in
  "") ;;
  --quick) quick=true ;;
  *) echo "usage: $0 [--quick]" >&2; exit 2 ;;
esac

bash scripts/install-deps.sh test
jobs=$(nproc)

run_suite() {  # run_suite NAME BUILD_DIR [ctest arguments...] -- [cmake arguments...]
  local name=$1 dir=$2
  shift 2
  local ctest_args=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do ctest_args+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  echo "=== $name"
  cmake -S . -B "$dir" -DINIREG_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" >/dev/null
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "${ctest_args[@]}"
}

if $quick; then
  # Without the packaging tests, which configure and build projects of their
  # own for minutes.
  run_suite "Linux (quick: no packaging tests)" build/test -LE packaging
  echo "=== the Linux suite passed (--quick: the packaging tests and the other suites were not run)"
  exit 0
fi
run_suite "Linux" build/test
if [ "${INIREG_FORMAT_CHECK:-1}" = 1 ]; then
  echo "=== format"
  bash scripts/check-format.sh
fi
run_suite "Linux, AddressSanitizer and UndefinedBehaviorSanitizer" build/asan -- -DINIREG_SANITIZE=ON
run_suite "Linux, ThreadSanitizer (threaded tests)" build/tsan -R Thread -- -DINIREG_TSAN=ON
if [ -f scripts/test-windows.sh ]; then
  bash scripts/test-windows.sh
fi
bash scripts/fuzz.sh  # Each harness for 45 s (FUZZ_SECONDS to change).
echo "=== all test suites passed"
