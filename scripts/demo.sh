#!/usr/bin/env bash
# The main job: a client program handles an error through the component and prints the report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native >/dev/null
cmake --build --preset native --target quenvar_demo
folder="$(mktemp -d)/logs"
build/native/demo/quenvar_demo "$folder" --trace "$@"
echo
echo "--- $folder/Error.log and Trace.log were written:"
ls -l "$folder"
