# Sourced by the tests that mail through a real SMTP server on loopback. Either server stores
# each message it accepts in the Maildir "$dir/maildir":
#   start_smtp_server <port>   Debian's aiosmtpd, which takes what it is given;
#   start_strict_mta <port>    a private Postfix instance that refuses what RFC 5321 does not
#                              allow (bare envelope addresses, bare LF, an invalid HELO name,
#                              unannounced pipelining) and delivers locally, relaying nothing.
#   start_submission_mta       the same Postfix as a submission server: sign-in through a
#                              private Dovecot (user $smtp_user, password $smtp_password) only
#                              over TLS, with a certificate for 127.0.0.1 from a test CA made
#                              now ($dir/tls/ca.pem, trusted nowhere else). Ports, all free ones:
#                              $starttls_port STARTTLS required, $tls_port TLS from the first
#                              byte, $plain_port no TLS offered, $othername_port STARTTLS with
#                              a certificate for another name.
# A server that is not installed, or Postfix without root, ends the test with 77 (skipped).
# Sets $dir and an exit trap that stops the server; fail() ends the test;
# wait_for_message prints the path of the first stored message.
python=/usr/bin/python3
dir=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-smtp.XXXXXX") || exit 2
chmod 755 "$dir"  # Postfix's delivery agent runs as nobody and must reach the Maildir
pid=
postfix_conf=
dovecot_conf=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  [ -n "$postfix_conf" ] && postfix -c "$postfix_conf" stop >/dev/null 2>&1
  [ -n "$dovecot_conf" ] && dovecot -c "$dovecot_conf" stop >/dev/null 2>&1
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

# Writes the instance's configuration for the services given as master.cf lines on stdin.
configure_postfix() {
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
  { cat; cat <<EOF; } >"$postfix_conf/master.cf"
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
tlsmgr    unix  - - n 1000? 1 tlsmgr
postlog   unix-dgram n - n - 1 postlogd
EOF
}

launch_postfix() {
  postfix -c "$postfix_conf" start >"$dir/start.log" 2>&1 \
    || { cat "$dir/start.log" "$dir/server.log" 2>/dev/null; fail "Postfix did not start"; }
  for port in "$@"; do
    wait_for_port "$port" || { cat "$dir/server.log"; fail "Postfix does not listen on $port"; }
  done
}

start_strict_mta() {
  configure_postfix <<EOF
127.0.0.1:$1 inet n - n - - smtpd
EOF
  launch_postfix "$1"
}

# A CA and certificates signed by it: for 127.0.0.1, and for a name that is not this server's.
make_test_ca() {
  command -v openssl >/dev/null || skip "openssl is not installed"
  tls=$dir/tls
  mkdir -p "$tls"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/O=Quenvar Test/CN=Quenvar Test CA" \
    -keyout "$tls/ca.key" -out "$tls/ca.pem" >/dev/null 2>&1 || fail "cannot make the test CA"
  for name in server other; do
    case $name in
      server) san="IP:127.0.0.1" cn=127.0.0.1 ;;
      *) san="DNS:mail.example.net" cn=mail.example.net ;;
    esac
    { openssl req -newkey rsa:2048 -nodes -subj "/O=Quenvar Test/CN=$cn" -keyout "$tls/$name.key" \
        -out "$tls/$name.csr" &&
      printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$san" >"$tls/$name.ext" &&
      openssl x509 -req -in "$tls/$name.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial \
        -days 2 -extfile "$tls/$name.ext" -out "$tls/$name.pem"; } >/dev/null 2>&1 ||
      fail "cannot make the $name certificate"
  done
  chmod 644 "$tls"/*.pem
}

smtp_user=reporter@example.com
smtp_password='Test pass, 5 words!' # no colon: the users file's separator

start_submission_mta() {
  command -v dovecot >/dev/null || skip "dovecot-core is not installed"
  make_test_ca
  starttls_port=$(free_port) tls_port=$(free_port) plain_port=$(free_port) othername_port=$(free_port)
  # Sign-in only, through Dovecot's authentication service.
  dovecot_conf=$dir/dovecot/dovecot.conf
  mkdir -p "$dir/dovecot/run"
  chmod 755 "$dir/dovecot" "$dir/dovecot/run"
  printf '%s:{PLAIN}%s\n' "$smtp_user" "$smtp_password" >"$dir/dovecot/users"
  chmod 644 "$dir/dovecot/users"
  cat >"$dovecot_conf" <<EOF
base_dir = $dir/dovecot/run
state_dir = $dir/dovecot/state
log_path = $dir/dovecot.log
protocols =
ssl = no
auth_mechanisms = plain login
passdb {
  driver = passwd-file
  args = scheme=PLAIN $dir/dovecot/users
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=/nonexistent
}
service auth {
  unix_listener auth-postfix {
    mode = 0666
  }
}
EOF
  dovecot -c "$dovecot_conf" >"$dir/dovecot-start.log" 2>&1 ||
    { cat "$dir/dovecot-start.log" "$dir/dovecot.log" 2>/dev/null; fail "Dovecot did not start"; }
  # Nothing is taken for delivery without a sign-in.
  submission="-o smtpd_sasl_auth_enable=yes -o smtpd_relay_restrictions=permit_sasl_authenticated,reject"
  submission="$submission -o smtpd_recipient_restrictions=permit_sasl_authenticated,reject"
  configure_postfix <<EOF
127.0.0.1:$starttls_port inet n - n - - smtpd -o smtpd_tls_security_level=encrypt $submission
127.0.0.1:$tls_port inet n - n - - smtpd -o smtpd_tls_wrappermode=yes $submission
127.0.0.1:$plain_port inet n - n - - smtpd -o smtpd_tls_security_level=none $submission
127.0.0.1:$othername_port inet n - n - - smtpd -o smtpd_tls_security_level=encrypt -o smtpd_tls_chain_files=$tls/other.key,$tls/other.pem $submission
EOF
  cat >>"$postfix_conf/main.cf" <<EOF
smtpd_tls_chain_files = $tls/server.key, $tls/server.pem
smtpd_tls_security_level = may
smtpd_tls_auth_only = yes
smtpd_tls_received_header = yes
smtpd_sasl_authenticated_header = yes
smtpd_sasl_type = dovecot
smtpd_sasl_path = $dir/dovecot/run/auth-postfix
EOF
  launch_postfix "$starttls_port" "$tls_port" "$plain_port" "$othername_port"
}

# Waits for one stored message for each subject given, each of them taken over TLS from the
# signed-in test account, and checks that the password reached no log of the servers.
check_submissions() {
  i=0
  while [ "$(find "$dir/maildir/new" -type f | wc -l)" -lt $# ] && [ $i -lt 100 ]; do
    sleep 0.1; i=$((i + 1))
  done
  for subject in "$@"; do
    stored=$(grep -l "^Subject: $subject" "$dir"/maildir/new/* 2>/dev/null | head -n 1)
    [ -n "$stored" ] || { cat "$dir/server.log"; fail "no message \"$subject\" arrived"; }
    tr -d '\r' <"$stored" | awk '/^$/ { exit } { print }' >"$dir/headers"
    grep -q "using TLSv1" "$dir/headers" || fail "\"$subject\" did not come over TLS"
    grep -q "(Authenticated sender: $smtp_user)" "$dir/headers" || fail "\"$subject\" came without sign-in"
  done
  if grep -rqF "$smtp_password" "$dir/server.log" "$dir/dovecot.log"; then fail "the password is in a server log"; fi
  echo "$# messages arrived over TLS from the signed-in account"
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
