#!/usr/bin/env python3
"""The floor of draining the outbox: Python's http.client posting one envelope COUNT times over
one kept-alive connection, with the headers the collector sends, each answer read before the
next post.

    collector_drain_floor.py URL AUTH ENVELOPE_FILE COUNT

Prints the seconds from opening the connection to the last answer; exits 1 when an answer was
not 200 or the connection was not kept (the comparison would then be unfair).
"""
import http.client
import sys
import time
import urllib.parse


def main():
    url, auth, envelope_file, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    with open(envelope_file, "rb") as f:
        body = f.read()
    parts = urllib.parse.urlsplit(url)
    headers = {"Content-Type": "application/x-sentry-envelope", "X-Sentry-Auth": auth}
    start = time.perf_counter()
    connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30)
    connection.connect()
    first = connection.sock
    for _ in range(count):
        connection.request("POST", parts.path, body, headers)
        answer = connection.getresponse()
        answer.read()
        if answer.status != 200 or connection.sock is not first:
            print("answer %d, connection kept: %s" % (answer.status, connection.sock is first), file=sys.stderr)
            return 1
    elapsed = time.perf_counter() - start
    connection.close()
    print("%.6f" % elapsed)
    return 0


if __name__ == "__main__":
    sys.exit(main())
