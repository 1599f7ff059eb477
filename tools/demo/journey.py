#!/usr/bin/env python3
"""A player's whole journey with Stonewake Launcher, against releases published
locally and served by nginx on loopback, in a fresh Wine prefix of its own.

Stages: publish 1.0.0; the player starts the downloaded launcher, which
installs itself (shortcuts, uninstall entry), checks, offers Install, installs
with progress and offers Play; Play starts the game. Then 1.1.0 (a changed, a
removed and a new file) is published and the player starts the launcher from
its desktop shortcut: it offers the patch and patches. While it sits at Play,
1.1.1 is published with a launcher of a higher version: the periodic probe
notices it and offers the patch; patching replaces the running launcher, which
restarts by itself; Play starts the game at 1.1.1. The install then matches
the release byte for byte and the player's own imgui.ini is untouched.

Every stage is checked from what a player sees: the window's pixels (the
button's colour tells whether it can be clicked, the status line's whether an
error shows), the files in the install folder, the game's window and its
title, and the requests the server logged. Without --interactive the driver
clicks by itself on a virtual screen (Xvfb and openbox); with it, the windows
appear on DISPLAY, a person clicks, and the driver waits and checks.

Used by the demo command (tools/demo.sh) and, headless, by the test suite.
Exit status 0 only when every stage happened.
"""

import argparse
import contextlib
import os
import pathlib
import shutil
import subprocess
import sys
import time

from test_support import releases, settings
from test_support.checks import Timeout, wait_until
from test_support.desktop import Desktop, Window
from test_support.launcher import Scene, launcher_windows
from test_support.release_server import ReleaseServer
from test_support.wine import Prefix, windows_path


class StageFailed(Exception):
    pass


sha256_of = releases.sha256_file


def read_or_none(path):
    try:
        return path.read_bytes()
    except OSError:
        return None


class Journey:
    def __init__(self, args, build):
        self.args = args
        self.build = build
        self.work = pathlib.Path(args.work).resolve()
        self.shots = pathlib.Path(args.shots).resolve()
        self.tree = self.work / "release-tree"
        self.games = self.work / "games"
        self.scene = Scene(build)
        self.stages = []  # (name, seconds, ok, detail)
        self.shot_files = []
        self.desktop = None
        self.server = None

    # ------------------------------------------------------------- helpers
    def log(self, text):
        print(f"journey: {text}", flush=True)

    @contextlib.contextmanager
    def stage(self, name):
        self.log(f"stage: {name}")
        start = time.monotonic()
        try:
            yield
        except (StageFailed, Timeout, subprocess.SubprocessError, OSError) as failure:
            self.stages.append((name, time.monotonic() - start, False, str(failure)))
            raise StageFailed(f"{name}: {failure}") from failure
        self.stages.append((name, time.monotonic() - start, True, ""))

    def publish(self, game, version, launcher):
        try:
            out = releases.publish(self.args.publisher, self.args.key, game, version, self.tree, launcher=launcher,
                                   commit=f"demo-{version}")
        except subprocess.CalledProcessError as refused:
            out = refused.stdout + refused.stderr
            raise StageFailed(f"the publisher refused {version}: {out.strip()}")
        for line in out.splitlines():
            self.log(f"  publisher: {line}")

    def make_game(self, version, patched=False):
        """The game folder of a release: the sample game and data files
        large enough that the download's progress can be seen. A patched
        release no longer has music.pak and has a maps.pak of its own (and
        a readme naming it)."""
        folder = self.games / version
        if folder.exists():
            shutil.rmtree(folder)
        mib = self.args.data_mib
        files = {f"data/{name}": releases.seeded_bytes(name, (mib << 20) * share // 10)
                 for name, share in (("terrain.pak", 5), ("music.pak", 3), ("voices.pak", 2))}
        files["data/credits.txt"] = b"The Stonewake team\r\n"
        files["readme.txt"] = f"Stonewake {version}\r\n".encode()
        if patched:
            del files["data/music.pak"]
            files["data/maps.pak"] = releases.seeded_bytes(f"maps {version}", 3 << 20)
        return releases.make_game(folder, self.args.game, files)

    def user_folder(self):
        try:
            return self.desktop.prefix.user_folder()
        except RuntimeError as missing:
            raise StageFailed(str(missing))

    def install_folder(self):
        return self.user_folder() / "AppData" / "Local" / "Stonewake"

    def installed_version(self):
        try:
            return (self.install_folder() / "installed.txt").read_bytes().decode("ascii", "replace").strip()
        except OSError:
            return None

    def launcher_windows(self):
        return launcher_windows(self.desktop, self.build.client_size)

    def launcher_window(self, timeout):
        found = wait_until(self.launcher_windows, "the launcher window", timeout)
        return found[0]

    def game_window(self, version, timeout):
        title = f"Stonewake sample game {version}"
        found = wait_until(lambda: self.desktop.windows_named(title), f"the game started with {version}", timeout)
        return Window(self.desktop, found[0], title)

    def shot(self, window, name):
        path = self.shots / f"{len(self.shot_files) + 1:02d}-{name}.png"
        try:
            window.screenshot(path)
        except subprocess.SubprocessError:
            return
        self.shot_files.append(path)
        self.log(f"  screenshot {path}")

    def click_button(self, window, hint):
        if self.args.interactive:
            self.log(f"  >>> {hint} <<<")
        else:
            window.click(*self.scene.button_centre())

    def wait_offer(self, window, installed, what):
        """The button turns active with the install at `installed`; an
        error in the status line ends the wait at once."""
        def offered(shot):
            if self.scene.shows_error(shot):
                raise StageFailed(f"the launcher shows an error while waiting for {what}")
            return self.scene.active(shot) and self.installed_version() == installed
        return window.wait_for(offered, what, self.args.timeout)

    def patch(self, window, version, name):
        """Clicks the button and follows the patch to `version` until it is
        recorded; keeps a screenshot of the moving fill when one is seen."""
        self.click_button(window, "click the button (Install / Patch)")
        seen = []

        def finished(shot):
            if not seen and self.scene.progress_fill(shot):
                seen.append(True)
                self.shot(window, name)
            return self.installed_version() == version
        window.wait_for(finished, f"the patch to {version}", self.args.timeout * 4)
        if not seen:
            self.log("  the patch went too fast for a screenshot of its progress")

    def play(self, window, version):
        """Play starts the game at `version` and the launcher closes."""
        self.click_button(window, "click Play")
        game_window = self.game_window(version, self.args.timeout)
        wait_until(lambda: not window.exists(), "the launcher closing", self.args.timeout)
        self.shot(game_window, f"game-{version}")
        game_window.close()

    def start_launcher(self, *command):
        out = open(self.work / "launcher.out", "ab")
        self.desktop.wine(*command, stdout=out)

    def check_files_fetched(self, since, must, must_not):
        fetched = {path.rsplit("/", 1)[-1] for path in self.server.object_requests()[since:]}
        for path in must:
            if sha256_of(path) not in fetched:
                raise StageFailed(f"{path.name} was not fetched")
        for path in must_not:
            if sha256_of(path) in fetched:
                raise StageFailed(f"{path.name} was fetched although it had not changed")

    def verify_install(self, player_files):
        listed = releases.read_manifest(self.tree)
        folder = self.install_folder()
        for path, digest in listed.items():
            if not (folder / path).is_file() or sha256_of(folder / path) != digest:
                raise StageFailed(f"{path} is missing or differs from the release")
        on_disk = {p.relative_to(folder).as_posix() for p in (folder / "game").rglob("*") if p.is_file()}
        unexpected = on_disk - set(listed) - set(player_files)
        if unexpected:
            raise StageFailed(f"files the release does not list: {sorted(unexpected)}")
        for path, content in player_files.items():
            if (folder / path).read_bytes() != content:
                raise StageFailed(f"the player's {path} was changed")
        for leftover in ("Stonewake Launcher.old", "Stonewake Launcher.exe.partial"):
            if (folder / leftover).exists():
                raise StageFailed(f"{leftover} was left in the install folder")
        self.log(f"  {len(listed)} files identical to release {self.installed_version()}; "
                 f"{', '.join(player_files)} untouched")

    # ----------------------------------------------------------- the story
    def story(self):
        a = self.args
        timeout = a.timeout

        with self.stage("publish 1.0.0, serve it with nginx"):
            game = self.make_game("1.0.0")
            self.publish(game, "1.0.0", a.launcher)
            self.cleanup.enter_context(self.server)

        with self.stage("the downloaded launcher installs itself"):
            downloads = self.user_folder() / "Downloads"
            downloads.mkdir(parents=True, exist_ok=True)
            downloaded = downloads / self.build.launcher_name
            shutil.copyfile(a.launcher, downloaded)
            self.start_launcher(windows_path(downloaded))
            window = self.launcher_window(timeout)
            installed = self.install_folder() / self.build.launcher_name
            if not installed.is_file() or installed.read_bytes() != downloaded.read_bytes():
                raise StageFailed("the install folder holds no copy of the launcher")
            self.shortcut = self.user_folder() / "Desktop" / "Stonewake.lnk"
            wait_until(self.shortcut.is_file, "the desktop shortcut", 10)

        with self.stage("the check offers Install"):
            self.wait_offer(window, None, "the install offer")
            self.shot(window, "install-offered")

        with self.stage("install 1.0.0 with progress, Play offered"):
            since = len(self.server.object_requests())
            self.patch(window, "1.0.0", "installing")
            self.wait_offer(window, "1.0.0", "Play after the install")
            self.check_files_fetched(since, [game / "data" / "terrain.pak", game / "Stonewake.exe"], [])
            self.shot(window, "ready-1.0.0")

        # The game writes its own settings; the launcher must leave them be.
        player_files = {"game/imgui.ini": b"[Window][Debug]\r\nPos=60,60\r\n"}
        (self.install_folder() / "game" / "imgui.ini").write_bytes(player_files["game/imgui.ini"])

        with self.stage("Play starts the game 1.0.0"):
            self.play(window, "1.0.0")

        with self.stage("publish 1.1.0: a changed, a removed, a new file"):
            previous = game
            game = self.make_game("1.1.0", patched=True)
            self.publish(game, "1.1.0", a.launcher)

        with self.stage("start from the desktop shortcut, patch offered"):
            # As a double click on the icon: the shell opens the shortcut.
            # (Wine's start resolves a shortcut given by its C: path or
            # with /unix, not by its Z: path.)
            self.start_launcher("start", "/unix", self.shortcut)
            window = self.launcher_window(timeout)
            self.wait_offer(window, "1.0.0", "the patch offer")
            self.shot(window, "patch-1.1.0-offered")

        with self.stage("patch to 1.1.0"):
            since = len(self.server.object_requests())
            self.patch(window, "1.1.0", "patching-1.1.0")
            self.wait_offer(window, "1.1.0", "Play after the patch")
            self.check_files_fetched(since, [game / "readme.txt", game / "data" / "maps.pak"],
                                     [previous / "data" / "terrain.pak"])
            if (self.install_folder() / "game" / "data" / "music.pak").exists():
                raise StageFailed("the file 1.1.0 removed is still installed")
            self.shot(window, "ready-1.1.0")

        with self.stage("1.1.1 with launcher 2.5.2, noticed by the probe"):
            game = self.make_game("1.1.1", patched=True)
            ready_text = self.scene.text_pixels(window.pixels())
            self.publish(game, "1.1.1", a.launcher_next)
            published = time.monotonic()
            # The probe runs every 15 seconds and starts a check, which
            # offers the patch: the button is active again, under a longer
            # sentence than "Up to date. Ready to play.".
            window.wait_for(lambda s: self.scene.active(s) and self.scene.text_pixels(s) > ready_text * 1.3
                            and not self.scene.shows_error(s), "the offer of 1.1.1", 45 + timeout)
            self.log(f"  offered {time.monotonic() - published:.1f} s after publishing")
            self.shot(window, "patch-1.1.1-offered")

        with self.stage("the patch replaces the launcher, which restarts"):
            self.click_button(window, "click Patch")
            new_launcher = pathlib.Path(a.launcher_next).read_bytes()
            # For a moment during the swap the old launcher is parked and
            # the new one not yet in place.
            wait_until(lambda: read_or_none(self.install_folder() / self.build.launcher_name) == new_launcher,
                       "the new launcher in place", timeout * 4)
            # X reuses window ids across processes, so the old window's id
            # may come back as the new launcher's. The new launcher deletes
            # the parked "Stonewake Launcher.old" once its predecessor has
            # ended: after that the one launcher window is the new one.
            parked = self.install_folder() / "Stonewake Launcher.old"
            wait_until(lambda: not parked.exists() and len(self.launcher_windows()) == 1,
                       "the old launcher gone and the new one shown", timeout)
            window = self.launcher_window(timeout)
            self.wait_offer(window, "1.1.1", "Play from the new launcher")
            if len(self.launcher_windows()) != 1:
                raise StageFailed("the old launcher window is still open")
            self.shot(window, "ready-1.1.1-launcher-2.5.2")

        with self.stage("Play starts the game 1.1.1"):
            self.play(window, "1.1.1")

        with self.stage("the install is identical to the release"):
            self.verify_install(player_files)

    # ----------------------------------------------------------- reporting
    def contact_sheet(self):
        if not self.shot_files:
            return None
        sheet = self.shots / "contact-sheet.png"
        labels = []
        for f in self.shot_files:
            labels += ["-label", f.stem, str(f)]
        out = subprocess.run(["montage", *labels, "-tile", "3x", "-geometry", "%dx%d>+8+8" % self.build.client_size,
                              "-background", "#1a1714", "-fill", "#e2d8c4", "-pointsize", "14", str(sheet)],
                             capture_output=True)
        return sheet if out.returncode == 0 else None

    def table(self):
        print("\n  stage                                               time  result")
        for name, seconds, ok, detail in self.stages:
            print(f"  {name:<50} {seconds:6.1f} s  {'ok' if ok else 'FAILED: ' + detail}")
        print(flush=True)

    def main(self):
        if self.work.exists():
            shutil.rmtree(self.work)
        self.work.mkdir(parents=True)
        self.shots.mkdir(parents=True, exist_ok=True)
        for old in self.shots.glob("*.png"):
            old.unlink()
        ok = False
        display = os.environ.get("DISPLAY") if self.args.interactive else None
        # At the address the launchers were built to ask.
        self.server = ReleaseServer(self.build, self.tree, self.work / "nginx", rate=self.args.rate)
        # Whatever was started is stopped, the server before the desktop.
        with contextlib.ExitStack() as self.cleanup:
            try:
                with self.stage("a fresh Wine prefix and a desktop"):
                    prefix = Prefix(self.build.wine_run_sh, self.work / "wine" / "prefix")
                    self.desktop = self.cleanup.enter_context(Desktop(prefix, self.work / "desktop", display=display))
                self.story()
                ok = True
            except StageFailed as failure:
                self.log(f"FAILED: {failure}")
        self.table()
        sheet = self.contact_sheet()
        if self.shot_files:
            print(f"journey: screenshots in {self.shots}")
        if sheet:
            print(f"journey: contact sheet {sheet}")
        return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True,
                        help="the Windows build of the launchers (its test_settings.json: the release server they "
                             "ask, the window's layout); the options below default to its programs")
    parser.add_argument("--launcher", help="the launcher players download (1.0.0 and 1.1.0 carry it)")
    parser.add_argument("--launcher-next", help="a launcher of a higher version, carried by 1.1.1 (default: the "
                                                "build's 2.5.2)")
    parser.add_argument("--game", help="the sample game, shipped as game/Stonewake.exe")
    parser.add_argument("--publisher")
    parser.add_argument("--key", help="the private key whose public half the launchers trust (default: the test key)")
    parser.add_argument("--work", required=True, help="a folder for the tree, the Wine prefix and nginx (emptied)")
    parser.add_argument("--shots", required=True, help="where the screenshots and the contact sheet go")
    parser.add_argument("--data-mib", type=int, default=48, help="MiB of game data in each release")
    parser.add_argument("--rate", default="16m", help="nginx limit per download connection (progress stays visible)")
    parser.add_argument("--timeout", type=int, default=60, help="seconds to wait for one step")
    parser.add_argument("--interactive", action="store_true", help="a person clicks, on DISPLAY")
    args = parser.parse_args()
    build = settings.load(args.build)
    args.launcher = args.launcher or build.launcher
    args.launcher_next = args.launcher_next or build.launcher_of_version("2.5.2")
    args.game = args.game or build.program("Stonewake")
    args.publisher = args.publisher or build.publisher
    args.key = args.key or build.test_key
    if not args.publisher:
        parser.error("a build without tests names no publisher: give --publisher")
    if args.interactive:
        if not os.environ.get("DISPLAY"):
            parser.error("--interactive needs DISPLAY")
        args.timeout = max(args.timeout, 600)
    return Journey(args, build).main()


if __name__ == "__main__":
    sys.exit(main())
