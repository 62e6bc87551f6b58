#!/usr/bin/env bash
# Runs the random COM client (tests/com/clients/fuzz_client.cpp) against the real Quenvar.dll of
# both architectures under Wine for the given seconds each (default 600), side by side, in a
# private prefix where both DLLs are registered as the tests register them. Exits nonzero when
# either run failed, crashed or hung, printing the command that replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
root="$PWD/build/fuzz-com"
prefix="$root/wineprefix"
mkdir -p "$root"

for arch in win32 win64; do
  echo "=== building $arch"
  cmake --preset "$arch" >/dev/null
  cmake --build --preset "$arch" -j 2 --target Quenvar com_client_fuzz_client | grep -v '^\[' || true
  env -u DISPLAY QUENVAR_WINEPREFIX="$prefix" tests/wine/wine-run.sh --arch "$arch" regsvr32 /s \
    "Z:$PWD/build/$arch/Quenvar.dll"
done

run() {
  local arch=$1 log="$root/$1.log"
  local program="build/$arch/tests/com/clients/com_client_fuzz_client.exe"
  # As the test command runs it: without Wine's cache of freed strings, with its heap checking.
  if env -u DISPLAY OANOCACHE=1 WINEDEBUG=-all,warn+heap QUENVAR_WINEPREFIX="$prefix" tests/wine/wine-run.sh \
      "$program" --seconds "$seconds" >"$log" 2>&1; then
    echo "$arch: $(grep '^fuzz_client: .* calls' "$log")"
  else
    echo "$arch: FAILED, log $log"
    grep -E 'FAILED|CRASH|HANG|what\(\)|overflow' "$log" | head -5 | sed 's/^/  /' || true
    echo "  replay: OANOCACHE=1 WINEDEBUG=-all,warn+heap QUENVAR_WINEPREFIX=$prefix tests/wine/wine-run.sh $program" \
      "$(sed -n 's/^replay: fuzz_client.exe //p' "$log" | tail -1) --trace"
    return 1
  fi
}

echo "=== fuzzing the automation boundary for ${seconds} s per architecture"
failed=0
run win32 &
first=$!
run win64 || failed=1
wait "$first" || failed=1
WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
if (( failed )); then echo "fuzzing found a fault"; exit 1; fi
echo "fuzzing found nothing"
