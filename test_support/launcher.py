"""The launcher as a player meets it: installed in a profile folder of its
own, its window read by the window's layout."""
import shutil
import subprocess
from pathlib import Path

from test_support.checks import Timeout, wait_until
from test_support.desktop import Window, near
from test_support.wine import windows_path


def launcher_windows(desktop, size):
    """Visible windows titled "Stonewake" whose client area is `size` (the
    launcher window's; message boxes carry the same title, not the size)."""
    return [Window(desktop, w) for w in desktop.windows_named("Stonewake") if desktop.geometry(w) == size]


class Launcher:
    """The launcher installed in a profile folder of its own: LOCALAPPDATA
    is `profile` for it (set on the Windows side through with_env.exe, as
    Wine takes LOCALAPPDATA from the prefix's registry, not from the Linux
    environment), so its install folder is `profile`/Stonewake and it starts
    from there, as an installed launcher does."""

    def __init__(self, desktop, settings, profile, copy=None):
        """`copy`: a launcher executable put into the install folder (none:
        the folder's own, or none yet)."""
        self.desktop = desktop
        self.settings = settings
        self.profile = Path(profile)
        self.install = self.profile / "Stonewake"
        self.install.mkdir(parents=True, exist_ok=True)
        self.exe = self.install / settings.launcher_name
        if copy is not None:
            shutil.copyfile(copy, self.exe)
        self.process = None

    def start(self, *args):
        """Starts the installed launcher; the process's exit code is the
        launcher's."""
        out = open(self.desktop.work / "launcher.out", "ab")
        self.process = self.desktop.wine(self.settings.program("with_env"),
                                         f"LOCALAPPDATA={windows_path(self.profile)}", "--",
                                         windows_path(self.exe), *args, stdout=out)
        return self.process

    def main_windows(self, size=None):
        """The launcher windows on the desktop (of the client size at 96 DPI
        unless `size` says otherwise)."""
        return launcher_windows(self.desktop, size or self.settings.client_size)

    def wait_for_window(self, timeout=40, size=None):
        size = size or self.settings.client_size
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


def scaled(box, dpi):
    return tuple(round(v * dpi / 96) for v in box)


class Scene:
    """What a player reads off a screenshot of the launcher window, by the
    window's layout and text colours (from the build's settings)."""

    def __init__(self, settings, dpi=96):
        self.dpi = dpi
        self.button = scaled(settings.button, dpi)
        self.status = scaled(settings.status_line, dpi)
        self.status_text = settings.status_text
        self.error_text = settings.error_text

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
        return shot.count(*self.status, lambda p: near(p, self.error_text, 30)) > 100

    def text_pixels(self, shot):
        """How much status text there is in its normal colour: sentences of
        different lengths tell apart, whatever the sparks behind them do."""
        return shot.count(*self.status, lambda p: near(p, self.status_text, 30))
