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

  large_release_test.py --build BUILD_DIR [--files N]

Programs, the publisher and the test key come from the build's
test_settings.json; the release is served on any free loopback port.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from test_support import releases, settings
from test_support.release_server import ReleaseServer
from test_support.wine import windows_path

# A repair of the whole release takes a few minutes under Wine; far longer
# means it hangs.
PATCH_TIMEOUT = 1200


def memory_scratch():
    """/dev/shm when it has room, else the usual temporary folder. The test
    writes some 300,000 files and folders (the game, the release's objects,
    the install) of about 1 GiB in memory; on a slow disk their creation and
    removal took longer than everything the launcher does with them."""
    try:
        room = os.statvfs("/dev/shm")
    except OSError:
        return None
    return "/dev/shm" if room.f_bavail * room.f_frsize >= 4 << 30 else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the Windows build folder (its test_settings.json)")
    parser.add_argument("--files", type=int, default=100_000)
    args = parser.parse_args()
    build = settings.load(args.build)
    public_key = build.source / "test_support/keys/test-only-release-key.pub.hex"
    prefix = build.wine_prefix()
    patch_install = build.program("patch_install")
    # A first run creates the Wine prefix when it is missing, so that what
    # that prints does not come before the repair's own first line.
    prefix.run(patch_install, timeout=300)

    failures = []

    def check(condition, what):
        # Every check runs and reports, so that one run of several minutes
        # shows all that is wrong, not only the first.
        print(("ok: " if condition else "FAILED: ") + what, flush=True)
        if not condition:
            failures.append(what)

    work = Path(tempfile.mkdtemp(dir=memory_scratch()))
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
        releases.write_files(game, {path: b"file %d\n" % i for i, path in enumerate(paths)})

        tree = work / "tree"
        releases.publish(build.publisher, build.test_key, game, "1.0", tree)
        verified = subprocess.run([str(build.publisher), "verify", "--tree", str(tree), "--public-key-file",
                                   str(public_key)], capture_output=True, text=True)
        check(verified.returncode == 0, f"the publisher verifies its {n}-file tree ({verified.stderr.strip()[-200:]})")
        listed = releases.read_manifest(tree)
        manifest_bytes = (tree / "latest/manifest.txt").stat().st_size
        check(len(listed) == n, f"the manifest lists {n} files ({manifest_bytes} bytes)")
        digest_of = {path[len("game/"):]: digest for path, digest in listed.items()}

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

        # Any free port: patch_install is told the address.
        with ReleaseServer(build, tree, work / "nginx", port=0) as server:

            def patch():
                server.clear_log()
                output = work / "patch.out"
                # Wine's output goes to a file, never a pipe (wine-run.sh).
                with open(output, "wb") as out:
                    process = prefix.popen(patch_install, server.base_url, windows_path(install), "--stats",
                                           stdout=out)
                    try:
                        process.wait(timeout=PATCH_TIMEOUT)
                    except subprocess.TimeoutExpired:
                        process.kill()
                        process.wait()
                text = output.read_text(errors="replace").replace("\r", "")
                print(text.strip(), flush=True)
                fetched = {path[len("/objects/"):] for path in server.object_requests()}
                return text.startswith("complete"), fetched

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
        shutil.rmtree(work, ignore_errors=True)
    if failures:
        print(f"{len(failures)} check(s) failed", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
