#!/bin/sh
# A whole SMTP session from the Windows build to a real server on loopback, then the stored
# message read back. Exit 77 (skipped) when the server cannot be had.
#
#   smtp_loopback.sh wine-run.sh quenvar_win32_tests.exe wineprefix aiosmtpd|postfix
set -u
run=$1 program=$2 prefix=$3 server=$4
. "$(dirname "$0")/../servers/smtp_server.sh"
port=$(free_port)
case $server in
  aiosmtpd) start_smtp_server "$port" ;;
  postfix) start_strict_mta "$port" ;;
  *) fail "unknown server $server" ;;
esac

env -u DISPLAY QUENVAR_WINEPREFIX="$prefix" QUENVAR_SMTP_PORT="$port" \
  "$run" "$program" --gtest_filter=Win32SmtpLoopback.* >"$dir/out" 2>&1
status=$?
cat "$dir/out"
[ "$status" -eq 0 ] || fail "the test program failed ($status)"
grep -q '^\[  PASSED  \] 1 test' "$dir/out" || fail "the session test did not run"
grep -q 'SKIPPED' "$dir/out" && fail "the session test skipped itself"

stored=$(wait_for_message) || fail "no message in the Maildir"
tr -d '\r' <"$stored" >"$dir/message"
echo "stored message:"; cat "$dir/message"
grep -qx 'Subject: Win32 loopback report' "$dir/message" || fail "no Subject line"
grep -qx 'first marker line' "$dir/message" || fail "the body is missing"
# A lone "." ends the data unless stuffed on the wire: it and what follows arrive only if it was.
grep -qx '\.' "$dir/message" || fail "the lone dot line was not restored"
grep -qx '\.\.two dots' "$dir/message" || fail "the two-dot line was not restored"
grep -qx 'last marker line' "$dir/message" || fail "the body was cut at the dot line"
echo "the report arrived intact"
