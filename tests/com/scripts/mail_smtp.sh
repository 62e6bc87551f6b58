#!/bin/sh
# Runs the mail suite against a real SMTP server on 127.0.0.1:25 (the port the component
# always uses; a recent session may leave it in TIME_WAIT), then checks the stored message.
# Exit 77 (skipped) when the server or port 25 cannot be had.
#
#   mail_smtp.sh <run-script.sh> aiosmtpd|postfix
set -u
run=$1 server=$2
port=25
. "$(dirname "$0")/../../servers/smtp_server.sh"
if ! "$python" -c 'import socket, sys; s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1); s.bind(("127.0.0.1", int(sys.argv[1])))' "$port" 2>/dev/null; then
  echo "port $port is taken or needs privileges: skipped"
  exit 77
fi
case $server in
  aiosmtpd) start_smtp_server "$port" ;;
  postfix) start_strict_mta "$port" ;;
  *) fail "unknown server $server" ;;
esac

"$run" mail || fail "the mail suite failed"

stored=$(wait_for_message) || fail "no message in the Maildir"
tr -d '\r' <"$stored" >"$dir/message"
echo "stored message:"; cat "$dir/message"
grep -qx 'Subject: MailSuite 1.2.3 Application Error' "$dir/message" || fail "no Subject line"
grep -qx 'first report line' "$dir/message" || fail "the body is missing"
grep -qx '\.' "$dir/message" || fail "the lone dot line was not restored"
grep -qx 'last report line' "$dir/message" || fail "the body was cut at the dot line"
echo "the report arrived"
