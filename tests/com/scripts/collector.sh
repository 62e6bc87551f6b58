#!/bin/sh
# The collector suite against Sentry's Spotlight on loopback: the event the script's handler
# queued arrives once, with its stack, masked parameters, facts and the report, and Sentry's CLI
# reads it strictly (tests/servers/receivers.sh).
#
#   collector.sh <run-script.sh>
set -u
run=$1
servers=$(dirname "$0")/../../servers
. "$servers/receivers.sh"
start_spotlight
"$run" collector "$spotlight_dsn/42" >"$dir/out" || { cat "$dir/out"; echo "FAILED: the suite failed"; exit 1; }
cat "$dir/out"
check_spotlight_event "$(tr -d '\r' <"$dir/out" | sed -n 's/^EVENT //p')"
