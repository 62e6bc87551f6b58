#!/usr/bin/env bash
# Builds the fuzz preset and runs every fuzz target for the given seconds (default 60) on its
# committed corpus, saving what it learns in a scratch corpus under build/fuzz. Targets run
# side by side, one per core. Exits nonzero when any target crashed, timed out or broke a
# property, printing the reproducer: run it again with build/fuzz/fuzz/fuzz_<target> <file>.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
jobs=$(nproc)

echo "=== building the fuzz preset"
cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target fuzz_targets -j "$jobs" | grep -v '^\[' || true
test -x build/fuzz/fuzz/fuzz_smtp_session

root="$PWD/build/fuzz"
targets=()
for dir in fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done

run() {
  local target=$1 scratch="$root/scratch/$1" artifacts="$root/artifacts/$1/" log="$root/logs/$1.log"
  mkdir -p "$scratch" "$artifacts" "$(dirname "$log")"
  # New inputs go to the first folder: the committed corpus stays as it is.
  if "$root/fuzz/fuzz_$target" "$scratch" "fuzz/corpus/$target" -max_total_time="$seconds" -timeout=10 \
      -rss_limit_mb=2048 -artifact_prefix="$artifacts" -print_final_stats=1 >"$log" 2>&1; then
    echo "$target: $(grep -E "^(Done|stat::number_of_executed_units)" "$log" | head -1)"
  else
    echo "$target: FAILED, log $log"
    grep -E '^==[0-9]+==ERROR|SUMMARY|Test unit written|deadly signal|ERROR: libFuzzer' "$log" | sed 's/^/  /' || true
    return 1
  fi
}

echo "=== fuzzing ${#targets[@]} targets for ${seconds} s each, $jobs at a time"
failed=0
running=0
for target in "${targets[@]}"; do
  if (( running == jobs )); then
    wait -n || failed=1
    running=$((running - 1))
  fi
  echo "$target: started"
  run "$target" &
  running=$((running + 1))
done
while (( running > 0 )); do
  wait -n || failed=1
  running=$((running - 1))
done
if (( failed )); then echo "fuzzing found a fault"; exit 1; fi
echo "fuzzing found nothing"
