#!/usr/bin/env python3
"""Makes the signed test launchers the publisher's unit tests read, committed
beside this script in signed/ so the unit tests need neither osslsigncode nor
openssl's command line: the image make_test_launcher writes (version 2.5.2,
the unit tests' key and server) signed with throw-away certificates, and
their SHA-256 thumbprints.

  PYTHONPATH=. publisher/testing/make_signed_launchers.py MAKE_TEST_LAUNCHER
"""
import os
import shutil
import subprocess
import sys
import tempfile

from test_support import code_signing

make_launcher = sys.argv[1]
out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "signed")
os.makedirs(out, exist_ok=True)
subject = "/C=GB/O=Test Studio/CN=Stonewake Test Studio"

with tempfile.TemporaryDirectory() as work:
    unsigned = os.path.join(work, "unsigned.exe")
    subprocess.run([make_launcher, unsigned, "c" * 120 + "d4e5f6c9", "http://127.0.0.1:18080", "2.5.2"], check=True)
    for name in ("studio", "renewed"):  # the same studio's certificate, renewed: another key
        with open(os.path.join(out, name + ".thumbprint"), "w") as f:
            f.write(code_signing.make_certificate(work, name, subject) + "\n")
    code_signing.sign(work, "studio", unsigned, os.path.join(out, "sha256-timestamped.exe"))
    code_signing.sign(work, "studio", unsigned, os.path.join(out, "sha1.exe"), digest="sha1", timestamp=False)
    code_signing.sign(work, "renewed", unsigned, os.path.join(out, "renewed-sha256-timestamped.exe"))
print(f"signed test launchers written to {out}")
