#!/bin/sh
# Runs the mail suite against a real SMTP server on 127.0.0.1:25 (the port the component
# always uses; a recent session may leave it in TIME_WAIT), then checks the stored message.
# Exit 77 (skipped) without python3-aiosmtpd or
# when port 25 cannot be had.
#
#   mail_smtp.sh <run-script.sh>
set -u
run=$1
port=25
. "$(dirname "$0")/../../wine/smtp_server.sh"
if ! "$python" -c 'import socket, sys; s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(("127.0.0.1", int(sys.argv[1])))' "$port" 2>/dev/null; then
  echo "port $port is taken or needs privileges: skipped"
  exit 77
fi
start_smtp_server "$port"

"$run" mail || fail "the mail suite failed"

stored=$(find "$dir/maildir/new" -type f 2>/dev/null | head -n 1)
[ -n "$stored" ] || { cat "$dir/server.log"; fail "no message in the Maildir"; }
tr -d '\r' <"$stored" >"$dir/message"
echo "stored message:"; cat "$dir/message"
grep -qx 'Subject: MailSuite 1.2.3 Application Error' "$dir/message" || fail "no Subject line"
grep -qx 'first report line' "$dir/message" || fail "the body is missing"
grep -qx '\.' "$dir/message" || fail "the lone dot line was not restored"
grep -qx 'last report line' "$dir/message" || fail "the body was cut at the dot line"
echo "the report arrived"
