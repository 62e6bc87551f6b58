#!/bin/sh
# Runs the on-screen mail client on a display of its own with the pointer probe beside it.
#
#   mail_on_screen.sh <wine-run.sh> <mail_on_screen.exe> <Quenvar.dll as a Wine path>
#   (run under xvfb-run)
set -u
run=$1 program=$2 dll=$3
/usr/bin/python3 -c 'import Xlib' 2>/dev/null || { echo "python3-xlib is not installed: skipped"; exit 77; }
ports=$(mktemp)
trap 'kill $probe 2>/dev/null; rm -f "$ports"' EXIT
/usr/bin/python3 "$(dirname "$0")/pointer_probe.py" >"$ports" &
probe=$!
for _ in $(seq 50); do [ -s "$ports" ] && break; sleep 0.1; done
[ -s "$ports" ] || { echo "FAILED: the pointer probe did not start"; exit 1; }
"$run" --wait-server "$program" "$dll" "$(head -n1 "$ports")"
