#!/bin/sh
# A socket's TLS (and HTTP) against the peers of tls_peer.py: the test program's SocketTls and
# HttpLoopback suites, with the peers' folder in QUENVAR_TLS_FOLDER as the program sees it (a Wine
# path for a Windows program).
# Exit 77 (skipped) without python3's ssl or openssl.
#
#   tls_loopback.sh native|wine <test program> [arguments...]
set -u
style=$1
shift
servers=$(dirname "$0")
. "$servers/tls_peers.sh"
start_tls_peers
folder=$dir
[ "$style" = wine ] && folder=$(wine_path "$dir")
env -u DISPLAY QUENVAR_TLS_FOLDER="$folder" "$@" --gtest_filter='*SocketTls.*:*HttpLoopback.*' >"$dir/out" 2>&1
status=$?
cat "$dir/out"
echo "peer log:"; cat "$dir/peer.log"
[ "$status" -eq 0 ] || { echo "FAILED: the test program failed ($status)"; exit 1; }
grep -q '^\[       OK \] [A-Za-z0-9]*SocketTls\.EachPeerEndsAsItShould' "$dir/out" || { echo "FAILED: the test did not run"; exit 1; }
