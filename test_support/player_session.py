"""Drives windowed Windows programs under Wine the way a player would: on a
virtual X screen with a window manager, through the mouse, the keyboard and
screenshots.

    from player_session import Desktop, ReleaseServer, Launcher

    with Desktop(build_settings(build), work) as desktop:  # Xvfb + openbox + wineserver
        launcher = Launcher(desktop, launcher_exe, with_env_exe, work / "profile")
        launcher.start()                              # from its install folder
        window = launcher.wait_for_window()
        window.wait_for(lambda shot: ..., "what is awaited")
        window.click(280, 283)                        # client pixels at 96 DPI
        window.screenshot(work / "ready.png")
        window.close()                                # Alt+F4, like a player
        launcher.answer_box("y")                      # a message box, if one asks
        assert launcher.wait_exit() == 0

A build's settings (test_settings.json, written by CMake) name its Wine
wrapper and prefixes; scripts find this module on PYTHONPATH, which CTest
sets. Desktop runs its own Wine prefix (created once beside the build's
prefix, `<build>/wine/window-prefix`) with its own wineserver, because Wine binds a
prefix's desktop process to the X display it was first started on: the
build's shared prefix may already run one bound to no display at all. One
Desktop at a time per prefix: tests that use it take the CTest resource lock
"wine_window_prefix".

ReleaseServer serves a publisher tree with nginx at the fixed loopback
address test builds of the launcher trust (127.0.0.1:18080), optionally
throttled per connection, and reads its request log. Because the port is
fixed, it holds a machine-wide lock while it serves, so test runs of
several checkouts wait for each other instead of answering each other's
launchers.

Every wait has a time limit and raises Timeout with what was awaited.
"""
import fcntl
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

LAUNCHER_NAME = "Stonewake Launcher.exe"
RELEASE_PORT = 18080
SOURCE = Path(__file__).resolve().parents[1]


# The window's geometry at 96 DPI, from the header the window, the painter
# and the preview share.
_LAYOUT = (SOURCE / "ui" / "layout.h").read_text()
CLIENT_SIZE = tuple(int(re.search(rf"Layout{side} = (\d+);", _LAYOUT).group(1)) for side in ("Width", "Height"))


def _layout_rect(name):
    return tuple(int(v) for v in re.search(rf"{name} = {{(\d+), (\d+), (\d+), (\d+)}};", _LAYOUT).groups())


BUTTON = _layout_rect("kButtonLayout")
STATUS = _layout_rect("kStatusLineLayout")


def client_size(dpi):
    return tuple(side * dpi // 96 for side in CLIENT_SIZE)


def build_settings(build):
    """What CMake wrote for the windowed tests of the build in `build`."""
    return json.loads((Path(build) / "test_settings.json").read_text())


def port_lock_path(port):
    """The machine-wide lock of a release port: test runs of several
    checkouts take turns instead of answering each other's launchers."""
    return Path(tempfile.gettempdir()) / f"stonewake-release-port-{port}.lock"


PORT_LOCK = port_lock_path(RELEASE_PORT)


class Timeout(Exception):
    pass


class Failure(Exception):
    """A check of a scenario that did not hold."""


def check(condition, what):
    """Raises Failure naming `what` unless `condition`; prints it when it holds."""
    if not condition:
        raise Failure(what)
    print(f"  ok: {what}", flush=True)


def wait_until(condition, what, timeout, interval=0.2):
    """Polls `condition` until it returns something true, which is returned."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Timeout(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def windows_path(path):
    """A Linux path as Wine sees it (the root is drive Z:)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class Desktop:
    """A virtual X screen (Xvfb, a free display found with -displayfd), the
    openbox window manager (without one every DestroyWindow stalls and focus
    follows the pointer), and a wineserver for the windowed-test prefix."""

    def __init__(self, settings, work, size=(1280, 1024), prefix=None, display=None):
        """`settings` are a build's (build_settings), whose windowed-test
        prefix is used; or None with `prefix`, a prefix of the caller's own
        (created on first use). With `display` the programs appear on that X
        display (a person's screen) and no virtual screen or window manager
        is started."""
        self.work = Path(work)
        self.work.mkdir(parents=True, exist_ok=True)
        if settings is not None:
            self.prefix = Path(settings["window_prefix"])
            home = Path(settings["window_home"])
            self.wine_run_sh = Path(settings["wine_run_sh"])
        else:
            self.prefix = Path(prefix).resolve()
            home = self.prefix.parent / "home"
            self.wine_run_sh = SOURCE / "tools" / "wine" / "wine-run.sh"
        self.size = size
        self.given_display = display
        self._processes = []
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=str(self.prefix), STONEWAKE_WINE_HOME=str(home), HOME=str(home),
                        WINEARCH="win64", WINEDEBUG="-all",
                        WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml=")

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def _start(self):
        if self.given_display:
            self.display = self.given_display
            self.env["DISPLAY"] = self.display
            subprocess.run([str(self.wine_run_sh), "--start"], env=self.env, check=True, timeout=300)
            return
        read_end, write_end = os.pipe()
        log = open(self.work / "xvfb.log", "wb")
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                 f"{self.size[0]}x{self.size[1]}x24", "-nolisten", "tcp"],
                                pass_fds=(write_end,), stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        os.close(write_end)
        self._processes.append(xvfb)
        self.xvfb_pid = xvfb.pid
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display = f":{number}"
        self.env["DISPLAY"] = self.display
        wm = subprocess.Popen(["openbox", "--sm-disable", "--config-file", str(self._openbox_config())],
                              env=self.env, stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        self._processes.append(wm)
        wait_until(lambda: self._xprop_ok(), "openbox to manage the screen", 20)
        # Creates the prefix on first use (fonts included), then a
        # wineserver that lives until stop().
        subprocess.run([str(self.wine_run_sh), "--start"], env=self.env, check=True, timeout=300)

    def _openbox_config(self):
        """Openbox's own settings without its minimise animation: while the
        frame shrinks towards the bottom of the screen, Wine may read the
        window's place from the moving frame, keep a place off the screen
        and then never map the window again when it is restored."""
        config = self.work / "openbox-rc.xml"
        text = Path("/etc/xdg/openbox/rc.xml").read_text()
        config.write_text(text.replace("<animateIconify>yes</animateIconify>", "<animateIconify>no</animateIconify>"))
        return config

    def _xprop_ok(self):
        result = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                capture_output=True, text=True)
        return "window id" in result.stdout

    def stop(self):
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
        for process in reversed(self._processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
        self._processes.clear()

    def wine(self, *args, **kwargs):
        """Starts a Windows program in this desktop's prefix."""
        out = kwargs.pop("stdout", subprocess.DEVNULL)
        return subprocess.Popen(["wine", *map(str, args)], env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, **kwargs)

    def set_dpi(self, dpi):
        """The prefix's LogPixels, read by programs started afterwards."""
        subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                        "/d", str(dpi), "/f"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=True, timeout=60)

    def xdotool(self, *args, timeout=20):
        result = subprocess.run(["xdotool", *map(str, args)], env=self.env, capture_output=True, text=True,
                                timeout=timeout)
        return result.stdout.strip() if result.returncode == 0 else None

    def windows_named(self, title):
        """Visible X windows whose name is exactly `title`."""
        found = self.xdotool("search", "--onlyvisible", "--name", f"^{re.escape(title)}$")
        return [int(w) for w in found.split()] if found else []

    def geometry(self, window):
        text = self.xdotool("getwindowgeometry", "--shell", window) or ""
        values = dict(line.split("=", 1) for line in text.splitlines() if "=" in line)
        if "WIDTH" not in values:
            return None
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def key(self, *keys):
        self.xdotool("key", "--clearmodifiers", *keys)


class Window:
    """One X window of a Windows program: its client area in client pixels."""

    def __init__(self, desktop, xid):
        self.desktop = desktop
        self.xid = xid

    def size(self):
        return self.desktop.geometry(self.xid)

    def exists(self):
        return self.xid in self.desktop.windows_named("Stonewake") and self.size() is not None

    def screenshot(self, path):
        path = Path(path)
        subprocess.run(["import", "-window", str(self.xid), str(path)], env=self.desktop.env, check=True,
                       timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def pixels(self):
        """The client area as a Shot (RGB)."""
        with tempfile.TemporaryDirectory() as folder:
            path = Path(folder) / "shot.ppm"
            subprocess.run(["import", "-window", str(self.xid), "-depth", "8", f"ppm:{path}"],
                           env=self.desktop.env, check=True, timeout=30, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            return Shot.from_ppm(path.read_bytes())

    def wait_for(self, condition, what, timeout=30, interval=0.3):
        """Takes screenshots until `condition(shot)` holds; returns that shot."""
        last = []

        def attempt():
            try:
                shot = self.pixels()
                last[:] = [shot]
                return shot if condition(shot) else None
            except (subprocess.SubprocessError, IndexError, ZeroDivisionError):
                # No picture, or a cut one (a window being minimised,
                # restored or closed): not yet.
                return None
        try:
            return wait_until(attempt, what, timeout, interval=interval)
        except Timeout:
            if last:
                path = self.desktop.work / f"timeout-{time.monotonic():.0f}.ppm"
                last[0].save_ppm(path)
                raise Timeout(f"timed out after {timeout:.0f} s waiting for {what} (last frame: {path})")
            raise

    def move(self, x, y):
        self.desktop.xdotool("mousemove", "--window", self.xid, x, y)

    def click(self, x, y):
        self.move(x, y)
        time.sleep(0.1)
        self.desktop.xdotool("click", "--window", self.xid, 1)

    def press(self, x, y):
        self.move(x, y)
        self.desktop.xdotool("mousedown", 1)

    def release(self):
        self.desktop.xdotool("mouseup", 1)

    def activate(self):
        self.desktop.xdotool("windowactivate", "--sync", self.xid)

    def minimize(self):
        self.desktop.xdotool("windowminimize", "--sync", self.xid)

    def close(self):
        """Alt+F4 on the window, as a player closes it (xdotool windowclose
        would only take the X window away from a running program)."""
        self.desktop.xdotool("windowactivate", "--sync", self.xid, "key", "--clearmodifiers", "alt+F4")


class Shot:
    """An RGB screenshot."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @staticmethod
    def from_ppm(raw):
        # Binary PPM: "P6", width, height, maximum, each followed by one
        # white-space byte, then the pixels (which may start with bytes
        # that look like white space).
        header = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", raw)
        width, height = int(header.group(1)), int(header.group(2))
        return Shot(width, height, raw[header.end():header.end() + width * height * 3])

    def save_ppm(self, path):
        Path(path).write_bytes(b"P6 %d %d 255\n" % (self.width, self.height) + self.data)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def region(self, left, top, right, bottom):
        for y in range(top, bottom):
            for x in range(left, right):
                yield self.pixel(x, y)

    def count(self, left, top, right, bottom, predicate):
        return sum(1 for p in self.region(left, top, right, bottom) if predicate(p))

    def mean(self, left, top, right, bottom):
        pixels = list(self.region(left, top, right, bottom))
        return tuple(sum(p[i] for p in pixels) / len(pixels) for i in range(3))


def near(colour, target, tolerance=40):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, target))


class Launcher:
    """The launcher installed in a profile folder of its own: LOCALAPPDATA
    is `profile` for it (set on the Windows side through with_env.exe), so
    its install folder is `profile`/Stonewake and it starts from there, as
    an installed launcher does."""

    def __init__(self, desktop, launcher_exe, with_env_exe, profile):
        self.desktop = desktop
        self.with_env = with_env_exe
        self.profile = Path(profile)
        self.install = self.profile / "Stonewake"
        self.install.mkdir(parents=True, exist_ok=True)
        self.exe = self.install / LAUNCHER_NAME
        if launcher_exe is not None:
            shutil.copyfile(launcher_exe, self.exe)
        self.process = None

    def start(self, *args):
        """Starts the installed launcher; the process handle's exit code is
        the launcher's."""
        out = open(self.desktop.work / "launcher.out", "ab")
        self.process = self.desktop.wine(self.with_env, f"LOCALAPPDATA={windows_path(self.profile)}", "--",
                                         windows_path(self.exe), *args, stdout=out)
        return self.process

    def main_windows(self, expected_size=None):
        """Visible windows titled "Stonewake" with the size of the main
        window's client area (message boxes carry the same title)."""
        sizes = [expected_size] if expected_size else [CLIENT_SIZE]
        return [Window(self.desktop, w) for w in self.desktop.windows_named("Stonewake")
                if self.desktop.geometry(w) in sizes]

    def wait_for_window(self, timeout=40, size=CLIENT_SIZE):
        found = wait_until(lambda: self.main_windows(size), f"the launcher window ({size[0]} x {size[1]})", timeout)
        return found[0]

    def wait_for_box(self, timeout=20):
        """A message box: a "Stonewake" window smaller than the main one."""
        def boxes():
            return [Window(self.desktop, w) for w in self.desktop.windows_named("Stonewake")
                    if (self.desktop.geometry(w) or (10000, 0))[0] < 500]
        return wait_until(boxes, "a message box", timeout)[0]

    def answer_box(self, key, timeout=20):
        """Answers the open message box with a key ("y", "n")."""
        box = self.wait_for_box(timeout)
        self.desktop.xdotool("windowactivate", "--sync", box.xid)
        self.desktop.key(key)
        wait_until(lambda: not box.exists(), "the message box to close", timeout)

    def wait_exit(self, timeout=30):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Timeout(f"the launcher did not end within {timeout} s")

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()

    def file(self, relative):
        return self.install / relative


class ReleaseServer:
    """nginx serving a release tree at http://127.0.0.1:18080, the server
    test builds of the launcher trust."""

    def __init__(self, serve_sh, tree, state, rate=None, latest_rate=None, port=RELEASE_PORT):
        """`rate` and `latest_rate` limit each connection to objects/ and
        to latest/ (nginx limit_rate values: "200k", "150"; None or "0" for
        no limit). `port`: where the launchers to be served were built to
        look (test builds: 18080)."""
        self.port = port
        self.serve_sh = str(serve_sh)
        self.tree = Path(tree)
        self.state = Path(state)
        self.rates = {"STONEWAKE_NGINX_RATE": rate, "STONEWAKE_NGINX_LATEST_RATE": latest_rate}
        self._lock = None

    def __enter__(self):
        self._lock = open(port_lock_path(self.port), "w")
        try:
            fcntl.flock(self._lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f"waiting for port {self.port}: another test run serves releases there", flush=True)
            fcntl.flock(self._lock, fcntl.LOCK_EX)
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        fcntl.flock(self._lock, fcntl.LOCK_UN)
        self._lock.close()

    def start(self, rate=None, latest_rate=None):
        """(Re)starts serving; given rates replace the earlier ones."""
        if rate is not None:
            self.rates["STONEWAKE_NGINX_RATE"] = rate
        if latest_rate is not None:
            self.rates["STONEWAKE_NGINX_LATEST_RATE"] = latest_rate
        env = dict(os.environ)
        env.update({name: str(value) for name, value in self.rates.items() if value})
        subprocess.run([self.serve_sh, "start", str(self.tree), str(self.state), str(self.port)], env=env,
                       check=True, stdout=subprocess.DEVNULL, timeout=60)

    def stop(self):
        subprocess.run([self.serve_sh, "stop", str(self.state)], check=False, timeout=60)

    def requests(self):
        """Request paths in the order nginx logged them."""
        try:
            text = (self.state / "access.log").read_text()
        except FileNotFoundError:
            return []
        return re.findall(r'"GET (\S+) HTTP', text)

    def object_requests(self):
        return [path for path in self.requests() if path.startswith("/objects/")]

    def clear_log(self):
        """Starts a fresh request log (nginx reopens it on USR1)."""
        log = self.state / "access.log"
        if log.exists():
            log.unlink()
        pid = int((self.state / "nginx.pid").read_text().strip())
        os.kill(pid, signal.SIGUSR1)
        wait_until(log.exists, "nginx to reopen its log", 10, interval=0.05)


# What a player reads off the launcher window, by its layout.
ERROR_TEXT = (0xE8, 0x76, 0x5C)
STATUS_TEXT = (0xE8, 0xE2, 0xD4)


def scaled(box, dpi):
    return tuple(round(v * dpi / 96) for v in box)


class Scene:
    """What a player reads off a screenshot, by the window's layout."""

    def __init__(self, dpi=96):
        self.dpi = dpi
        self.button = scaled(BUTTON, dpi)
        self.status = scaled(STATUS, dpi)

    def button_centre(self):
        left, top, right, bottom = self.button
        return (left + right) // 2, (top + bottom) // 2

    def band(self, shot, x0, x1):
        """Mean colour of a band of the button's face between fractions of
        its width, avoiding the caption in the middle."""
        left, top, right, bottom = self.button
        width = right - left
        middle = (top + bottom) // 2
        return shot.mean(left + int(width * x0), middle - 8, left + int(width * x1), middle + 8)

    def button_level(self, shot):
        a = self.band(shot, 0.03, 0.25)
        b = self.band(shot, 0.75, 0.97)
        return (sum(a) + sum(b)) / 6

    def active(self, shot):
        return self.button_level(shot) > 100

    def inactive(self, shot):
        """The dark button face (a frame not painted yet is black)."""
        return 5 < self.button_level(shot) < 70

    def progress_fill(self, shot):
        """Bright molten fill on the left of an otherwise dark button."""
        return sum(self.band(shot, 0.01, 0.06)) / 3 > 90 and sum(self.band(shot, 0.94, 0.99)) / 3 < 70

    def shows_error(self, shot):
        """The status line in the error colour (a sentence has hundreds of
        such pixels; a passing spark has a few)."""
        return shot.count(*self.status, lambda p: near(p, ERROR_TEXT, 30)) > 100

    def text_pixels(self, shot):
        """How much status text there is in its normal colour: sentences of
        different lengths tell apart, whatever the sparks behind them do."""
        return shot.count(*self.status, lambda p: near(p, STATUS_TEXT, 30))
