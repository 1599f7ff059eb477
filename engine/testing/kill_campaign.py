#!/usr/bin/env python3
"""Kills a patching launcher at random moments and checks that the install
is never damaged.

    kill_campaign.py --build BUILD_DIR [--kills N] [--seed S] [--rate RATE]

A release of a few dozen files, some of several MiB, is published with the
build's publisher (record_start.exe as its launcher) and served by nginx on
a free loopback port, throttled (nginx limit_rate) so that a patch takes
seconds and kills land mid-download. Each round starts from an older install
(some files differ, some are missing, some are no longer in the release,
files the release does not own such as imgui.ini; a 24 MiB archive at its
previous build, which the patch assembles from the old file's chunks plus
byte ranges of the new object), starts the build's
patch_install.exe under Wine in the build's prefix, kills the Wine process
with SIGKILL after a random delay, one to three times, and then lets a last
run finish.

After every kill each final path must be absent, the old content or the new
content, never anything else (a prefix of a download, a mix); installed.txt
may name the new version only once every game file is new; a ".partial" that
partials.txt vouches for must begin the object it names; verified.txt is
whole, and every file whose size and last-write time are those of its entry
there holds the digest the entry names (a killed check or patch never
vouches for a file it did not verify). After the last run
the install must be byte-identical to the release, with the files the
release does not own untouched. Prints how many kills it made, how many of
them cut a download short, and the object bytes nginx sent over the bytes
the rounds needed (downloads go on where a kill cut them, so this stays
close to 1, at most 1.2; the assembled archive brings it well below), and
the share of the archive nginx sent per round (at most a half: it is
assembled, not fetched whole); exits non-zero at the first broken rule.
"""
import argparse
import hashlib
import os
import random
import re
import shutil
import sys
import tempfile
import time

from test_support import releases, settings
from test_support.release_server import ReleaseServer
from test_support.wine import windows_path

OLD_VERSION = "1.0"
NEW_VERSION = "2.0"
LAUNCHER = "Stonewake Launcher.exe"
ARCHIVE = "game/data/archive.pak"
ARCHIVE_BYTES = 24 << 20
OWNED_BY_PLAYER = {
    "game/imgui.ini": b"[Window][Debug]\nPos=60,60\n",
    "game/sub/imgui.ini": b"[Window][Inventory]\nSize=400,300\n",
}


class Broken(Exception):
    pass


def sha256(data):
    return hashlib.sha256(data).hexdigest()


digest_of = releases.sha256_file


def make_releases(rng):
    """Two versions of the game: {manifest path: bytes} for old and new."""
    names = ["game/Stonewake.exe", "game/empty.dat", "game/My Saves/read me.txt"]
    names += [f"game/data/part{i:02}.pak" for i in range(12)]
    names += [f"game/data/maps/region {i}.map" for i in range(10)]
    names += [f"game/sub/deeper/tex{i}.dds" for i in range(5)]
    big = set(rng.sample(names[3:], 6))
    new, old = {}, {}
    for name in names:
        if name == "game/empty.dat":
            size = 0
        elif name in big:
            size = rng.randint(2 << 20, 6 << 20)
        else:
            size = rng.randint(1, 200_000)
        new[name] = rng.randbytes(size)
        fate = rng.random()
        if fate < 0.45:
            old[name] = new[name]
        elif fate < 0.85:
            old[name] = rng.randbytes(max(0, size + rng.randint(-1000, 1000)))
        # else: the old install lacks it
    for i in range(4):
        old[f"game/dropped/old{i}.pak"] = rng.randbytes(rng.randint(1, 300_000))
    old[ARCHIVE], new[ARCHIVE] = edited_archive(rng)
    return old, new


def edited_archive(rng):
    """An archive far above the size from which the publisher writes a chunk
    index, and its previous build: blocks replaced and bytes inserted and
    removed all through it, about a fifth of it in all, so that the patch
    assembles it from the old file plus ranges for long enough that kills
    land in the middle of it."""
    old = rng.randbytes(ARCHIVE_BYTES)
    new = bytearray(old)
    for _ in range(12):
        at = rng.randrange(len(new))
        kind = rng.random()
        if kind < 0.5:
            size = rng.randint(100_000, 500_000)
            new[at:at + size] = rng.randbytes(len(new[at:at + size]))
        elif kind < 0.75:
            new[at:at] = rng.randbytes(rng.randint(1, 300_000))
        else:
            del new[at:at + rng.randint(1, 300_000)]
    return old, bytes(new)


def served_object_bytes(access_log, only=None):
    """Body bytes nginx sent for objects/ (or for the one path ending in
    `only`), from its access log."""
    total = 0
    try:
        with open(access_log, encoding="ascii", errors="replace") as f:
            for line in f:
                match = re.search(r'"[A-Z]+ (\S+) [^"]*" \d{3} (\d+)', line)
                if match and "/objects/" in match.group(1) and (only is None or match.group(1).endswith(only)):
                    total += int(match.group(2))
    except FileNotFoundError:
        pass
    return total


class Campaign:
    def __init__(self, args, build, work):
        self.args = args
        self.work = work
        self.rng = random.Random(args.seed)
        self.prefix = build.wine_prefix()
        self.patch_install = build.program("patch_install")
        self.install = os.path.join(work, "install")
        self.install_windows = windows_path(self.install)
        self.kills = 0
        self.mid_download = 0
        self.mid_archive = 0  # of them, while the archive was being assembled
        self.finished_first = 0
        self.rounds = 0
        self.needed = 0  # object bytes the rounds' installs lacked

        old, new = make_releases(self.rng)
        launcher = build.program("record_start")
        with open(launcher, "rb") as f:
            new_launcher = f.read()
        old_launcher = b"MZ an older launcher " + self.rng.randbytes(300_000)
        self.old = dict(old)
        self.old[LAUNCHER] = old_launcher
        self.new = dict(new)
        self.new[LAUNCHER] = new_launcher

        releases.write_files(os.path.join(work, "source"), new)
        tree = os.path.join(work, "tree")
        releases.publish(build.publisher, build.test_key, os.path.join(work, "source", "game"), NEW_VERSION, tree,
                         launcher=launcher)
        published = releases.read_manifest(tree)
        expected = {name: sha256(data) for name, data in self.new.items()}
        if published != expected:
            raise Broken("the published manifest does not list the release's files")
        self.old_digest = {name: sha256(data) for name, data in self.old.items()}
        self.new_digest = expected
        # Any free port: patch_install is told the address.
        self.server = ReleaseServer(build, tree, os.path.join(work, "nginx"), rate=args.rate, latest_rate=args.rate,
                                    port=0)
        self.server.__enter__()
        self.base = self.server.base_url

    def path(self, name):
        return os.path.join(self.install, *name.split("/"))

    def reset_install(self):
        shutil.rmtree(self.install, ignore_errors=True)
        releases.write_files(self.install, self.old)
        releases.write_files(self.install, OWNED_BY_PLAYER)
        with open(os.path.join(self.install, "installed.txt"), "wb") as f:
            f.write(f"{OLD_VERSION}\r\n".encode())
        # An install written long ago: the check records files whose last
        # write has settled.
        hour_ago = time.time() - 3600
        for name in self.old:
            os.utime(self.path(name), (hour_ago, hour_ago))

    def start_patcher(self):
        out = open(os.path.join(self.work, "patcher.out"), "wb")
        # The process is the Windows program's own: SIGKILL ends it with no
        # chance to tidy up.
        return self.prefix.popen(self.patch_install, self.base, self.install_windows, stdout=out)

    def run_to_end(self):
        self.last_start = time.time()
        started = time.monotonic()
        process = self.start_patcher()
        status = process.wait(timeout=300)
        with open(os.path.join(self.work, "patcher.out"), "rb") as f:
            output = f.read().decode(errors="replace").strip()
        if status != 0 or output not in ("replaced", "complete"):
            raise Broken(f"the patch did not finish (exit {status}): {output}")
        return time.monotonic() - started

    def check_after_kill(self):
        """Every final path holds old or new content or nothing; the version
        record names the new version only once all game files are new."""
        game_names = set(self.old) | set(self.new)
        all_new = True
        for name in sorted(game_names):
            digest = digest_of(self.path(name))
            allowed = {self.old_digest.get(name), self.new_digest.get(name)}
            # Replacing by rename never leaves a path empty; only a file that
            # was not there, a stale one the cleanup removes, or the launcher
            # between being parked and being replaced can be missing.
            may_be_missing = (name not in self.old or name not in self.new or name == LAUNCHER)
            if digest is None:
                if not may_be_missing:
                    raise Broken(f"{name} vanished")
            elif digest not in allowed:
                raise Broken(f"{name} holds neither its old nor its new content")
            if name.startswith("game/") and name in self.new and digest != self.new_digest[name]:
                all_new = False
            if name.startswith("game/") and name not in self.new and digest is not None:
                all_new = False
        if digest_of(self.path(LAUNCHER)) is None:
            parked = digest_of(self.path("Stonewake Launcher.old"))
            if parked != self.old_digest[LAUNCHER]:
                raise Broken("the launcher is gone and not parked")
        for name, data in OWNED_BY_PLAYER.items():
            with open(self.path(name), "rb") as f:
                if f.read() != data:
                    raise Broken(f"{name} was changed")
        with open(os.path.join(self.install, "installed.txt"), "rb") as f:
            record = f.read()
        if record not in (f"{OLD_VERSION}\r\n".encode(), f"{NEW_VERSION}\r\n".encode()):
            raise Broken(f"installed.txt holds {record!r}")
        if record == f"{NEW_VERSION}\r\n".encode() and not all_new:
            raise Broken("installed.txt names the new version before every game file is in place")
        try:
            with open(os.path.join(self.install, "partials.txt"), "rb") as f:
                vouched = f.read().decode("ascii").splitlines()
        except FileNotFoundError:
            vouched = []
        by_digest = {sha256(data): data for data in self.new.values()}
        for line in vouched:
            digest, _size, name = line.split(" ", 2)
            try:
                with open(self.path(name) + ".partial", "rb") as f:
                    kept = f.read()
            except FileNotFoundError:
                continue
            if not by_digest.get(digest, b"").startswith(kept):
                raise Broken(f"{name}.partial does not begin the object partials.txt names for it")
        self.check_verified_record()

    def check_verified_record(self):
        """verified.txt, when there, is whole and vouches only for files that
        hold the digest it names while their stamp is the one it names."""
        try:
            with open(os.path.join(self.install, "verified.txt"), "rb") as f:
                lines = f.read().decode("ascii", errors="replace").split("\n")
        except FileNotFoundError:
            return set()
        if lines[:1] != ["stonewake-verified 1"] or lines[-2:] != ["end", ""]:
            raise Broken("verified.txt is not a whole record")
        vouched = set()
        for line in lines[2:-2]:
            digest, size, last_write, _check, name = line.split(" ", 4)
            try:
                stat = os.stat(self.path(name))
            except FileNotFoundError:
                continue
            # Wine's last-write time: the Unix time in 100 ns units since 1601.
            if stat.st_size == int(size) and stat.st_mtime_ns // 100 + 116444736000000000 == int(last_write):
                vouched.add(name)
                if digest_of(self.path(name)) != digest:
                    raise Broken(f"verified.txt vouches for {name}, which holds other bytes")
        return vouched

    def partial_download_left(self):
        for folder, _, files in os.walk(self.install):
            for name in files:
                if name.endswith(".partial"):
                    final = os.path.relpath(os.path.join(folder, name[:-len(".partial")]), self.install)
                    final = final.replace(os.sep, "/")
                    size = os.path.getsize(os.path.join(folder, name))
                    if final in self.new and size < len(self.new[final]):
                        return True
        return False

    def archive_cut(self):
        try:
            size = os.path.getsize(self.path(ARCHIVE) + ".partial")
        except OSError:
            return False
        return 0 < size < len(self.new[ARCHIVE])

    def check_finished(self, started):
        for name, data in self.new.items():
            with open(self.path(name), "rb") as f:
                if f.read() != data:
                    raise Broken(f"{name} is not the released file after the last run")
        for name in self.old:
            if name not in self.new and os.path.exists(self.path(name)):
                raise Broken(f"{name} is no longer released but stayed")
        for name, data in OWNED_BY_PLAYER.items():
            with open(self.path(name), "rb") as f:
                if f.read() != data:
                    raise Broken(f"{name} was changed")
        with open(os.path.join(self.install, "installed.txt"), "rb") as f:
            if f.read() != f"{NEW_VERSION}\r\n".encode():
                raise Broken("installed.txt does not name the new version")
        for folder, _, files in os.walk(os.path.join(self.install, "game")):
            for name in files:
                if name.endswith(".partial"):
                    raise Broken(f"{name} stayed behind")
        # The check and the patch of the last run vouch for every game file,
        # but those a killed run wrote within 2 s of the last run's start:
        # the check leaves files that recent to the next one.
        vouched = self.check_verified_record()
        for name in self.new:
            written = os.stat(self.path(name)).st_mtime
            if name.startswith("game/") and name not in vouched and not started - 2.5 <= written <= started:
                raise Broken(f"verified.txt does not vouch for {name} after a whole patch")

    def run(self):
        # One undisturbed patch: proves the setup and times a whole run,
        # which bounds the random delays.
        self.reset_install()
        self.needed += self.bytes_lacking()
        whole = self.run_to_end()
        self.check_finished(self.last_start)
        print(f"kill campaign: one whole patch takes {whole:.1f} s under Wine at {self.args.rate}/s", flush=True)

        while self.kills < self.args.kills:
            self.rounds += 1
            self.reset_install()
            self.needed += self.bytes_lacking()
            for _ in range(self.rng.randint(1, 3)):
                process = self.start_patcher()
                time.sleep(self.rng.uniform(0.05, whole))
                if process.poll() is not None:
                    self.finished_first += 1
                    break
                process.kill()
                process.wait()
                self.kills += 1
                if self.partial_download_left():
                    self.mid_download += 1
                if self.archive_cut():
                    self.mid_archive += 1
                self.check_after_kill()
                if self.kills >= self.args.kills:
                    break
            self.run_to_end()
            self.check_finished(self.last_start)
        print(f"kill campaign: {self.kills} kills in {self.rounds} rounds, {self.mid_download} of them "
              f"mid-download ({self.mid_archive} in the archive being assembled); {self.finished_first} runs "
              f"finished before their kill; every install ended identical to the release", flush=True)
        served = served_object_bytes(os.path.join(self.server.state, "access.log"))
        print(f"kill campaign: nginx sent {served} object bytes for {self.needed} needed "
              f"({served / self.needed:.3f})", flush=True)
        # Started again from their first bytes, the cut downloads came to
        # about 1.5 with ten kills; small files and socket buffers cost a few %.
        if served > 1.2 * self.needed:
            raise Broken("the downloads cut by the kills were fetched again from their first bytes")
        # Each round's archive differs from its old build in about a fifth;
        # fetched whole every round it would come to 1.0.
        archive = served_object_bytes(os.path.join(self.server.state, "access.log"), "/" + self.new_digest[ARCHIVE])
        share = archive / (len(self.new[ARCHIVE]) * (self.rounds + 1))
        print(f"kill campaign: nginx sent {share:.3f} of the archive per round", flush=True)
        if share > 0.5:
            raise Broken("the archive was fetched whole rather than assembled from the old one")

    def bytes_lacking(self):
        return sum(len(data) for name, data in self.new.items() if self.old_digest.get(name) != self.new_digest[name])

    def close(self):
        self.server.__exit__(None, None, None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", required=True, help="the Windows build folder (its test_settings.json)")
    parser.add_argument("--kills", type=int, default=10)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--rate", default="4m", help="nginx limit_rate per connection")
    args = parser.parse_args()
    build = settings.load(args.build)

    # A first run creates the Wine prefix when it is missing, so that the
    # timed whole patch does not include that.
    build.wine_prefix().run(build.program("patch_install"), timeout=300)
    work = tempfile.mkdtemp(prefix="stonewake-kill-")
    campaign = None
    try:
        campaign = Campaign(args, build, work)
        campaign.run()
        return 0
    except Broken as broken:
        print(f"kill campaign: BROKEN after {campaign.kills if campaign else 0} kills: {broken}", flush=True)
        print(f"kill campaign: the install is kept in {work}", flush=True)
        work = None
        return 1
    finally:
        if campaign:
            campaign.close()
        if work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
