#!/usr/bin/env python3
"""TLS peers on 127.0.0.1 for the socket tests, one port per behaviour.

    tls_peer.py FOLDER

Makes in FOLDER, with the openssl tool, a test CA (ca.pem), another CA (other.pem), both in
bundle.pem (the other first), nocert.pem (no certificate) and the peers' certificates for
mail.quenvar.test and 127.0.0.1 (O=Quenvar Test, CN=mail.quenvar.test); the test CA is trusted
nowhere but through a CA file; huge.pem (over 4 MB) and fifo.pem (a FIFO) are no CA files to
read. Then writes FOLDER/ports ("name port" lines) once every peer
listens, and serves until killed.

  tls, tls12 (TLS 1.2 at most), expired (a certificate that ended in 2020), early (one that
      begins in 2099), and the attacks a client must refuse: forged (self-signed, copying the
      test CA's subject and serial number), clientauth (from the test CA, for clients only),
      ipname (from the test CA, 127.0.0.1 as a DNS name and common name, no address entry),
      tls10 (TLS 1.0 only): send "220 tls ready" at once after the handshake, take bytes up to
      "QUIT\\r\\n", answer "250 <count> <crc32> <TLS version> <server name asked for, or ->",
      PATTERN and "221 bye", then close_notify.
  plain: answers "220 hello" and no TLS.   hangup: closes after the first bytes, half a record sent.
  junk: answers a ServerHello of nonsense.
  http-200, http-429 (with Retry-After and X-Sentry-Rate-Limits), http-413, http-503, http-close
      (closes without an answer), http-hang (never answers), https-clientauth (200 behind the
      certificate for clients only), https-200 (behind the server's
      certificate): collectors taking POSTs, each noted in FOLDER/http.log.
  forged-smtp: a mail server behind the forged certificate, TLS from the first byte; it offers
      AUTH PLAIN and LOGIN and writes every line it receives to FOLDER/forged-smtp.log.
"""
import os
import socket
import ssl
import subprocess
import sys
import threading
import warnings
import zlib

# TLS 1.0 is deprecated: the tls10 peer offers it on purpose, for clients that must refuse it.
warnings.filterwarnings("ignore", category=DeprecationWarning)

PATTERN = b"0123456789abcdef" * 18750  # 300000 bytes, many records

CONFIG = """[req]
distinguished_name = dn
[dn]
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:mail.quenvar.test, IP:127.0.0.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[client_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = clientAuth
subjectAltName = DNS:mail.quenvar.test, IP:127.0.0.1
[ipname_ext]
basicConstraints = CA:FALSE
keyUsage = critical,digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:127.0.0.1
[forged_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign,digitalSignature
subjectAltName = DNS:mail.quenvar.test, IP:127.0.0.1
[ca]
default_ca = test_ca
[test_ca]
database = index.txt
new_certs_dir = .
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any
rand_serial = yes
unique_subject = no
[any]
commonName = supplied
organizationName = optional
"""


def make_certificates(folder):
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)

    # RSA, not ECDSA: Wine 8's chain engine refuses an ECDSA signature whose r or s is shorter
    # than the curve's size (about one certificate in a hundred), which made this test flaky.
    key = ["-newkey", "rsa:2048", "-nodes"]
    with open(os.path.join(folder, "test.cnf"), "w") as f:
        f.write(CONFIG)
    open(os.path.join(folder, "index.txt"), "w").close()
    for name in ("ca", "other"):
        openssl("req", "-config", "test.cnf", "-x509", *key, "-keyout", name + ".key", "-out", name + ".pem",
                "-days", "3", "-extensions", "ca_ext", "-subj", "/O=Quenvar Test/CN=Quenvar Test CA " + name)
    days = ["-days", "2"]
    for name, cn, extensions, dates in (
            ("server", "mail.quenvar.test", "server_ext", days),
            ("expired", "mail.quenvar.test", "server_ext", ["-startdate", "20200101000000Z", "-enddate", "20200201000000Z"]),
            ("early", "mail.quenvar.test", "server_ext", ["-startdate", "20990101000000Z", "-enddate", "20990201000000Z"]),
            ("clientauth", "mail.quenvar.test", "client_ext", days),
            ("ipname", "127.0.0.1", "ipname_ext", days)):
        openssl("req", "-config", "test.cnf", "-new", *key, "-keyout", name + ".key", "-out", name + ".csr",
                "-subj", "/O=Quenvar Test/CN=" + cn)
        openssl("ca", "-batch", "-config", "test.cnf", "-extensions", extensions, "-notext", "-preserveDN", *dates,
                "-in", name + ".csr", "-out", name + ".pem")
    # Both the subject and the serial number of a CA are public: anyone can copy them into a
    # certificate of their own key.
    serial = subprocess.run(["openssl", "x509", "-in", "ca.pem", "-noout", "-serial"], cwd=folder, check=True,
                            capture_output=True, text=True).stdout.strip().split("=")[1]
    openssl("req", "-config", "test.cnf", "-x509", *key, "-keyout", "forged.key", "-out", "forged.pem", "-days", "2",
            "-set_serial", "0x" + serial, "-extensions", "forged_ext", "-subj", "/O=Quenvar Test/CN=Quenvar Test CA ca")
    read = lambda name: open(os.path.join(folder, name), "rb").read()
    with open(os.path.join(folder, "bundle.pem"), "wb") as f:
        f.write(b"a bundle: another CA first\n" + read("other.pem") + read("ca.pem"))
    with open(os.path.join(folder, "nocert.pem"), "wb") as f:
        f.write(b"no certificate here\n" + read("server.key"))
    with open(os.path.join(folder, "huge.pem"), "wb") as f:
        f.write(read("ca.pem") + b"#" * (4 << 20))
    os.mkfifo(os.path.join(folder, "fifo.pem"))  # no writer ever opens it


def server_context(folder, name, highest=None, lowest=None):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key"))
    if lowest:
        context.minimum_version = lowest
        context.set_ciphers("DEFAULT:@SECLEVEL=0")  # OpenSSL 3 refuses TLS 1.0 at any higher level
    if highest:
        context.maximum_version = highest
    names = {}
    context.sni_callback = lambda s, name, _: names.__setitem__(id(s), name)
    return context, names


def tls_peer(folder, name, highest=None, lowest=None):
    context, names = server_context(folder, name, highest, lowest)

    def serve(conn):
        with context.wrap_socket(conn, server_side=True) as s:
            s.sendall(b"220 tls ready\r\n")
            data = bytearray()
            while not data.endswith(b"QUIT\r\n"):
                chunk = s.recv(1 << 16)
                if not chunk:
                    return
                data += chunk
            body = bytes(data[:-6])
            sni = names.pop(id(s), None) or "-"
            reply = b"250 %d %08x %s %s\r\n" % (len(body), zlib.crc32(body), s.version().encode(), sni.encode())
            s.sendall(reply + PATTERN + b"221 bye\r\n")
            s.unwrap()
    return serve


def smtp_peer(folder, name):
    context, _ = server_context(folder, name)
    log = os.path.join(folder, name + "-smtp.log")
    replies = {b"EHLO": b"250-forged\r\n250 AUTH PLAIN LOGIN\r\n", b"AUTH": b"235 ok\r\n", b"DATA": b"354 go\r\n",
               b"QUIT": b"221 bye\r\n"}

    def serve(conn):
        with context.wrap_socket(conn, server_side=True) as s, s.makefile("rb") as lines:
            s.sendall(b"220 forged ready\r\n")
            data = False
            for line in lines:
                with open(log, "ab") as f:
                    f.write(line)
                verb = line.split(b" ")[0].strip().upper()
                if data:
                    data = line != b".\r\n"
                    if not data:
                        s.sendall(b"250 queued\r\n")
                    continue
                data = verb == b"DATA"
                s.sendall(replies.get(verb, b"250 ok\r\n"))
                if verb == b"QUIT":
                    return
    return serve


received = [0]
lock = threading.Lock()


def http_peer(folder, status, headers=b"", context=None, answer=True):
    """Takes POSTs on one connection, one after another; writes each body's length and crc32 to
    FOLDER/http.log, and answers `status` with `headers`, no answer when `answer` is False (the
    connection closes) or None (it stays open, silent). Each body is kept whole as
    FOLDER/received.<n>, numbered across the collectors."""
    def serve(conn):
        s = context.wrap_socket(conn, server_side=True) if context else conn
        data = b""
        while True:
            while b"\r\n\r\n" not in data:
                chunk = s.recv(1 << 16)
                if not chunk:
                    return
                data += chunk
            head, data = data.split(b"\r\n\r\n", 1)
            length = 0
            for line in head.split(b"\r\n")[1:]:
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"content-length":
                    length = int(value)
            while len(data) < length:
                chunk = s.recv(1 << 16)
                if not chunk:
                    return
                data += chunk
            body, data = data[:length], data[length:]
            with open(os.path.join(folder, "http.log"), "a") as f:
                f.write("%s %d %08x\n" % (head.split(b"\r\n")[0].decode(), len(body), zlib.crc32(body)))
            with lock:
                received[0] += 1
                with open(os.path.join(folder, "received.%d" % received[0]), "wb") as f:
                    f.write(body)
            if answer is None:
                threading.Event().wait(60)
            if not answer:
                return
            s.sendall(b"HTTP/1.1 %d X\r\nContent-Length: 2\r\n%s\r\nok" % (status, headers))
    return serve


def plain(conn):
    conn.sendall(b"220 hello\r\n")
    while conn.recv(4096):
        pass


def hangup(conn):
    conn.recv(4096)
    conn.sendall(b"\x16\x03\x03\x00")


def junk(conn):
    conn.recv(4096)
    conn.sendall(b"\x16\x03\x03\x00\x20\x02\x00\x00\x1c" + b"\xa5" * 28)  # a ServerHello of nonsense
    while conn.recv(4096):
        pass


def listen(name, serve):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)

    def one(conn):
        conn.settimeout(30)
        try:
            serve(conn)
        except (OSError, ssl.SSLError) as e:
            print("peer %s: %s" % (name, e), file=sys.stderr, flush=True)
        finally:
            conn.close()

    def loop():
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=one, args=(conn,), daemon=True).start()
    threading.Thread(target=loop, daemon=True).start()
    return listener.getsockname()[1]


def main():
    folder = sys.argv[1]
    make_certificates(folder)
    peers = {"tls": tls_peer(folder, "server"), "tls12": tls_peer(folder, "server", ssl.TLSVersion.TLSv1_2),
             "expired": tls_peer(folder, "expired"), "early": tls_peer(folder, "early"),
             "forged": tls_peer(folder, "forged"), "clientauth": tls_peer(folder, "clientauth"),
             "ipname": tls_peer(folder, "ipname"),
             "tls10": tls_peer(folder, "server", ssl.TLSVersion.TLSv1, ssl.TLSVersion.TLSv1),
             "forged-smtp": smtp_peer(folder, "forged"),
             "plain": plain, "hangup": hangup, "junk": junk,
             "http-200": http_peer(folder, 200, b"X-Sentry-Rate-Limits: 0::organization\r\n"),
             "http-429": http_peer(folder, 429, b"Retry-After: 30\r\nx-sentry-rate-limits: 30:error:key\r\n"),
             "http-413": http_peer(folder, 413), "http-503": http_peer(folder, 503),
             "http-close": http_peer(folder, 0, answer=False), "http-hang": http_peer(folder, 0, answer=None),
             "https-200": http_peer(folder, 200, context=server_context(folder, "server")[0]),
             "https-clientauth": http_peer(folder, 200, context=server_context(folder, "clientauth")[0])}
    lines = "".join("%s %d\n" % (name, listen(name, serve)) for name, serve in peers.items())
    with open(os.path.join(folder, "ports.tmp"), "w") as f:
        f.write(lines)
    os.rename(os.path.join(folder, "ports.tmp"), os.path.join(folder, "ports"))
    threading.Event().wait()


if __name__ == "__main__":
    main()
