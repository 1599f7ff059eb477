#!/usr/bin/env python3
"""The launcher's installation and removal on a virtual screen, its message
boxes answered the way a player answers them (the player-session harness):

  hand over        a copy started from a download folder installs itself,
                   ends with 0 without a window of its own, and the window
                   that shows is the installed copy's
  error box        a copy started from a download folder that cannot start
                   the installed one (a file "Stonewake" where the install
                   folder belongs) shows an error box and ends with 1
  uninstall, No    "--uninstall" asks; No changes nothing and ends with 0
  uninstall, Yes   removes the shortcuts, the uninstall entry and the game
                   folder at once, and the install folder (launcher included)
                   after the removal command's two-second wait; nothing
                   beside the install folder is touched
  uninstall, %     the same for a profile whose path holds a '%' (legal in a
                   Windows user name, expanded by cmd even inside quotes)
  AutoRun          the same again with the user's AutoRun command changing
                   cmd's folder to one that holds another "Stonewake"
                   folder: that folder is untouched
  while running    with a launcher window open, "--uninstall" asks nothing,
                   says the launcher is open, removes nothing, restores that
                   window and ends with 1
  started meanwhile a launcher started while the question is open: Yes
                   then says the launcher is open, removes nothing and ends
                   with 1

    desktop_window_test.py --build BUILD_DIR [--keep DIR] [SCENARIO...]

Scenarios: hand_over error_box uninstall_no uninstall_yes uninstall_percent
uninstall_autorun uninstall_while_running uninstall_started_meanwhile
(all of them by default).
"""
import argparse
import fcntl
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from player_session import (PORT_LOCK, Desktop, Failure, Launcher, Timeout, build_settings, check, wait_until,
                            windows_path)

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Stonewake"


class Player:
    """The prefix's user folders and registry, as the launcher finds them."""

    def __init__(self, desktop):
        self.desktop = desktop
        users = [u for u in (desktop.prefix / "drive_c" / "users").iterdir() if u.name != "Public"]
        self.user = users[0]

    def shortcuts(self):
        return [self.user / "Desktop" / "Stonewake.lnk",
                self.user / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Stonewake.lnk"]

    def reg(self, *args):
        return subprocess.run(["wine", "reg", *args], env=self.desktop.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=60).returncode

    def entry_exists(self):
        return self.reg("query", UNINSTALL_KEY) == 0

    def forget(self):
        for shortcut in self.shortcuts():
            shortcut.unlink(missing_ok=True)
        self.reg("delete", UNINSTALL_KEY, "/f")


def installed_player(desktop, build, work, name):
    """A launcher installed in a profile of its own, with a game, markers,
    shortcuts and its uninstall entry, as a few starts leave them."""
    player = Player(desktop)
    player.forget()
    launcher = Launcher(desktop, build / "bin" / "Stonewake Launcher.exe", build / "bin" / "with_env.exe",
                        work / name / "App Data")
    for relative, content in [("game/Stonewake.exe", "game"), ("game/data/level 1.pak", "level"),
                              ("installed.txt", "1.0\r\n"), ("shortcuts.txt", "made\r\n"),
                              ("icons.txt", "2.5.1\r\n")]:
        path = launcher.file(relative)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(content)
    launcher.file("game/data/level 1.pak").chmod(0o444)
    for shortcut in player.shortcuts():
        shortcut.parent.mkdir(parents=True, exist_ok=True)
        shortcut.write_bytes(b"shortcut")
    player.reg("add", UNINSTALL_KEY, "/v", "DisplayName", "/d", "Stonewake", "/f")
    (launcher.profile / "Packages").mkdir()
    return player, launcher


def everything_kept(player, launcher):
    return (all(s.exists() for s in player.shortcuts()) and player.entry_exists()
            and launcher.file("game/data/level 1.pak").exists() and launcher.exe.exists())


def start_downloaded(desktop, build, work, name):
    """Starts a launcher copied into a download folder, for a player whose
    profile is `work`/`name`/App Data; returns the profile and the
    Launcher whose process is that start."""
    profile = work / name / "App Data"
    profile.mkdir(parents=True, exist_ok=True)
    download = work / name / "Downloads" / "Stonewake Launcher.exe"
    download.parent.mkdir(parents=True)
    shutil.copyfile(build / "bin" / "Stonewake Launcher.exe", download)
    stray = Launcher(desktop, None, build / "bin" / "with_env.exe", work / name / "unused")
    stray.process = desktop.wine(build / "bin" / "with_env.exe", f"LOCALAPPDATA={windows_path(profile)}", "--",
                                 windows_path(download))
    return profile, stray


def hand_over(desktop, build, work):
    print("hand over", flush=True)
    Player(desktop).forget()
    # No release server answers while the port is held: the launcher stays
    # offline.
    with open(PORT_LOCK, "w") as port:
        fcntl.flock(port, fcntl.LOCK_EX)
        profile, stray = start_downloaded(desktop, build, work, "hand-over")
        check(stray.wait_exit() == 0, "the downloaded copy ended with 0")
        installed = Launcher(desktop, None, build / "bin" / "with_env.exe", profile)
        check(installed.exe.read_bytes() == (build / "bin" / "Stonewake Launcher.exe").read_bytes(),
              "the install folder holds a byte-identical copy")
        window = installed.wait_for_window()
        check(len(installed.main_windows()) == 1, "one launcher window shows, the installed copy's")
        # A window that has only just appeared may miss the first Alt+F4.
        def closed():
            if installed.main_windows():
                window.close()
                time.sleep(1)
            return not installed.main_windows()
        wait_until(closed, "the installed launcher's window to close", 30)
        check(installed.file("icons.txt").read_bytes() == b"2.5.1\r\n", "the installed copy did its upkeep")
    Player(desktop).forget()


def error_box(desktop, build, work):
    print("error box", flush=True)
    profile = work / "error" / "App Data"
    profile.mkdir(parents=True)
    (profile / "Stonewake").write_text("a file, not a folder")
    _, launcher = start_downloaded(desktop, build, work, "error")
    check(launcher.wait_for_box().exists(), "an error box asks to be acknowledged")
    launcher.answer_box("Return")
    check(launcher.wait_exit() == 1, "the launcher ended with 1")
    check((profile / "Stonewake").read_text() == "a file, not a folder", "the file in the way is unchanged")


def answered_uninstall(desktop, build, work, key, name=None):
    """An installed launcher started with "--uninstall", its question
    answered with `key`; it has ended with 0."""
    player, launcher = installed_player(desktop, build, work, name or key)
    launcher.start("--uninstall")
    launcher.answer_box(key)
    check(launcher.wait_exit() == 0, "the launcher ended with 0")
    return player, launcher


def uninstall_no(desktop, build, work):
    print("uninstall, No", flush=True)
    player, launcher = answered_uninstall(desktop, build, work, "n")
    check(everything_kept(player, launcher), "shortcuts, entry, game and launcher are all still there")
    player.forget()


def removed_everything(player, launcher):
    check(not any(s.exists() for s in player.shortcuts()), "both shortcuts are gone")
    check(not player.entry_exists(), "the uninstall entry is gone")
    check(not launcher.file("game").exists(), "the game folder is gone")
    # The launcher's own file goes last, by the removal command once the
    # launcher has ended.
    wait_until(lambda: not launcher.install.exists(), "the install folder, launcher and markers included, to go", 30)
    check((launcher.profile / "Packages").is_dir(), "the folder beside it is untouched")


def uninstall_yes(desktop, build, work):
    print("uninstall, Yes", flush=True)
    player, launcher = answered_uninstall(desktop, build, work, "y")
    removed_everything(player, launcher)


def uninstall_percent(desktop, build, work):
    print("uninstall, a '%' in the profile's path", flush=True)
    player, launcher = answered_uninstall(desktop, build, work, "y", "100% sure")
    removed_everything(player, launcher)


def cmd_runs_autorun(desktop, work):
    """Whether this Wine's cmd runs the user's AutoRun command (Windows'
    does unless started with /d): the folder `cmd /c cd` prints."""
    out = work / "cmd-cd.txt"
    with open(out, "wb") as printed:
        desktop.wine("cmd", "/c", "cd", stdout=printed, cwd=work).wait(timeout=60)
    return windows_path(work).lower() not in out.read_text(errors="replace").lower()


def uninstall_autorun(desktop, build, work):
    print("uninstall, a '%' in the profile's path and an AutoRun that changes cmd's folder", flush=True)
    # The removal command of such a profile names the install folder by its
    # own name, relative to the folder cmd runs in; a common AutoRun command
    # changes that folder.
    elsewhere = work / "autorun home"
    decoy = elsewhere / "Stonewake" / "saves" / "slot 1.sav"
    decoy.parent.mkdir(parents=True)
    decoy.write_text("a player's save")
    player = Player(desktop)
    autorun_key = r"HKCU\Software\Microsoft\Command Processor"
    player.reg("add", autorun_key, "/v", "AutoRun", "/t", "REG_SZ", "/d", f'cd /d "{windows_path(elsewhere)}"', "/f")
    try:
        if not cmd_runs_autorun(desktop, work):
            print("  note: this Wine's cmd runs no AutoRun command, so the check below cannot see one run",
                  flush=True)
        player, launcher = answered_uninstall(desktop, build, work, "y", "100% autorun")
        removed_everything(player, launcher)
        check(decoy.read_text() == "a player's save", "the other folder named Stonewake is untouched")
    finally:
        player.reg("delete", autorun_key, "/v", "AutoRun", "/f")


def uninstall_while_running(desktop, build, work):
    print("uninstall while a launcher runs", flush=True)
    # No release server answers while the port is held: the launcher stays
    # offline and never patches.
    with open(PORT_LOCK, "w") as port:
        fcntl.flock(port, fcntl.LOCK_EX)
        player, launcher = installed_player(desktop, build, work, "running")
        launcher.start()
        window = launcher.wait_for_window()
        window.minimize()
        wait_until(lambda: not launcher.main_windows(), "the window to be minimised", 20)
        remover = Launcher(desktop, None, build / "bin" / "with_env.exe", launcher.profile)
        remover.start("--uninstall")
        # Return takes a box's default button: were this the removal
        # question, it would say Yes, and the checks below would fail.
        check(remover.wait_for_box().exists(), "a box says the launcher is open")
        remover.answer_box("Return")
        check(remover.wait_exit() == 1, "the uninstall ended with 1, having removed nothing")
        wait_until(launcher.main_windows, "the running launcher's window to be shown again", 20)
        check(everything_kept(player, launcher), "shortcuts, entry, game and launcher are all still there")
        launcher.main_windows()[0].close()
        check(launcher.wait_exit() == 0, "the running launcher closed normally")
        player.forget()


def uninstall_started_meanwhile(desktop, build, work):
    print("a launcher started while the removal question is open", flush=True)
    # No release server answers while the port is held: the launcher stays
    # offline and never patches.
    with open(PORT_LOCK, "w") as port:
        fcntl.flock(port, fcntl.LOCK_EX)
        player, launcher = installed_player(desktop, build, work, "meanwhile")
        remover = Launcher(desktop, None, build / "bin" / "with_env.exe", launcher.profile)
        remover.start("--uninstall")
        remover.wait_for_box()
        launcher.start()
        launcher.wait_for_window()
        # A window that has only just appeared may take the focus back from
        # the box after the box was activated, and the key goes to it.
        question = remover.wait_for_box()
        def answered():
            if question.exists():
                desktop.xdotool("windowactivate", "--sync", question.xid)
                desktop.key("y")
                time.sleep(1)
            return not question.exists()
        wait_until(answered, "the removal question to be answered", 30)
        # Return takes a box's default button; the removal question is
        # answered already, so this is the box that says the launcher runs.
        check(remover.wait_for_box().exists(), "after Yes, a box says the launcher is open")
        remover.answer_box("Return")
        check(remover.wait_exit() == 1, "the uninstall ended with 1, having removed nothing")
        check(everything_kept(player, launcher), "shortcuts, entry, game and launcher are all still there")
        wait_until(launcher.main_windows, "the running launcher's window", 20)[0].close()
        check(launcher.wait_exit() == 0, "the running launcher closed normally")
        player.forget()


SCENARIOS = {f.__name__: f for f in (hand_over, error_box, uninstall_no, uninstall_yes, uninstall_percent,
                                      uninstall_autorun, uninstall_while_running, uninstall_started_meanwhile)}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True)
    parser.add_argument("--keep", help="keep the work folder (logs) here")
    parser.add_argument("scenarios", nargs="*", metavar="SCENARIO")
    args = parser.parse_args()
    unknown = set(args.scenarios) - set(SCENARIOS)
    if unknown:
        parser.error(f"unknown scenario: {', '.join(sorted(unknown))}")
    build = Path(args.build)
    work = Path(args.keep) if args.keep else Path(tempfile.mkdtemp(prefix="desktop-window-"))
    if args.keep:
        shutil.rmtree(work, ignore_errors=True)
        work.mkdir(parents=True)
    try:
        with Desktop(build_settings(build), work / "desktop") as desktop:
            # Wine has no timeout.exe; the removal command waits with it.
            shutil.copyfile(build / "bin" / "timeout.exe",
                            desktop.prefix / "drive_c" / "windows" / "system32" / "timeout.exe")
            for name in args.scenarios or SCENARIOS:
                SCENARIOS[name](desktop, build, work)
    except (Failure, Timeout) as problem:
        print(f"FAILED: {problem} (logs in {work})", flush=True)
        return 1
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
