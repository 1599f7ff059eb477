#!/usr/bin/env python3
"""The studio path of docs/publishing.md, run as written, in order, in a
scratch folder.

The commands are read from that document up to its "Serving the tree"
section (an indented line ending in a backslash continues on the next one):

  cmake --preset publisher && cmake --build --preset publisher  (in the clone)
  cmake --install build/publisher --prefix ~/.local
  publisher keygen ...
  publisher release --game path/to/game --launcher "build/windows-release/..." ...
  publisher verify --tree release-tree ...

HOME is the scratch folder, so ~/.local/bin and the private key land there,
and ~/.local/bin is put on the PATH as a login shell would. The scratch
folder stands in for the studio's game repository (a git repository with one
commit, a game in path/to/game). The players' launcher build is stood in for
by a small executable that carries the same release trust resource with the
key and server the document's build command names: a real windows-release
build takes minutes and is checked by the configure and e2e tests.

  studio_path_test.py SOURCE_DIR MAKE_TEST_LAUNCHER
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile

from test_support.checks import Failure, check

source_dir, make_launcher = sys.argv[1], sys.argv[2]


def documented_commands():
    text = open(os.path.join(source_dir, "docs", "publishing.md"), encoding="utf-8").read()
    section = text[:text.index("\n## Serving the tree\n")]
    commands, pending = [], ""
    for line in section.split("\n"):
        if not line.startswith("    ") or line.strip().startswith("|"):
            pending = ""
            continue
        pending += line.strip()
        if pending.endswith("\\"):
            pending = pending[:-1].rstrip() + " "
        else:
            commands.append(pending)
            pending = ""
    return commands


def find(commands, prefix):
    matches = [c for c in commands if c.startswith(prefix)]
    if not matches:
        sys.exit(f"FAIL: docs/publishing.md's studio path has no command starting with {prefix!r}")
    return matches[0]


def run(command, cwd, env):
    print(f"$ {command}", flush=True)
    done = subprocess.run(["bash", "-c", command], cwd=cwd, env=env, capture_output=True, text=True)
    sys.stdout.write(done.stdout)
    sys.stdout.write(done.stderr)
    if done.returncode != 0:
        sys.exit(f"FAIL: exited {done.returncode}: {command}")
    return done.stdout


def studio_path():
    commands = documented_commands()
    build = find(commands, "cmake --preset publisher")
    install = find(commands, "cmake --install build/publisher")
    keygen = find(commands, "publisher keygen")
    players = find(commands, "cmake --preset windows-release -DSTONEWAKE_RELEASE_PUBLIC_KEY")
    release = find(commands, "publisher release --game path/to/game")
    verify = find(commands, "publisher verify --tree release-tree")
    server = re.search(r"-DSTONEWAKE_RELEASE_BASE_URL=(\S+)", players).group(1)
    launcher_path = re.search(r'--launcher "([^"]+)"', release).group(1)

    with tempfile.TemporaryDirectory(prefix="studio-path-") as home:
        env = dict(os.environ, HOME=home)
        env["PATH"] = os.path.join(home, ".local", "bin") + os.pathsep + env["PATH"]
        for key in ("GIT_AUTHOR_NAME", "GIT_COMMITTER_NAME"):
            env[key] = "Studio"
        for key in ("GIT_AUTHOR_EMAIL", "GIT_COMMITTER_EMAIL"):
            env[key] = "studio@example.net"

        run(build, source_dir, env)
        run(install, source_dir, env)
        check(os.access(os.path.join(home, ".local", "bin", "publisher"), os.X_OK), "~/.local/bin/publisher installed")

        run("git init -q && git commit -q --allow-empty -m game", home, env)
        game = os.path.join(home, "path", "to", "game")
        os.makedirs(os.path.join(game, "data"))
        with open(os.path.join(game, "Stonewake.exe"), "wb") as f:
            f.write(b"MZ" + bytes(range(256)) * 64)
        with open(os.path.join(game, "data", "base.pak"), "wb") as f:
            f.write(os.urandom(300_000))

        public = run(keygen, home, env).strip()
        check(re.fullmatch(r"[0-9a-f]{128}", public) is not None, "keygen printed the public key")
        check(os.stat(os.path.join(home, "stonewake-release-key.pem")).st_mode & 0o777 == 0o600, "the key has mode 0600")

        # The players' launcher, carrying the key and server the document
        # builds it with.
        os.makedirs(os.path.dirname(os.path.join(home, launcher_path)), exist_ok=True)
        subprocess.run([make_launcher, os.path.join(home, launcher_path), public, server, "2.5.1"], check=True)

        out = run(release, home, env)
        check(f"launcher 2.5.1 trusts key {public[:8]}...{public[-8:]} and asks {server}\n" in out,
              "release prints what the launcher trusts")
        check("no release in the tree yet: a first install fetches 2 files" in out, "release prints the first install")
        check("published version 1.4.2" in out, "release published 1.4.2")
        out = run(verify, home, env)
        check("valid release, version 1.4.2, commit " in out, "verify finds the release valid")
        check(f"and asks {server}" in out, "verify prints what the launcher trusts")


try:
    studio_path()
except Failure as failure:
    sys.exit(f"FAIL: {failure}")
print("docs/publishing.md's studio path: all commands ran as written")
