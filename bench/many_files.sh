#!/usr/bin/env bash
# A game of many small files: first install, patch and release check by the
# launcher's own code (patch_install.exe: CheckRelease, then ApplyRelease)
# under Wine, beside the floor of the same work done by tools built for it:
#   - first install: curl fetching every object (one process, one kept
#     connection; and 4 transfers side by side) plus sha256sum of the files;
#   - patch: the same for the changed files only;
#   - check of a complete install: sha256sum of every installed file;
#   - the least WinHTTP under Wine does for the same first install:
#     bench/winhttp_read_loop.exe writing and hashing every object, one after
#     another on one connection (what Wine's own HTTP stack costs per byte);
#   - over a slow link (bench/latency_proxy.py adds DELAY_MS to every round
#     trip, bytes in flight keep flowing): first install of a smaller game
#     against curl with 4 transfers side by side, and how many connections
#     each opened.
# The release is made once per run: FILES files (most under 64 KiB, some up
# to 1 MiB, a few of 4 MiB) in about FILES/17 folders, served by nginx on
# loopback. Medians of RUNS runs, warm page cache.
#
#   bench/many_files.sh [FILES] [RUNS] [DELAY_MS]     defaults 4000 3 50
#
# Windows programs come from build/windows (configured and built when
# needed), or from the build folder named by STONEWAKE_WINDOWS_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-4000}
runs=${2:-3}
delay=${3:-50}

source tools/common.sh
windows_build patch_install winhttp_read_loop
read_loop=$build/bin/winhttp_read_loop.exe
release_publisher

scratch
cd "$work"

echo "making releases of $count files..."
# Most files under 64 KiB, 1 in 10 up to 1 MiB, 1 in 500 of 4 MiB, in
# count/17 folders; the same plan every run.
plan=$(awk -v count="$count" 'BEGIN {
  srand(7)
  folders = int(count / 17)
  if (folders < 1) folders = 1
  for (i = 0; i < count; i++) {
    r = rand()
    if (r < 0.002) size = 4 * 2 ^ 20
    else if (r < 0.10) size = 65536 + int(rand() * (2 ^ 20 - 65536 + 1))
    else size = 200 + int(rand() * (65536 - 200 + 1))
    printf "%d data/f%03d/file%05d.dat\n", size, i % folders, i
  }
}')
sed 's# # v1/game/#' <<<"$plan" | random_files . 7
# Version 2: 75 of those files changed.
cp -r v1 v2
shuf -n "$((count < 75 ? count : 75))" --random-source=<(yes) <<<"$plan" | sed 's# # v2/game/#' | random_files . 8
# The game over the slow link: its first 300 files.
head -n 300 <<<"$plan" | while read -r _ path; do
  mkdir -p "small/game/${path%/*}"
  cp "v1/game/$path" "small/game/$path"
done
"$publisher" release --game v1/game --version 1.0 --key "$key" --out root/v1 >/dev/null 2>&1
"$publisher" release --game v2/game --version 1.1 --key "$key" --out root/v2 >/dev/null 2>&1
"$publisher" release --game small/game --version 1.0 --key "$key" --out root/small >/dev/null 2>&1
base=$(serve root nginx)
total_bytes=$(du -sb v1/game | cut -f1)
small_bytes=$(du -sb small/game | cut -f1)
changed=$(comm -13 <(awk '/^file /{print $2}' root/v1/latest/manifest.txt | sort) \
  <(awk '/^file /{print $2}' root/v2/latest/manifest.txt | sort))

all_digests=$(awk '/^file /{print $2}' root/v1/latest/manifest.txt)
small_digests=$(awk '/^file /{print $2}' root/small/latest/manifest.txt)
install_s=() curl1_s=() curl4_s=() loop_s=() patch_s=() patchcurl_s=() check_s=() sum_s=()
for run in $(seq "$runs"); do
  echo "run $run of $runs..."
  fresh install
  read -r c a _ <<<"$(launcher_run "$base/v1" "$work/install")"
  install_s+=("$(sum "$c" "$a")")
  curl1_s+=("$(curl_fetch "$base/v1" "$all_digests" "$work/floor")")
  curl4_s+=("$(curl_fetch "$base/v1" "$all_digests" "$work/floor" 4)")
  fresh floor
  loop_s+=("$("$wine_run" "$read_loop" "$base/v1" "$(windows "$work/floor")" --verify | field seconds)")

  read -r c a _ <<<"$(launcher_run "$base/v1" "$work/install")"
  check_s+=("$c")
  start=$(now)
  find install/game -type f -print0 | xargs -0 sha256sum >/dev/null
  sum_s+=("$(since "$start")")

  read -r c a _ <<<"$(launcher_run "$base/v2" "$work/install")"
  patch_s+=("$a")
  patchcurl_s+=("$(curl_fetch "$base/v2" "$changed" "$work/floor")")
  rm -rf install floor
done

# Over the slow link, once: the figures are dominated by the delay.
python3 "$stonewake_source/bench/latency_proxy.py" "${base##*:}" "$delay" "$work/proxy" &
scratch_pids+=($!)
disown $!  # its end by the clean-up is no news
for _ in $(seq 100); do [[ -s $work/proxy ]] && break; sleep 0.05; done
slow=http://127.0.0.1:$(cut -d' ' -f1 "$work/proxy")
relayed() { cut -d' ' -f2 "$work/proxy"; }
fresh install
before=$(relayed)
read -r c a _ <<<"$(launcher_run "$slow/small" "$work/install")"
slow_launcher=$(sum "$c" "$a")
slow_launcher_conn=$(($(relayed) - before))
before=$(relayed)
slow_curl=$(curl_fetch "$slow/small" "$small_digests" "$work/floor" 4)
slow_curl_conn=$(($(relayed) - before))

secs() { awk -v s="$1" 'BEGIN {printf "%6.2f s", s}'; }
install=$(m "${install_s[@]}")
curl1=$(m "${curl1_s[@]}")
curl4=$(m "${curl4_s[@]}")
loop=$(m "${loop_s[@]}")
patch=$(m "${patch_s[@]}")
patchcurl=$(m "${patchcurl_s[@]}")
check=$(m "${check_s[@]}")
sums=$(m "${sum_s[@]}")

echo
echo "many small files: $count files, $(mib "$total_bytes"), nginx on loopback, median of $runs runs"
echo "  first install (check + patch)                 $(secs "$install")"
echo "  floor: curl, one connection, + sha256sum      $(secs "$curl1")   launcher / floor: $(ratio "$install" "$curl1")"
echo "  floor: curl, 4 side by side, + sha256sum      $(secs "$curl4")   launcher / floor: $(ratio "$install" "$curl4")"
echo "  anchor: WinHTTP loop writing and hashing      $(secs "$loop")   launcher / anchor: $(ratio "$install" "$loop")"
echo "  patch of $(wc -w <<<"$changed") changed files (ApplyRelease)      $(secs "$patch")"
echo "  floor: curl of those files + sha256sum        $(secs "$patchcurl")   launcher / floor: $(ratio "$patch" "$patchcurl")"
echo "  check of the complete install (CheckRelease)  $(secs "$check")"
echo "  floor: sha256sum of the installed files       $(secs "$sums")   launcher / floor: $(ratio "$check" "$sums")"
echo "  runs (install, curl, curl x4, WinHTTP loop, patch, curl, check, sha256sum):"
for i in "${!install_s[@]}"; do
  printf '    %.2f %.2f %.2f %.2f %.2f %.2f %.2f %.2f s\n' "${install_s[i]}" "${curl1_s[i]}" "${curl4_s[i]}" "${loop_s[i]}" \
    "${patch_s[i]}" "${patchcurl_s[i]}" "${check_s[i]}" "${sum_s[i]}"
done
echo
echo "over a link with $delay ms more per round trip: $(wc -w <<<"$small_digests") files, $(mib "$small_bytes"), one run"
echo "  first install (check + patch)                 $(secs "$slow_launcher")   $slow_launcher_conn connections"
echo "  floor: curl, 4 side by side, + sha256sum      $(secs "$slow_curl")   $slow_curl_conn connections"
echo "  launcher / floor: $(ratio "$slow_launcher" "$slow_curl")"
