#!/usr/bin/env bash
# Runs every benchmark — the native library in an optimised build, its crash capture in processes
# that die of a fault, its SMTP session against servers on loopback, its collector against HTTP
# peers on loopback, then the DLL under Wine through a C++ client and a script — and prints one
# table: each figure, its measured value, its target, met or not. The table is built only from the
# FIGURE lines the benchmark programs print, so it shows what was measured.
# Exits nonzero when a target is missed or a benchmark did not report.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset native-release >/dev/null
cmake --build --preset native-release --target quenvar_bench quenvar_smtp_bench quenvar_collector_bench \
  quenvar_crash_bench
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target Quenvar quenvar_vtable_bench quenvar_array_param_bench quenvar_collector_wine_bench

work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

failed=()
# run <label> <command...>: shows the program's output as it runs and keeps it for the table.
run() {
  local label=$1
  shift
  echo
  echo "== $label"
  if ! "$@" >"$work/$label.out" 2>&1; then failed+=("$label"); fi
  cat "$work/$label.out"
  if ! grep -q '^FIGURE ' "$work/$label.out"; then
    echo "FIGURE ${label}_reported_nothing n/a - NOT-MET" >>"$work/$label.out"
  fi
}

run native build/native-release/bench/quenvar_bench --benchmark_min_time=0.5 "$@"
# Crash capture in a process of its own: installing it is the process's, and what it makes stays.
run crash build/native-release/bench/quenvar_crash_bench --benchmark_min_time=0.5
# Submission with STARTTLS and sign-in is measured against a private Postfix with Dovecot.
(
  . tests/servers/smtp_server.sh
  start_submission_mta
  QUENVAR_BENCH_STARTTLS_PORT=$starttls_port QUENVAR_BENCH_TLS_DIR=$dir/tls QUENVAR_BENCH_USER=$smtp_user \
    QUENVAR_BENCH_PASSWORD=$smtp_password build/native-release/bench/quenvar_smtp_bench
) >"$work/smtp.raw" 2>&1 || true
run smtp cat "$work/smtp.raw"
# The collector against the HTTP peers of tls_peer.py: one that answers 200 over a kept-alive
# connection and one that takes the connection and never answers; the outage in a process of its
# own, against a port where nothing listens.
(
  servers=tests/servers
  . tests/servers/tls_peers.sh
  start_tls_peers
  QUENVAR_BENCH_HTTP_200_PORT=$(peer_port http-200) QUENVAR_BENCH_HTTP_HANG_PORT=$(peer_port http-hang) \
    QUENVAR_BENCH_PYTHON=$python build/native-release/bench/quenvar_collector_bench --benchmark_min_time=0.5
) >"$work/collector.raw" 2>&1 || true
run collector cat "$work/collector.raw"
run collector_outage build/native-release/bench/quenvar_collector_bench outage
wine wineboot -i >"$work/wineboot.log" 2>&1
wine regsvr32 /s "Z:$PWD/build/win32/Quenvar.dll" >"$work/regsvr32.log" 2>&1
run wine_vtable wine build/win32/bench/wine/quenvar_vtable_bench.exe
run wine_array_param wine build/win32/bench/wine/quenvar_array_param_bench.exe
run wine_script wine cscript //nologo "Z:$PWD/bench/wine/script_bench.vbs"
# The DLL's collector against the same HTTP peers; Wine passes the ports through the environment.
(
  servers=tests/servers
  . tests/servers/tls_peers.sh
  start_tls_peers
  QUENVAR_BENCH_HTTP_200_PORT=$(peer_port http-200) QUENVAR_BENCH_HTTP_HANG_PORT=$(peer_port http-hang) \
    wine build/win32/bench/wine/quenvar_collector_wine_bench.exe
) >"$work/wine_collector.raw" 2>&1 || true
run wine_collector cat "$work/wine_collector.raw"

echo
cat "$work"/*.out | tr -d '\r' | awk '
  $1 == "FIGURE" {
    if (!header++) {
      printf "%-60s %10s %8s  %s\n", "figure (_x: ratio to its floor)", "measured", "target", "met"
    }
    printf "%-60s %10s %8s  %s\n", $2, $3, $4, ($5 == "met" ? "met" : "NOT MET")
    if ($5 != "met") missed++
  }
  END { exit missed > 0 }' && met=1 || met=0
if ((${#failed[@]})); then echo "nonzero exit: ${failed[*]}"; fi
[[ $met == 1 && ${#failed[@]} == 0 ]]
