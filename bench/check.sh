#!/usr/bin/env bash
# Release check and version probe.
#
# Check: an install of about 1 GiB in 1,000 files (all present and matching
# a release that lists them) checked by the launcher's CheckRelease under
# Wine, beside a bare loop in the same program that only reads and hashes
# the same files with CNG the same way, and beside sha256sum over the same
# files. Goal: check <= 1.10 x the bare loop.
# Probe: ProbeReleaseVersion for an install of 1 file and of 10,000 files.
# The probe reads no game file, but the manifest it fetches, verifies and
# parses grows with the file count; a third figure probes the 10,000-file
# release against an install folder without any of its files, which shows
# that the files on disk cost nothing.
# Medians of RUNS runs, warm page cache. The files are made once and kept
# in the build folder (bench/check-data).
#
#   bench/check.sh [RUNS]     default STONEWAKE_BENCH_RUNS or 5
#
# Windows programs come from build/windows (configured and built when
# needed), or from the build folder named by STONEWAKE_WINDOWS_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-${STONEWAKE_BENCH_RUNS:-5}}

source tools/common.sh
windows_build check_bench
bench=$build/bin/check_bench.exe
data=$build/bench/check-data

if [[ ! -f $data/.ready ]]; then
  echo "making the benchmark installs in $data..."
  rm -rf "$data"
  # 1 GiB in 1,000 files of 0.5 to 1.5 MiB, ten folders; 1 file and 10,000
  # files of 1 KiB for the probe.
  {
    awk 'BEGIN {
      srand(1); total = 2 ^ 30; count = 1000
      for (i = 0; i < count; i++) { w[i] = 0.5 + rand(); sum += w[i] }
      for (i = 0; i < count; i++) {
        size = (i < count - 1) ? int(total * w[i] / sum) : total - given
        given += size
        printf "%d check/game/d%02d/f%04d.pak\n", size, int(i / 100), i
      }
      print "1024 probe-1/game/f0000.bin"
      for (i = 0; i < 10000; i++) printf "1024 probe-10000/game/d%02d/f%04d.bin\n", int(i / 100), i
    }'
  } | random_files "$data"
  touch "$data/.ready"
fi

echo "checking ($runs runs)..."
out=$("$wine_run" "$bench" check "$(windows "$data/check")" "$runs")
check=$(echo "$out" | field check_seconds)
loop=$(echo "$out" | field loop_seconds)
files=$(echo "$out" | field files)
bytes=$(echo "$out" | field bytes)
[[ -n $check && -n $loop ]] || { echo "check benchmark failed: $out"; exit 1; }

sums=()
for run in $(seq "$runs"); do
  start=$(now)
  (cd "$data/check" && find game -type f -print0 | sort -z | xargs -0 sha256sum >/dev/null)
  sums+=("$(since "$start")")
done
sum=$(m "${sums[@]}")

echo "probing ($((runs * 5)) probes per install)..."
out1=$("$wine_run" "$bench" probe "$(windows "$data/probe-1")" $((runs * 5)))
out10k=$("$wine_run" "$bench" probe "$(windows "$data/probe-10000")" $((runs * 5)))
mkdir -p "$data/probe-empty"
out10ke=$("$wine_run" "$bench" probe "$(windows "$data/probe-10000")" $((runs * 5)) "$(windows "$data/probe-empty")")
probe1=$(echo "$out1" | field probe_seconds)
probe10k=$(echo "$out10k" | field probe_seconds)
probe10ke=$(echo "$out10ke" | field probe_seconds)
[[ -n $probe1 && -n $probe10k && -n $probe10ke ]] || { echo "probe benchmark failed: $out1 $out10k $out10ke"; exit 1; }

ms() { awk -v s="$1" 'BEGIN {printf "%7.2f ms", s * 1000}'; }

echo
echo "release check: $((bytes / 1048576)) MiB in $files files, all matching, warm cache, median of $runs runs"
echo "  launcher check (CheckRelease: manifest, signature, stat and hash each file)  $(rate "$bytes" "$check")"
echo "  anchor: bare loop reading and hashing the same files with CNG             $(rate "$bytes" "$loop")"
echo "  anchor: sha256sum over the same files (Linux, outside Wine)                $(rate "$bytes" "$sum")"
echo "  check / bare loop:  $(ratio "$check" "$loop")   (goal <= 1.10)"
echo "  check / sha256sum:  $(ratio "$check" "$sum")"
echo "  $(echo "$out" | tr -d '\r' | grep '^rounds')"
echo
echo "version probe: median of $((runs * 5)) probes"
echo "  install of 1 file       $(ms "$probe1")   manifest $(echo "$out1" | field manifest_bytes) bytes"
echo "  install of 10,000 files $(ms "$probe10k")   manifest $(echo "$out10k" | field manifest_bytes) bytes"
echo "  same release, none of its files on disk  $(ms "$probe10ke")"
echo "  10,000 files / 1 file:             $(ratio "$probe10k" "$probe1")   (the manifest's size)"
echo "  10,000 files / none of them there: $(ratio "$probe10k" "$probe10ke")   (the files on disk; goal: same within noise)"
