#!/usr/bin/env bash
# Runs every benchmark, one after the other, and prints each figure beside
# its anchor from the same run. Benchmarks report; they never fail a build.
#
#   bench/run.sh
#
# Sizes can be lowered on a slow machine:
#   STONEWAKE_BENCH_PATCH_MIB   size of the patch benchmark (default 1024)
#   STONEWAKE_BENCH_RUNS        runs per figure, medians (default 3)
#   STONEWAKE_WINDOWS_BUILD     Windows build folder (default build/windows)
set -uo pipefail
cd "$(dirname "$0")"
runs=${STONEWAKE_BENCH_RUNS:-3}
status=0

run() {
  echo
  echo "=== $*"
  "$@" || { echo "(benchmark $1 did not finish)"; status=1; }
}

run ./patch.sh "${STONEWAKE_BENCH_PATCH_MIB:-1024}" "$runs"
for other in many_files.sh check.sh probe.sh scale.sh resume.sh delta.sh publisher.sh paint.sh window.sh; do
  if [[ -x $other ]]; then run "./$other"; fi
done
exit $status
