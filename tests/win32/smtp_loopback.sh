#!/bin/sh
# A whole SMTP session from the Windows build to a real server on loopback, then the stored
# message read back. Exit 77 (skipped) without python3-aiosmtpd.
#
#   smtp_loopback.sh wine-run.sh quenvar_win32_tests.exe wineprefix
set -u
run=$1 program=$2 prefix=$3
python=/usr/bin/python3
if ! "$python" -c 'import aiosmtpd' 2>/dev/null; then
  echo "python3-aiosmtpd is not installed: skipped"
  exit 77
fi
dir=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-smtp.XXXXXX") || exit 2
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { echo "FAILED: $*"; exit 1; }

port=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$python" -m aiosmtpd -n -l "127.0.0.1:$port" -c aiosmtpd.handlers.Mailbox "$dir/maildir" >"$dir/server.log" 2>&1 &
pid=$!
"$python" -c '
import socket, sys, time
for _ in range(100):
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close(); sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)' "$port" || { cat "$dir/server.log"; fail "the server did not start"; }

env -u DISPLAY QUENVAR_WINEPREFIX="$prefix" QUENVAR_SMTP_PORT="$port" \
  "$run" "$program" --gtest_filter=Win32SmtpLoopback.* >"$dir/out" 2>&1
status=$?
cat "$dir/out"
[ "$status" -eq 0 ] || fail "the test program failed ($status)"
grep -q '^\[  PASSED  \] 1 test' "$dir/out" || fail "the session test did not run"
grep -q 'SKIPPED' "$dir/out" && fail "the session test skipped itself"

stored=$(find "$dir/maildir/new" -type f 2>/dev/null | head -n 1)
[ -n "$stored" ] || fail "no message in the Maildir"
tr -d '\r' <"$stored" >"$dir/message"
echo "stored message:"; cat "$dir/message"
grep -qx 'Subject: Win32 loopback report' "$dir/message" || fail "no Subject line"
grep -qx 'first marker line' "$dir/message" || fail "the body is missing"
# A lone "." ends the data unless stuffed on the wire: it and what follows arrive only if it was.
grep -qx '\.' "$dir/message" || fail "the lone dot line was not restored"
grep -qx '\.\.two dots' "$dir/message" || fail "the two-dot line was not restored"
grep -qx 'last marker line' "$dir/message" || fail "the body was cut at the dot line"
echo "the report arrived intact"
