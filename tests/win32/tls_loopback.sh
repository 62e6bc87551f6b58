#!/bin/sh
# The Windows socket's TLS against the Python peers of tls_peer.py on loopback, their CA and
# certificates made for this run only. Exit 77 (skipped) without python3's ssl or openssl.
#
#   tls_loopback.sh wine-run.sh quenvar_win32_tests.exe wineprefix
set -u
run=$1 program=$2 prefix=$3
python=$(command -v python3) && "$python" -c 'import ssl' 2>/dev/null || { echo "python3 with ssl is missing: skipped"; exit 77; }
command -v openssl >/dev/null || { echo "openssl is missing: skipped"; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-tls.XXXXXX") || exit 2
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$dir"' EXIT
trap 'exit 130' INT TERM

"$python" "$(dirname "$0")/../servers/tls_peer.py" "$dir" 2>"$dir/peer.log" &
pid=$!
i=0
until [ -f "$dir/ports" ]; do
  kill -0 "$pid" 2>/dev/null && [ $i -lt 300 ] || { cat "$dir/peer.log"; echo "FAILED: the peers did not start"; exit 1; }
  sleep 0.1; i=$((i + 1))
done

# Wine sees the host's root as drive Z:.
env -u DISPLAY QUENVAR_WINEPREFIX="$prefix" QUENVAR_TLS_FOLDER="Z:$(echo "$dir" | tr / '\\')" \
  "$run" "$program" --gtest_filter='Win32SocketTls.*' >"$dir/out" 2>&1
status=$?
cat "$dir/out"
echo "peer log:"; cat "$dir/peer.log"
[ "$status" -eq 0 ] || { echo "FAILED: the test program failed ($status)"; exit 1; }
grep -q '^\[       OK \] Win32SocketTls\.EachPeerEndsAsItShould' "$dir/out" || { echo "FAILED: the test did not run"; exit 1; }
