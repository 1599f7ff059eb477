#!/usr/bin/env bash
# Interrupted downloads: bytes served over release bytes when a patch is
# killed part-way and started again until it finishes, and when the server
# drops every connection after 64 MiB.
#
# Two releases published with the publisher and served by nginx on loopback
# (its access log gives the bytes sent): one file of MIB mebibytes, and 300
# files of about MIB mebibytes in all. patch_install.exe (the launcher's own
# release check and ApplyRelease) runs under Wine into an empty install
# folder and is killed (SIGKILL) once the install holds about 25, 50 or 90 %
# of the release, then run again to its end. "after" is the launcher as
# built; "before" is the same run with every .partial file and partials.txt
# removed before the restart, which is what a launcher without resume did
# (it started every unfinished file again from its first byte).
#
# Then a relay in front of nginx that drops each connection after 64 MiB
# sent: the patch is started again after each failure, at most 40 times.
#
# Last, the size below which a download is fetched whole: over a link of
# 50 ms round trip at about 25 Mbit/s (bench/latency_proxy.py and a pacing
# relay), the time of one more request (a 1-byte object) against the time
# the bytes of a kept .partial take to come again.
#
#   bench/resume.sh [MIB]     default 1024
#
# Reports, never fails.
set -uo pipefail
cd "$(dirname "$0")/.."
mib=${1:-1024}

source tools/common.sh
windows_build patch_install
patch_install=$build/bin/patch_install.exe
release_publisher

scratch
# One lasting wineserver: the drop runs start the patch dozens of times. It
# goes at exit with the scratch folder, nginx and the relays.
"$wine_run" --start >/dev/null 2>&1
trap '"$wine_run" --stop >/dev/null 2>&1; scratch_cleanup' EXIT
cd "$work"

echo "making two releases of $mib MiB..."
# One file of MIB MiB; 300 files of sizes drawn the same every run, scaled
# to MIB MiB in all; the small objects of the last measure.
python3 - "$mib" <<'PY' | random_files .
import random, sys
mib = int(sys.argv[1])
rng = random.Random(5)
total = mib << 20
print(total, "one/game/data/world.pak")
sizes = [rng.randint(1, 2 * total // 300) for _ in range(300)]
scale = total / sum(sizes)
for i, size in enumerate(sizes):
    print(max(1, int(size * scale)), f"many/game/data/part{i:03}.pak")
for size in (1, 65536, 131072, 262144, 524288, 1048576):
    print(size, f"tiny/game/s{size}.dat")
PY
for name in one many tiny; do
  "$publisher" release --game "$name/game" --version 1.0 --key "$key" --out "root/$name" >/dev/null 2>&1
done
base=$(serve root nginx)

python3 - "$wine_run" "$patch_install" "$base" "$work" "$stonewake_source/bench" <<'PY'
import os, re, subprocess, sys, time

wine_run, patch_install, base, work, bench = sys.argv[1:6]
sys.path.insert(0, bench)
from shaping_relay import ShapingRelay
# A console program: without a display Wine starts no X11 driver.
env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
install = os.path.join(work, "install")
access_log = os.path.join(work, "nginx", "access.log")


def served():
    total = 0
    with open(access_log, errors="replace") as f:
        for line in f:
            m = re.search(r'"[A-Z]+ (\S+) [^"]*" \d{3} (\d+)', line)
            if m and "/objects/" in m.group(1):
                total += int(m.group(2))
    return total


def on_disk():
    total = 0
    for folder, _, files in os.walk(install):
        for name in files:
            try:
                total += os.path.getsize(os.path.join(folder, name))
            except OSError:
                pass
    return total


def start(url):
    # wine-run --exec becomes wine, which execs its loader, so SIGKILL ends
    # the Windows program itself. The output goes to a file: Wine's services
    # may inherit the handle, and a pipe would stay open with them.
    out = open(os.path.join(work, "patch.out"), "w+b")
    process = subprocess.Popen([wine_run, "--exec", patch_install, url, "Z:" + install.replace("/", "\\")], env=env,
                               stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    process.output = out
    return process


def finished(process):
    process.wait()
    process.output.seek(0)
    out = process.output.read().decode(errors="replace").strip()
    process.output.close()
    return process.returncode == 0 and out in ("complete", "replaced")


def forget_partials():
    for folder, _, files in os.walk(install):
        for name in files:
            if name.endswith(".partial") or name == "partials.txt":
                os.remove(os.path.join(folder, name))


def release_bytes(name):
    total = 0
    for line in open(os.path.join(work, "root", name, "latest", "manifest.txt")):
        if line.startswith("file "):
            total += int(line.split(" ", 3)[2])
    return total


def cut(name, fraction, before):
    subprocess.run(["rm", "-rf", install])
    os.makedirs(install)
    size = release_bytes(name)
    start_bytes = served()
    process = start(f"{base}/{name}")
    while process.poll() is None and on_disk() < fraction * size:
        time.sleep(0.02)
    process.kill()
    process.wait()
    process.output.close()
    if before:
        forget_partials()
    if not finished(start(f"{base}/{name}")):
        return None
    return (served() - start_bytes) / size


print()
print(f"bytes served / release bytes, killed at about the share shown, then run to the end")
print(f"  {'release':<22}{'cut':>6}{'before':>10}{'after':>10}   (goal after <= 1.02)")
for name, label in (("one", "one file"), ("many", "300 files")):
    for fraction in (0.25, 0.50, 0.90):
        figures = [cut(name, fraction, before) for before in (True, False)]
        shown = ["failed" if f is None else f"{f:.3f}" for f in figures]
        print(f"  {label:<22}{int(fraction * 100):>5}%{shown[0]:>10}{shown[1]:>10}", flush=True)


relay = ShapingRelay(int(base.rsplit(":", 1)[1]), drop_after=64 << 20)
print()
print("a server that drops every connection after 64 MiB: attempts until the patch finished (at most 40)")
print(f"  {'release':<22}{'before':>22}{'after':>22}")
for name, label in (("one", "one file"), ("many", "300 files")):
    shown = []
    for before in (True, False):
        subprocess.run(["rm", "-rf", install])
        os.makedirs(install)
        relay.sent = 0
        attempts, done = 0, False
        while attempts < 40 and not done:
            attempts += 1
            done = finished(start(f"http://127.0.0.1:{relay.port}/{name}"))
            if not done and before:
                forget_partials()
        ratio = relay.sent / release_bytes(name)
        shown.append(f"{attempts} ({ratio:.2f}x)" if done else f"unfinished ({ratio:.2f}x)")
    print(f"  {label:<22}{shown[0]:>22}{shown[1]:>22}", flush=True)
PY

echo
echo "the size below which a download is fetched whole: 50 ms round trip, 3 MB/s (about 25 Mbit/s)"
# nginx's limit_rate lets an object that fits the loopback socket buffer
# through at once, so a relay paces the answers instead.
python3 "$stonewake_source/bench/shaping_relay.py" "${base##*:}" "$work/pace.state" --rate 3000000 &
scratch_pids+=($!)
disown $!  # its end by the clean-up is no news
for _ in $(seq 100); do [[ -s $work/pace.state ]] && break; sleep 0.05; done
python3 "$stonewake_source/bench/latency_proxy.py" "$(cat "$work/pace.state")" 50 "$work/proxy.state" &
scratch_pids+=($!)
disown $!
for _ in $(seq 100); do [[ -s $work/proxy.state ]] && break; sleep 0.05; done
proxy_port=$(awk '{print $1}' "$work/proxy.state")
digest_of() { awk -v p="game/$1" '$1 == "file" && $4 == p {print $2}' root/tiny/latest/manifest.txt; }
fetch_s() {  # median seconds of 5 fetches of object $1
  for _ in 1 2 3 4 5; do
    curl -s -o /dev/null -w '%{time_total}\n' "http://127.0.0.1:$proxy_port/tiny/objects/$1"
  done | median
}
request=$(fetch_s "$(digest_of s1.dat)")
printf '  one more request (a 1-byte object): %.3f s\n' "$request"
for size in 65536 131072 262144 524288 1048576; do
  whole=$(fetch_s "$(digest_of "s$size.dat")")
  bytes_s=$(awk -v w="$whole" -v r="$request" 'BEGIN {printf "%.3f", w - r}')
  printf '  %7d bytes again: %.3f s, %s x one more request\n' "$size" "$bytes_s" "$(ratio "$bytes_s" "$request")"
done
