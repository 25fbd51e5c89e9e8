#!/usr/bin/env bash
# Runs libFuzzer targets (the fuzz preset: clang 14, AddressSanitizer and
# UndefinedBehaviorSanitizer), each for a set time or a set number of
# executions, starting from the seed corpus checked in under
# fuzz/corpus/<target>/. The seeds are only read: new inputs go to
# build/fuzz/corpus/<target>/. A crash, a leak, a sanitizer report or a broken
# rule stops that target, leaves the input in build/fuzz/artifacts/ and fails
# the run; replay it with
#   build/fuzz/fuzz/<target> <input file>
#   FUZZ_TARGETS="fuzz_engine fuzz_entry"  the targets (default: every one)
#   FUZZ_SECONDS=300                       seconds per target
#   FUZZ_RUNS=10000000                     executions per target instead (no time limit)
#   FUZZ_AT_ONCE=1                         targets running at a time (default: all),
#                                          each pinned to a core, in turn
# Each target's log is build/fuzz/<target>.log; the summary gives its
# executions, time, speed and coverage as libFuzzer counts them. Inputs that
# take long (16-bit cases build a 32769-entry table) are mutated less often
# than quick ones (-entropic_scale_per_exec_time), so that time goes to many
# cases; they stay in the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

every_target="fuzz_engine fuzz_entry fuzz_set fuzz_frames fuzz_settings"
read -r -a targets <<< "${FUZZ_TARGETS:-$every_target}"
if [ -n "${FUZZ_RUNS:-}" ]; then
  limit=(-runs="$FUZZ_RUNS")
else
  limit=(-max_total_time="${FUZZ_SECONDS:-300}")
fi
at_once="${FUZZ_AT_ONCE:-${#targets[@]}}"

if [ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]; then
  export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

cmake --preset fuzz > /dev/null
cmake --build --preset fuzz -j "${JOBS:-2}"

out=build/fuzz
mkdir -p "$out/artifacts"
failed=()

# The last line of libFuzzer's progress in a log, and a statistic it printed.
last_progress() { grep -E '^#[0-9]+' "$1" | tail -n 1 || true; }
stat_of() { grep -oE "stat::$2: *[0-9]+" "$1" | grep -oE '[0-9]+$' || echo "?"; }

summarise() {
  local target=$1 seconds=$2 log="$out/$1.log"
  local line cov ft
  line=$(last_progress "$log")
  cov=$(grep -oE 'cov: [0-9]+' <<< "$line" | grep -oE '[0-9]+' || echo "?")
  ft=$(grep -oE 'ft: [0-9]+' <<< "$line" | grep -oE '[0-9]+' || echo "?")
  echo "$target: $(stat_of "$log" number_of_executed_units) executions in ${seconds} s" \
    "($(stat_of "$log" average_exec_per_sec) exec/s), cov $cov, ft $ft," \
    "$(find "$out/corpus/$target" -type f | wc -l) inputs in the working corpus (log: $log)"
}

declare -A pid_of start_of
running=()
started=0
cores=$(nproc)
finish() {
  local target=$1
  if ! wait "${pid_of[$target]}"; then failed+=("$target"); fi
  summarise "$target" $((SECONDS - start_of[$target]))
}

for target in "${targets[@]}"; do
  if [ ${#running[@]} -ge "$at_once" ]; then
    finish "${running[0]}"
    running=("${running[@]:1}")
  fi
  mkdir -p "$out/corpus/$target"
  start_of[$target]=$SECONDS
  # Each target on a core of its own, in turn: its speed is that of one core,
  # and the simulated host's threads hand work over on it without waking
  # another.
  pin=()
  if command -v taskset > /dev/null; then
    pin=(taskset -c $((started % cores)))
  fi
  started=$((started + 1))
  "${pin[@]}" "$out/fuzz/$target" "$out/corpus/$target" "fuzz/corpus/$target" \
    "${limit[@]}" -timeout=30 -max_len=4096 -entropic_scale_per_exec_time=1 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$target-" > "$out/$target.log" 2>&1 &
  pid_of[$target]=$!
  running+=("$target")
done
for target in "${running[@]}"; do finish "$target"; done

if [ ${#failed[@]} -ne 0 ]; then
  for target in "${failed[@]}"; do
    echo "== $target found a failure:"
    grep -vE '^#[0-9]+' "$out/$target.log" | tail -n 60
  done
  ls -l "$out/artifacts"
  exit 1
fi
echo "Fuzzing found nothing: ${targets[*]}"
