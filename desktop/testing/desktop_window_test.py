#!/usr/bin/env python3
"""The launcher's installation and removal on a virtual screen, its message
boxes answered the way a player answers them (the Python test package):

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
  while running    with a launcher window open, "--uninstall" asks nothing,
                   says the launcher is open, removes nothing, restores that
                   window and ends with 1

    desktop_window_test.py --build BUILD_DIR [--keep DIR] [SCENARIO...]

Scenarios: hand_over error_box uninstall_no uninstall_yes uninstall_percent
uninstall_autorun uninstall_while_running uninstall_started_meanwhile
(all of them by default, on one desktop).
"""
import contextlib
import shutil
import sys
import time

from test_support import scenarios
from test_support.checks import check, wait_until
from test_support.desktop import Desktop
from test_support.launcher import Launcher
from test_support.release_server import holding_port
from test_support.wine import windows_path

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Stonewake"


class Session:
    """The desktop every scenario shares, the build's settings and the work
    folder."""

    def __init__(self, desktop, settings, work):
        self.desktop, self.settings, self.work = desktop, settings, work

    def launcher(self, profile, copy=False):
        return Launcher(self.desktop, self.settings, profile, copy=self.settings.launcher if copy else None)


@contextlib.contextmanager
def session(settings, work):
    with Desktop(settings.window_prefix(), work / "desktop") as desktop:
        # Wine has no timeout.exe; the removal command waits with it.
        shutil.copyfile(settings.program("timeout"), desktop.prefix.system32() / "timeout.exe")
        yield Session(desktop, settings, work)


class Player:
    """The prefix's user folders and registry, as the launcher finds them."""

    def __init__(self, desktop):
        self.desktop = desktop
        self.user = desktop.prefix.user_folder()

    def shortcuts(self):
        return [self.user / "Desktop" / "Stonewake.lnk",
                self.user / "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Stonewake.lnk"]

    def reg(self, *args):
        return self.desktop.prefix.reg(*args)

    def entry_exists(self):
        return self.reg("query", UNINSTALL_KEY) == 0

    def forget(self):
        for shortcut in self.shortcuts():
            shortcut.unlink(missing_ok=True)
        self.reg("delete", UNINSTALL_KEY, "/f")


def installed_player(s, name):
    """A launcher installed in a profile of its own, with a game, markers,
    shortcuts and its uninstall entry, as a few starts leave them."""
    player = Player(s.desktop)
    player.forget()
    launcher = s.launcher(s.work / name / "App Data", copy=True)
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


def start_downloaded(s, name):
    """Starts a launcher copied into a download folder, for a player whose
    profile is `work`/`name`/App Data; returns the profile and the
    Launcher whose process is that start."""
    profile = s.work / name / "App Data"
    profile.mkdir(parents=True, exist_ok=True)
    download = s.work / name / "Downloads" / s.settings.launcher_name
    download.parent.mkdir(parents=True)
    shutil.copyfile(s.settings.launcher, download)
    # A Launcher of another profile, so that nothing is made in this one
    # before the downloaded copy runs; its process is that copy's.
    stray = s.launcher(s.work / name / "unused")
    stray.process = s.desktop.wine(s.settings.program("with_env"), f"LOCALAPPDATA={windows_path(profile)}", "--",
                                   windows_path(download))
    return profile, stray


def hand_over(s):
    Player(s.desktop).forget()
    # No release server answers while the port is held: the launcher stays
    # offline.
    with holding_port(s.settings.release_port):
        profile, stray = start_downloaded(s, "hand-over")
        check(stray.wait_exit() == 0, "the downloaded copy ended with 0")
        installed = s.launcher(profile)
        check(installed.exe.read_bytes() == s.settings.launcher.read_bytes(),
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
    Player(s.desktop).forget()


def error_box(s):
    profile = s.work / "error" / "App Data"
    profile.mkdir(parents=True)
    (profile / "Stonewake").write_text("a file, not a folder")
    _, launcher = start_downloaded(s, "error")
    check(launcher.wait_for_box().exists(), "an error box asks to be acknowledged")
    launcher.answer_box("Return")
    check(launcher.wait_exit() == 1, "the launcher ended with 1")
    check((profile / "Stonewake").read_text() == "a file, not a folder", "the file in the way is unchanged")


def answered_uninstall(s, key, name=None):
    """An installed launcher started with "--uninstall", its question
    answered with `key`; it has ended with 0."""
    player, launcher = installed_player(s, name or key)
    launcher.start("--uninstall")
    launcher.answer_box(key)
    check(launcher.wait_exit() == 0, "the launcher ended with 0")
    return player, launcher


def uninstall_no(s):
    player, launcher = answered_uninstall(s, "n")
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


def uninstall_yes(s):
    player, launcher = answered_uninstall(s, "y")
    removed_everything(player, launcher)


def uninstall_percent(s):
    """A '%' in the profile's path."""
    player, launcher = answered_uninstall(s, "y", "100% sure")
    removed_everything(player, launcher)


def cmd_runs_autorun(s, elsewhere):
    """Whether this Wine's cmd runs the user's AutoRun command (Windows'
    does unless started with /d): then `cmd /c cd` prints the folder the
    AutoRun command changes to."""
    out = s.work / "cmd-cd.txt"
    with open(out, "wb") as printed:
        s.desktop.wine("cmd", "/c", "cd", stdout=printed).wait(timeout=60)
    return windows_path(elsewhere).lower() in out.read_text(errors="replace").lower()


def uninstall_autorun(s):
    """A '%' in the profile's path and an AutoRun command that changes
    cmd's folder: the removal command of such a profile names the install
    folder by its own name, relative to the folder cmd runs in."""
    elsewhere = s.work / "autorun home"
    decoy = elsewhere / "Stonewake" / "saves" / "slot 1.sav"
    decoy.parent.mkdir(parents=True)
    decoy.write_text("a player's save")
    player = Player(s.desktop)
    autorun_key = r"HKCU\Software\Microsoft\Command Processor"
    player.reg("add", autorun_key, "/v", "AutoRun", "/t", "REG_SZ", "/d", f'cd /d "{windows_path(elsewhere)}"', "/f")
    try:
        if not cmd_runs_autorun(s, elsewhere):
            print("  note: this Wine's cmd runs no AutoRun command, so the check below cannot see one run",
                  flush=True)
        player, launcher = answered_uninstall(s, "y", "100% autorun")
        removed_everything(player, launcher)
        check(decoy.read_text() == "a player's save", "the other folder named Stonewake is untouched")
    finally:
        player.reg("delete", autorun_key, "/v", "AutoRun", "/f")


def uninstall_while_running(s):
    # No release server answers while the port is held: the launcher stays
    # offline and never patches.
    with holding_port(s.settings.release_port):
        player, launcher = installed_player(s, "running")
        launcher.start()
        window = launcher.wait_for_window()
        window.minimize()
        wait_until(lambda: not launcher.main_windows(), "the window to be minimised", 20)
        remover = s.launcher(launcher.profile)
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


def uninstall_started_meanwhile(s):
    """A launcher started while the removal question is open."""
    # No release server answers while the port is held: the launcher stays
    # offline and never patches.
    with holding_port(s.settings.release_port):
        player, launcher = installed_player(s, "meanwhile")
        remover = s.launcher(launcher.profile)
        remover.start("--uninstall")
        remover.wait_for_box()
        launcher.start()
        launcher.wait_for_window()
        # A window that has only just appeared may take the focus back from
        # the box after the box was activated, and the key goes to it.
        question = remover.wait_for_box()
        def answered():
            if question.exists():
                s.desktop.xdotool("windowactivate", "--sync", question.xid)
                s.desktop.key("y")
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


if __name__ == "__main__":
    sys.exit(scenarios.main(__doc__, SCENARIOS, session))
