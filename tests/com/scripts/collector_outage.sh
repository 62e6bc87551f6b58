#!/bin/sh
# A collector that takes connections and never answers (Sentry's Spotlight, stopped; see
# receivers.sh): a first process queues three reports and is killed while its sends wait; once
# the collector answers again, a new process finds the three waiting and sends them. The
# collector then holds the three event ids; a send the killed process had written out may reach
# it as well, under the same id.
#
#   collector_outage.sh <run-script.sh>
set -u
run=$1
servers=$(dirname "$0")/../../servers
. "$servers/receivers.sh"

start_spotlight
kill -STOP "$spotlight_pid"
trap 'kill -CONT "$spotlight_pid" 2>/dev/null; kill "$spotlight_pid" 2>/dev/null; rm -rf "$dir"' EXIT
dsn=$spotlight_dsn/43

# /proc/net/tcp: a connection to the collector, established, with bytes it has not read.
unread_request() {
  awk -v p=":$(printf '%04X' "$spotlight_port")" '$2 ~ p "$" && $4 == "01" && $5 !~ /:00000000$/ { found = 1 }
    END { exit !found }' /proc/net/tcp
}

# In a process group of its own, so that the script host goes with its runner; it writes the
# event ids it queued to its scratch folder (run-script.sh's).
setsid "$run" collector_outage queue "$dsn" >"$dir/queue.out" 2>&1 &
queue=$!
queued=scratch/${QUENVAR_ARCH:-win32}/collector_outage/queued
i=0
until [ -f "$queued" ] && unread_request; do
  kill -0 "$queue" 2>/dev/null && [ $i -lt 600 ] || { wait "$queue"; cat "$dir/queue.out"; echo "FAILED: the first process did not queue and send"; exit 1; }
  sleep 0.1; i=$((i + 1))
done
kill -KILL -"$queue"
wait "$queue" 2>/dev/null
tr -d '\r' <"$queued" >"$dir/queued"
kill -CONT "$spotlight_pid"

"$run" collector_outage send "$dsn" >"$dir/send.out" 2>&1 || { cat "$dir/send.out"; echo "FAILED: the new process"; exit 1; }
spotlight_envelopes "$dir/taken" || exit 1
"$python" - "$dir/taken" "$dir/queued" <<'PY' || exit 1
import collections, json, sys
taken = [json.loads(line) for line in open(sys.argv[1]) if line.strip()]
queued = open(sys.argv[2]).read().split()
assert len(queued) == 3 and len(set(queued)) == 3, queued
ids = collections.Counter(e["envelope"][0]["event_id"].replace("-", "") for e in taken)
assert sorted(ids) == sorted(queued), (ids, queued)
assert max(ids.values()) <= 2, "each sent once by the new process: %r" % ids
print("the collector holds the three reports:", dict(ids))
PY
