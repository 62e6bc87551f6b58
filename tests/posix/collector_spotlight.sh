#!/bin/sh
# The native library's collector against Sentry's Spotlight on loopback: the test program's
# PosixCollectorSpotlight case sends a handled error, and receivers.sh checks what Spotlight took.
#
#   collector_spotlight.sh <test program>
set -u
servers=$(dirname "$0")/../servers
. "$servers/receivers.sh"
start_spotlight
env -u DISPLAY QUENVAR_TEST_SPOTLIGHT_DSN="$spotlight_dsn/7" "$1" --gtest_filter='PosixCollectorSpotlight.*' >"$dir/out" 2>&1
status=$?
cat "$dir/out"
[ "$status" -eq 0 ] || { echo "FAILED: the test program failed ($status)"; exit 1; }
grep -q '^\[       OK \] PosixCollectorSpotlight\.SendsTheHandledError' "$dir/out" || { echo "FAILED: the test did not run"; exit 1; }
check_spotlight_event "$(sed -n 's/^EVENT //p' "$dir/out")"
