#!/usr/bin/env python3
"""Reads back the envelopes a Spotlight sidecar on loopback took, from its /stream.

    read_stream.py PORT OUT [--sent-by AGENT --event-id ID]

Writes OUT, one JSON line per envelope in the order Spotlight took them:
{"content_type": <the event's type on the stream>, "envelope": [header, [[item header, payload], ...]]},
Spotlight's own reading of it (an attachment's payload is {"data": <text>}); and OUT.1, OUT.2, ...
the bytes of each as they arrived (from /envelope/<id>).

Spotlight replays everything it holds to a new reader, in the order taken, and then what comes.
So once the stream is open this reader sends a marker envelope of its own: the replay has ended
when the marker comes back (a replay of many dumps can take seconds to begin, so no quiet time
can tell it), and reading ends half a second after the last envelope since. Markers are never
written to OUT. With --sent-by and --event-id it also waits for an envelope of that event id from
a sender whose User-Agent begins with AGENT. Either wait is bounded; a bound reached is a failure.
"""
import argparse
import http.client
import json
import socket
import sys
import threading
import time
import uuid

QUIET, LONGEST = 0.5, 10.0
MARKER_AGENT = "quenvar-tests-marker/1"


def sent_by(header, agent):
    return str(header.get("__spotlight_sender_user_agent", "")).startswith(agent)


def send_marker(port, marker):
    item = json.dumps({"timestamp": time.time(), "discarded_events": []}).encode()
    body = b"%s\n%s\n%s\n" % (json.dumps({"event_id": marker}).encode(),
                               json.dumps({"type": "client_report", "length": len(item)}).encode(), item)
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=LONGEST)
    connection.request("POST", "/api/0/envelope/", body,
                       {"Content-Type": "application/x-sentry-envelope", "User-Agent": MARKER_AGENT})
    answer = connection.getresponse()
    answer.read()
    connection.close()
    if answer.status != 200:
        sys.exit("read_stream.py: the marker envelope was answered %d" % answer.status)


def same_id(a, b):
    return str(a).replace("-", "").lower() == str(b).replace("-", "").lower()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("out")
    parser.add_argument("--sent-by")
    parser.add_argument("--event-id")
    args = parser.parse_args()

    received = []  # (content type, envelope), each parsed once as it comes
    lock = threading.Lock()
    last = [time.monotonic()]
    connection = http.client.HTTPConnection("127.0.0.1", args.port, timeout=LONGEST)
    connection.request("GET", "/stream?client=quenvar-tests")
    response = connection.getresponse()
    if response.status != 200 or not response.getheader("Content-Type", "").startswith("text/event-stream"):
        sys.exit("read_stream.py: /stream answered %d %s" % (response.status, response.getheader("Content-Type")))

    def read():
        kind, data = "message", []
        try:
            for raw in iter(response.readline, b""):
                line = raw.decode("utf-8").rstrip("\r\n")
                if line == "":
                    if data:
                        with lock:
                            received.append((kind, json.loads("\n".join(data))))
                            last[0] = time.monotonic()
                    kind, data = "message", []
                elif line.startswith("event:"):
                    kind = line[6:].strip()
                elif line.startswith("data:"):
                    data.append(line[5:].lstrip(" "))
        except (OSError, ValueError, http.client.HTTPException):
            pass  # the stream was closed under it: done

    reader = threading.Thread(target=read, daemon=True)
    reader.start()

    marker = uuid.uuid4().hex
    send_marker(args.port, marker)

    def seen(agent, event_id):
        return any(sent_by(envelope[0], agent) and same_id(envelope[0].get("event_id"), event_id)
                   for _, envelope in received)

    start, done = time.monotonic(), False
    while not done and time.monotonic() - start < LONGEST:
        time.sleep(0.05)
        with lock:
            done = (seen(MARKER_AGENT, marker) and (not args.sent_by or seen(args.sent_by, args.event_id))
                    and time.monotonic() - last[0] >= QUIET)
    connection.sock.shutdown(socket.SHUT_RDWR)
    reader.join(2)
    connection.close()
    if not done:
        with lock:
            sys.exit("read_stream.py: within %d s, %s (%d envelopes read)" % (
                LONGEST, "Spotlight's replay did not end" if not seen(MARKER_AGENT, marker)
                else "no envelope %s from %s" % (args.event_id, args.sent_by), len(received)))

    with lock:
        taken = [(kind, envelope) for kind, envelope in received if not sent_by(envelope[0], MARKER_AGENT)]
    with open(args.out, "w") as out:
        for n, (kind, envelope) in enumerate(taken, 1):
            out.write(json.dumps({"content_type": kind, "envelope": envelope}) + "\n")
            fetch = http.client.HTTPConnection("127.0.0.1", args.port, timeout=LONGEST)
            fetch.request("GET", "/envelope/" + envelope[0]["__spotlight_envelope_id"])
            answer = fetch.getresponse()
            body = answer.read()
            if answer.status != 200:
                sys.exit("read_stream.py: /envelope/%s answered %d" % (envelope[0]["__spotlight_envelope_id"], answer.status))
            with open("%s.%d" % (args.out, n), "wb") as f:
                f.write(body)
            fetch.close()
    print("read_stream.py: %d envelopes from Spotlight" % len(taken))


if __name__ == "__main__":
    main()
