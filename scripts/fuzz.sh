#!/usr/bin/env bash
# Runs the libFuzzer targets (the fuzz preset: clang 14, AddressSanitizer and
# UndefinedBehaviorSanitizer) side by side, each for a set time, starting from
# the seed corpus checked in under fuzz/corpus/<target>/. The seeds are only
# read: new inputs go to build/fuzz/corpus/<target>/. A crash, a leak, a
# sanitizer report or a broken rule stops that target, leaves the input in
# build/fuzz/artifacts/ and fails the run; replay it with
#   build/fuzz/fuzz/<target> <input file>
#   FUZZ_SECONDS=300                     seconds per target
#   FUZZ_TARGETS="fuzz_engine fuzz_entry"
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-300}"
read -r -a targets <<< "${FUZZ_TARGETS:-fuzz_engine fuzz_entry}"

if [ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]; then
  export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

cmake --preset fuzz > /dev/null
cmake --build --preset fuzz -j "${JOBS:-2}"

out=build/fuzz
mkdir -p "$out/artifacts"
pids=()
for target in "${targets[@]}"; do
  mkdir -p "$out/corpus/$target"
  "$out/fuzz/$target" "$out/corpus/$target" "fuzz/corpus/$target" \
    -max_total_time="$seconds" -timeout=30 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$out/artifacts/$target-" > "$out/$target.log" 2>&1 &
  pids+=($!)
done

failed=()
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  if ! wait "${pids[$i]}"; then failed+=("$target"); fi
  runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$out/$target.log" | grep -oE '[0-9]+$' || echo "?")
  corpus=$(find "$out/corpus/$target" -type f | wc -l)
  echo "$target: $runs executions in ${seconds} s, $corpus inputs in the working corpus (log: $out/$target.log)"
done

if [ ${#failed[@]} -ne 0 ]; then
  for target in "${failed[@]}"; do
    echo "== $target found a failure:"
    grep -vE '^#[0-9]+' "$out/$target.log" | tail -n 60
  done
  ls -l "$out/artifacts"
  exit 1
fi
echo "Fuzzing found nothing: ${targets[*]}"
