# Sourced, with $servers naming this folder, by the tests that need the TLS peers of tls_peer.py
# on loopback, with their CA and certificates made for this run only: start_tls_peers sets $dir (the peers' folder) and an exit
# trap that stops them; peer_port NAME prints a peer's port. Without python3's ssl or openssl
# the test ends with 77 (skipped).
python=$(command -v python3) && "$python" -c 'import ssl' 2>/dev/null || { echo "python3 with ssl is missing: skipped"; exit 77; }
command -v openssl >/dev/null || { echo "openssl is missing: skipped"; exit 77; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-tls.XXXXXX") || exit 2
peers_pid=
trap '[ -n "$peers_pid" ] && kill "$peers_pid" 2>/dev/null; rm -rf "$dir"' EXIT
trap 'exit 130' INT TERM

start_tls_peers() {
  "$python" "$servers/tls_peer.py" "$dir" 2>"$dir/peer.log" &
  peers_pid=$!
  i=0
  until [ -f "$dir/ports" ]; do
    kill -0 "$peers_pid" 2>/dev/null && [ $i -lt 300 ] || { cat "$dir/peer.log"; echo "FAILED: the peers did not start"; exit 1; }
    sleep 0.1; i=$((i + 1))
  done
}

peer_port() { awk -v name="$1" '$1 == name { print $2 }' "$dir/ports"; }

# A path of the peers' folder as a Windows program under Wine sees it: the host's root is drive Z:.
wine_path() { printf 'Z:%s' "$1" | tr / '\\'; }
