#!/usr/bin/env bash
# Builds and runs the tests under the sanitizers (clang 14):
#   asan  every test, with AddressSanitizer, LeakSanitizer and
#         UndefinedBehaviorSanitizer;
#   tsan  the multi-threaded render tests, with ThreadSanitizer.
# Any sanitizer report fails the run, also one from a test that otherwise
# passed: the whole test output is kept in build/<preset>/ctest-output.log and
# searched for reports. The presets (CMakePresets.json) hold the flags and the
# sanitizer options.
#   SANITIZER_PRESETS="asan tsan"  the presets to run, in order
#   JOBS=2                         parallel build and test jobs
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${JOBS:-2}"
read -r -a presets <<< "${SANITIZER_PRESETS:-asan tsan}"

# Reports are symbolized by the LLVM that built the code.
if [ -x /usr/lib/llvm-14/bin/llvm-symbolizer ]; then
  export ASAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
  export TSAN_SYMBOLIZER_PATH=/usr/lib/llvm-14/bin/llvm-symbolizer
fi

report='ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:|WARNING: ThreadSanitizer|SUMMARY: (AddressSanitizer|LeakSanitizer|ThreadSanitizer|UndefinedBehaviorSanitizer)'
failed=()

for preset in "${presets[@]}"; do
  start=$SECONDS
  echo "== ${preset}: configure and build"
  cmake --preset "$preset" > /dev/null
  cmake --build --preset "$preset" -j "$jobs"
  built=$SECONDS

  echo "== ${preset}: test"
  log="build/${preset}/ctest-output.log"
  runner=()
  if [ "$preset" = tsan ] && command -v setarch > /dev/null; then
    # ThreadSanitizer of LLVM 14 cannot map its shadow memory when the kernel
    # randomises addresses with more entropy than it expects; without address
    # randomisation it always can.
    runner=(setarch "$(uname -m)" -R)
  fi
  status=0
  "${runner[@]}" ctest --preset "$preset" -j "$jobs" -V > "$log" 2>&1 || status=$?
  grep -E '^[0-9]+% tests passed|^The following tests FAILED|^[[:space:]]+[0-9]+ - ' "$log" || true
  grep -E '^([0-9]+: )?(Faults injected|Engine twin|Entry twin|Replayed)' "$log" | sed -E 's/^[0-9]+: //' || true

  if grep -qE "$report" "$log"; then
    echo "${preset}: sanitizer reports (full log: ${log}):"
    grep -nE -A25 "$report" "$log" | head -n 200
    failed+=("$preset")
  elif [ "$status" -ne 0 ]; then
    echo "${preset}: tests failed (full log: ${log})"
    failed+=("$preset")
  fi
  echo "== ${preset}: build $((built - start)) s, tests $((SECONDS - built)) s"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Sanitizer runs failed: ${failed[*]}"
  exit 1
fi
echo "Sanitizer runs clean: ${presets[*]}"
