"""A Wine prefix, every program in it run through tools/wine/wine-run.sh, the
one place that sets Wine up (prefix creation, fonts, real user folders,
WINEDEBUG, HOME, no menu builder)."""
import os
import subprocess
from pathlib import Path


def windows_path(path):
    """A Linux path as Wine sees it (the root is drive Z:)."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


class Prefix:
    def __init__(self, wine_run_sh, prefix, home=None, display=None):
        """`prefix` and `home` are folders (the home defaults to one beside
        the prefix); with `display` programs appear on that X display,
        without one they have none."""
        self.wine_run_sh = str(wine_run_sh)
        self.path = Path(prefix).resolve()
        self.home = Path(home).resolve() if home else self.path.parent / "home"
        self.env = dict(os.environ)
        self.env.update(WINEPREFIX=str(self.path), STONEWAKE_WINE_HOME=str(self.home))
        self.env.pop("DISPLAY", None)
        if display:
            self.env["DISPLAY"] = display

    def start(self, *system32_programs):
        """Creates the prefix on first use and starts a wineserver that lasts
        until stop(); each given program is copied into system32."""
        subprocess.run([self.wine_run_sh, "--start", *map(str, system32_programs)], env=self.env, check=True,
                       timeout=300)

    def stop(self):
        """Stops the prefix's wineserver and whatever still runs in it."""
        subprocess.run([self.wine_run_sh, "--stop"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)

    def popen(self, program, *args, stdout=subprocess.DEVNULL):
        """Starts a Windows program; the process is the program's own (a
        kill ends it), its exit code the program's."""
        return subprocess.Popen([self.wine_run_sh, "--exec", str(program), *map(str, args)], env=self.env,
                                stdout=stdout, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)

    def run(self, program, *args, timeout=60):
        """Runs a Windows program to its end; returns its exit code."""
        process = self.popen(program, *args)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            raise

    def reg(self, *args):
        """`reg ARGS...` in the prefix; returns its exit code."""
        return self.run("reg", *args)

    def set_dpi(self, dpi):
        """The prefix's LogPixels, read by programs started afterwards (Wine
        refuses per-monitor awareness, yet follows this value)."""
        if self.reg("add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi),
                    "/f") != 0:
            raise RuntimeError(f"could not set the prefix's DPI to {dpi}")

    def user_folder(self):
        """The prefix user's profile folder (drive_c/users/<name>)."""
        users = [p for p in (self.path / "drive_c" / "users").iterdir() if p.name.lower() != "public"]
        if not users:
            raise RuntimeError(f"the Wine prefix {self.path} has no user folder")
        return users[0]

    def system32(self):
        return self.path / "drive_c" / "windows" / "system32"
