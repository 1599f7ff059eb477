#!/usr/bin/env bash
# The check at a start, with the record of verified files (verified.txt),
# as the launcher runs it (patch_install.exe --check-only: the release check
# with the record read and written again) under Wine, for two installs:
#   - 4 GiB in 8 files of 512 MiB;
#   - 100,000 files of 1 to 20 KiB, 100 to a folder.
# For each: the first check (no record: every file hashed, today's full
# check), the check of the unchanged install, the check after one file was
# rewritten through the file system (it must be hashed and found), and the
# number of starts after which a damage that put the old last-write time
# back (same size, other bytes) is found by the rolling re-hash, beside the
# bound ceil(W / 128 MiB) plus two per file larger than 128 MiB, W the
# install's bytes with each file counted as at least 64 KiB, and the mean
# and longest check of those starts. The damaged file is the last of the release in the
# rolling order, so this is the worst case. Goals: unchanged check at most
# 5 % of the first check for 4 GiB, at most 25 % for 100,000 files.
# Medians of RUNS runs, warm page cache. The installs are hard links to the
# release's objects, in /dev/shm when it has room.
#
#   bench/start.sh [RUNS]     default STONEWAKE_BENCH_RUNS or 3
#
# Windows programs come from build/windows (configured and built when
# needed), or from the build folder named by STONEWAKE_WINDOWS_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-${STONEWAKE_BENCH_RUNS:-3}}

source tools/common.sh
windows_build patch_install
patch_install=$build/bin/patch_install.exe
release_publisher

scratch
# 4 GiB of objects and the same installed through hard links, and 100,000
# small files: about 6 GiB in all.
shm_free=$(df --output=avail -B1 /dev/shm 2>/dev/null | tail -n 1 || echo 0)
if ((shm_free > 12 * 1024 * 1024 * 1024)); then
  rm -rf "$work"
  work=$(mktemp -d /dev/shm/stonewake-start.XXXXXX)
fi
cd "$work"

# make_install NAME PLAN: publishes the files of PLAN ("size path" lines) as
# release 1.0 under root/NAME and installs it in NAME/install as hard links
# to the objects.
make_install() {
  local name=$1
  random_files "$name/source/game" 11
  "$publisher" release --game "$name/source/game" --version 1.0 --key "$key" --out "root/$name" >/dev/null 2>&1
  rm -rf "$name/source"
  mkdir -p "$name/install"
  printf '1.0\r\n' >"$name/install/installed.txt"
  python3 - "root/$name" "$name/install" <<'PY'
import os, sys
root, install = sys.argv[1:]
with open(os.path.join(root, "latest", "manifest.txt")) as f:
    for line in f:
        fields = line.rstrip("\n").split(" ", 3)
        if fields[0] == "file":
            path = os.path.join(install, fields[3])
            os.makedirs(os.path.dirname(path), exist_ok=True)
            os.link(os.path.join(root, "objects", fields[1]), path)
PY
}

echo "making the installs in $work..."
awk 'BEGIN { for (i = 0; i < 8; i++) printf "%d big/f%d.pak\n", 512 * 2 ^ 20, i }' | make_install large
awk 'BEGIN { srand(3); for (i = 0; i < 100000; i++) printf "%d d%04d/f%05d.dat\n", 1024 + int(rand() * 19 * 1024), int(i / 100), i }' |
  make_install small
base=$(serve root nginx)

# check NAME [OPTIONS]: one start's check; its whole output.
check() { "$wine_run" "$patch_install" "$base/$1" "$(windows "$work/$1/install")" --check-only --stats "${@:2}" | tr -d '\r'; }

# flip NAME [keep]: flips the first byte of the release's last file in
# place; with "keep", puts its last-write time back afterwards. Prints its
# manifest path.
flip() {
  local path
  path=$(awk '$1 == "file" {p = $4} END {print p}' "root/$1/latest/manifest.txt")
  python3 - "$work/$1/install/$path" "${2:-}" <<'PY'
import os, sys
path, keep = sys.argv[1], sys.argv[2] == "keep"
before = os.stat(path)
with open(path, "r+b") as f:
    first = f.read(1)
    f.seek(0)
    f.write(bytes([first[0] ^ 1]))
if keep:
    os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns))
PY
  echo "$path"
}

report() {
  local name=$1 label=$2 first=() unchanged=() listing=() out path rewritten found starts bound
  for run in $(seq "$runs"); do
    out=$(check "$name" --verify)
    first+=("$(field check_seconds <<<"$out")")
    out=$(check "$name")
    unchanged+=("$(field check_seconds <<<"$out")")
    listing+=("$(field listing_seconds <<<"$out")")
  done
  local hashed_unchanged
  hashed_unchanged="$(field hashed_files <<<"$out") files, $(($(field hashed_bytes <<<"$out") / 1048576)) MiB"

  path=$(flip "$name")
  out=$(check "$name")
  rewritten=$(field check_seconds <<<"$out")
  grep -qxF "fetch $path" <<<"$out" && found=found || found="NOT FOUND"
  flip "$name" >/dev/null
  # A file written in the last 2 s is not recorded (kUnsettledWrite).
  sleep 2
  check "$name" --verify >/dev/null

  # Every file verified by the same check: the rolling order is the
  # release's order, and the damaged file comes last.
  flip "$name" keep >/dev/null
  starts=0
  local each=()
  while ((starts < 400)); do
    starts=$((starts + 1))
    out=$(check "$name")
    each+=("$(field check_seconds <<<"$out")")
    grep -qxF "fetch $path" <<<"$out" && break
  done
  flip "$name" keep >/dev/null
  bound=$(awk -v root="root/$name/latest/manifest.txt" 'BEGIN {
    b = 128 * 2 ^ 20
    while ((getline line < root) > 0) {
      split(line, f, " ")
      if (f[1] == "file") { w += (f[3] > 65536 ? f[3] : 65536); if (f[3] > b) large++ }
    }
    n = int(w / b); if (n * b < w) n++; print n + 2 * large }')

  local f u
  f=$(m "${first[@]}")
  u=$(m "${unchanged[@]}")
  echo
  echo "$label: medians of $runs runs under Wine, warm cache"
  printf '  first check, no record (every file hashed)       %8.3f s\n' "$f"
  printf '  unchanged install                                 %8.3f s   (%s hashed again; folder listings %.3f s)\n' \
    "$u" "$hashed_unchanged" "$(m "${listing[@]}")"
  printf '  one file rewritten through the file system        %8.3f s   (%s)\n' "$rewritten" "$found"
  echo "  unchanged / first:  $(ratio "$u" "$f")   (goal <= $3)"
  echo "  a damage with its old time put back found after $starts starts   (bound $bound)"
  printf '  those starts: mean %.3f s, longest %.3f s; mean / first: %s\n' \
    "$(printf '%s\n' "${each[@]}" | awk '{s += $1} END {print s / NR}')" \
    "$(printf '%s\n' "${each[@]}" | sort -n | tail -n 1)" \
    "$(ratio "$(printf '%s\n' "${each[@]}" | awk '{s += $1} END {print s / NR}')" "$f")"
}

report large "4 GiB in 8 files" 0.05
report small "100,000 files of 1 to 20 KiB, 1,000 folders" 0.25
