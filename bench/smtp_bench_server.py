"""Helpers for quenvar_smtp_bench, standard library only.

  slow                         an SMTP server on 127.0.0.1 that waits a second before every
                               reply; prints its port, serves connections until killed
  smtplib PORT COUNT MESSAGE   sends the file MESSAGE COUNT times through smtplib, one
                               connection each, and prints the seconds the sends took
"""

import smtplib
import socket
import sys
import threading
import time

DELAY = 1.0


def reply(conn, text):
    time.sleep(DELAY)
    conn.sendall(text.encode() + b"\r\n")


def serve_slowly(conn):
    with conn, conn.makefile("rb") as lines:
        reply(conn, "220 slow.example ESMTP")
        for line in lines:
            verb = line[:4].upper()
            if verb == b"QUIT":
                reply(conn, "221 bye")
                return
            if verb == b"DATA":
                reply(conn, "354 end with <CRLF>.<CRLF>")
                for data in lines:
                    if data == b".\r\n":
                        break
                reply(conn, "250 queued")
            elif verb in (b"HELO", b"EHLO", b"MAIL", b"RCPT", b"RSET", b"NOOP"):
                reply(conn, "250 ok")
            else:
                reply(conn, "500 unknown")


def slow():
    listener = socket.create_server(("127.0.0.1", 0))
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve_slowly, args=(conn,), daemon=True).start()


def send_with_smtplib(port, count, path):
    with open(path, "rb") as f:
        message = f.read()
    # Fixed so no name lookup (getfqdn) is timed; our session uses the plain host name too.
    me = socket.gethostname()
    start = time.perf_counter()
    for _ in range(count):
        with smtplib.SMTP("127.0.0.1", port, local_hostname=me) as s:
            s.sendmail("orders@example.com", ["ops@example.com"], message)
    print(f"{time.perf_counter() - start:.6f}", flush=True)


if __name__ == "__main__":
    if sys.argv[1] == "slow":
        slow()
    else:
        send_with_smtplib(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4])
