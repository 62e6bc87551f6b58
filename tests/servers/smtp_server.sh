# Sourced by the tests that mail through a real SMTP server on loopback. Either server stores
# each message it accepts in the Maildir "$dir/maildir":
#   start_smtp_server <port>   Debian's aiosmtpd, which takes what it is given;
#   start_strict_mta <port>    a private Postfix instance that refuses what RFC 5321 does not
#                              allow (bare envelope addresses, bare LF, an invalid HELO name,
#                              unannounced pipelining) and delivers locally, relaying nothing.
# A server that is not installed, or Postfix without root, ends the test with 77 (skipped).
# Sets $dir and an exit trap that stops the server; fail() ends the test;
# wait_for_message prints the path of the first stored message.
python=/usr/bin/python3
dir=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-smtp.XXXXXX") || exit 2
chmod 755 "$dir"  # Postfix's delivery agent runs as nobody and must reach the Maildir
pid=
postfix_conf=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  [ -n "$postfix_conf" ] && postfix -c "$postfix_conf" stop >/dev/null 2>&1
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { echo "FAILED: $*"; exit 1; }
skip() { echo "$*: skipped"; exit 77; }

free_port() { "$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

wait_for_port() {
  "$python" -c '
import socket, sys, time
for _ in range(100):
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close(); sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)' "$1"
}

start_smtp_server() {
  "$python" -c 'import aiosmtpd' 2>/dev/null || skip "python3-aiosmtpd is not installed"
  "$python" -m aiosmtpd -n -l "127.0.0.1:$1" -c aiosmtpd.handlers.Mailbox "$dir/maildir" >"$dir/server.log" 2>&1 &
  pid=$!
  wait_for_port "$1" || { cat "$dir/server.log"; fail "the server did not start"; }
}

start_strict_mta() {
  command -v postfix >/dev/null || skip "postfix is not installed"
  [ "$(id -u)" -eq 0 ] || skip "a private Postfix instance needs root"
  postfix_conf=$dir/postfix
  mkdir -p "$postfix_conf" "$dir/queue" "$dir/data" "$dir/maildir"
  chown postfix "$dir/data"
  chown -R nobody:nogroup "$dir/maildir"
  cat >"$postfix_conf/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $dir/queue
data_directory = $dir/data
maillog_file = $dir/server.log
maillog_file_prefixes = $dir
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
myhostname = mta.quenvar.test
mydestination =
mynetworks = 127.0.0.0/8
relay_domains =
default_transport = error:the test server relays nothing
relay_transport = error:the test server relays nothing
virtual_mailbox_domains = example.com
virtual_mailbox_base = $dir
virtual_mailbox_maps = static:maildir/
virtual_uid_maps = static:$(id -u nobody)
virtual_gid_maps = static:$(getent group nogroup | cut -d: -f3)
strict_rfc821_envelopes = yes
smtpd_forbid_bare_newline = yes
smtpd_forbid_bare_newline_reject_code = 550
smtpd_forbid_unauth_pipelining = yes
smtpd_helo_required = yes
smtpd_helo_restrictions = reject_invalid_helo_hostname
biff = no
EOF
  # No chroot, so the instance needs nothing outside its folder.
  cat >"$postfix_conf/master.cf" <<EOF
127.0.0.1:$1 inet n - n - - smtpd
pickup    unix  n - n 60 1 pickup
cleanup   unix  n - n -  0 cleanup
qmgr      unix  n - n 300 1 qmgr
rewrite   unix  - - n -  - trivial-rewrite
bounce    unix  - - n -  0 bounce
defer     unix  - - n -  0 bounce
trace     unix  - - n -  0 bounce
verify    unix  - - n -  1 verify
proxymap  unix  - - n -  - proxymap
error     unix  - - n -  - error
retry     unix  - - n -  - error
discard   unix  - - n -  - discard
virtual   unix  - n n -  - virtual
anvil     unix  - - n -  1 anvil
scache    unix  - - n -  1 scache
postlog   unix-dgram n - n - 1 postlogd
EOF
  postfix -c "$postfix_conf" start >"$dir/start.log" 2>&1 \
    || { cat "$dir/start.log" "$dir/server.log" 2>/dev/null; fail "Postfix did not start"; }
  wait_for_port "$1" || { cat "$dir/server.log"; fail "Postfix does not listen on $1"; }
}

# Delivery may trail the end of the session (Postfix queues first).
wait_for_message() {
  i=0
  while [ $i -lt 100 ]; do
    stored=$(find "$dir/maildir/new" -type f 2>/dev/null | head -n 1)
    [ -n "$stored" ] && { echo "$stored"; return 0; }
    sleep 0.1; i=$((i + 1))
  done
  cat "$dir/server.log" >&2
  return 1
}
