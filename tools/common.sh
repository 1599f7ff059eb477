# The helpers of this project's shell scripts (benchmarks, end-to-end and
# engine tests, the demo, docs), defined once. Source it from a script:
#
#   source "$(dirname "${BASH_SOURCE[0]}")/../tools/common.sh"
#
# It sets `stonewake_source` (the source folder) and defines:
#
#   windows PATH              PATH as Windows programs under Wine see it
#                             (the Linux root is drive Z:)
#   scratch                   a temporary folder in `work`, removed when the
#                             script ends, after the processes whose ids are
#                             in `scratch_pids` and a release server serving
#                             from $work/nginx are stopped
#   port_answers PORT         true when something listens on 127.0.0.1:PORT
#   serve ROOT STATE [PORT]   nginx serving ROOT on loopback (tools/nginx/
#                             serve.sh); prints the base URL
#   stop_serving STATE        stops it (safe when it never started)
#   random_files ROOT [SEED]  writes the files named on standard input, one
#                             "SIZE PATH" line each (PATH relative to ROOT,
#                             spaces allowed), filled with random bytes;
#                             with SEED the same bytes every time
#   fail MESSAGE...           counts a failed check and prints it
#   contains FILE TEXT        fails unless FILE holds TEXT
#   finish NAME               exits 1 when a check failed, else says so
#   host_publisher PUBLISHER  makes sure PUBLISHER exists: the host preset's
#                             publisher is built when it is that one (the
#                             CTest fixture host_publisher runs this once)
#   windows_build TARGET...   the Windows build (build/windows, or the folder
#                             in STONEWAKE_WINDOWS_BUILD), configured when
#                             needed, TARGET... built; sets `build`, `wine_run`
#   release_publisher         the optimised publisher of the `publisher`
#                             preset, built; sets `publisher` and `key` (the
#                             committed test-only key)
#
# and the small tools of benchmark figures: now (seconds since the epoch),
# since START (seconds from START to now), median (of numbers on standard
# input), m NUMBER... (their median), ratio A B (A / B, two decimals),
# field KEY (the value after KEY in a program's "key value" lines),
# fresh FOLDER (emptied, pending writes flushed), sum A B (A + B),
# mib BYTES [WIDTH] ("12.3 MiB", the number right-aligned in WIDTH),
# rate BYTES SECONDS ("  123.4 MiB/s  (1.234 s)"), measure COMMAND...
# ("seconds peak_kib" of a Linux command, its output dropped),
# launcher_run URL FOLDER (patch_install.exe of `build` applying the release
# at URL to FOLDER: "check_seconds apply_seconds peak_bytes", or the script
# ends), curl_fetch URL DIGESTS FOLDER [PARALLEL] (curl fetching each object
# into FOLDER, PARALLEL transfers side by side or one connection, then
# sha256sum of them all: the seconds).

stonewake_source=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

windows() { echo "Z:${1//\//\\}"; }

scratch_pids=()
scratch() {
  work=$(mktemp -d)
  trap scratch_cleanup EXIT
}
scratch_cleanup() {
  local pid
  for pid in "${scratch_pids[@]}"; do kill -9 "$pid" 2>/dev/null || true; done
  stop_serving "$work/nginx" >/dev/null 2>&1
  rm -rf "$work"
}

port_answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

serve() { "$stonewake_source/tools/nginx/serve.sh" start "$@"; }
stop_serving() { "$stonewake_source/tools/nginx/serve.sh" stop "$1" || true; }

random_files() {
  python3 -c '
import os, random, sys
root = sys.argv[1]
rng = random.Random(int(sys.argv[2])) if len(sys.argv) > 2 else None
for line in sys.stdin:
    if not line.strip():
        continue
    size, path = line.rstrip("\n").split(" ", 1)
    path = os.path.join(root, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        left = int(size)
        while left:
            n = min(left, 1 << 20)
            f.write(rng.randbytes(n) if rng else os.urandom(n))
            left -= n
' "$@"
}

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
contains() { grep -qF -- "$2" "$1" || fail "$1 lacks \"$2\": $(cat "$1")"; }
finish() {
  if ((failures)); then
    echo "$1: $failures failures"
    exit 1
  fi
  echo "$1: all checks passed"
}

host_publisher() {
  if [[ $1 == "$stonewake_source/build/host/bin/publisher" ]]; then
    (cd "$stonewake_source" && cmake --preset host >/dev/null && cmake --build --preset host --target publisher)
  else
    [[ -x $1 ]] || { echo "$1 is not a program" >&2; return 1; }
  fi
}

windows_build() {
  build=${STONEWAKE_WINDOWS_BUILD:-build/windows}
  build=$(cd "$stonewake_source" && cd "$build" 2>/dev/null && pwd || echo "$stonewake_source/$build")
  if [[ ! -f $build/build.ninja ]]; then
    (cd "$stonewake_source" && cmake --preset windows -B "$build" >/dev/null)
  fi
  cmake --build "$build" --target "$@" >/dev/null
  wine_run=$build/wine-run
}

release_publisher() {
  (cd "$stonewake_source" && cmake --preset publisher >/dev/null && cmake --build --preset publisher >/dev/null)
  publisher=$stonewake_source/build/publisher/bin/publisher
  key=$stonewake_source/test_support/keys/test-only-release-key.pem
}

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN {print b - a}'; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
m() { printf '%s\n' "$@" | median; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
field() { tr -d '\r' | awk -v k="$1" '$1 == k {print $2}'; }
fresh() {
  rm -rf "$1"
  mkdir -p "$1"
  sync
}
sum() { awk -v a="$1" -v b="$2" 'BEGIN {print a + b}'; }
mib() { awk -v b="$1" -v w="${2:-0}" 'BEGIN {printf "%" w ".1f MiB", b / 1048576}'; }
rate() { awk -v b="$1" -v s="$2" 'BEGIN {printf "%7.1f MiB/s  (%.3f s)", b / 1048576 / s, s}'; }
measure() {
  /usr/bin/time -f '%e %M' -o "$work/measure.time" "$@" >/dev/null 2>&1 ||
    { echo "failed: $*" >&2; cat "$work/measure.time" >&2; exit 1; }
  cat "$work/measure.time"
}
launcher_run() {
  local out
  out=$("$wine_run" "$build/bin/patch_install.exe" "$1" "$(windows "$2")" --stats | tr -d '\r')
  [[ $(echo "$out" | head -1) == complete ]] || { echo "patch failed: $out" >&2; exit 1; }
  echo "$(echo "$out" | field check_seconds) $(echo "$out" | field seconds) $(echo "$out" | field peak_working_set)"
}
curl_fetch() {
  local url=$1 digests=$2 folder=$3 parallel=${4:-} start d
  fresh "$folder"
  for d in $digests; do printf 'url = "%s/objects/%s"\noutput = "%s/%s"\n' "$url" "$d" "$folder" "$d"; done >"$work/curl.cfg"
  start=$(now)
  if [[ -n $parallel ]]; then
    curl -s --no-progress-meter --fail --parallel --parallel-max "$parallel" -K "$work/curl.cfg"
  else
    curl -s --fail -K "$work/curl.cfg"
  fi
  find "$folder" -type f -print0 | xargs -0 sha256sum >/dev/null
  since "$start"
}
