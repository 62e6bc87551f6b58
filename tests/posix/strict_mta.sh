#!/bin/sh
# Runs the native session against a private Postfix instance on loopback.
# Exit 77 (skipped) when Postfix cannot be had.
#
#   strict_mta.sh posix_backend_tests
set -u
program=$1
. "$(dirname "$0")/../servers/smtp_server.sh"
port=$(free_port)
start_strict_mta "$port"
QUENVAR_STRICT_SMTP_PORT=$port QUENVAR_STRICT_SMTP_MAILDIR=$dir/maildir \
  "$program" --gtest_filter=SmtpLoopback.StrictMtaAcceptsTheReport >"$dir/out" 2>&1
status=$?
cat "$dir/out"
[ "$status" -eq 0 ] || { cat "$dir/server.log"; fail "the session test failed ($status)"; }
grep -q '^\[  PASSED  \] 1 test' "$dir/out" || fail "the session test did not run"
grep -q 'SKIPPED' "$dir/out" && fail "the session test skipped itself"
grep -q 'status=sent (delivered to maildir)' "$dir/server.log" || fail "Postfix did not deliver"
echo "the strict MTA took the report"
