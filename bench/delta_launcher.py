#!/usr/bin/env python3
"""The launcher's side of bench/delta.sh: an install of build A patched to
build B by the launcher's own code (patch_install.exe under Wine), the new
archive assembled from the old one's chunks plus byte ranges, beside the
same patch with the chunk indexes taken away (what every launcher did
before them: the archive fetched whole).

    delta_launcher.py --wine-run W --patch-install EXE --base URL --root ROOT --new NAME
                      --old-game DIR --access-log LOG --work DIR [--rate BYTES_PER_S] [--delay-ms MS]

ROOT/NAME is release B's tree, served by nginx as URL/NAME (its access log
LOG); DIR is release A's game folder, copied as the install before each
run. Three patches: with B's tree as it is (the old archive's chunks from
its own index), with ROOT/NAME-chunked (hard links to B's tree without the
index of any object B does not list: the old archive is chunked), and with
ROOT/NAME-whole (no index at all: the archive fetched whole, as before
indexes). Each runs on loopback, then through bench/shaping_relay.py (RATE
per connection) behind bench/latency_proxy.py (MS more per round trip).
Prints, per patch: the bytes nginx sent for it (objects, ranges and
indexes, headers included), the seconds of the patch after its release
check, the peak working set, and how often the old archive was read
(strace: the bytes read from it over its size, the release check's hash
included). Last, lines for bench/delta.sh: launcher_bytes,
launcher_shaped_seconds, launcher_peak and the same of the whole download.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time


def log_bytes(access_log, prefix, since):
    """$bytes_sent of the requests under `prefix` logged after line `since`,
    as (objects, indexes, ranges, lines)."""
    objects = indexes = ranges = 0
    with open(access_log, errors="replace") as f:
        lines = f.readlines()
    for line in lines[since:]:
        m = re.search(r'"GET (\S+) [^"]*" (\d{3}) \d+ .* (\d+)$', line.strip())
        if not m or not m.group(1).startswith(prefix + "/objects/"):
            continue
        sent = int(m.group(3))
        if m.group(1).endswith(".chunks"):
            indexes += sent
        else:
            objects += sent
            ranges += m.group(2) == "206"
    return objects, indexes, ranges, len(lines)


def finished(out):
    """True once patch_install --stats has printed its last line."""
    try:
        with open(out, errors="replace") as f:
            text = f.read()
    except FileNotFoundError:
        return False
    return "peak_working_set" in text or text.startswith("error:")


def line_count(path):
    try:
        with open(path, errors="replace") as f:
            return sum(1 for _ in f)
    except FileNotFoundError:
        return 0


def old_reads(trace, archive):
    """Bytes read from `archive` (not its .partial) in an strace -y log."""
    total = 0
    pattern = re.compile(r'^\d+\s+(?:read|pread64)\((\d+)<([^>]*)>.*\)\s+=\s+(\d+)')
    with open(trace, errors="replace") as f:
        for line in f:
            m = pattern.match(line)
            if m and m.group(2) == archive:
                total += int(m.group(3))
    return total


def start_relays(bench, port, rate, delay_ms, work):
    pace_state = os.path.join(work, "launcher-pace.state")
    proxy_state = os.path.join(work, "launcher-proxy.state")
    for state in (pace_state, proxy_state):
        if os.path.exists(state):
            os.remove(state)
    pace = subprocess.Popen([sys.executable, os.path.join(bench, "shaping_relay.py"), str(port), pace_state, "--rate",
                             str(rate)])
    wait_for(pace_state)
    with open(pace_state) as f:
        paced = f.read().split()[0]
    proxy = subprocess.Popen([sys.executable, os.path.join(bench, "latency_proxy.py"), paced, str(delay_ms),
                              proxy_state])
    wait_for(proxy_state)
    with open(proxy_state) as f:
        return [pace, proxy], int(f.read().split()[0])


def wait_for(path):
    for _ in range(200):
        if os.path.exists(path) and os.path.getsize(path) > 0:
            return
        time.sleep(0.05)
    raise SystemExit(f"{path} did not appear")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    for name in ("wine-run", "patch-install", "base", "root", "new", "old-game", "access-log", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--rate", type=int, default=20_000_000)
    parser.add_argument("--delay-ms", type=int, default=50)
    args = parser.parse_args()
    bench = os.path.dirname(os.path.abspath(__file__))
    # A console program: without a display Wine starts no X11 driver.
    env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}

    # B's tree without the old object's index (the old archive is chunked
    # instead) and without any index (the archive fetched whole).
    tree = os.path.join(args.root, args.new)
    listed = set()
    with open(os.path.join(tree, "latest", "manifest.txt"), encoding="ascii") as f:
        for line in f:
            if line.startswith("file "):
                listed.add(line.split(" ", 3)[1])
    chunked, whole = args.new + "-chunked", args.new + "-whole"
    for name, keep in ((chunked, lambda n: n[:-len(".chunks")] in listed), (whole, lambda n: False)):
        shutil.rmtree(os.path.join(args.root, name), ignore_errors=True)
        shutil.copytree(tree, os.path.join(args.root, name), copy_function=os.link,
                        ignore=lambda _, names, keep=keep: [n for n in names if n.endswith(".chunks") and not keep(n)])

    install = os.path.join(args.work, "delta-install")
    game_files = []
    for folder, _, files in os.walk(args.old_game):
        game_files += [os.path.relpath(os.path.join(folder, n), args.old_game) for n in files]
    archive = max(game_files, key=lambda n: os.path.getsize(os.path.join(args.old_game, n)))
    archive_bytes = os.path.getsize(os.path.join(args.old_game, archive))
    installed_archive = os.path.join(install, "game", archive)
    has_strace = shutil.which("strace") is not None

    def patch(tree, base, traced):
        shutil.rmtree(install, ignore_errors=True)
        shutil.copytree(args.old_game, os.path.join(install, "game"))
        out = os.path.join(args.work, "delta-patch.out")
        trace = os.path.join(args.work, "delta-patch.strace")
        command = [args.wine_run, "--exec", args.patch_install, f"{base}/{tree}",
                   "Z:" + install.replace("/", "\\"), "--stats"]
        if traced:
            # Only the traced calls stop the process (--seccomp-bpf), so the
            # network's many small reads cost nothing extra.
            command = ["strace", "-f", "--seccomp-bpf", "-qq", "-e", "trace=read,pread64", "-e", "signal=none", "-y",
                       "-o", trace] + command
        since = line_count(args.access_log)
        with open(out, "wb") as f:
            process = subprocess.Popen(command, env=env, stdout=f, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
            if traced:
                # strace also follows the Wine services the patch started,
                # which outlive it: it is ended once the patch has printed
                # its last line (it does not end on SIGTERM while they live).
                while process.poll() is None and not finished(out):
                    time.sleep(0.2)
                time.sleep(1)
                process.kill()
            status = process.wait()
        with open(out, errors="replace") as f:
            text = f.read()
        if traced:
            status = 0 if finished(out) else 1
        stats = dict(line.split(" ", 1) for line in text.splitlines() if " " in line)
        time.sleep(0.5)  # nginx writes its log line once the answer is sent
        objects, indexes, ranges, _ = log_bytes(args.access_log, "/" + tree, since)
        result = {
            "ok": status == 0 and text.splitlines()[:1] in (["complete"], ["replaced"]),
            "seconds": float(stats.get("seconds", "nan")),
            "check": float(stats.get("check_seconds", "nan")),
            "peak": int(stats.get("peak_working_set", "0")),
            "objects": objects,
            "indexes": indexes,
            "ranges": ranges,
        }
        if traced:
            result["reads"] = old_reads(trace, installed_archive) / archive_bytes
            os.remove(trace)
        return result

    port = int(args.base.rsplit(":", 1)[1])
    variants = (("assembled", args.new), ("chunked", chunked), ("whole", whole))
    runs = {}
    for label, name in variants:
        runs[label] = patch(name, args.base, False)
        # The reads of the old archive come from a run of their own: the
        # tracing would weigh on the times.
        if has_strace:
            runs[label]["reads"] = patch(name, args.base, True)["reads"]
    relays, shaped_port = start_relays(bench, port, args.rate, args.delay_ms, args.work)
    try:
        for label, name in variants:
            runs[label]["shaped"] = patch(name, f"http://127.0.0.1:{shaped_port}", False)["seconds"]
    finally:
        for relay in relays:
            relay.kill()
            relay.wait()

    mib = 1 << 20
    print(f"launcher (patch_install under Wine), archive {archive} of {archive_bytes / mib:.0f} MiB; assembled with")
    print("the old object's own index, assembled by chunking the old file, and fetched whole (no indexes):")
    print(f"  {'':<36}" + "".join(f"{label:>14}" for label, _ in variants))

    def row(title, show):
        print(f"  {title:<36}" + "".join(f"{show(runs[label]):>14}" for label, _ in variants))

    row("finished", lambda r: "yes" if r["ok"] else "NO")
    row("bytes sent: objects (MiB)", lambda r: f"{r['objects'] / mib:.2f}")
    row("bytes sent: indexes (MiB)", lambda r: f"{r['indexes'] / mib:.2f}")
    row("range requests", lambda r: str(r["ranges"]))
    row("share of the archive sent", lambda r: f"{(r['objects'] + r['indexes']) / archive_bytes:.2%}")
    row("release check seconds (hashes A)", lambda r: f"{r['check']:.2f}")
    row("patch seconds on loopback", lambda r: f"{r['seconds']:.2f}")
    row(f"patch seconds at {args.rate / 1e6:g} MB/s, {args.delay_ms} ms", lambda r: f"{r['shaped']:.2f}")
    row("peak working set (MiB)", lambda r: f"{r['peak'] / mib:.1f}")
    if has_strace:
        row("old archive reads (check included)", lambda r: f"{r['reads']:.2f}")
    a, w = runs["assembled"], runs["whole"]
    print(f"launcher_bytes {a['objects'] + a['indexes']}")
    print(f"launcher_shaped_seconds {a['shaped']:.3f}")
    print(f"launcher_peak {a['peak']}")
    print(f"launcher_whole_peak {w['peak']}")
    print(f"launcher_whole_shaped_seconds {w['shaped']:.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
