#!/usr/bin/python3
"""Fetches Gelasio from the npm registry and unpacks its WOFF files to TrueType.

The launcher embeds plain TrueType because GDI+ cannot read WOFF. The package
ships WOFF 1.0, whose tables are the original sfnt tables, each deflated on its
own, so unpacking is lossless: inflate every table and rebuild the sfnt header,
table directory and checksums around them.

Usage: fonts.py [OUTPUT_DIR]   (default: the fonts folder beside this script's parent)
"""

import os
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import zlib

PACKAGE = "@fontsource/gelasio@5.3.0"
STYLES = {
    "Gelasio-Regular.ttf": "package/files/gelasio-latin-400-normal.woff",
    "Gelasio-Bold.ttf": "package/files/gelasio-latin-700-normal.woff",
}
LICENCE_MEMBER = "package/LICENSE"
FAMILY = "Gelasio"


def table_checksum(data):
    padded = data + b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dI" % (len(padded) // 4), padded)) & 0xFFFFFFFF


def woff_to_sfnt(woff):
    (signature, flavor, length, num_tables, _reserved, total_sfnt_size, _major,
     _minor, _meta_offset, _meta_length, _meta_orig, _priv_offset,
     _priv_length) = struct.unpack(">4sIIHHIHHIIIII", woff[:44])
    if signature != b"wOFF":
        raise ValueError("not a WOFF 1.0 file")
    if length != len(woff):
        raise ValueError("WOFF length field disagrees with the file size")

    tables = {}
    for i in range(num_tables):
        tag, offset, comp_length, orig_length, orig_checksum = struct.unpack(
            ">4sIIII", woff[44 + 20 * i:64 + 20 * i])
        raw = woff[offset:offset + comp_length]
        # A table that would not shrink is stored as it is.
        data = zlib.decompress(raw) if comp_length < orig_length else raw
        if len(data) != orig_length:
            raise ValueError("table %r inflates to the wrong length" % tag)
        tables[tag] = (data, orig_checksum)

    if b"head" not in tables:
        raise ValueError("font has no head table")
    # checkSumAdjustment is recomputed for the whole new file, so it counts as 0
    # in the head table's own checksum, as the sfnt format defines it.
    head = bytearray(tables[b"head"][0])
    head[8:12] = b"\0\0\0\0"
    tables[b"head"] = (bytes(head), tables[b"head"][1])

    tags = sorted(tables)
    entry_selector = max(i for i in range(16) if 2 ** i <= num_tables)
    search_range = 16 * 2 ** entry_selector
    out = bytearray(struct.pack(">IHHHH", flavor, num_tables, search_range,
                                entry_selector, num_tables * 16 - search_range))
    offset = 12 + 16 * num_tables
    body = bytearray()
    head_offset = None
    for tag in tags:
        data, orig_checksum = tables[tag]
        checksum = table_checksum(data)
        if checksum != orig_checksum:
            raise ValueError("table %r checksum differs from the original" % tag)
        if tag == b"head":
            head_offset = offset + len(body)
        out += struct.pack(">4sIII", tag, checksum, offset + len(body), len(data))
        body += data + b"\0" * (-len(data) % 4)
    out += body
    if len(out) != total_sfnt_size:
        raise ValueError("rebuilt font is %d bytes, WOFF says %d"
                         % (len(out), total_sfnt_size))
    adjustment = (0xB1B0AFBA - table_checksum(bytes(out))) & 0xFFFFFFFF
    out[head_offset + 8:head_offset + 12] = struct.pack(">I", adjustment)
    return bytes(out)


def family_names(sfnt):
    num_tables = struct.unpack(">H", sfnt[4:6])[0]
    for i in range(num_tables):
        tag, _checksum, offset, length = struct.unpack(
            ">4sIII", sfnt[12 + 16 * i:28 + 16 * i])
        if tag != b"name":
            continue
        table = sfnt[offset:offset + length]
        _format, count, strings = struct.unpack(">HHH", table[:6])
        names = set()
        for j in range(count):
            platform, encoding, _language, name_id, size, where = struct.unpack(
                ">HHHHHH", table[6 + 12 * j:18 + 12 * j])
            if name_id != 1:
                continue
            raw = table[strings + where:strings + where + size]
            if platform == 3 or platform == 0:
                names.add(raw.decode("utf-16-be"))
            elif platform == 1 and encoding == 0:
                names.add(raw.decode("mac_roman"))
        return names
    return set()


def fetch_package(workdir):
    # npm checks the tarball against the registry's integrity hash.
    subprocess.run(["npm", "pack", PACKAGE, "--silent", "--pack-destination", workdir],
                   cwd=workdir, check=True, stdout=subprocess.DEVNULL)
    tarballs = [f for f in os.listdir(workdir) if f.endswith(".tgz")]
    if len(tarballs) != 1:
        raise RuntimeError("npm pack left %d tarballs" % len(tarballs))
    return os.path.join(workdir, tarballs[0])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "fonts")
    os.makedirs(out_dir, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix="gelasio-")
    try:
        with tarfile.open(fetch_package(workdir)) as tar:
            for name, member in STYLES.items():
                sfnt = woff_to_sfnt(tar.extractfile(member).read())
                found = family_names(sfnt)
                if found != {FAMILY}:
                    raise ValueError("%s: family names %r, expected %r" % (name, found, FAMILY))
                with open(os.path.join(out_dir, name), "wb") as f:
                    f.write(sfnt)
            with open(os.path.join(out_dir, "OFL.txt"), "wb") as f:
                f.write(tar.extractfile(LICENCE_MEMBER).read())
    finally:
        shutil.rmtree(workdir)


if __name__ == "__main__":
    main()
