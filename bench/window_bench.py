#!/usr/bin/env python3
"""The launcher window's cost at rest, under Wine on a virtual screen.

    window_bench.py --build BUILD_DIR [--publisher PUBLISHER] [--seconds 30] [--runs 3]

Prints, for a launcher sitting in Ready (30 repaints a second) at 96 DPI,
then minimised, then in Ready at 144 DPI (840 x 510), each for --seconds:
the CPU time of the launcher process, of the wineserver and of the X
server, as a share of one core, and the launcher's resident memory at the
start of the span, its highest and its end (sampled every second). Then
the start-up time to the window on screen, beside the sample game's (a
plain window program started the same way), and to the first painted
frame (warm Wine, medians of --runs). Handle and GDI/USER object counts are
not reported: Wine 8 answers 0 for both when asked about another process.
"""
import argparse
import os
import statistics
import sys
import tempfile
import time
from pathlib import Path

from test_support import releases, settings
from test_support.checks import wait_until
from test_support.desktop import Desktop, Window
from test_support.launcher import Launcher, Scene
from test_support.release_server import ReleaseServer
from test_support.wine import windows_path

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def rss_kib(pid):
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith("VmRSS:"):
            return int(line.split()[1])
    return 0


def pids_where(predicate):
    found = []
    for entry in Path("/proc").iterdir():
        if not entry.name.isdigit():
            continue
        try:
            if predicate(entry):
                found.append(int(entry.name))
        except OSError:
            pass
    return found


def launcher_pid(prefix):
    """The Linux process of the launcher running in this Wine prefix."""
    def matches(entry):
        cmdline = (entry / "cmdline").read_bytes()
        environ = (entry / "environ").read_bytes()
        return b"Stonewake Launcher.exe" in cmdline and b"with_env" not in cmdline and \
            f"WINEPREFIX={prefix}".encode() in environ
    found = pids_where(matches)
    return found[0] if found else None


def wineserver_pid(prefix):
    def matches(entry):
        return (entry / "comm").read_text().startswith("wineserver") and \
            f"WINEPREFIX={prefix}".encode() in (entry / "environ").read_bytes()
    found = pids_where(matches)
    return found[0] if found else None


def measure(label, seconds, pids, launcher):
    before = {name: cpu_seconds(pid) for name, pid in pids.items() if pid}
    rss_start = rss_kib(launcher)
    rss_most = rss_start
    start = time.monotonic()
    while time.monotonic() - start < seconds:
        time.sleep(min(1.0, max(0.0, seconds - (time.monotonic() - start))))
        rss_most = max(rss_most, rss_kib(launcher))
    elapsed = time.monotonic() - start
    after = {name: cpu_seconds(pid) for name, pid in pids.items() if pid}
    rss_end = rss_kib(launcher)
    shares = "  ".join(f"{name} {100 * (after[name] - before[name]) / elapsed:5.1f} %" for name in before)
    print(f"{label:<22} CPU of one core: {shares}   launcher RSS {rss_start / 1024:.1f} -> {rss_end / 1024:.1f} MiB "
          f"(highest {rss_most / 1024:.1f})", flush=True)


def measure_ready(build, desktop, launcher, seconds, dpi):
    """Starts the installed launcher at `dpi`, waits for Ready and measures
    it there; returns its window."""
    launcher.start()
    window = launcher.wait_for_window(timeout=60, size=build.client_size_at(dpi))
    window.wait_for(Scene(build, dpi).active, "Ready", timeout=60)
    pid = launcher_pid(desktop.prefix.path)
    pids = {"launcher": pid, "wineserver": wineserver_pid(desktop.prefix.path), "Xvfb": desktop.xvfb_pid}
    window.move(5, 5)
    # The pointer rests away from the window: no hover glow.
    measure(f"Ready at {dpi} DPI, {seconds:.0f} s", seconds, pids, pid)
    return window, pids, pid


def first_frame_seconds(launcher, scene):
    """Seconds from process start to the window on screen and to its first
    painted frame, polled as fast as xdotool and import answer (a few
    hundredths of a second and about a tenth)."""
    started = time.monotonic()
    launcher.start()
    windows = wait_until(launcher.main_windows, "the launcher window", 60, interval=0.02)
    shown = time.monotonic() - started
    window = windows[0]
    # The first painted frame: the button's face is drawn (never black).
    window.wait_for(lambda s: scene.button_level(s) > 5, "the first painted frame", timeout=30, interval=0)
    return shown, time.monotonic() - started, window


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the Windows build folder (its test_settings.json)")
    parser.add_argument("--publisher", help="the publisher (default: the build's, the host preset's)")
    parser.add_argument("--seconds", type=float, default=30)
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    build = settings.load(args.build)

    with tempfile.TemporaryDirectory(prefix="window-bench-") as folder:
        work = Path(folder)
        game = releases.make_game(work / "game", build.program("record_start"),
                                  {"data/part0.pak": releases.seeded_bytes(9, 2_000_000)})
        releases.publish(args.publisher or build.publisher, build.test_key, game, "1.0", work / "tree")
        scene = Scene(build)
        with Desktop(build.window_prefix(), work / "desktop") as desktop, \
                ReleaseServer(build, work / "tree", work / "nginx"):
            launcher = Launcher(desktop, build, work / "profile", copy=build.launcher)
            # Warm Wine and install, so that every later start ends in Ready.
            launcher.start()
            window = launcher.wait_for_window(timeout=90)
            window.wait_for(scene.active, "the install offer", timeout=60)
            window.click(*scene.button_centre())
            wait_until(launcher.file("installed.txt").exists, "the install", 60)
            window.wait_for(scene.active, "Ready", timeout=30)
            window.close()
            launcher.wait_exit(30)

            shown_times, times = [], []
            for _ in range(args.runs):
                shown, seconds, window = first_frame_seconds(launcher, scene)
                shown_times.append(shown)
                times.append(seconds)
                window.wait_for(scene.active, "Ready", timeout=60)
                window.close()
                launcher.wait_exit(30)
            # Anchor: the sample game, a plain window program, started the
            # same way until its window is on screen.
            anchors = []
            for _ in range(args.runs):
                started = time.monotonic()
                game = desktop.wine(build.program("with_env"), f"LOCALAPPDATA={windows_path(launcher.profile)}", "--",
                                    windows_path(build.program("Stonewake")))
                found = wait_until(lambda: desktop.windows_named("Stonewake sample game -"), "the sample game", 60,
                                   interval=0.02)
                anchors.append(time.monotonic() - started)
                Window(desktop, found[0]).close()
                game.wait(timeout=30)

            window, pids, pid = measure_ready(build, desktop, launcher, args.seconds, 96)
            window.minimize()
            time.sleep(1)
            measure(f"minimised, {args.seconds:.0f} s", args.seconds, pids, pid)
            # Alt+F4 reaches a window on screen only.
            desktop.xdotool("windowactivate", "--sync", window.xid)
            time.sleep(1)
            window.close()
            launcher.wait_exit(30)

            desktop.prefix.set_dpi(144)
            try:
                window, _, _ = measure_ready(build, desktop, launcher, args.seconds, 144)
                window.close()
                launcher.wait_exit(30)
            finally:
                desktop.prefix.set_dpi(96)
            # The desktop's end stops whatever still runs in its prefix.

        print(f"start to window on screen (warm, median of {args.runs}): launcher {statistics.median(shown_times):.2f} s, "
              f"sample game window {statistics.median(anchors):.2f} s", flush=True)
        print(f"start to first painted frame (warm, median of {args.runs}): {statistics.median(times):.2f} s "
              f"(runs {', '.join(f'{t:.2f}' for t in times)})", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
