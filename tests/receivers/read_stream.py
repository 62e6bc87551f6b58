#!/usr/bin/env python3
"""Reads back the envelopes a Spotlight sidecar on loopback took, from its /stream.

    read_stream.py PORT OUT [--sent-by AGENT --event-id ID]

Writes OUT, one JSON line per envelope in the order Spotlight took them:
{"content_type": <the event's type on the stream>, "envelope": [header, [[item header, payload], ...]]},
Spotlight's own reading of it (an attachment's payload is {"data": <text>}); and OUT.1, OUT.2, ...
the bytes of each as they arrived (from /envelope/<id>).

Spotlight replays everything it holds to a new reader at once, so reading ends when the stream
has been quiet for half a second. With --sent-by and --event-id it first waits, 10 s at most, for
an envelope of that event id from a sender whose User-Agent begins with AGENT.
"""
import argparse
import http.client
import json
import socket
import sys
import threading
import time

QUIET, LONGEST = 0.5, 10.0


def same_id(a, b):
    return str(a).replace("-", "").lower() == str(b).replace("-", "").lower()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("port", type=int)
    parser.add_argument("out")
    parser.add_argument("--sent-by")
    parser.add_argument("--event-id")
    args = parser.parse_args()

    received = []  # (content type, data text)
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
                            received.append((kind, "\n".join(data)))
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

    def awaited():
        if not args.sent_by:
            return True
        for _, data in received:
            header = json.loads(data)[0]
            if (str(header.get("__spotlight_sender_user_agent", "")).startswith(args.sent_by)
                    and same_id(header.get("event_id"), args.event_id)):
                return True
        return False

    start = time.monotonic()
    while time.monotonic() - start < LONGEST:
        time.sleep(0.05)
        with lock:
            if awaited() and time.monotonic() - last[0] >= QUIET:
                break
    connection.sock.shutdown(socket.SHUT_RDWR)
    reader.join(2)
    connection.close()

    with lock:
        taken = list(received)
    with open(args.out, "w") as out:
        for n, (kind, data) in enumerate(taken, 1):
            envelope = json.loads(data)
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
