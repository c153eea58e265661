#!/usr/bin/env bash
# Builds the fuzz harnesses (fuzz/) with clang, libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer, and runs each for a bounded time, starting
# from the seed corpus in fuzz/corpus.  Prints each harness's executions.
#
# Usage: fuzz.sh [SECONDS_PER_HARNESS]   (default: $FUZZ_SECONDS, else 45, so
# that the five harnesses stay within about four minutes; $FUZZ_BUILD sets
# the build folder, else build/fuzz)
# A failing input is saved under build/fuzz/artifacts/ and the script fails;
# replay it with: build/fuzz/HARNESS build/fuzz/artifacts/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${FUZZ_SECONDS:-45}}
build=${FUZZ_BUILD:-build/fuzz}
harnesses=(profile_load_fuzzer profile_write_fuzzer profile_layout_fuzzer registry_path_fuzzer reg_import_fuzzer)
declare -A max_len=([profile_load_fuzzer]=8192 [profile_write_fuzzer]=4096 [profile_layout_fuzzer]=4096
                    [registry_path_fuzzer]=1024
                    [reg_import_fuzzer]=20000)
declare -A dictionary=([reg_import_fuzzer]=fuzz/reg_import.dict)
# The profile harnesses' inputs differ in cost a hundredfold (lines past the
# reader's buffer, values of 40,000 bytes): the fast ones are run more often.
declare -A schedule=([profile_load_fuzzer]=1 [profile_write_fuzzer]=1 [profile_layout_fuzzer]=1)

echo "=== fuzzing, ${seconds} s per harness"
mkdir -p "$build/artifacts" "$build/logs"
if ! { CC=clang CXX=clang++ cmake -S fuzz -B "$build" && cmake --build "$build" -j "$(nproc)"; } \
    >"$build/logs/build.log" 2>&1; then
  tail -n 40 "$build/logs/build.log"
  echo "building the fuzz harnesses failed"
  exit 1
fi
for harness in "${harnesses[@]}"; do
  seeds=fuzz/corpus/${harness%_fuzzer}
  corpus=$build/corpus/${harness%_fuzzer}
  mkdir -p "$corpus"
  cp -n "$seeds"/* "$corpus"/ 2>/dev/null || true
done
# Lines longer than the reader's buffer come from short inputs that the load
# harness stretches (corpus/profile_load/stretch_*.ini), so that no input need
# be longer than max_len: longer ones mostly cost time.

for harness in "${harnesses[@]}"; do
  log=$build/logs/$harness.log
  status=0
  dict=${dictionary[$harness]:-}
  by_time=${schedule[$harness]:-}
  "$build/$harness" -max_total_time="$seconds" -timeout=30 -max_len="${max_len[$harness]}" \
    ${dict:+-dict="$dict"} ${by_time:+-entropic_scale_per_exec_time=1} -print_final_stats=1 -artifact_prefix="$build/artifacts/" \
    "$build/corpus/${harness%_fuzzer}" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "$harness: ${executions:-?} executions (${rate:-?}/s)"
  # A harness may say how far its inputs went (reg_import_fuzzer: accepted, imported).
  grep "^$harness: " "$log" || true
  if [ "$status" -ne 0 ]; then
    grep -E "oracle failed|ERROR:|SUMMARY:|Test unit written" "$log" || tail -n 30 "$log"
    echo "fuzzing failed: $harness (log: $log)"
    exit 1
  fi
done
