#!/usr/bin/env bash
# Paint time per frame under Wine.
#
# PaintScene at 840 x 510 (144 DPI) and 560 x 340 (96 DPI), the ready and
# the patching screen, median of FRAMES frames each, painted the economical
# way (what the window does) and the straightforward way (every object made
# afresh, everything drawn), beside a bare GDI+ loop in the same program
# that only draws the ready backdrop 1:1 (the floor). Then the window's
# whole paint (off-screen DC, bitmap, copy) with the DC and bitmap made per
# frame and kept; and the 144-DPI frame split by layer (backdrop with
# ground glow, effects, sparks, fonts, texts, button), both ways. Goals at
# 144 DPI: 12 ms in Ready and 16 ms while patching, under 2.5 x the floor.
# Last, the time of one whole "--paint-to" run (67 pictures of 840 x 510
# written as PNG), median of RUNS runs.
#
#   bench/paint.sh [FRAMES] [RUNS]     defaults 300 and STONEWAKE_BENCH_RUNS or 3
#
# Windows programs come from build/windows (configured and built when
# needed), or from the build folder named by STONEWAKE_WINDOWS_BUILD.
set -euo pipefail
cd "$(dirname "$0")/.."
frames=${1:-300}
runs=${2:-${STONEWAKE_BENCH_RUNS:-3}}

source tools/common.sh
windows_build paint_bench stonewake_launcher

"$wine_run" --start
trap '"$wine_run" --stop' EXIT

"$wine_run" "$build/bin/paint_bench.exe" "$frames"

out=$(mktemp -d "$build/paint-to.XXXXXX")
times=()
for ((i = 0; i < runs; i++)); do
  rm -f "$out"/*.png
  start=$(now)
  "$wine_run" "$build/bin/Stonewake Launcher.exe" "--paint-to=$(windows "$out")"
  times+=("$(since "$start")")
done
count=$(find "$out" -name '*.png' | wc -l)
rm -rf "$out"
median=$(m "${times[@]}")
printf -- "--paint-to: %d pictures in %.2f s (median of %d runs: %s s)\n" "$count" "$median" "$runs" \
  "$(printf '%.2f ' "${times[@]}")"
