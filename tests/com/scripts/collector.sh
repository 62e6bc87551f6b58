#!/bin/sh
# The collector suite against the http-200 collector of tls_peer.py: the event the script's
# handler queued arrives once, with its stack, masked parameters, facts and the report.
#
#   collector.sh <run-script.sh>
set -u
run=$1
servers=$(dirname "$0")/../../servers
. "$servers/tls_peers.sh"
start_tls_peers
"$run" collector "http://key1@127.0.0.1:$(peer_port http-200)/42" >"$dir/out" || { cat "$dir/out"; echo "FAILED: the suite failed"; exit 1; }
cat "$dir/out"
id=$(tr -d '\r' <"$dir/out" | sed -n 's/^EVENT //p')
"$python" - "$dir" "$id" <<'PY' || exit 1
import glob, json, sys
folder, expected = sys.argv[1], sys.argv[2]
bodies = [open(p, "rb").read() for p in sorted(glob.glob(folder + "/received.*"))]
assert len(bodies) == 1, "one envelope, got %d" % len(bodies)
lines = bodies[0].split(b"\n")
header, item, event = json.loads(lines[0]), json.loads(lines[1]), json.loads(lines[2])
assert header["event_id"] == expected and "sent_at" in header, header
assert item["type"] == "event" and item["length"] == len(lines[2]), item
exception = event["exception"]["values"][0]
assert exception["type"] == "Error 1042" and exception["value"] == "Could not post", exception
frames = exception["stacktrace"]["frames"]
assert [f["function"] for f in frames] == ["Main", "PostInvoice"], frames
assert frames[1]["lineno"] == 30 and frames[1]["vars"] == {"InvoiceId": "1042", "Password": "********"}, frames[1]
assert event["release"] == "Orders@2.0.15" and event["contexts"]["app"]["product_name"] == "Ledger", event
assert b"hunter2" not in bodies[0], "a password was sent"
attachment = json.loads(lines[3])
assert attachment["filename"] == "report.txt", attachment
assert b"Orders Application Error Information" in lines[4], lines[4][:200]
print("the collector received event", expected)
PY
