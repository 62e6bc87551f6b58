#!/usr/bin/env bash
# Runs every benchmark in an optimised build and prints figures, targets and whether each is met.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target quenvar_bench
build/native-release/bench/quenvar_bench --benchmark_min_time=0.5 "$@"
