#!/usr/bin/env python3
"""Signs generated manifests with the openssl command line, for the test that
checks that OpenSSL's ECDSA signatures verify with CNG.

    sign_manifests.py --key PEM --out DIR [--openssl PROGRAM] [--min N] [--max N]

Writes DIR/NNNN.txt (a manifest) and DIR/NNNN.sig (its signature file) for
at least --min manifests, and goes on until both padding cases have turned
up: an r and an s shorter than 32 bytes, which openssl writes as shorter DER
integers (about one signature in 256 each). DER also adds a zero byte in
front of an integer whose top bit is set; both have to come out as exactly
32 bytes. The folder is built beside DIR and renamed into place, so a
half-written folder is never mistaken for a finished one.
"""
import argparse
import concurrent.futures
import hashlib
import os
import shutil
import subprocess
import sys


def manifest_text(i):
    """A valid manifest that differs per index in length, content and line
    ends; every fifth uses CR LF."""
    eol = "\r\n" if i % 5 == 4 else "\n"
    lines = ["stonewake-manifest 1", f"version 1.{i // 100}.{i % 100}"]
    if i % 3 == 0:
        lines.append(f"commit {hashlib.sha256(str(i).encode()).hexdigest()[:7]}")
    if i % 7 == 0:
        lines.append("rollback")
    for n in range(1 + i % 11):
        digest = hashlib.sha256(f"{i}/{n}".encode()).hexdigest()
        lines.append(f"file {digest} {(i * 7919 + n * 104729) % 50000000} game/data/part {n}.pak")
    if i % 4 == 1:
        lines.append(f"file {hashlib.sha256(str(-i).encode()).hexdigest()} 2730496 Stonewake Launcher.exe")
    lines.append("end")
    return (eol.join(lines) + eol).encode()


def der_integers(der):
    """The two INTEGER contents of an ECDSA-Sig-Value SEQUENCE."""
    def length(pos):
        first = der[pos]
        if first < 0x80:
            return first, pos + 1
        count = first & 0x7F
        return int.from_bytes(der[pos + 1:pos + 1 + count], "big"), pos + 1 + count

    if der[0] != 0x30:
        raise ValueError("not a DER sequence")
    _, pos = length(1)
    values = []
    for _ in range(2):
        if der[pos] != 0x02:
            raise ValueError("not a DER integer")
        size, pos = length(pos + 1)
        values.append(der[pos:pos + size])
        pos += size
    return values


def fixed_width(integer):
    """A DER integer as 32 bytes, most significant first: the sign byte that
    DER puts before a value with its top bit set goes, a shorter value is
    padded with zeros on the left."""
    value = integer.lstrip(b"\0")
    if len(value) > 32:
        raise ValueError("integer longer than 32 bytes")
    return value.rjust(32, b"\0")


def sign(openssl, key, message):
    result = subprocess.run([openssl, "dgst", "-sha256", "-sign", key], input=message,
                            stdout=subprocess.PIPE, check=True)
    return result.stdout


def signature_file(raw, i):
    """The signature file, in the spellings a publisher might write: lower or
    upper case digits, with LF, CR LF or no line end."""
    digits = raw.hex()
    if i % 6 == 1:
        digits = digits.upper()
    end = ["\n", "\n", "\r\n", ""][i % 4]
    return f"ecdsa-p256-sha256 {digits}{end}".encode()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--key", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--openssl", default="openssl")
    parser.add_argument("--min", type=int, default=400)
    parser.add_argument("--max", type=int, default=6000)
    args = parser.parse_args()

    work = args.out + ".tmp"
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)

    short_r = short_s = sign_byte = 0
    count = 0
    batch = os.cpu_count() or 2
    with concurrent.futures.ThreadPoolExecutor(max_workers=batch) as pool:
        while count < args.max and (count < args.min or not short_r or not short_s):
            indices = range(count, count + batch)
            messages = [manifest_text(i) for i in indices]
            ders = list(pool.map(lambda m: sign(args.openssl, args.key, m), messages))
            for i, message, der in zip(indices, messages, ders):
                r, s = der_integers(der)
                short_r += len(r.lstrip(b"\0")) < 32
                short_s += len(s.lstrip(b"\0")) < 32
                sign_byte += (len(r) == 33) + (len(s) == 33)
                raw = fixed_width(r) + fixed_width(s)
                with open(os.path.join(work, f"{i:04d}.txt"), "wb") as f:
                    f.write(message)
                with open(os.path.join(work, f"{i:04d}.sig"), "wb") as f:
                    f.write(signature_file(raw, i))
            count += batch

    if not short_r or not short_s:
        sys.exit(f"sign_manifests: no short r or s in {count} signatures")
    shutil.rmtree(args.out, ignore_errors=True)
    os.rename(work, args.out)
    print(f"sign_manifests: {count} signatures, {short_r} with a short r, {short_s} with a short s, "
          f"{sign_byte} DER integers with a sign byte")


if __name__ == "__main__":
    main()
