#!/bin/sh
# Runs the native session's submission cases against a private Postfix with Dovecot sign-in and
# a test CA, then reads back what arrived. Exit 77 (skipped) when the servers cannot be had.
#
#   submission_mta.sh posix_backend_tests
set -u
program=$1
. "$(dirname "$0")/../servers/smtp_server.sh"
start_submission_mta
QUENVAR_SUBMISSION_CA=$dir/tls/ca.pem QUENVAR_SUBMISSION_USER=$smtp_user \
  QUENVAR_SUBMISSION_PASSWORD=$smtp_password QUENVAR_SUBMISSION_STARTTLS_PORT=$starttls_port \
  QUENVAR_SUBMISSION_TLS_PORT=$tls_port QUENVAR_SUBMISSION_PLAIN_PORT=$plain_port \
  QUENVAR_SUBMISSION_OTHERNAME_PORT=$othername_port \
  "$program" --gtest_filter=SmtpSubmission.* >"$dir/out" 2>&1
status=$?
cat "$dir/out"
[ "$status" -eq 0 ] || { cat "$dir/server.log"; fail "the session test failed ($status)"; }
grep -q '^\[  PASSED  \] 1 test' "$dir/out" || fail "the session test did not run"
grep -q 'SKIPPED' "$dir/out" && fail "the session test skipped itself"
check_submissions "Submission: STARTTLS" "Submission: implicit TLS"
