"""Authenticode signing as a studio does it, with certificates made for the run.

A code-signing certificate and key are made by openssl (self-signed: no
authority of the test machine or a Wine prefix trusts them, which is all a
test needs), the launcher is signed by osslsigncode (Debian's package), and
the timestamp comes from a timestamp server on loopback (TimestampServer:
RFC 3161 over HTTP, each answer made by `openssl ts -reply` with a timestamp
authority made here). No public timestamp server is reachable from the test
machines; a local one takes osslsigncode's -ts exactly as a studio's would,
and puts a real timestamp token into the signature.

From a shell script:
  python3 -m test_support.code_signing certificate FOLDER NAME SUBJECT
      writes FOLDER/NAME.pem and NAME.key; prints the SHA-256 thumbprint
  python3 -m test_support.code_signing sign FOLDER NAME IN OUT [sha256|sha1]
      signs IN into OUT with FOLDER/NAME's certificate and a timestamp from a
      TimestampServer of FOLDER's timestamp authority, then verifies OUT
  python3 -m test_support.code_signing verify FOLDER NAME FILE
"""
import hashlib
import http.server
import os
import subprocess
import sys
import tempfile
import threading


def _run(args):
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"{' '.join(args)} exited {done.returncode}: {done.stdout}{done.stderr}")
    return done.stdout


def make_certificate(folder, name, subject, usage="codeSigning"):
    """A self-signed RSA certificate NAME.pem and its key NAME.key in
    `folder`; returns its SHA-256 thumbprint as lowercase hex."""
    pem, key = os.path.join(folder, name + ".pem"), os.path.join(folder, name + ".key")
    _run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3650", "-subj", subject,
          "-keyout", key, "-out", pem, "-addext", f"extendedKeyUsage={usage}"])
    return thumbprint(pem)


def thumbprint(pem):
    der = subprocess.run(["openssl", "x509", "-in", pem, "-outform", "DER"], capture_output=True, check=True).stdout
    return hashlib.sha256(der).hexdigest()


def timestamp_authority(folder):
    """A timestamp authority's certificate and key in `folder` (made on
    first use): its extended key usage is timeStamping alone and critical,
    as RFC 3161 requires."""
    pem, key = os.path.join(folder, "tsa.pem"), os.path.join(folder, "tsa.key")
    if not os.path.exists(pem):
        make_certificate(folder, "tsa", "/O=Test Studio/CN=Test Timestamp Authority", "critical,timeStamping")
    return pem, key


class TimestampServer:
    """An RFC 3161 timestamp server on loopback for `folder`'s timestamp
    authority; `url` is what -ts takes. A context manager."""

    def __init__(self, folder):
        pem, key = timestamp_authority(folder)
        self._config = os.path.join(folder, "tsa.cnf")
        serial = os.path.join(folder, "tsa.serial")
        if not os.path.exists(serial):
            with open(serial, "w") as f:
                f.write("01\n")
        with open(self._config, "w") as f:
            f.write(f"""[ tsa ]
default_tsa = tsa_config
[ tsa_config ]
serial = {serial}
signer_cert = {pem}
certs = {pem}
signer_key = {key}
signer_digest = sha256
default_policy = 1.3.6.1.4.1.99999.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
""")
        config = self._config

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_POST(self):
                query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
                with tempfile.TemporaryDirectory() as work:
                    with open(os.path.join(work, "query.tsq"), "wb") as f:
                        f.write(query)
                    done = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile",
                                           os.path.join(work, "query.tsq"), "-out", os.path.join(work, "reply.tsr")],
                                          capture_output=True)
                    reply = open(os.path.join(work, "reply.tsr"), "rb").read() if done.returncode == 0 else b""
                self.send_response(200 if reply else 500)
                self.send_header("Content-Type", "application/timestamp-reply")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass

        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = f"http://127.0.0.1:{self._server.server_address[1]}"

    def __enter__(self):
        threading.Thread(target=self._server.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self._server.shutdown()
        self._server.server_close()


def sign(folder, name, source, out, digest="sha256", timestamp=True):
    """Signs `source` into `out` with NAME's certificate, as the studio's
    path does (with a timestamp from a TimestampServer unless `timestamp`
    is false), and checks that osslsigncode verifies the result."""
    args = ["osslsigncode", "sign", "-certs", os.path.join(folder, name + ".pem"),
            "-key", os.path.join(folder, name + ".key"), "-h", digest, "-n", "Stonewake Launcher"]
    if os.path.exists(out):
        os.remove(out)  # osslsigncode refuses to write over a file
    if timestamp:
        with TimestampServer(folder) as server:
            _run(args + ["-ts", server.url, "-in", source, "-out", out])
    else:
        _run(args + ["-in", source, "-out", out])
    verify(folder, name, out)


def verify(folder, name, path):
    """osslsigncode verify with NAME's certificate (and the timestamp
    authority, if made) as the trusted roots; raises unless it verifies."""
    args = ["osslsigncode", "verify", "-CAfile", os.path.join(folder, name + ".pem")]
    tsa = os.path.join(folder, "tsa.pem")
    if os.path.exists(tsa):
        args += ["-TSA-CAfile", tsa]
    return _run(args + ["-in", path])


def main(argv):
    command, rest = argv[0], argv[1:]
    if command == "certificate":
        print(make_certificate(*rest))
    elif command == "sign":
        sign(*rest[:4], *(rest[4:5] or ["sha256"]))
    elif command == "verify":
        verify(*rest)
    else:
        sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except (RuntimeError, TypeError) as error:
        sys.exit(f"code_signing: {error}")
