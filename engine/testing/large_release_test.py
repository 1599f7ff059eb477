#!/usr/bin/env python3
"""A release of 100,000 small files, end to end through the launcher's code.

The publisher publishes and verifies it; nginx serves it. An install of it is
laid out with a table of faults spread through it (files missing, damaged,
not listed, and imgui.ini files the launcher spares), then patch_install.exe
(CheckRelease, then ApplyRelease, as the patch worker) repairs it under Wine.
The objects it fetched must be exactly those of the missing and damaged
files, the install must then equal the release byte for byte with the
unlisted files gone and every imgui.ini kept, and a second run must find
nothing to fetch.

  large_release_test.py --source DIR --wine-run WINE_RUN --patch-install EXE
                        --publisher PUBLISHER [--files N]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path


def windows(path):
    return "Z:" + str(path).replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--patch-install", required=True)
    parser.add_argument("--publisher", required=True)
    parser.add_argument("--files", type=int, default=100_000)
    args = parser.parse_args()
    source = Path(args.source)
    serve = source / "tools/nginx/serve.sh"
    key = source / "test_support/keys/test-only-release-key.pem"
    public_key = source / "test_support/keys/test-only-release-key.pub.hex"
    if not os.access(args.publisher, os.X_OK):
        subprocess.run("cmake --preset host >/dev/null && cmake --build --preset host --target publisher >/dev/null",
                       shell=True, check=True, cwd=source)

    failures = []

    def check(condition, what):
        print(("ok: " if condition else "FAILED: ") + what, flush=True)
        if not condition:
            failures.append(what)

    work = Path(tempfile.mkdtemp())
    try:
        n = args.files
        game = work / "game"
        # Folders up to 6 deep, a few dozen files in each; contents of a few
        # bytes, each its own (so every file has an object of its own).
        paths = []
        for i in range(n):
            depth = 1 + i % 6
            folder = "/".join(f"d{(i // 7 ** k) % 7}" for k in range(depth))
            paths.append(f"{folder}/f{i:06}.dat")
        for i, path in enumerate(paths):
            target = game / path
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(b"file %d\n" % i)

        tree = work / "tree"
        subprocess.run([args.publisher, "release", "--game", str(game), "--version", "1.0", "--key", str(key),
                        "--out", str(tree)], check=True, stdout=subprocess.DEVNULL)
        verified = subprocess.run([args.publisher, "verify", "--tree", str(tree), "--public-key-file",
                                   str(public_key)], capture_output=True, text=True)
        check(verified.returncode == 0, f"the publisher verifies its {n}-file tree ({verified.stderr.strip()[-200:]})")
        manifest = (tree / "latest/manifest.txt").read_bytes()
        listed = [line.split(b" ", 3) for line in manifest.split(b"\n") if line.startswith(b"file ")]
        check(len(listed) == n, f"the manifest lists {n} files ({len(manifest)} bytes)")
        digest_of = {p.decode()[len("game/"):]: d.decode() for _, d, _, p in listed}

        # The install: the release's files, then the faults, spread from the
        # first file to the last.
        install = work / "Stonewake"
        # Hard links: the launcher replaces files by renaming new ones over
        # them and never writes into one, so the release's files stay as
        # they are; the faults below write new files, never into a link.
        shutil.copytree(game, install / "game", copy_function=os.link)
        (install / "installed.txt").write_bytes(b"1.0\r\n")
        spread = [0, n // 3, n // 2, (2 * n) // 3, n - 1]
        missing = [paths[i] for i in spread]
        damaged = [paths[i + 1] for i in spread[:-1]] + [paths[n - 2]]
        extra = [str(Path(paths[i + 2]).parent / "extra.bin") for i in spread[:-1]] + ["new/deep/er/than/any.bin"]
        spared = ["imgui.ini", str(Path(paths[n // 2]).parent / "imgui.ini")]
        for path in missing:
            (install / "game" / path).unlink()
        for path in damaged:
            target = install / "game" / path
            size = len(target.read_bytes())
            target.unlink()
            target.write_bytes(b"X" * size)
        for path in extra + spared:
            target = install / "game" / path
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(b"not the release's " + path.encode())

        state = work / "nginx"
        base = subprocess.run([str(serve), "start", str(tree), str(state)], check=True, capture_output=True,
                              text=True).stdout.strip()

        def patch():
            log = state / "access.log"
            log.write_bytes(b"")
            run = subprocess.run([args.wine_run, args.patch_install, base, windows(install), "--stats"],
                                 capture_output=True, text=True)
            out = run.stdout.replace("\r", "")
            print(out.strip(), flush=True)
            fetched = set(re.findall(r'"GET /objects/([0-9a-f]{64}) HTTP', log.read_text()))
            return out.startswith("complete"), fetched

        try:
            done, fetched = patch()
            check(done, "the repair completes")
            wanted = {digest_of[p] for p in missing + damaged}
            check(fetched == wanted, f"it fetched the {len(wanted)} missing and damaged files and nothing else "
                                     f"({len(fetched)} fetched)")
            for path in extra:
                check(not (install / "game" / path).exists(), f"unlisted {path} removed")
            for path in spared:
                check((install / "game" / path).exists(), f"{path} spared")
            installed = {str(p.relative_to(install / "game")) for p in (install / "game").rglob("*") if p.is_file()}
            check(installed == set(paths) | set(spared), "the install holds the release's files and the spared ones")
            # A file still linked to the release's is the release's; the
            # others are read and compared.
            wrong = [p for p in paths if not (install / "game" / p).samefile(game / p)
                     and (install / "game" / p).read_bytes() != (game / p).read_bytes()]
            check(not wrong, f"every file equals the release's ({wrong[:3]})")

            done, fetched = patch()
            check(done and not fetched, "a second check of the whole install finds nothing to fetch")
        finally:
            subprocess.run([str(serve), "stop", str(state)])
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
