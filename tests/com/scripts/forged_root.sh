#!/bin/sh
# The forged-root suite against the forged-smtp peer of tls_peer.py, the test CA in SMTPCAFile:
# the user must be told the certificate is not trusted, and the server must get no sign-in, no
# password, not a line of the session. Exit 77 (skipped) without the peers.
#
#   forged_root.sh <run-script.sh> <wine-run.sh>
set -u
run=$1 wine=$2
servers=$(dirname "$0")/../../servers
. "$servers/tls_peers.sh"
start_tls_peers
# The message box has no window without a display: Wine's relay channel, held to that one
# function, shows what the user would have read.
"$wine" --arch "${QUENVAR_ARCH:-win32}" reg.exe add 'HKCU\Software\Wine\Debug' /v RelayInclude /d user32.MessageBoxW /f >/dev/null 2>&1 ||
  { echo "FAILED: cannot set Wine's relay filter"; exit 1; }
WINEDEBUG=-all,+relay "$run" forged_root "$(peer_port forged-smtp)" "$(wine_path "$dir/ca.pem")" \
  orders@example.com 's3cret-forged' 2>"$dir/relay.log"
status=$?
grep 'MessageBoxW(' "$dir/relay.log"
expected='SMTP TLS handshake failed: the server'"'"'s certificate is not trusted (CN=Quenvar Test CA ca,O=Quenvar Test)'
grep -qF "L\"$expected\"" "$dir/relay.log" || { echo "FAILED: the user was not told: $expected"; exit 1; }
if [ -s "$dir/forged-smtp.log" ]; then
  echo "the impostor received:"; cat "$dir/forged-smtp.log"
  echo "FAILED: the session went on past the handshake"; exit 1
fi
[ "$status" -eq 0 ] || { echo "FAILED: the suite failed ($status)"; exit 1; }
echo "refused before a line reached the impostor"
