#!/usr/bin/env bash
# Every test: the unit and backend suites, again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the demo client as an end-to-end run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

for preset in native native-asan; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "=== demo client"
folder="$(mktemp -d)/logs"
build/native/demo/quenvar_demo "$folder" --trace >"$folder.out"
grep -q "Orders Database Error Information" "$folder.out"
grep -q "Password : \*\*\*\*\*\*\*\*" "$folder.out"
if grep -q "s3cret" "$folder.out" "$folder/Error.log"; then echo "password leaked"; exit 1; fi
test "$(cat "$folder/Trace.log")" = "$(printf 'Main\r\nLoadInvoices\r\nPostInvoice\r')"
echo "all tests passed"
