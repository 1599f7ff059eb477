#!/usr/bin/env python3
"""The studio path of docs/publishing.md, run as written, in order, in a
scratch folder.

The commands are read from that document up to its "Serving the tree"
section (an indented line ending in a backslash continues on the next one):

  cmake --preset publisher && cmake --build --preset publisher  (in the clone)
  cmake --install build/publisher --prefix ~/.local
  publisher keygen ...
  osslsigncode sign ... -in "build/windows-release/..." -out ..., mv, osslsigncode verify
  publisher release --game path/to/game --launcher "build/windows-release/..." ...
  publisher verify --tree release-tree ...

HOME is the scratch folder, so ~/.local/bin and the private key land there,
and ~/.local/bin is put on the PATH as a login shell would. The scratch
folder stands in for the studio's game repository (a git repository with one
commit, a game in path/to/game). The players' launcher build is stood in for
by a small executable that carries the same release trust resource with the
key and server the document's build command names: a real windows-release
build takes minutes and is checked by the configure and e2e tests.

The launcher is signed by the document's osslsigncode commands with a
certificate made for the run (test_support.code_signing), exported to the
PKCS#12 file the document names. Two words change, as no terminal and no
public timestamp server are there: -askpass becomes -readpass with a file,
and the -ts URL becomes that of a timestamp server on loopback
(test_support.code_signing.TimestampServer); the verify is given the run's
certificates as its roots. The published launcher object must still verify.

  studio_path_test.py SOURCE_DIR MAKE_TEST_LAUNCHER
"""
import os
import re
import shlex
import subprocess
import sys
import tempfile

from test_support import code_signing
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
    sign = find(commands, "osslsigncode sign ")
    move_signed = find(commands, "mv ")
    verify_signed = find(commands, "osslsigncode verify ")
    check(commands.index(sign) < commands.index(release), "the document signs before it publishes")
    check(f'-in "{launcher_path}"' in sign and launcher_path in move_signed and launcher_path in verify_signed,
          "the document signs, replaces and verifies the launcher it publishes")
    check(re.search(r" -ts https?://\S+", sign) is not None, "the document signs with a timestamp server")

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

        # The studio's code-signing certificate, as the document's PKCS#12 file.
        thumbprint = code_signing.make_certificate(home, "studio", "/C=GB/O=Example Studio Ltd/CN=Example Studio Ltd")
        pkcs12 = re.search(r"-pkcs12 (\S+)", sign).group(1).replace("~", home, 1)
        with open(os.path.join(home, "code-signing.pass"), "w") as f:
            f.write("studio pass phrase\n")
        subprocess.run(["openssl", "pkcs12", "-export", "-in", os.path.join(home, "studio.pem"), "-inkey",
                        os.path.join(home, "studio.key"), "-out", pkcs12, "-passout",
                        "file:" + os.path.join(home, "code-signing.pass")], check=True)
        unsigned = open(os.path.join(home, launcher_path), "rb").read()
        with code_signing.TimestampServer(home) as timestamps:
            sign = sign.replace("-askpass", "-readpass ~/code-signing.pass")
            run(re.sub(r"-ts https?://\S+", f"-ts {timestamps.url}", sign), home, env)
        run(move_signed, home, env)
        run(verify_signed.replace("osslsigncode verify ", "osslsigncode verify -CAfile ~/studio.pem -TSA-CAfile ~/tsa.pem "),
            home, env)
        check(open(os.path.join(home, launcher_path), "rb").read() != unsigned, "the launcher was signed in place")

        out = run(release, home, env)
        check(f"launcher 2.5.1 trusts key {public[:8]}...{public[-8:]} and asks {server}; signed by "
              f"CN=Example Studio Ltd, O=Example Studio Ltd, C=GB, thumbprint {thumbprint}, timestamped\n" in out,
              "release prints what the launcher trusts and who signed it")
        manifest = open(os.path.join(home, "release-tree", "latest", "manifest.txt")).read()
        digest = re.search(r"^file ([0-9a-f]{64}) \d+ Stonewake Launcher\.exe$", manifest, re.M).group(1)
        published = os.path.join(home, "release-tree", "objects", digest)
        check(open(published, "rb").read() == open(os.path.join(home, launcher_path), "rb").read(),
              "the published object is the signed launcher")
        code_signing.verify(home, "studio", published)
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
