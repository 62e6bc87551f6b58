# Sourced by the tests that mail through a real SMTP server on loopback: Debian's aiosmtpd,
# storing each message in "$dir/maildir". Sets $dir, $pid and an exit trap that stops the
# server; exits 77 (skipped) without python3-aiosmtpd. fail() ends the test.
#
#   . smtp_server.sh; start_smtp_server <port>
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

free_port() { "$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

start_smtp_server() {
  "$python" -m aiosmtpd -n -l "127.0.0.1:$1" -c aiosmtpd.handlers.Mailbox "$dir/maildir" >"$dir/server.log" 2>&1 &
  pid=$!
  "$python" -c '
import socket, sys, time
for _ in range(100):
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close(); sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)' "$1" || { cat "$dir/server.log"; fail "the server did not start"; }
}
