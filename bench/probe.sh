#!/usr/bin/env bash
# What an open launcher's probe costs the release server and the player's
# machine. A release of FILES files (about 4,000: a real game's manifest of
# some 450 KB) published by the publisher and served by nginx on loopback;
# the launcher's own probe code (bench/probe_bench.exe, ProbeReleaseVersion)
# under Wine, once a second for SECONDS seconds, as the window's timer does:
#   - fresh: remembering nothing, every probe fetches the manifest and its
#     signature, verifies and parses (how every probe worked before);
#   - remembered: one memory for the run, as the window keeps it: the
#     signature alone while it is unchanged. Halfway through, a new release
#     is published into the served tree; the first probe after its
#     signature is in place must answer the new version.
# Bytes received (nginx's $bytes_sent: headers and body) and requests per
# probe come from nginx's access log. CPU time per probe (user and kernel,
# of the launcher's process and of the prefix's Wine server, which does part
# of every socket and file call) is read from Linux over BURST probes back
# to back (a tenth as many remembering nothing), minus a run of none. Then the full release check of the
# installed release, with nothing remembered and right after a probe
# through the same memory (what the window's check does after a probe saw a
# change): the manifest fetch, verification and parse it saves.
#
#   bench/probe.sh [FILES] [SECONDS] [BURST]     defaults 4000 60 2000
#
# Windows programs come from build/windows (configured and built when
# needed), or from the build folder named by STONEWAKE_WINDOWS_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-4000}
seconds=${2:-60}
bursts=${3:-2000}

source tools/common.sh
windows_build probe_bench
probe_bench=$build/bin/probe_bench.exe
release_publisher

"$wine_run" --start
# The prefix's own Wine server, whose CPU time the burst reads as well.
prefix=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["wine_prefix"])' \
  "$build/test_settings.json")
wineserver_pid=
for pid in $(pgrep '^wineserver' || true); do
  if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$prefix"; then wineserver_pid=$pid; fi
done

scratch
cleanup() {
  "$wine_run" --stop || true
  scratch_cleanup
}
trap cleanup EXIT
cd "$work"

echo "making a release of $count files..."
# Files of 100 to 4,000 bytes in 97 folders; version 1.1 changes 40 of
# them. The same plan every run.
plan=$(awk -v count="$count" 'BEGIN {
  srand(11)
  for (i = 0; i < count; i++) printf "%d data/d%02d/asset_%05d.bin\n", 100 + int(rand() * 3901), i % 97, i
}')
sed 's# # v1/game/#' <<<"$plan" | random_files . 11
cp -r v1 v2
shuf -n "$((count < 40 ? count : 40))" --random-source=<(yes) <<<"$plan" |
  awk '{print 2000, "v2/game/" $2}' | random_files . 12
"$publisher" release --game v1/game --version 1.0 --key "$key" --out root >/dev/null 2>&1
base=$(serve root nginx)
log=nginx/access.log
manifest_bytes=$(stat -c %s root/latest/manifest.txt)
signature_bytes=$(stat -c %s root/latest/manifest.sig)
mkdir -p install/game
cp -r v1/game/. install/game/
printf '1.0\r\n' >install/installed.txt

# Requests and bytes sent in the access log since it was emptied.
log_figures() { awk '{n++; b += $NF} END {printf "%d %d\n", n, b}' "$log"; }

run_probes() {  # MODE; sets requests, bytes, wall; output in MODE.out
  : >"$log"
  "$wine_run" "$probe_bench" probes "$base" "$(windows "$work/install")" "$seconds" "$1" | tr -d '\r' >"$1.out"
  read -r requests bytes < <(log_figures)
  wall=$(field wall_ms <"$1.out")
}

echo "probing once a second for $seconds s, remembering nothing..."
run_probes fresh
fresh_requests=$requests fresh_bytes=$bytes fresh_wall=$wall
fresh_manifests=$(grep -c 'GET /latest/manifest.txt' "$log" || true)

echo "probing once a second for $seconds s, remembering the release; a new one is published halfway..."
(
  sleep $((seconds / 2))
  "$publisher" release --game v2/game --version 1.1 --key "$key" --out root >/dev/null 2>&1
  date +%s.%N >published
) &
scratch_pids+=($!)
run_probes remembered
wait "${scratch_pids[-1]}" || true
# Ended and reaped: its id may be another process's by the cleanup.
unset 'scratch_pids[-1]'
remembered_manifests=$(grep -c 'GET /latest/manifest.txt' "$log" || true)
# An idle probe is one signature request: its bytes, headers included.
idle_bytes=$(awk '/GET \/latest\/manifest.sig/ {n++; b += $NF} END {printf "%.0f", b / n}' "$log")
published=$(cat published)
first_after=$(awk -v t="$published" '$1 == "probe" && $2 > t {print $3; exit}' remembered.out)
answers=$(awk '$1 == "probe" {print $3}' remembered.out | uniq -c | awk '{printf "%s x%d  ", $2, $1}')
# Figures of the unchanged release only: the probes before the publish.
idle=$(awk -v t="$published" '$1 == "probe" && $2 < t {n++} END {print n}' remembered.out)

# CPU seconds of a run of the burst: the Windows process and what it starts
# (its children's resource use once they ended), and the prefix's Wine
# server meanwhile (its /proc ticks).
server_ticks() {
  if [[ -n $wineserver_pid ]]; then awk '{sub(/.*\) /, ""); print $12 + $13}' "/proc/$wineserver_pid/stat"; else echo 0; fi
}
burst_cpu() {  # COUNT MODE; prints "process_seconds server_seconds wall_ms"
  local before after
  before=$(server_ticks)
  python3 - "$wine_run" "$probe_bench" burst "$base" "$(windows "$work/install")" "$1" "$2" <<'PY' >burst.out
import resource, subprocess, sys
out = subprocess.run(sys.argv[1:], capture_output=True, text=True).stdout.replace("\r", "")
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
wall = [line.split()[1] for line in out.splitlines() if line.startswith("wall_ms ")]
print(usage.ru_utime + usage.ru_stime, wall[0] if wall else 0)
PY
  after=$(server_ticks)
  read -r process wall <burst.out
  echo "$process $(awk -v a="$before" -v b="$after" -v hz="$(getconf CLK_TCK)" 'BEGIN {print (b - a) / hz}') $wall"
}
per_probe_cpu() {  # COUNT MODE; sets cpu_process, cpu_server (ms per probe), cpu_wall
  local p0 s0 w0 p1 s1
  read -r p0 s0 w0 < <(burst_cpu 0 "$2")
  read -r p1 s1 cpu_wall < <(burst_cpu "$1" "$2")
  cpu_process=$(awk -v a="$p0" -v b="$p1" -v n="$1" 'BEGIN {printf "%.4f", (b - a) * 1000 / n}')
  cpu_server=$(awk -v a="$s0" -v b="$s1" -v n="$1" 'BEGIN {printf "%.4f", (b - a) * 1000 / n}')
}

echo "CPU per probe: $bursts probes back to back remembering, $((bursts / 10)) remembering nothing..."
per_probe_cpu $((bursts / 10)) fresh
burst_fresh_cpu=$cpu_process burst_fresh_server=$cpu_server burst_fresh_wall=$cpu_wall
per_probe_cpu "$bursts" remembered
burst_cpu=$cpu_process burst_server=$cpu_server burst_wall=$cpu_wall

echo "checking the installed release (5 runs)..."
rm -rf install/game
cp -r v2/game install/game
printf '1.1\r\n' >install/installed.txt
check_out=$("$wine_run" "$probe_bench" check "$base" "$(windows "$work/install")" 5 | tr -d '\r')
check_fresh=$(echo "$check_out" | field check_fresh_seconds)
check_after=$(echo "$check_out" | field check_after_probe_seconds)

per() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.1f", a / b}'; }
echo
echo "version probe, once a second for $seconds s, release of $count files"
echo "  manifest $manifest_bytes bytes, signature $signature_bytes bytes"
echo "  remembering nothing:   $(per "$fresh_requests" "$seconds") requests, $(per "$fresh_bytes" "$seconds") bytes received per probe;" \
  "wall $fresh_wall ms per probe (median); $fresh_manifests manifest requests"
echo "  remembering the release (the launcher now), whole minute with one publish:"
echo "    $(per "$requests" "$seconds") requests, $(per "$bytes" "$seconds") bytes received per probe;" \
  "$remembered_manifests manifest requests in all; wall $wall ms per probe (median)"
echo "    probes of the unchanged release before the publish: $idle"
echo "  back to back, per probe: CPU of the launcher's process + of Wine's server (pid ${wineserver_pid:-not found}), wall"
echo "    remembering nothing  $burst_fresh_cpu + $burst_fresh_server ms, wall $burst_fresh_wall ms"
echo "    remembering          $burst_cpu + $burst_server ms, wall $burst_wall ms"
echo "    an idle probe (the signature request alone): $idle_bytes bytes received  (goal <= 1 KB)"
echo "  bytes per probe over the minute, remembering nothing / remembering: $(ratio "$fresh_bytes" "$bytes")"
echo "  CPU per probe, remembering nothing / remembering: process $(ratio "$burst_fresh_cpu" "$burst_cpu")," \
  "process + server $(ratio "$(sum "$burst_fresh_cpu" "$burst_fresh_server")" "$(sum "$burst_cpu" "$burst_server")")  (goal >= 100)"
echo "  answers in order: $answers"
echo "  first probe after the new signature was in place answered: $first_after  (goal: 1.1)"
echo
echo "release check of the installed release ($(echo "$check_out" | field files) files, median of 5)"
echo "  nothing remembered:         $check_fresh s"
echo "  right after a probe:        $check_after s   (the manifest is not fetched, verified or parsed again)"
