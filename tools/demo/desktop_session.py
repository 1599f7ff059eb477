"""An X desktop for Wine windows, driven as a player would: find a window
by its title, look at its pixels, click into it, close it with Alt+F4.

Without a display of its own it starts Xvfb (a free display chosen with
-displayfd) and openbox (without a window manager every DestroyWindow stalls
and focus follows the pointer).
"""

import io
import os
import re
import subprocess
import time

from PIL import Image


class DesktopSession:
    def __init__(self, display=None, size="1280x800x24"):
        self._processes = []
        if display:
            self.display = display
            return
        read_end, write_end = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", size, "-nolisten", "tcp"],
                                pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            xvfb.kill()
            raise RuntimeError("Xvfb did not start")
        self._processes.append(xvfb)
        self.display = ":" + number.decode().strip()
        wm = subprocess.Popen(["openbox"], env=self._env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._processes.append(wm)
        time.sleep(0.5)

    def _env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def _xdotool(self, *args, timeout=10):
        try:
            out = subprocess.run(["xdotool", *map(str, args)], env=self._env(), capture_output=True, text=True,
                                 timeout=timeout)
        except subprocess.TimeoutExpired:
            return None
        return out.stdout if out.returncode == 0 else None

    def size_of(self, window):
        out = self._xdotool("getwindowgeometry", window)
        if not out:
            return None
        m = re.search(r"Geometry: (\d+)x(\d+)", out)
        return (int(m.group(1)), int(m.group(2))) if m else None

    def wait_for_window(self, title_regex, size, timeout):
        """A visible window whose title matches, of the client size given
        (message boxes share the launcher's title), or None."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            out = self._xdotool("search", "--onlyvisible", "--name", title_regex)
            for line in (out or "").split():
                if size is None or self.size_of(line) == tuple(size):
                    return line
            time.sleep(0.25)
        return None

    def exists(self, window):
        return self._xdotool("getwindowname", window) is not None

    def capture(self, window):
        try:
            out = subprocess.run(["import", "-window", str(window), "png:-"], env=self._env(), capture_output=True,
                                 timeout=15)
        except subprocess.TimeoutExpired:
            return None
        if out.returncode != 0 or not out.stdout:
            return None
        try:
            return Image.open(io.BytesIO(out.stdout)).convert("RGB")
        except OSError:
            return None

    def pixel(self, window, x, y):
        image = self.capture(window)
        return image.getpixel((x, y)) if image else None

    def screenshot(self, window, path):
        image = self.capture(window)
        if image is None:
            return False
        image.save(path)
        return True

    def click(self, window, x, y):
        self._xdotool("mousemove", "--window", window, x, y)
        time.sleep(0.15)
        self._xdotool("click", "1")

    def move(self, window, x, y):
        self._xdotool("mousemove", "--window", window, x, y)

    def key(self, window, keys):
        self._xdotool("windowactivate", "--sync", window, "key", keys)

    def close(self, window):
        self.key(window, "alt+F4")

    def stop(self):
        for process in reversed(self._processes):
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
        self._processes.clear()
