#!/usr/bin/env bash
# Runs every benchmark and prints each figure, its target and whether it is met: the native
# library in an optimised build, its SMTP session against servers on loopback, then the DLL
# under Wine through a C++ client and a script.
# Exits nonzero when a target is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target quenvar_bench quenvar_smtp_bench
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target Quenvar quenvar_vtable_bench

missed=0
build/native-release/bench/quenvar_bench --benchmark_min_time=0.5 "$@" || missed=1
echo
echo "SMTP session on loopback:"
build/native-release/bench/quenvar_smtp_bench || missed=1

work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
wine wineboot -i >"$work/wineboot.log" 2>&1
wine regsvr32 /s "Z:$PWD/build/win32/Quenvar.dll" >"$work/regsvr32.log" 2>&1
echo
echo "Under Wine (32-bit DLL):"
wine build/win32/bench/wine/quenvar_vtable_bench.exe >"$work/vtable.out" 2>&1 || missed=1
cat "$work/vtable.out"
wine cscript //nologo "Z:$PWD/bench/wine/script_bench.vbs" >"$work/script.out" 2>&1 || missed=1
cat "$work/script.out"
exit $missed
