#!/usr/bin/env bash
# What a release costs per file as it grows: generated releases of 1,000,
# 10,000 and 100,000 files (most of 1-16 KiB, one in 500 of 2-6 MiB,
# folders up to 6 deep) and a patch of each that changes 1% of the files and
# removes 1%, published by the optimised publisher and served by nginx on
# loopback. For each size, the time and peak memory of:
#   publish, verify           the publisher (Linux; peak resident set)
#   first install, patch      the launcher's own code under Wine
#                             (patch_install.exe: CheckRelease, then
#                             ApplyRelease; peak working set)
#   check                     CheckRelease of the complete install
#   size text                 InstallSizeText of the complete install
#   probe                     ProbeReleaseVersion in a fresh process
# printed as time per file and as a ratio to the same operation at the
# first size. The first install and the check also beside curl (one
# connection) plus sha256sum of the same files, and the first install beside
# bench/winhttp_read_loop.exe with the launcher's 8 threads writing and
# hashing every object: Wine's own floor for the same transfers (up to
# STONEWAKE_SCALE_LOOP_MAX files, default 10,000: it takes longer than the
# launcher itself). One run per size, each size's figures printed as soon as
# they are in; warm page cache.
#
#   bench/scale.sh [SIZES...]     default 1000 10000 100000
#
# Windows programs come from build/windows (configured and built when
# needed), or from the build folder named by STONEWAKE_WINDOWS_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("$@")
loop_max=${STONEWAKE_SCALE_LOOP_MAX:-10000}
[[ ${#sizes[@]} -gt 0 ]] || sizes=(1000 10000 100000)

source tools/common.sh
windows_build patch_install probe_bench winhttp_read_loop
probe_bench=$build/bin/probe_bench.exe
read_loop=$build/bin/winhttp_read_loop.exe
release_publisher
public_key=$stonewake_source/test_support/keys/test-only-release-key.pub.hex
side_by_side=$(sed -n 's/.*kSideBySide = \([0-9]*\);.*/\1/p' "$stonewake_source/engine/side_by_side.h")

scratch
cd "$work"

# probe_bench MODE ARGS...: "seconds peak_bytes".
bench_once() {
  local out
  out=$("$wine_run" "$probe_bench" "$@" | tr -d '\r')
  echo "$(echo "$out" | field seconds) $(echo "$out" | field peak_working_set)"
}

first=${sizes[0]}
per_file() { awk -v s="$1" -v n="$2" 'BEGIN {printf "%8.3f ms", s * 1000 / n}'; }
report() {  # N: the figures of one size, as soon as they are in
  local n=$1 op
  echo
  echo "$n files, $(mib "${fig[$n,bytes]}" 7) of game data, manifest ${fig[$n,manifest]} bytes" \
    "(time per file; ratio to the time per file at $first files)"
  for op in "${ops[@]}"; do
    printf '  %-9s %8.2f s  %s per file  x%-5s  peak %s\n' "$op" "${fig[$n,$op,s]}" \
      "$(per_file "${fig[$n,$op,s]}" "$n")" \
      "$(ratio "$(awk -v s="${fig[$n,$op,s]}" -v n="$n" 'BEGIN {print s / n}')" \
        "$(awk -v s="${fig[$first,$op,s]}" -v n="$first" 'BEGIN {print s / n}')")" \
      "$(mib "${fig[$n,$op,m]}" 7)"
  done
  echo "  first install / (curl + sha256sum): $(ratio "${fig[$n,install,s]}" "${fig[$n,curl,s]}")" \
    "(curl + sha256sum ${fig[$n,curl,s]} s)"
  if [[ -n ${fig[$n,loop,s]:-} ]]; then
    echo "  first install / WinHTTP loop with $side_by_side threads: $(ratio "${fig[$n,install,s]}" "${fig[$n,loop,s]}")" \
      "(loop ${fig[$n,loop,s]} s)"
  else
    echo "  WinHTTP loop: not run at this size (STONEWAKE_SCALE_LOOP_MAX=$loop_max)"
  fi
  echo "  check / sha256sum: $(ratio "${fig[$n,check,s]}" "${fig[$n,sum,s]}")   (sha256sum ${fig[$n,sum,s]} s)"
  echo "  launcher peak working set above its own at $first files: install" \
    "$(mib $((fig[$n,install,m] - fig[$first,install,m])) 7), check $(mib $((fig[$n,check,m] - fig[$first,check,m])) 7)"
}

declare -A fig
ops=(publish verify install check patch size probe)
for n in "${sizes[@]}"; do
  echo "size $n: making the releases..."
  rm -rf v1 v2 root install floor
  # The same plan every run of a size.
  plan=$(awk -v n="$n" 'BEGIN {
    srand(n)
    for (i = 0; i < n; i++) {
      folder = "d" i % 7
      for (k = 1; k <= i % 6; k++) folder = folder "/d" int(i / 7 ^ k) % 7
      size = rand() < 0.002 ? 2 * 2 ^ 20 + int(rand() * (4 * 2 ^ 20 + 1)) : 1024 + int(rand() * (15 * 1024 + 1))
      printf "%d %s/file%06d.dat\n", size, folder, i
    }
  }')
  sed 's# # v1/game/#' <<<"$plan" | random_files . "$n"
  # The patch: 1% changed, 1% removed, the rest the same files (hard links;
  # a changed file is unlinked first, so v1's stays as it was).
  cp -al v1 v2
  picked=$(shuf -n "$((n / 50 > 2 ? n / 50 : 2))" --random-source=<(yes) <<<"$plan" | cut -d' ' -f2-)
  sed 's#^#v2/game/#' <<<"$picked" | xargs rm --
  head -n "$(($(wc -l <<<"$picked") / 2))" <<<"$picked" |
    awk -v n="$n" 'BEGIN {srand(n + 1)} {print 1024 + int(rand() * (15 * 1024 + 1)), "v2/game/" $0}' |
    random_files . "$((n + 1))"
  sync
  bytes=$(du -sb v1/game | cut -f1)
  read -r fig[$n,publish,s] fig[$n,publish,m] < <(measure "$publisher" release --game v1/game --version 1.0 --key "$key" --out root/v1)
  read -r fig[$n,verify,s] fig[$n,verify,m] < <(measure "$publisher" verify --tree root/v1 --public-key-file "$public_key")
  fig[$n,publish,m]=$((fig[$n,publish,m] * 1024)) fig[$n,verify,m]=$((fig[$n,verify,m] * 1024))
  "$publisher" release --game v2/game --version 1.1 --key "$key" --out root/v2 >/dev/null 2>&1
  manifest_bytes=$(stat -c %s root/v1/latest/manifest.txt)
  stop_serving nginx >/dev/null 2>&1
  base=$(serve root nginx)

  echo "size $n: first install, check, size text, probe, patch..."
  fresh install
  read -r c a fig[$n,install,m] < <(launcher_run "$base/v1" "$work/install")
  fig[$n,install,s]=$(awk -v a="$c" -v b="$a" 'BEGIN {print a + b}')
  read -r fig[$n,check,s] a fig[$n,check,m] < <(launcher_run "$base/v1" "$work/install")
  read -r fig[$n,size,s] fig[$n,size,m] < <(bench_once size "$(windows "$work/install")")
  read -r fig[$n,probe,s] fig[$n,probe,m] < <(bench_once once "$base/v1" "$(windows "$work/install")")
  read -r c fig[$n,patch,s] fig[$n,patch,m] < <(launcher_run "$base/v2" "$work/install")

  echo "size $n: floors..."
  fig[$n,curl,s]=$(curl_fetch "$base/v1" "$(awk '/^file /{print $2}' root/v1/latest/manifest.txt)" "$work/floor")
  start=$(now)
  find install/game -type f -print0 | xargs -0 sha256sum >/dev/null
  fig[$n,sum,s]=$(since "$start")
  if ((n <= loop_max)); then
    fresh floor
    fig[$n,loop,s]=$("$wine_run" "$read_loop" --threads "$side_by_side" "$base/v1" "$(windows "$work/floor")" \
      --verify | field seconds || true)
    rm -rf floor
  fi
  fig[$n,bytes]=$bytes fig[$n,manifest]=$manifest_bytes
  report "$n"
done

