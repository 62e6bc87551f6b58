"""Helpers for quenvar_smtp_bench, standard library only.

  slow [CERT KEY]              an SMTP server on 127.0.0.1 that waits a second before every
                               reply; prints its port, serves connections until killed. With a
                               certificate it offers STARTTLS and takes any AUTH PLAIN or LOGIN.
  smtplib PORT COUNT MESSAGE [CA USER PASSWORD]
                               sends the file MESSAGE COUNT times through smtplib, one
                               connection each (with STARTTLS and login when a CA is given), and
                               prints the seconds the sends took
"""

import smtplib
import socket
import ssl
import sys
import threading
import time

DELAY = 1.0


def reply(conn, text):
    time.sleep(DELAY)
    conn.sendall(text.encode() + b"\r\n")


def serve_slowly(conn, tls):
    lines = conn.makefile("rb")
    reply(conn, "220 slow.example ESMTP")
    while True:
        line = lines.readline()
        if not line:
            return
        verb = line[:4].upper()
        if tls and verb == b"EHLO":
            reply(conn, "250-slow.example\r\n250-STARTTLS\r\n250 AUTH PLAIN LOGIN")
        elif tls and line[:8].upper() == b"STARTTLS":
            reply(conn, "220 go ahead")
            conn = tls.wrap_socket(conn, server_side=True)
            lines = conn.makefile("rb")
        elif verb == b"AUTH":
            if line.split()[1].upper() == b"LOGIN":
                reply(conn, "334 VXNlcm5hbWU6")
                lines.readline()
                reply(conn, "334 UGFzc3dvcmQ6")
                lines.readline()
            reply(conn, "235 accepted")
        else:
            if verb == b"QUIT":
                reply(conn, "221 bye")
                conn.close()
                return
            if verb == b"DATA":
                reply(conn, "354 end with <CRLF>.<CRLF>")
                for data in iter(lines.readline, b""):
                    if data == b".\r\n":
                        break
                reply(conn, "250 queued")
            elif verb in (b"HELO", b"EHLO", b"MAIL", b"RCPT", b"RSET", b"NOOP"):
                reply(conn, "250 ok")
            else:
                reply(conn, "500 unknown")


def slow(certificate=None):
    tls = None
    if certificate:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(*certificate)
    listener = socket.create_server(("127.0.0.1", 0))
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve_slowly, args=(conn, tls), daemon=True).start()


def send_with_smtplib(port, count, path, ca=None, user=None, password=None):
    with open(path, "rb") as f:
        message = f.read()
    # Fixed so no name lookup (getfqdn) is timed; our session uses the plain host name too.
    me = socket.gethostname()
    start = time.perf_counter()
    for _ in range(count):
        with smtplib.SMTP("127.0.0.1", port, local_hostname=me) as s:
            if ca:
                # A context per session, as our session reads its trust anchors per session.
                s.starttls(context=ssl.create_default_context(cafile=ca))
                s.login(user, password)
            s.sendmail("orders@example.com", ["ops@example.com"], message)
    print(f"{time.perf_counter() - start:.6f}", flush=True)


if __name__ == "__main__":
    if sys.argv[1] == "slow":
        slow(sys.argv[2:4] or None)
    else:
        send_with_smtplib(int(sys.argv[2]), int(sys.argv[3]), *sys.argv[4:])
