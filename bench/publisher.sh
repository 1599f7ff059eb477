#!/usr/bin/env bash
# Publishing and verifying a large release: times `publisher release` into a
# new tree, again into the same tree (every object already there), and
# `publisher verify`, beside what the same files cost sha256sum and cp
# followed by sync (the publisher flushes what it writes).
# Medians of RUNS runs, warm page cache, pending writes flushed before each.
# Uses the optimised publisher without sanitizers that docs/publishing.md builds
# (the publisher preset, build/publisher).
#
#   bench/publisher.sh [FILES] [KIB_PER_FILE] [RUNS]     defaults 10000 8 3
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-10000}
kib=${2:-8}
runs=${3:-3}

source tools/common.sh
release_publisher

scratch
cd "$work"

# Short paths on purpose: the launcher fetches at most 1 MiB of manifest,
# about 105 bytes per file line at 10,000 files.
echo "making $files files of $kib KiB..."
for ((i = 0; i < files; i++)); do
  printf '%d game/d%03d/f%05d\n' $((kib * 1024)) $((i / 100)) "$i"
done | random_files .
printf 'MZ' >>game/d000/f00000
"$publisher" keygen --out key.pem --public-out key.hex >/dev/null 2>&1

# median_seconds NAME SETUP COMMAND: median seconds of COMMAND over the runs, SETUP
# run untimed before each.
median_seconds() {
  local name=$1 setup=$2 command=$3 times=()
  for _ in $(seq "$runs"); do
    eval "$setup"
    sync  # start each run without the previous run's writes pending
    local start
    start=$(now)
    eval "$command" >/dev/null 2>&1
    times+=("$(since "$start")")
  done
  last=$(m "${times[@]}")
  printf '%-40s %8.3f s\n' "$name" "$last"
}

release="$publisher release --game game --version 1.0 --key key.pem --out tree"
median_seconds "release into a new tree" "rm -rf tree" "$release"
fresh=$last
median_seconds "release again (all objects kept)" ":" "$release"
again=$last
median_seconds "verify" ":" "$publisher verify --tree tree --public-key-file key.hex"
verify=$last
median_seconds "anchor: sha256sum of every file" ":" "find game -type f -print0 | xargs -0 sha256sum"
sha=$last
median_seconds "anchor: cp -r of the game folder, sync" "rm -rf copy" "cp -r game copy && sync"
copy=$last

echo
printf 'files %d, %d KiB each (%d MiB), manifest %d bytes, signature %d bytes\n' "$files" "$kib" \
  $((files * kib / 1024)) "$(stat -c %s tree/latest/manifest.txt)" "$(stat -c %s tree/latest/manifest.sig)"
echo "release (new) / (sha256sum + cp, sync): $(ratio "$fresh" "$(awk -v a="$sha" -v b="$copy" 'BEGIN {print a + b}')")"
echo "release (again) / sha256sum:              $(ratio "$again" "$sha")"
echo "verify / sha256sum:                       $(ratio "$verify" "$sha")"
