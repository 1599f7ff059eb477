"""Releases as the tests make them: game folders, publishing with the
publisher, digests, and what a published manifest lists."""
import hashlib
import random
import subprocess
from pathlib import Path


def seeded_bytes(seed, size):
    """`size` bytes that are the same for the same seed (any hashable)."""
    return random.Random(str(seed)).randbytes(size)


def write_files(root, files):
    """Writes {relative path with "/": bytes} under `root`; returns `root`."""
    root = Path(root)
    for name, data in files.items():
        path = root.joinpath(*name.split("/"))
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    return root


def make_game(folder, game_exe, files):
    """A game folder: `game_exe` (the stand-in game, or the sample game) as
    Stonewake.exe and `files` ({relative path: bytes}) beside it."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "Stonewake.exe").write_bytes(Path(game_exe).read_bytes())
    return write_files(folder, files)


def sha256_file(path):
    """The file's SHA-256 in lowercase hex, or None when nothing is there."""
    digest = hashlib.sha256()
    try:
        with open(path, "rb") as f:
            while chunk := f.read(1 << 20):
                digest.update(chunk)
    except FileNotFoundError:
        return None
    return digest.hexdigest()


def object_path(path):
    """The server path of a file's content: /objects/<sha256>."""
    return "/objects/" + sha256_file(path)


def publish(publisher, key, game, version, tree, launcher=None, commit=None):
    """Publishes the game folder as `version` into `tree` with the
    publisher; returns what it printed. Raises CalledProcessError (with the
    output) when it refuses."""
    args = [publisher, "release", "--game", game, "--version", version, "--key", key, "--out", tree]
    if launcher:
        args += ["--launcher", launcher]
    if commit:
        args += ["--commit", commit]
    done = subprocess.run(list(map(str, args)), capture_output=True, text=True)
    if done.returncode != 0:
        raise subprocess.CalledProcessError(done.returncode, args, done.stdout, done.stderr)
    return done.stdout + done.stderr


def read_manifest(tree):
    """{manifest path: digest} of the release published in `tree`."""
    files = {}
    for line in (Path(tree) / "latest" / "manifest.txt").read_text(encoding="ascii").splitlines():
        if line.startswith("file "):
            _, digest, _size, path = line.split(" ", 3)
            files[path] = digest
    return files
