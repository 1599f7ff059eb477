"""Windowed Windows programs under Wine, driven the way a player drives
them: on a virtual X screen with a window manager, through the mouse, the
keyboard and screenshots.

    with Desktop(settings.window_prefix(), work) as desktop:
        process = desktop.wine(program)
        window = Window(desktop, desktop.windows_named("Title")[0])
        window.wait_for(lambda shot: ..., "what is awaited")
        window.click(280, 283)                        # client pixels
        window.close()                                # Alt+F4, like a player

One Desktop at a time per prefix: tests that use the windowed tests' prefix
take the CTest resource lock "wine_window_prefix".
"""
import os
import re
import subprocess
import tempfile
import time
from pathlib import Path

from test_support.checks import Timeout, wait_until


class Desktop:
    """A virtual X screen (Xvfb, a free display found with -displayfd), the
    openbox window manager (without one every DestroyWindow stalls and focus
    follows the pointer), and a wineserver for `prefix` (a wine.Prefix)."""

    def __init__(self, prefix, work, size=(1280, 1024), display=None):
        """With `display` the programs appear on that X display (a person's
        screen) and no virtual screen or window manager is started."""
        self.prefix = prefix
        self.work = Path(work)
        self.work.mkdir(parents=True, exist_ok=True)
        self.size = size
        self.given_display = display
        self.xvfb_pid = None
        self._processes = []

    @property
    def env(self):
        return self.prefix.env

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
            self.prefix.start()
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
        # Openbox took over 20 s once on a loaded machine (a full test run
        # beside other builds); a window manager that never comes says why.
        try:
            wait_until(lambda: self._xprop_ok(), "openbox to manage the screen", 60)
        except Timeout:
            log.flush()
            state = "still running" if wm.poll() is None else f"ended with {wm.returncode}"
            tail = (self.work / "xvfb.log").read_text(errors="replace")[-2000:]
            raise Timeout(f"openbox did not manage the screen within 60 s (openbox {state}); "
                          f"Xvfb and openbox said:\n{tail}") from None
        # Creates the prefix on first use (fonts included), then a
        # wineserver that lives until stop().
        self.prefix.start()

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
        self.prefix.stop()
        for process in reversed(self._processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    process.kill()
        self._processes.clear()

    def wine(self, program, *args, stdout=subprocess.DEVNULL):
        """Starts a Windows program on this desktop."""
        return self.prefix.popen(program, *args, stdout=stdout)

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

    def __init__(self, desktop, xid, title="Stonewake"):
        self.desktop = desktop
        self.xid = xid
        self.title = title

    def size(self):
        return self.desktop.geometry(self.xid)

    def exists(self):
        return self.xid in self.desktop.windows_named(self.title) and self.size() is not None

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
