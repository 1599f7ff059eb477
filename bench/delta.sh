#!/usr/bin/env bash
# Delta transfer of a large archive: what a patch of one changed archive
# costs with chunk indexes, beside the general tools that do the same job.
#
# A (MIB MiB of random bytes, a packed and compressed archive) and its next
# build B, about 1% changed in 12 places: 6 blocks replaced, 3 runs of bytes
# inserted and 3 removed, the first edits in the first MiBs so that
# everything after them shifts. Both are published with the publisher
# (build/publisher) and served by nginx on loopback, whose access log gives
# the bytes sent ($bytes_sent, headers included). Figures:
#
#   - publishing B into a fresh tree with its index, against the publisher
#     of the commit before chunk indexes (built from `git archive`): medians
#     of RUNS alternating runs;
#   - the chunk sizes table of bench/chunk_sizes (the rule's average chosen
#     from it) and the bytes a patch would fetch with the publisher's rule:
#     the new chunks not found in A plus the index;
#   - rsync --no-whole-file --stats (local, its literal data and the bytes
#     both ways), zsync with its control file (zsyncmake) and casync with a
#     chunk store and --seed, the last two over HTTP from the same nginx;
#   - over a shaped link (20 MB/s, 50 ms round trip: bench/shaping_relay.py
#     behind bench/latency_proxy.py) the time of zsync, casync and of
#     fetching B whole with curl;
#   - the launcher's patch of A to B under Wine: see the hook below.
#
#   bench/delta.sh [MIB] [RUNS]      defaults 1024 3
#
# rsync, zsync and casync are installed with apt-get when missing. Reports,
# never fails.
set -uo pipefail
cd "$(dirname "$0")/.."
mib=${1:-1024}
runs=${2:-3}

source tools/common.sh
release_publisher
chunk_sizes=$stonewake_source/build/publisher/bin/chunk_sizes

missing=()
for tool in rsync zsync casync; do command -v "$tool" >/dev/null || missing+=("$tool"); done
if ((${#missing[@]})); then
  echo "installing ${missing[*]}..."
  if [[ $(id -u) -ne 0 ]]; then sudo=sudo; else sudo=; fi
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

scratch
cd "$work"
mkdir -p a b root/peers

echo "making A ($mib MiB) and B..."
python3 - "$mib" a/world.pak b/world.pak <<'PY'
import random, sys
mib, a_path, b_path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
size = mib << 20
rng = random.Random(11)
with open(a_path, "wb") as f:
    left = size
    while left:
        n = min(left, 1 << 24)
        f.write(rng.randbytes(n))
        left -= n
# (offset in A, bytes of A dropped, bytes of new content put there), scaled
# to the archive: 1% of 1 GiB is 10.7 MB.
k = size / (1 << 30)
M = 1 << 20
edits = [
    (1 * M, 0, 700_000),          # inserted early: everything after shifts
    (2 * M + 300_000, 300_000, 0),  # removed early
    (5 * M, 0, 700_000),
    (50 * M, 1_200_000, 1_200_000),  # blocks replaced
    (120 * M, 0, 700_000),
    (200 * M, 500_000, 0),
    (310 * M, 1_200_000, 1_200_000),
    (480 * M, 1_200_000, 1_200_000),
    (600 * M, 1_200_000, 1_200_000),
    (777 * M, 1_200_000, 1_200_000),
    (900 * M, 1_200_000, 1_200_000),
    (1000 * M, 400_000, 0),
]
edits = [(int(at * k), int(drop * k), int(put * k)) for at, drop, put in edits]
with open(a_path, "rb") as a, open(b_path, "wb") as b:
    pos = 0
    for at, drop, put in edits:
        while pos < at:
            data = a.read(min(1 << 24, at - pos))
            b.write(data)
            pos += len(data)
        b.write(rng.randbytes(put))
        a.seek(drop, 1)
        pos += drop
    while data := a.read(1 << 24):
        b.write(data)
changed = sum(put for _, _, put in edits)
print(f"edits: {len(edits)}, new bytes {changed}, removed bytes {sum(d for _, d, _ in edits)}")
PY
a_bytes=$(stat -c %s a/world.pak)
b_bytes=$(stat -c %s b/world.pak)

# Publishing with indexes against publishing before them: the publisher of
# the commit before chunk indexes came, built beside from `git archive`
# (ccache when present), runs alternate with this one, each into a fresh
# tree.
b_digest=$(sha256sum b/world.pak | cut -c1-64)
first=$(git -C "$stonewake_source" log --diff-filter=A --format=%H -- core/chunk_index.h | tail -1)
base_publisher=""
if [[ -n $first ]]; then
  echo "building the publisher of ${first:0:7}^ (before chunk indexes)..."
  mkdir -p base
  if git -C "$stonewake_source" archive "$first^" | tar -x -C base &&
    (cd base && export CMAKE_CXX_COMPILER_LAUNCHER=$(command -v ccache || true) &&
      cmake --preset publisher >/dev/null 2>&1 && cmake --build --preset publisher >/dev/null 2>&1); then
    base_publisher=$work/base/build/publisher/bin/publisher
  fi
fi
publish_b() {  # PUBLISHER TREE
  "$1" release --game b --version 1.1 --key "$key" --out "$2" >/dev/null 2>&1
}
with=() without=()
for _ in $(seq "$runs"); do
  rm -rf t && sync
  start=$(now)
  publish_b "$publisher" t
  with+=("$(since "$start")")
  if [[ -n $base_publisher ]]; then
    rm -rf t && sync
    start=$(now)
    publish_b "$base_publisher" t
    without+=("$(since "$start")")
  fi
done
publish_with=$(m "${with[@]}")
publish_without=$([[ -n $base_publisher ]] && m "${without[@]}" || echo 0)
rm -rf t base

# The release tree players' launchers see: A, then B published over it.
"$publisher" release --game a --version 1.0 --key "$key" --out root/tree >/dev/null 2>&1
cp -rl root/tree tree-a  # what an install of A fetched from
"$publisher" release --game b --version 1.1 --key "$key" --out root/tree >/dev/null 2>&1
index_bytes=$(stat -c %s "root/tree/objects/$b_digest.chunks")

echo "chunk sizes (min = avg / 2, max = 4 avg), A to B:"
"$chunk_sizes" a/world.pak b/world.pak | tee chunk_sizes.out
rule_new=$(field rule_new_bytes <chunk_sizes.out)
ideal=$((rule_new + index_bytes))

base=$(serve root nginx)
log=$work/nginx/access.log
# Bytes nginx sent (headers and body) for requests whose path holds $1,
# since the log was emptied.
sent() { awk -v p="$1" 'index($7, p) {b += $NF} END {printf "%.0f", b}' "$log"; }
requests() { awk -v p="$1" 'index($7, p) {n++} END {printf "%d", n}' "$log"; }

# rsync: local, delta algorithm forced; "literal data" is what the sender
# had to send as bytes, "total bytes sent/received" adds its tokens and the
# receiver's block sums.
mkdir -p r && cp a/world.pak r/world.pak
rsync --no-whole-file --stats b/world.pak r/world.pak >rsync.out 2>&1
rsync_literal=$(awk -F': ' '/Literal data/ {gsub(/[^0-9]/, "", $2); print $2}' rsync.out)
rsync_sent=$(awk -F': ' '/Total bytes sent/ {gsub(/[^0-9]/, "", $2); print $2}' rsync.out)
rsync_received=$(awk -F': ' '/Total bytes received/ {gsub(/[^0-9]/, "", $2); print $2}' rsync.out)
cmp -s r/world.pak b/world.pak || echo "rsync: the result differs from B"
rm -rf r

# zsync: the control file beside B, then ranges of B.
ln b/world.pak root/peers/world.pak
(cd root/peers && zsyncmake -u world.pak -o world.pak.zsync world.pak >/dev/null 2>&1)
: >"$log"
zsync -q -i a/world.pak -o z.pak "$base/peers/world.pak.zsync" >zsync.out 2>&1
zsync_bytes=$(sent /peers/world.pak)
zsync_requests=$(requests /peers/world.pak)
cmp -s z.pak b/world.pak || echo "zsync: the result differs from B"
rm -f z.pak

# casync: B's chunks in a store served by nginx, its index, A as the seed.
casync make --store=root/peers/store root/peers/world.caibx b/world.pak >/dev/null 2>&1
: >"$log"
casync extract --store="$base/peers/store/" --seed=a/world.pak "$base/peers/world.caibx" c.pak >casync.out 2>&1
casync_bytes=$(sent /peers/)
casync_requests=$(requests /peers/)
cmp -s c.pak b/world.pak || echo "casync: the result differs from B"
rm -f c.pak

least=$(printf '%s\n' "$rsync_literal" "$zsync_bytes" "$casync_bytes" | sort -n | head -1)

# --- The launcher's patch of A to B under Wine -------------------------------
# An install holding A patched to B from root/tree by patch_install.exe (the
# launcher's own check and ApplyRelease), on loopback and over the shaped
# link: assembled with A's own index, assembled by chunking A, and with no
# index at all (the archive fetched whole, as before indexes). The seconds
# are ApplyRelease's, after the release check that hashes A at every start.
windows_build patch_install
"$wine_run" --start >/dev/null 2>&1
python3 "$stonewake_source/bench/delta_launcher.py" --wine-run "$wine_run" \
  --patch-install "$build/bin/patch_install.exe" --base "$base" --root "$work/root" --new tree \
  --old-game "$work/a" --access-log "$log" --work "$work" --rate 20000000 --delay-ms 50 | tee launcher.out
"$wine_run" --stop >/dev/null 2>&1
launcher_bytes=$(field launcher_bytes <launcher.out)
launcher_seconds=$(field launcher_shaped_seconds <launcher.out)
peak=$(field launcher_peak <launcher.out)
whole_peak=$(field launcher_whole_peak <launcher.out)
launcher_peak=""
if [[ -n $peak && -n $whole_peak ]]; then
  launcher_peak=$(awk -v a="$peak" -v w="$whole_peak" \
    'BEGIN {printf "%.1f MiB, %+.1f MiB beside %.1f MiB fetching B whole (goal <= +32)", a / 1048576, (a - w) / 1048576, w / 1048576}')
fi
# -----------------------------------------------------------------------------

# The shaped link: nginx <- 20 MB/s pacing <- 50 ms round trip <- client.
python3 "$stonewake_source/bench/shaping_relay.py" "${base##*:}" pace.state --rate 20000000 &
scratch_pids+=($!)
for _ in $(seq 50); do [[ -s pace.state ]] && break; sleep 0.1; done
python3 "$stonewake_source/bench/latency_proxy.py" "$(cat pace.state)" 50 latency.state &
scratch_pids+=($!)
for _ in $(seq 50); do [[ -s latency.state ]] && break; sleep 0.1; done
shaped="http://127.0.0.1:$(cut -d' ' -f1 latency.state)"

timed() {  # prints the seconds COMMAND... took
  local start
  start=$(now)
  "$@" >/dev/null 2>&1
  since "$start"
}
rm -f z2.pak c2.pak w.pak
zsync_seconds=$(timed zsync -q -i a/world.pak -o z2.pak "$shaped/peers/world.pak.zsync")
rm -f z2.pak
casync_seconds=$(timed casync extract --store="$shaped/peers/store/" --seed=a/world.pak "$shaped/peers/world.caibx" c2.pak)
rm -f c2.pak
whole_seconds=$(timed curl -sf -o w.pak "$shaped/tree/objects/$b_digest")
rm -f w.pak
fastest=$(printf '%s\n' "$zsync_seconds" "$casync_seconds" | sort -n | head -1)

echo
printf 'A %d bytes, B %d bytes; B index %d bytes (%s)\n' "$a_bytes" "$b_bytes" "$index_bytes" \
  "$(sed -n 3p "root/tree/objects/$b_digest.chunks")"
echo
echo "publishing B into a fresh tree (median of $runs):"
printf '  %-44s %8.2f s\n' "with its chunk index" "$publish_with"
if [[ -n $base_publisher ]]; then
  printf '  %-44s %8.2f s\n' "before chunk indexes (${first:0:7}^)" "$publish_without"
  echo "  with / before: $(ratio "$publish_with" "$publish_without")   (goal <= 1.3)"
else
  echo "  (the publisher before chunk indexes could not be built: no comparison)"
fi
echo
echo "bytes for the patch A -> B (server to client):"
row() { printf '  %-44s %12s  %6s%%  %s\n' "$1" "$2" "$(awk -v a="$2" -v b="$b_bytes" 'BEGIN {printf "%.2f", 100 * a / b}')" "$3"; }
row "rsync literal data" "$rsync_literal" "(total sent $rsync_sent, received $rsync_received)"
row "zsync (control file + ranges)" "$zsync_bytes" "($zsync_requests requests)"
row "casync (index + chunks)" "$casync_bytes" "($casync_requests requests)"
row "ideal with the index (new chunks + index)" "$ideal" "(new chunks $rule_new, index $index_bytes)"
if [[ -n $launcher_bytes ]]; then
  row "launcher patch (ranges + index)" "$launcher_bytes" ""
else
  printf '  %-44s %12s\n' "launcher patch (ranges + index)" "not measured"
fi
echo "  ideal / least peer: $(ratio "$ideal" "$least")   (goal for the launcher <= 1.1, and <= 3% of B)"
[[ -n $launcher_bytes ]] && echo "  launcher / least peer: $(ratio "$launcher_bytes" "$least")"
echo
echo "time over the shaped link (20 MB/s, 50 ms round trip):"
printf '  %-44s %8.2f s\n' "zsync" "$zsync_seconds" "casync" "$casync_seconds" "B whole (curl)" "$whole_seconds"
if [[ -n $launcher_seconds ]]; then
  printf '  %-44s %8.2f s\n' "launcher patch" "$launcher_seconds"
  echo "  launcher / fastest peer: $(ratio "$launcher_seconds" "$fastest")   (goal <= 1.2)"
else
  printf '  %-44s %8s\n' "launcher patch" "not measured"
fi
[[ -n $launcher_peak ]] && echo "  launcher peak working set: $launcher_peak"
exit 0
