#!/usr/bin/env bash
# Patch download and memory: a patch of MIB mebibytes (half in one file, the
# rest in 64 MiB files) published with the publisher and served by nginx on
# loopback, taken by the launcher's own code (patch_install.exe: release
# check, then ApplyRelease into an empty install folder) under Wine, beside
#   - a bare WinHTTP loop reading the same objects and dropping them,
#   - the same loop writing each object to a file,
#   - the same loop writing each object and hashing it back through CNG
#     (the least a verified patch does),
#   - curl writing each object to a file,
# medians of RUNS runs, warm page cache, pending writes flushed before each
# run. Then the peak working set of the patch process (GetProcessMemoryInfo;
# under Wine that is the process's VmHWM) for the large patch, for a patch
# of one 16 MiB file, and for a run with nothing to fetch.
#
#   bench/patch.sh [MIB] [RUNS]     defaults 1024 3
#
# Windows programs come from build/windows (configured and built when
# needed), or from the build folder named by STONEWAKE_WINDOWS_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-1024}
runs=${2:-3}

source tools/common.sh
windows_build patch_install winhttp_read_loop
patch_install=$build/bin/patch_install.exe
read_loop=$build/bin/winhttp_read_loop.exe
release_publisher

scratch
cd "$work"

echo "making a release of $mib MiB..."
{
  echo "$(((mib / 2) << 20)) big/game/data/world.pak"
  rest=$(((mib - mib / 2) << 20)) i=0
  while ((rest > 0)); do
    size=$((rest < 64 << 20 ? rest : 64 << 20))
    printf '%d big/game/data/part%02d.pak\n' "$size" "$i"
    rest=$((rest - size)) i=$((i + 1))
  done
  echo "$((16 << 20)) small/game/data/one.pak"
} | random_files .
"$publisher" release --game big/game --version 1.0 --key "$key" --out root/big 2>/dev/null
"$publisher" release --game small/game --version 1.0 --key "$key" --out root/small 2>/dev/null
files=$(grep -c '^file ' root/big/latest/manifest.txt)
digests=$(awk '/^file /{print $2}' root/big/latest/manifest.txt)
base=$(serve root nginx)
bytes=$((mib << 20))


patch_s=() loop_s=() loopw_s=() loopv_s=() curl_s=() peak_big=()
for run in $(seq "$runs"); do
  echo "run $run of $runs..."
  fresh install
  out=$("$wine_run" "$patch_install" "$base/big" "$(windows "$work/install")" --stats)
  [[ $(echo "$out" | tr -d '\r' | head -1) == complete ]] || { echo "patch failed: $out"; exit 1; }
  patch_s+=("$(echo "$out" | field seconds)")
  peak_big+=("$(echo "$out" | field peak_working_set)")
  rm -rf install

  fresh loop
  out=$("$wine_run" "$read_loop" "$base/big")
  [[ $(echo "$out" | field bytes) == "$bytes" ]] || { echo "read loop failed: $out"; exit 1; }
  loop_s+=("$(echo "$out" | field seconds)")

  fresh loop
  out=$("$wine_run" "$read_loop" "$base/big" "$(windows "$work/loop")")
  loopw_s+=("$(echo "$out" | field seconds)")

  fresh loop
  out=$("$wine_run" "$read_loop" "$base/big" "$(windows "$work/loop")" --verify)
  [[ $(echo "$out" | field bytes) == "$bytes" ]] || { echo "verifying loop failed: $out"; exit 1; }
  loopv_s+=("$(echo "$out" | field seconds)")

  fresh loop
  args=()
  for d in $digests; do args+=(-o "loop/$d" "$base/big/objects/$d"); done
  start=$(now)
  curl -s --fail "${args[@]}"
  curl_s+=("$(since "$start")")
  rm -rf loop
done

fresh install
out=$("$wine_run" "$patch_install" "$base/small" "$(windows "$work/install")" --stats)
peak_small=$(echo "$out" | field peak_working_set)
out=$("$wine_run" "$patch_install" "$base/small" "$(windows "$work/install")" --stats)
peak_idle=$(echo "$out" | field peak_working_set)

patch=$(m "${patch_s[@]}")
loop=$(m "${loop_s[@]}")
loopw=$(m "${loopw_s[@]}")
loopv=$(m "${loopv_s[@]}")
curl=$(m "${curl_s[@]}")

echo
echo "patch download: $mib MiB in $files files from nginx on loopback, median of $runs runs"
echo "  launcher patch (ApplyRelease: download, write, verify, move)  $(rate "$bytes" "$patch")"
echo "  anchor: bare WinHTTP read loop, bytes dropped                 $(rate "$bytes" "$loop")"
echo "  anchor: bare WinHTTP read loop, writing files                 $(rate "$bytes" "$loopw")"
echo "  anchor: bare WinHTTP read loop, writing and hashing files     $(rate "$bytes" "$loopv")"
echo "  anchor: curl, writing files                                   $(rate "$bytes" "$curl")"
# Speeds: the other's seconds over the patch's.
echo "  patch / bare read loop:     $(ratio "$loop" "$patch")   (goal >= 0.90)"
echo "  patch / loop writing files: $(ratio "$loopw" "$patch")"
echo "  patch / loop verifying:     $(ratio "$loopv" "$patch")"
echo "  patch / curl:               $(ratio "$curl" "$patch")"
echo "  runs (patch, loop, writing, verifying, curl):"
for i in "${!patch_s[@]}"; do
  printf '    %.2f %.2f %.2f %.2f %.2f s\n' "${patch_s[i]}" "${loop_s[i]}" "${loopw_s[i]}" "${loopv_s[i]}" "${curl_s[i]}"
done
echo
echo "peak working set of the patch process (Wine included)"
echo "  patch of $mib MiB, largest file $((mib / 2)) MiB:  $(mib "$(m "${peak_big[@]}")" 6)   (goal <= 32 MiB)"
echo "  patch of one 16 MiB file:                 $(mib "$peak_small" 6)"
echo "  nothing to fetch (the process alone):     $(mib "$peak_idle" 6)"
