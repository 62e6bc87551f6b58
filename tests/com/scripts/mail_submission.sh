#!/bin/sh
# Runs the submission suite against a private Postfix with Dovecot sign-in and a test CA (trusted
# through the suite's SMTPCAFile alone), checks what arrived and that the password is nowhere in
# clear in the prefix's registry. Exit 77 (skipped) when the servers cannot be had.
#
#   mail_submission.sh <run-script.sh>
set -u
run=$1
. "$(dirname "$0")/../../servers/smtp_server.sh"
start_submission_mta
ca=$(printf 'Z:%s' "$dir/tls/ca.pem" | tr / '\\')
"$run" submission "$starttls_port" "$tls_port" "$ca" "$smtp_user" "$smtp_password" ||
  { cat "$dir/server.log"; fail "the submission suite failed"; }
check_submissions "SubmissionStartTls 1.2.3 Application Error" "SubmissionImplicitTls 1.2.3 Application Error"
prefix=${QUENVAR_WINEPREFIX:-$PWD/wineprefix}
if grep -rqF "$smtp_password" "$prefix"/*.reg; then fail "the password is in clear in the registry"; fi
