#!/usr/bin/env python3
"""The real launcher under Wine on a virtual screen, observed as a player
would: screenshots, clicks, the release server's request log, files in the
install folder, programs started.

    window_test.py --build BUILD_DIR [--keep DIR] [SCENARIO...]

Scenarios (each one launcher life or a few, in sequence):
  first_install  "Checking..." then the install offer; two quick clicks patch
                 once with progress; Ready; hover glow; Play starts the game
                 and the launcher ends with 0
  offline        server down: Offline in the error colour, inactive button
                 that ignores a press; a second start restores the minimised
                 first window and its activation recovers; a release published
                 while Ready is noticed by the 15-second probe
  close_patch    closing during a patch asks: No keeps going, Yes ends with 0;
                 the next start fetches only what is missing
  self_update    a release with a new launcher: the window ends, the new one
                 starts, waits for its predecessor, deletes the parked file and
                 shows its own state
  high_dpi       at 144 DPI the client area is 840 x 510
  server_faults  a server that dies in the middle of a patch: the error in
                 red, Patch offered again, the retry fetches only what is
                 missing; an object whose bytes do not match: the error,
                 nothing of it moved into place; a release published in the
                 middle of a patch: the patch ends, the probe offers the newer
  abandoned_downloads
                 the kept downloads of a failed patch to a release since taken
                 back: the check finds nothing to fetch, and at Ready none of
                 them is left
  https_cdn      a launcher built for https://localhost:18443/releases/stonewake
                 (a CDN's address: TLS and a path) installs from it, then
                 patches and replaces itself; the install is the release

Releases are made with the publisher and served by nginx at the address test
builds trust. Screenshots of every state stay in the work folder (--keep).
"""
import contextlib
import shutil
import subprocess
import sys
import time
from pathlib import Path

from test_support import releases, scenarios
from test_support.checks import check, wait_until
from test_support.desktop import Desktop
from test_support.launcher import Launcher, Scene
from test_support.release_server import ReleaseServer
from test_support.wine import windows_path


class Run:
    """One scenario's build and work folder: its desktop, release server,
    launchers, games and releases."""

    def __init__(self, settings, work):
        self.settings = settings
        self.work = work
        self.tree = work / "tree"
        self.shots = work / "shots"
        self.shots.mkdir(parents=True, exist_ok=True)

    def desktop(self):
        return Desktop(self.settings.window_prefix(), self.work / "desktop")

    def server(self, **kwargs):
        return ReleaseServer(self.settings, self.tree, self.work / "nginx", **kwargs)

    def launcher(self, desktop, profile="profile"):
        return Launcher(desktop, self.settings, self.work / profile, copy=self.settings.launcher)

    def game(self, name, sizes, seed):
        """A game folder: the stand-in game program and data files of the
        given sizes, named in the order the patch fetches them."""
        files = {f"data/part{index}.pak": releases.seeded_bytes(f"{seed}/{index}", size)
                 for index, size in enumerate(sizes)}
        return releases.make_game(self.work / name, self.settings.program("record_start"), files)

    def publish(self, game, version, launcher=None):
        releases.publish(self.settings.publisher, self.settings.test_key, game, version, self.tree, launcher)

    def scene(self, dpi=96):
        return Scene(self.settings, dpi)

    def shot(self, window, name):
        path = window.screenshot(self.shots / f"{name}.png")
        print(f"  screenshot {path}", flush=True)


object_of = releases.object_path


def first_install(run):
    game = run.game("game", [600_000, 1_500_000, 2_500_000], seed=1)
    run.publish(game, "1.0")
    scene = run.scene()
    # A slow manifest keeps the check long enough to be seen; objects come
    # at a rate that lets the progress show for some seconds, although the
    # launcher takes all of them side by side.
    with run.desktop() as desktop, run.server(rate="150k", latest_rate="150") as server:
        launcher = run.launcher(desktop)
        launcher.start()
        window = launcher.wait_for_window()
        shot = window.wait_for(scene.inactive, "the inactive button of Checking")
        checking = scene.text_pixels(shot)
        run.shot(window, "checking")
        shot = window.wait_for(lambda s: scene.active(s) and scene.text_pixels(s) > checking * 1.3,
                               "the install offer: an active button, a longer sentence", timeout=60)
        check(not scene.shows_error(shot), "the install offer is no error")
        run.shot(window, "install-offered")
        check(not launcher.file("game").exists(), "nothing written before the click")

        x, y = scene.button_centre()
        window.click(x, y)
        window.click(x, y)
        shot = window.wait_for(scene.progress_fill, "the progress fill", timeout=30)
        run.shot(window, "patching")
        # A fill near its end lights the whole button: the finished patch
        # shows first in the install folder.
        wait_until(launcher.file("installed.txt").exists, "the patch to finish", 120)
        window.wait_for(scene.active, "Ready after the patch", timeout=30)
        time.sleep(1.5)  # the patch's last report and result reach the window after the record
        run.shot(window, "ready")
        objects = server.object_requests()
        expected = sorted(object_of(p) for p in game.rglob("*") if p.is_file())
        check(sorted(objects) == expected, "two quick clicks fetched every object once")
        for path in game.rglob("*"):
            if path.is_file():
                installed = launcher.file("game") / path.relative_to(game)
                check(installed.read_bytes() == path.read_bytes(), f"installed {path.relative_to(game)}")
        check(launcher.file("installed.txt").read_bytes() == b"1.0\r\n", "installed.txt names 1.0")

        # Hover: the glow rises on the button and decays once the pointer
        # has left.
        window.move(scene.button[0] + 5, scene.button[1] - 40)
        time.sleep(0.8)
        resting = scene.button_level(window.pixels())
        window.move(scene.button[0] + 60, y)
        shot = window.wait_for(lambda s: scene.button_level(s) > resting + 8, "the hover glow", timeout=10)
        run.shot(window, "ready-hover")
        window.move(scene.button[0] + 5, scene.button[1] - 40)
        window.wait_for(lambda s: scene.button_level(s) < resting + 3, "the glow to decay", timeout=10)

        window.click(x, y)
        check(launcher.wait_exit(40) == 0, "Play ended the launcher with exit code 0")
        started = launcher.file("game/Stonewake.exe.started")
        wait_until(started.exists, "the game's record of its start", 10)
        line, folder = started.read_text(encoding="utf-16-le").split("\n")[:2]
        check(line.endswith("--launcher 1.0"), f"the game was started with --launcher 1.0 ({line})")
        check(folder.rstrip("\\").endswith("Stonewake\\game"), f"in the game folder ({folder})")
        check(not launcher.main_windows(), "the window is gone")


def offline(run):
    game = run.game("game", [300_000], seed=2)
    run.publish(game, "1.0")
    scene = run.scene()
    with run.desktop() as desktop, run.server() as server:
        server.stop()
        launcher = run.launcher(desktop)
        launcher.start()
        window = launcher.wait_for_window()
        shot = window.wait_for(lambda s: scene.shows_error(s) and scene.inactive(s),
                               "Offline: the error in its colour, an inactive button")
        run.shot(window, "offline")
        window.click(*scene.button_centre())
        time.sleep(1)
        check(scene.shows_error(window.pixels()), "a press on the inactive button changed nothing")

        # The server comes back; a second start brings the minimised first
        # window back, and that activation's probe recovers it at once.
        server.start()
        window.minimize()
        second = Launcher(desktop, run.settings, launcher.profile)
        started = time.monotonic()
        second.start()
        check(second.wait_exit(40) == 0, "the second start ended with exit code 0")
        wait_until(window.exists, "the first window restored", 20)
        window.wait_for(scene.active, "the restored window to recover from Offline", timeout=30)
        check(time.monotonic() - started < 14, "recovered by the activation, before the probe timer")
        check(len(launcher.main_windows()) == 1, "still one launcher window")
        window.click(*scene.button_centre())
        wait_until(launcher.file("installed.txt").exists, "the install to finish", 60)
        window.wait_for(scene.active, "Ready", timeout=30)
        check(launcher.file("installed.txt").read_bytes() == b"1.0\r\n", "installed 1.0")
        # The record is written before the patch's last report and result
        # reach the window: let them arrive before reading the sentence.
        time.sleep(1.5)
        ready = scene.text_pixels(window.pixels())

        # A release published while the window sits in Ready is offered by
        # the next 15-second probe.
        server.clear_log()
        newer = run.game("game2", [300_000, 200_000], seed=3)
        run.publish(newer, "1.1")
        wait_until(lambda: "/latest/manifest.txt" in server.requests(), "the probe", 20)
        window.wait_for(lambda s: scene.active(s) and scene.text_pixels(s) > ready * 1.3,
                        "the longer sentence of the patch offer", timeout=20)
        run.shot(window, "patch-offered")
        check(not server.object_requests(), "nothing downloaded before the click")
        window.close()
        check(launcher.wait_exit(20) == 0, "closing in Patch ends at once with exit code 0")


def close_patch(run):
    game = run.game("game", [200_000, 300_000, 4_000_000, 3_000_000], seed=4)
    run.publish(game, "1.0")
    scene = run.scene()
    # Slow enough per connection that the patch, its files side by side,
    # is still far from its end after the question and the No.
    with run.desktop() as desktop, run.server(rate="80k") as server:
        launcher = run.launcher(desktop)
        launcher.start()
        window = launcher.wait_for_window()
        window.wait_for(scene.active, "the install offer", timeout=40)
        window.click(*scene.button_centre())
        first = launcher.file("game/data/part0.pak")
        wait_until(first.exists, "the first file in place", 30)
        window.close()
        launcher.answer_box("n")
        check(launcher.process.poll() is None and window.exists(), "No keeps the window")
        def bytes_on_disk():  # finished files and the download under way
            total = 0
            for path in launcher.file("game").rglob("*"):
                try:
                    total += path.stat().st_size if path.is_file() else 0
                except FileNotFoundError:  # a download renamed into place meanwhile
                    pass
            return total
        after_no = bytes_on_disk()
        wait_until(lambda: bytes_on_disk() > after_no + 200_000, "the download to go on after No", 20)
        shot = window.wait_for(scene.progress_fill, "the progress fill after No", timeout=10)
        run.shot(window, "patching-after-no")
        window.close()
        box = launcher.wait_for_box()
        box.screenshot(run.shots / "close-question.png")
        launcher.answer_box("y")
        check(launcher.wait_exit(20) == 0, "Yes ends with exit code 0")
        done = [p for p in game.rglob("*") if p.is_file() and (launcher.file("game") / p.relative_to(game)).exists()]
        check(not launcher.file("installed.txt").exists(), "installed.txt not written by the stopped patch")

        server.stop()
        server.start(rate="0", latest_rate="0")
        server.clear_log()
        launcher.start()
        window = launcher.wait_for_window()
        window.wait_for(scene.active, "the install offer again", timeout=40)
        window.click(*scene.button_centre())
        window.wait_for(lambda s: launcher.file("installed.txt").exists() and scene.active(s), "Ready", timeout=60)
        fetched = set(server.object_requests())
        check(not fetched & {object_of(p) for p in done}, f"{len(done)} files in place were not fetched again")
        missing = {object_of(p) for p in game.rglob("*") if p.is_file() and p not in done}
        check(fetched == missing, "everything else was fetched")
        window.close()
        check(launcher.wait_exit(20) == 0, "closed")


def patch_replacing_launcher(run, launcher, scene, new_launcher, offer):
    """Starts the launcher, takes its `offer` of a release that carries
    `new_launcher`, and sees the launcher replace itself: the old one ends
    with 0, the new one is in place and shows Ready, no error. Returns the
    new launcher's window."""
    launcher.start()
    window = launcher.wait_for_window()
    window.wait_for(scene.active, offer, timeout=60)
    window.click(*scene.button_centre())
    check(launcher.wait_exit(60) == 0, "the replaced launcher ended with exit code 0")
    check(launcher.exe.read_bytes() == new_launcher.read_bytes(), "the new launcher is in place")
    window = launcher.wait_for_window(timeout=40)
    shot = window.wait_for(scene.active, "the new launcher's own state: Ready", timeout=60)
    run.shot(window, "after-self-update")
    check(not scene.shows_error(shot), "no error after the self-update")
    return window


def self_update(run):
    game = run.game("game", [100_000], seed=5)
    exe = run.settings.launcher
    # Bytes after the end of the image leave the program as it was: a new
    # launcher file that is the same program.
    new_launcher = run.work / "new launcher.exe"
    new_launcher.write_bytes(exe.read_bytes() + b"\0" * 512 + b"a newer launcher")
    run.publish(game, "2.0", launcher=new_launcher)
    scene = run.scene()
    with run.desktop() as desktop, run.server():
        launcher = run.launcher(desktop)
        window = patch_replacing_launcher(run, launcher, scene, new_launcher, "the install offer")
        check(not launcher.file("Stonewake Launcher.old").exists(), "the parked launcher was deleted")
        check(launcher.file("installed.txt").read_bytes() == b"2.0\r\n", "installed 2.0")
        window.close()
        wait_until(lambda: not launcher.main_windows(), "the new launcher's window to close", 20)


def high_dpi(run):
    game = run.game("game", [100_000], seed=6)
    run.publish(game, "1.0")
    with run.desktop() as desktop, run.server():
        desktop.prefix.set_dpi(144)
        try:
            launcher = run.launcher(desktop)
            launcher.start()
            window = launcher.wait_for_window(size=run.settings.client_size_at(144))
            scene = run.scene(144)
            window.wait_for(scene.active, "the install offer at 144 DPI")
            run.shot(window, "install-offered-144dpi")
            check(window.size() == run.settings.client_size_at(144), "the client area is 840 x 510")
            window.close()
            check(launcher.wait_exit(20) == 0, "closed")
        finally:
            desktop.prefix.set_dpi(96)


def game_files(folder):
    return {p.relative_to(folder): p.read_bytes() for p in Path(folder).rglob("*") if p.is_file()}


def server_faults(run):
    scene = run.scene()
    game = run.game("game", [200_000, 300_000, 3_000_000, 3_000_000], seed=7)
    run.publish(game, "1.0")
    with run.desktop() as desktop, run.server(rate="300k") as server:
        launcher = run.launcher(desktop)
        launcher.start()
        window = launcher.wait_for_window()
        window.wait_for(scene.active, "the install offer", timeout=40)

        # The server dies while the patch downloads.
        window.click(*scene.button_centre())
        wait_until(launcher.file("game/data/part1.pak").exists, "the first files in place", 30)
        server.stop()
        shot = window.wait_for(lambda s: scene.shows_error(s) and scene.active(s),
                               "the error in red and Patch offered again", timeout=60)
        run.shot(window, "server-died")
        # The cut download may stay as its ".partial" (the next attempt goes
        # on from it or rewrites it, the cleanup after a complete patch
        # removes it); no file in its final place is ever part of one.
        installed = {path: content for path, content in game_files(launcher.file("game")).items()
                     if path.suffix != ".partial"}
        expected = game_files(game)
        check(all(expected[path] == content for path, content in installed.items()),
              f"the {len(installed)} files in place are whole and right")
        check(not launcher.file("installed.txt").exists(), "installed.txt not written")

        server.start(rate="0")
        server.clear_log()
        window.click(*scene.button_centre())
        window.wait_for(lambda s: launcher.file("installed.txt").exists() and scene.active(s)
                        and not scene.shows_error(s), "Ready after the retry", timeout=60)
        fetched = set(server.object_requests())
        check(not fetched & {object_of(game / path) for path in installed},
              "the retry fetched nothing that was in place")
        check(game_files(launcher.file("game")) == expected, "the install matches the release, no download left")
        time.sleep(1.5)  # the patch's last report and result reach the window after the record

        def offered_after_probe(ready):
            """The next probe's patch offer: a longer sentence than Ready's."""
            # A probe asks for the signature and fetches the manifest only
            # when that changed; an earlier probe may already have taken the
            # new manifest, so any request for the release counts.
            server.clear_log()
            wait_until(lambda: any(path.startswith("/latest/") for path in server.requests()),
                       "the next probe", 20)
            window.wait_for(lambda s: scene.active(s) and not scene.shows_error(s)
                            and scene.text_pixels(s) > ready * 1.3, "the patch offer", timeout=20)

        # An object whose bytes do not match its digest.
        changed = run.game("game-1.1", [200_000, 300_000, 3_000_000, 2_500_000], seed=8)
        # Ready's sentence is the same whatever is installed; measured here,
        # where nothing newer is out, it is the figure to beat later too.
        ready = scene.text_pixels(window.pixels())
        run.publish(changed, "1.1")
        lying = run.tree / object_of(changed / "data/part3.pak").lstrip("/")
        lying.write_bytes(b"\0" * lying.stat().st_size)
        offered_after_probe(ready)
        window.click(*scene.button_centre())
        window.wait_for(lambda s: scene.shows_error(s) and scene.active(s), "the mismatch in red", timeout=60)
        run.shot(window, "object-mismatch")
        check(launcher.file("game/data/part3.pak").read_bytes() == expected[Path("data/part3.pak")],
              "the file whose download did not match kept its old content")
        # Downloads the failure stopped may keep theirs, to go on from.
        check(not launcher.file("game/data/part3.pak.partial").exists(), "the download that did not match is gone")
        check(launcher.file("installed.txt").read_bytes() == b"1.0\r\n", "installed.txt still names 1.0")

        # A release published while a patch runs: the patch takes the
        # release it began, the probe then offers the newer one.
        lying.write_bytes((changed / "data/part3.pak").read_bytes())
        server.stop()
        server.start(rate="200k")
        window.click(*scene.button_centre())
        wait_until(launcher.file("game/data/part3.pak.partial").exists, "the last file's download to begin", 30)
        newer = run.game("game-1.2", [200_000, 300_000, 3_000_000, 1_000_000, 100_000], seed=9)
        run.publish(newer, "1.2")
        check(not launcher.file("installed.txt").read_bytes() == b"1.1\r\n", "1.2 was published during the patch")
        wait_until(lambda: launcher.file("installed.txt").read_bytes() == b"1.1\r\n", "the patch to 1.1", 60)
        check(game_files(launcher.file("game")) == game_files(changed), "the patch installed 1.1 whole")
        window.wait_for(lambda s: scene.active(s) and not scene.shows_error(s), "Ready after the patch", 30)
        # Not measured again now: the probe may already have offered 1.2.
        offered_after_probe(ready)
        run.shot(window, "newer-offered")
        window.click(*scene.button_centre())
        wait_until(lambda: launcher.file("installed.txt").read_bytes() == b"1.2\r\n", "the patch to 1.2", 60)
        check(game_files(launcher.file("game")) == game_files(newer), "the probe's offer installed 1.2")
        # installed.txt comes before the patch's end reaches the window; a
        # close while it still patches would ask whether to stop.
        window.wait_for(lambda s: scene.active(s) and not scene.shows_error(s), "Ready after the patch to 1.2", 30)
        window.close()
        check(launcher.wait_exit(20) == 0, "closed")


# Where the launcher built for a CDN asks (stonewake_launcher_https in
# window/CMakeLists.txt): https://localhost:18443/releases/stonewake.
HTTPS_PORT = 18443
HTTPS_PATH = "/releases/stonewake"


def abandoned_downloads(run):
    game = run.game("game", [300_000, 600_000], seed=11)
    run.publish(game, "1.0")
    scene = run.scene()
    with run.desktop() as desktop, run.server():
        launcher = run.launcher(desktop)
        # The install as a failed patch to 1.1 left it before 1.1 was taken
        # back: 1.0 in place, the beginnings of 1.1's large files kept for a
        # next attempt, and the record that vouches for them.
        shutil.copytree(game, launcher.file("game"), dirs_exist_ok=True)
        launcher.file("installed.txt").write_bytes(b"1.0\r\n")
        kept = [launcher.file("game/data/part0.pak.partial"), launcher.file("game/data/part1.pak.partial")]
        for path in kept:
            path.write_bytes(releases.seeded_bytes(path.name, 280_000))
        launcher.file("partials.txt").write_text(
            "".join(f"{'ab' * 32} 4000000 game/data/{path.name[:-len('.partial')]}\n" for path in kept))
        launcher.start()
        window = launcher.wait_for_window()
        window.wait_for(lambda s: scene.active(s) and not scene.shows_error(s), "Ready", timeout=60)
        run.shot(window, "ready")
        check(not any(path.exists() for path in kept), "no kept download is left")
        check(not launcher.file("partials.txt").exists(), "no record of them is left")
        check(game_files(launcher.file("game")) == game_files(game), "the install is the release")
        window.close()
        check(launcher.wait_exit(20) == 0, "closed")


def https_cdn(run):
    certs = run.work / "certs"
    certs.mkdir()
    # An authority made for this run, trusted in the prefix's own root store
    # for the run only: never the machine's store.
    subprocess.run(["bash", "-c", 'source "$0" && make_authority "$1" authority && '
                    'make_server_cert "$1" authority localhost localhost',
                    run.settings.source / "e2e" / "test_authority.sh", certs], check=True)
    exe = run.settings.bin / "stonewake_launcher_https" / run.settings.launcher_name
    new_launcher = run.work / "new launcher.exe"
    new_launcher.write_bytes(exe.read_bytes() + b"\0" * 512 + b"a newer launcher")
    game = run.game("game", [300_000, 1_000_000], seed=8)
    run.publish(game, "1.0")
    scene = run.scene()
    with run.desktop() as desktop:
        def trust(action):
            return desktop.wine(run.settings.program("trust_root"), action,
                                windows_path(certs / "authority.der")).wait(60)
        check(trust("add") == 0, "the run's authority is trusted in the prefix")
        try:
            with run.server(port=HTTPS_PORT, cert=certs / "localhost.pem", key=certs / "localhost.key",
                            path=HTTPS_PATH) as server:
                launcher = Launcher(desktop, run.settings, run.work / "profile", copy=exe)
                launcher.start()
                window = launcher.wait_for_window()
                window.wait_for(scene.active, "the install offer", timeout=60)
                run.shot(window, "install-offered")
                window.click(*scene.button_centre())
                wait_until(launcher.file("installed.txt").exists, "the install to finish", 120)
                window.wait_for(scene.active, "Ready after the install", timeout=30)
                check(game_files(launcher.file("game")) == game_files(game), "the install is identical to 1.0")
                requests = server.requests()
                check(requests and all(r.startswith(HTTPS_PATH + "/") for r in requests),
                      f"every request went under {HTTPS_PATH}")
                window.close()
                check(launcher.wait_exit(20) == 0, "closed")

                # A patch that carries a new launcher: it replaces itself.
                (game / "data" / "part0.pak").write_bytes(b"changed" * 1000)
                (game / "data" / "part1.pak").unlink()
                (game / "data" / "new.pak").write_bytes(b"new")
                run.publish(game, "1.1", launcher=new_launcher)
                window = patch_replacing_launcher(run, launcher, scene, new_launcher, "the patch offer")
                check(game_files(launcher.file("game")) == game_files(game), "the install is identical to 1.1")
                check(launcher.file("installed.txt").read_bytes() == b"1.1\r\n", "installed 1.1")
                window.close()
                wait_until(lambda: not launcher.main_windows(), "the new launcher's window to close", 20)
        finally:
            trust("remove")


SCENARIOS = {f.__name__: f for f in (first_install, offline, close_patch, self_update, high_dpi, server_faults,
                                      abandoned_downloads, https_cdn)}


if __name__ == "__main__":
    sys.exit(scenarios.main(__doc__, SCENARIOS, lambda settings, work: contextlib.nullcontext(Run(settings, work))))
