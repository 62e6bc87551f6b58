#!/usr/bin/env python3
"""TLS peers on 127.0.0.1 for the socket tests, one port per behaviour.

    tls_peer.py FOLDER

Makes in FOLDER, with the openssl tool, a test CA (ca.pem), another CA (other.pem), both in
bundle.pem (the other first), nocert.pem (no certificate) and the peers' certificates for
mail.quenvar.test and 127.0.0.1 (O=Quenvar Test, CN=mail.quenvar.test); the test CA is trusted
nowhere but through a CA file. Then writes FOLDER/ports ("name port" lines) once every peer
listens, and serves until killed.

  tls, tls12 (TLS 1.2 at most), expired (a certificate that ended in 2020), early (one that
      begins in 2099): send "220 tls ready" at once after the handshake, take bytes up to
      "QUIT\\r\\n", answer "250 <count> <crc32> <TLS version>", PATTERN and "221 bye", then
      close_notify.
  plain: answers "220 hello" and no TLS.   hangup: closes after the first bytes, half a record sent.
  junk: answers a ServerHello of nonsense.
"""
import os
import socket
import ssl
import subprocess
import sys
import threading
import zlib

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
    for name, dates in (("server", ["-days", "2"]),
                        ("expired", ["-startdate", "20200101000000Z", "-enddate", "20200201000000Z"]),
                        ("early", ["-startdate", "20990101000000Z", "-enddate", "20990201000000Z"])):
        openssl("req", "-config", "test.cnf", "-new", *key, "-keyout", name + ".key", "-out", name + ".csr",
                "-subj", "/O=Quenvar Test/CN=mail.quenvar.test")
        openssl("ca", "-batch", "-config", "test.cnf", "-extensions", "server_ext", "-notext", "-preserveDN", *dates,
                "-in", name + ".csr", "-out", name + ".pem")
    read = lambda name: open(os.path.join(folder, name), "rb").read()
    with open(os.path.join(folder, "bundle.pem"), "wb") as f:
        f.write(b"a bundle: another CA first\n" + read("other.pem") + read("ca.pem"))
    with open(os.path.join(folder, "nocert.pem"), "wb") as f:
        f.write(b"no certificate here\n" + read("server.key"))


def tls_peer(folder, name, highest=None):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key"))
    if highest:
        context.maximum_version = highest

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
            reply = b"250 %d %08x %s\r\n" % (len(body), zlib.crc32(body), s.version().encode())
            s.sendall(reply + PATTERN + b"221 bye\r\n")
            s.unwrap()
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
             "plain": plain, "hangup": hangup, "junk": junk}
    lines = "".join("%s %d\n" % (name, listen(name, serve)) for name, serve in peers.items())
    with open(os.path.join(folder, "ports.tmp"), "w") as f:
        f.write(lines)
    os.rename(os.path.join(folder, "ports.tmp"), os.path.join(folder, "ports"))
    threading.Event().wait()


if __name__ == "__main__":
    main()
