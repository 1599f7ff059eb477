#!/usr/bin/env python3
"""A player's whole journey with Stonewake Launcher, against releases published
locally and served by nginx on loopback, in a Wine prefix of its own.

Stages: publish 1.0.0; the player starts the downloaded launcher, which
installs itself (shortcuts, uninstall entry), checks, offers Install, installs
with progress and offers Play; Play starts the game. Then 1.1.0 (a changed, a
removed and a new file) is published and the player starts the launcher from
its desktop shortcut: it offers the patch and patches. While it sits at Play,
1.1.1 is published with a launcher of a higher version: the periodic probe
notices it and offers the patch; patching replaces the running launcher, which
restarts by itself; Play starts the game at 1.1.1.

Every stage is checked from what a player sees: the window's pixels (the
button's colour tells whether it can be clicked, the status line's whether an
error shows), the files in the install folder, the game's window, and the
requests the server logged. Without --interactive the driver clicks by itself
(under Xvfb and openbox when no display is given); with it, a person clicks
and the driver waits and checks.

Used by the demo command (tools/demo.sh) and, headless, by the test suite.
Exit status 0 only when every stage happened.
"""

import argparse
import contextlib
import hashlib
import os
import pathlib
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from desktop_session import DesktopSession  # noqa: E402

# Layout of the launcher's window at 96 DPI (client pixels).
CLIENT_SIZE = (560, 340)
BUTTON = (28, 258, 532, 308)
BUTTON_CENTRE = ((BUTTON[0] + BUTTON[2]) // 2, (BUTTON[1] + BUTTON[3]) // 2)
# A point inside the button far from the caption and from the left end,
# where a progress fill below 95 % never reaches.
BUTTON_PROBE = (BUTTON[2] - 14, BUTTON_CENTRE[1])
STATUS_LINE = (28, 232, 532, 254)
ERROR_COLOUR = (0xE8, 0x76, 0x5C)

LAUNCHER = "Stonewake Launcher.exe"


class StageFailed(Exception):
    pass


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.hexdigest()


def deterministic_bytes(seed, size):
    rng = random.Random(seed)
    return rng.randbytes(size)


class Journey:
    def __init__(self, args):
        self.args = args
        self.work = pathlib.Path(args.work).resolve()
        self.shots = pathlib.Path(args.shots).resolve()
        self.stages = []  # (name, seconds, ok, detail)
        self.shot_files = []
        self.session = None
        self.nginx_state = self.work / "nginx"
        self.tree = self.work / "release-tree"
        self.prefix = self.work / "wine" / "prefix"
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": str(self.prefix),
            "STONEWAKE_WINE_HOME": str(self.work / "wine" / "home"),
        })
        self.wine_run = str(ROOT / "tools" / "wine" / "wine-run.sh")
        self.launcher_process = None

    # ---------------------------------------------------------------- helpers
    def log(self, text):
        print(f"journey: {text}", flush=True)

    def run(self, *command, **kwargs):
        return subprocess.run([str(c) for c in command], check=True, env=self.env, **kwargs)

    def publish(self, game, version, launcher=None):
        command = [self.args.publisher, "release", "--game", game, "--version", version,
                   "--commit", f"demo-{version}", "--key", self.args.key, "--out", self.tree]
        if launcher:
            command += ["--launcher", launcher]
        out = subprocess.run([str(c) for c in command], env=self.env, capture_output=True, text=True)
        if out.returncode != 0:
            raise StageFailed(f"publisher refused {version}: {out.stderr.strip()}")
        for line in (out.stdout + out.stderr).splitlines():
            self.log(f"  {line}")

    def user_folder(self):
        users = [p for p in (self.prefix / "drive_c" / "users").iterdir() if p.name not in ("Public", "public")]
        if not users:
            raise StageFailed("the Wine prefix has no user folder")
        return users[0]

    def install_folder(self):
        return self.user_folder() / "AppData" / "Local" / "Stonewake"

    def installed_version(self):
        record = self.install_folder() / "installed.txt"
        try:
            return record.read_bytes().decode("ascii", "replace").strip()
        except OSError:
            return None

    def windows_path(self, path):
        return "Z:" + str(path).replace("/", "\\")

    def server_log(self):
        log = self.nginx_state / "access.log"
        return log.read_text(errors="replace").splitlines() if log.exists() else []

    def object_requests(self, since):
        lines = self.server_log()[since:]
        return [m.group(1) for line in lines if (m := re.search(r'"GET /objects/([0-9a-f]{64}) ', line))]

    @contextlib.contextmanager
    def stage(self, name):
        self.log(f"stage: {name}")
        start = time.monotonic()
        try:
            yield
        except StageFailed as failure:
            self.stages.append((name, time.monotonic() - start, False, str(failure)))
            raise
        self.stages.append((name, time.monotonic() - start, True, ""))

    # --------------------------------------------------------- window states
    def launcher_window(self, timeout):
        window = self.session.wait_for_window("^Stonewake$", CLIENT_SIZE, timeout)
        if window is None:
            raise StageFailed(f"no launcher window within {timeout} s")
        return window

    def button_active(self, window):
        pixel = self.session.pixel(window, *BUTTON_PROBE)
        # Active: the warm amber gradient; inactive: near-black.
        return pixel is not None and pixel[0] > 120 and pixel[1] > 80

    def status_is_error(self, window):
        image = self.session.capture(window)
        if image is None:
            return False
        region = image.crop(STATUS_LINE).convert("RGB")
        hits = sum(1 for p in region.getdata()
                   if abs(p[0] - ERROR_COLOUR[0]) < 24 and abs(p[1] - ERROR_COLOUR[1]) < 24
                   and abs(p[2] - ERROR_COLOUR[2]) < 24)
        return hits > 20

    def wait_until(self, what, predicate, timeout, interval=0.25):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return
            time.sleep(interval)
        raise StageFailed(f"{what} did not happen within {timeout} s")

    def wait_offer(self, window, installed, timeout):
        """The button becomes active with the install at `installed`."""
        def offered():
            if not self.session.exists(window):
                raise StageFailed("the launcher window closed")
            if self.status_is_error(window):
                raise StageFailed("the launcher shows an error")
            return self.button_active(window) and self.installed_version() == installed
        self.wait_until(f"the launcher offering its button with {installed or 'nothing'} installed", offered,
                        timeout)

    def click_button(self, window, hint):
        if self.args.interactive:
            self.log(f"  >>> {hint}")
            return
        self.session.click(window, *BUTTON_CENTRE)

    def shot(self, window, name):
        path = self.shots / f"{len(self.shot_files) + 1:02d}-{name}.png"
        if self.session.screenshot(window, path):
            self.shot_files.append(path)
            self.log(f"  screenshot {path}")
        return path

    def watch_patch(self, window, name, version, timeout):
        """Waits until a patch to `version` has finished; keeps one
        screenshot taken while the fill was moving."""
        caught = False
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self.session.exists(window):
                raise StageFailed("the launcher window closed during the patch")
            if not caught and not self.button_active(window):
                image = self.session.capture(window)
                if image is not None:
                    left = image.getpixel((BUTTON[0] + 8, BUTTON_CENTRE[1]))
                    if left[0] > 80:  # the fill has started at the left
                        self.shot(window, name)
                        caught = True
            if self.installed_version() == version and self.button_active(window):
                if not caught:
                    self.log("  the patch was too quick for a screenshot of its progress")
                return
            time.sleep(0.1)
        raise StageFailed(f"the patch to {version} did not finish within {timeout} s")

    def wait_game(self, version, timeout):
        window = self.session.wait_for_window(f"^Stonewake sample game {re.escape(version)}$", None, timeout)
        if window is None:
            raise StageFailed(f"the game did not start with version {version} within {timeout} s")
        return window

    # ------------------------------------------------------------- the story
    def make_game(self, folder, version):
        """The game folder of a release: the sample game and data files large
        enough that the download's progress can be seen."""
        if folder.exists():
            shutil.rmtree(folder)
        (folder / "data").mkdir(parents=True)
        shutil.copyfile(self.args.game, folder / "Stonewake.exe")
        mib = self.args.data_mib
        sizes = {"data/terrain.pak": mib * 5 // 10, "data/music.pak": mib * 3 // 10,
                 "data/voices.pak": mib - mib * 5 // 10 - mib * 3 // 10}
        for name, size in sizes.items():
            (folder / name).write_bytes(deterministic_bytes(name, size << 20))
        (folder / "readme.txt").write_text(f"Stonewake {version}\r\n")
        (folder / "data" / "credits.txt").write_text("The Stonewake team\r\n")

    def verify_install(self, extra_player_files):
        """The install is byte-identical to the published release; the
        player's own files are untouched."""
        manifest = (self.tree / "latest" / "manifest.txt").read_text().splitlines()
        listed = {}
        for line in manifest:
            if line.startswith("file "):
                _, digest, _, path = line.split(" ", 3)
                listed[path] = digest
        folder = self.install_folder()
        for path, digest in listed.items():
            local = folder / path
            if not local.is_file():
                raise StageFailed(f"{path} is missing from the install")
            if sha256_of(local) != digest:
                raise StageFailed(f"{path} differs from the release")
        game_files = {str(p.relative_to(folder)).replace(os.sep, "/")
                      for p in (folder / "game").rglob("*") if p.is_file()}
        unexpected = game_files - set(listed) - set(extra_player_files)
        if unexpected:
            raise StageFailed(f"files the release does not list: {sorted(unexpected)}")
        for path, content in extra_player_files.items():
            if (folder / path).read_bytes() != content:
                raise StageFailed(f"the player's {path} was changed")
        for leftover in ("Stonewake Launcher.old", "Stonewake Launcher.exe.partial"):
            if (folder / leftover).exists():
                raise StageFailed(f"{leftover} was left in the install folder")

    def start_launcher(self, *command):
        self.launcher_process = subprocess.Popen(
            [self.wine_run, *map(str, command)], env=self.env, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)

    def story(self):
        a = self.args
        games = self.work / "games"
        timeout = a.timeout

        with self.stage("publish 1.0.0 and serve it"):
            self.make_game(games / "1.0.0", "1.0.0")
            self.publish(games / "1.0.0", "1.0.0", a.launcher)
            out = subprocess.run([str(ROOT / "tools" / "nginx" / "serve.sh"), "start", str(self.tree),
                                  str(self.nginx_state), str(a.port)], capture_output=True, text=True)
            if out.returncode != 0:
                raise StageFailed("nginx did not start: " + out.stderr.strip())
            self.log(f"  serving {out.stdout.strip()}")

        with self.stage("fresh Wine prefix for the player"):
            self.run(self.wine_run, "--start")
            downloads = self.user_folder() / "Downloads"
            downloads.mkdir(parents=True, exist_ok=True)
            self.downloaded = downloads / LAUNCHER
            shutil.copyfile(a.launcher, self.downloaded)

        with self.stage("downloaded launcher installs itself"):
            self.start_launcher(self.windows_path(self.downloaded))
            window = self.launcher_window(timeout)
            installed = self.install_folder() / LAUNCHER
            if not installed.is_file() or installed.read_bytes() != pathlib.Path(a.launcher).read_bytes():
                raise StageFailed("the install folder holds no copy of the launcher")
            shortcut = self.user_folder() / "Desktop" / "Stonewake.lnk"
            self.wait_until("the desktop shortcut", shortcut.is_file, 10)

        with self.stage("check offers Install"):
            since = len(self.server_log())
            self.wait_offer(window, None, timeout)
            if not any("/latest/manifest.sig" in line for line in self.server_log()[since - 1 if since else 0:]):
                self.log("  (the manifest was fetched before the log was read)")
            self.shot(window, "install-offered")

        with self.stage("install 1.0.0 with progress"):
            since = len(self.server_log())
            self.click_button(window, "click Install in the launcher window")
            self.watch_patch(window, "installing", "1.0.0", timeout * 4)
            fetched = self.object_requests(since)
            if len(fetched) < 5:
                raise StageFailed(f"only {len(fetched)} objects were fetched for the install")
            self.shot(window, "ready-1.0.0")

        player_files = {"game/imgui.ini": b"[Window][Debug]\r\nPos=60,60\r\n"}
        (self.install_folder() / "game" / "imgui.ini").write_bytes(player_files["game/imgui.ini"])

        with self.stage("Play starts the game 1.0.0"):
            self.click_button(window, "click Play")
            game = self.wait_game("1.0.0", timeout)
            self.wait_until("the launcher closing", lambda: not self.session.exists(window), timeout)
            self.shot(game, "game-1.0.0")
            self.session.close(game)

        with self.stage("publish 1.1.0"):
            game = games / "1.1.0"
            self.make_game(game, "1.1.0")
            (game / "data" / "music.pak").unlink()
            (game / "data" / "maps.pak").write_bytes(deterministic_bytes("maps 1.1.0", 3 << 20))
            self.publish(game, "1.1.0", a.launcher)

        with self.stage("start from the desktop shortcut, patch offered"):
            shortcut = self.user_folder() / "Desktop" / "Stonewake.lnk"
            self.start_launcher("start", self.windows_path(shortcut))
            window = self.launcher_window(timeout)
            self.wait_offer(window, "1.0.0", timeout)
            self.shot(window, "patch-1.1.0-offered")

        with self.stage("patch to 1.1.0"):
            since = len(self.server_log())
            self.click_button(window, "click Patch")
            self.watch_patch(window, "patching-1.1.0", "1.1.0", timeout * 4)
            fetched = set(self.object_requests(since))
            expected = {sha256_of(game / "readme.txt"), sha256_of(game / "data" / "maps.pak")}
            if not expected <= fetched:
                raise StageFailed("the patch did not fetch the changed and new files")
            unchanged = sha256_of(game / "data" / "terrain.pak")
            if unchanged in fetched:
                raise StageFailed("the patch fetched a file that had not changed")
            if (self.install_folder() / "game" / "data" / "music.pak").exists():
                raise StageFailed("the removed file is still in the install")
            self.shot(window, "ready-1.1.0")

        with self.stage("1.1.1 with a new launcher, noticed by the probe"):
            game = games / "1.1.1"
            self.make_game(game, "1.1.1")
            (game / "data" / "music.pak").unlink()
            (game / "data" / "maps.pak").write_bytes(deterministic_bytes("maps 1.1.1", 3 << 20))
            self.publish(game, "1.1.1", a.launcher_next)
            published = time.monotonic()
            self.wait_until("the probe noticing 1.1.1",
                            lambda: not self.button_active(window) or not self.session.exists(window), 40)
            self.wait_offer(window, "1.1.0", timeout)
            self.log(f"  noticed and offered {time.monotonic() - published:.1f} s after publishing")
            self.shot(window, "patch-1.1.1-offered")

        with self.stage("patch replaces the launcher, which restarts"):
            self.click_button(window, "click Patch")
            self.wait_until("the old launcher window closing", lambda: not self.session.exists(window),
                            timeout * 4)
            new_launcher = pathlib.Path(a.launcher_next).read_bytes()
            self.wait_until("the new launcher in place",
                            lambda: (self.install_folder() / LAUNCHER).read_bytes() == new_launcher, timeout)
            window = self.launcher_window(timeout)
            self.wait_offer(window, "1.1.1", timeout)
            self.shot(window, "ready-1.1.1-new-launcher")

        with self.stage("Play starts the game 1.1.1"):
            self.click_button(window, "click Play")
            game_window = self.wait_game("1.1.1", timeout)
            self.wait_until("the launcher closing", lambda: not self.session.exists(window), timeout)
            self.shot(game_window, "game-1.1.1")
            self.session.close(game_window)

        with self.stage("install identical to the release"):
            self.verify_install(player_files)

    # ------------------------------------------------------------ reporting
    def contact_sheet(self):
        if not self.shot_files:
            return None
        sheet = self.shots / "contact-sheet.png"
        labels = []
        for f in self.shot_files:
            labels += ["-label", f.stem, str(f)]
        out = subprocess.run(["montage", *labels, "-tile", "3x", "-geometry", "+8+8", "-background", "#1a1714",
                              "-fill", "#e2d8c4", "-pointsize", "14", str(sheet)], capture_output=True)
        return sheet if out.returncode == 0 else None

    def table(self):
        print("\n  stage                                              time    result")
        for name, seconds, ok, detail in self.stages:
            print(f"  {name:<50} {seconds:6.1f} s  {'ok' if ok else 'FAILED: ' + detail}")
        print()

    def stop(self):
        subprocess.run([str(ROOT / "tools" / "nginx" / "serve.sh"), "stop", str(self.nginx_state)],
                       capture_output=True)
        subprocess.run([self.wine_run, "--stop"], env=self.env, capture_output=True)
        if self.session:
            self.session.stop()

    def main(self):
        if self.work.exists() and not self.args.keep_work:
            shutil.rmtree(self.work)
        self.work.mkdir(parents=True, exist_ok=True)
        self.shots.mkdir(parents=True, exist_ok=True)
        for old in self.shots.glob("*.png"):
            old.unlink()
        ok = False
        try:
            self.session = DesktopSession(display=None if not self.args.interactive else os.environ.get("DISPLAY"))
            self.env["DISPLAY"] = self.session.display
            self.story()
            ok = True
        except StageFailed as failure:
            self.log(f"FAILED: {failure}")
        finally:
            self.stop()
        self.table()
        sheet = self.contact_sheet()
        if self.shot_files:
            print(f"journey: screenshots in {self.shots}")
        if sheet:
            print(f"journey: contact sheet {sheet}")
        return 0 if ok else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--launcher", required=True, help="the launcher players download (and 1.0.0, 1.1.0 carry)")
    parser.add_argument("--launcher-next", required=True, help="a launcher of a higher version, carried by 1.1.1")
    parser.add_argument("--game", required=True, help="the sample game, shipped as game/Stonewake.exe")
    parser.add_argument("--publisher", required=True)
    parser.add_argument("--key", required=True, help="the private key the launchers' public key belongs to")
    parser.add_argument("--port", type=int, required=True, help="the port the launchers were built to reach")
    parser.add_argument("--work", required=True, help="a folder for the tree, the Wine prefix and nginx")
    parser.add_argument("--shots", required=True, help="where the screenshots and the contact sheet go")
    parser.add_argument("--data-mib", type=int, default=48, help="size of the game's data files in 1.0.0")
    parser.add_argument("--timeout", type=int, default=60, help="seconds to wait for one step")
    parser.add_argument("--interactive", action="store_true", help="a person clicks on the given DISPLAY")
    parser.add_argument("--keep-work", action="store_true")
    args = parser.parse_args()
    if args.interactive and not os.environ.get("DISPLAY"):
        parser.error("--interactive needs DISPLAY")
    if args.interactive:
        args.timeout = max(args.timeout, 600)
    return Journey(args).main()


if __name__ == "__main__":
    sys.exit(main())
