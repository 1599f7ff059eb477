#!/usr/bin/env bash
# Runs a libFuzzer campaign on each parser target (clang, ASan + UBSan).
#
#   tools/fuzz.sh [SECONDS_PER_TARGET]   default 300
#
# New inputs go to build/fuzz/corpus/<target> (the committed seeds are read,
# never written); crashes to build/fuzz/findings/<target>. Prints executions
# and findings per target and exits non-zero when anything was found.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-300}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

status=0
for seeds in fuzz/corpus/*/; do
  name=$(basename "$seeds")
  work="build/fuzz/corpus/$name"
  findings="build/fuzz/findings/$name"
  mkdir -p "$work" "$findings"
  log="build/fuzz/$name.log"
  echo "== fuzzing $name for $seconds s"
  set +e
  "build/fuzz/bin/fuzz_$name" -max_total_time="$seconds" -artifact_prefix="$findings/" \
    -print_final_stats=1 "$work" "$seeds" >"$log" 2>&1
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$findings" -type f | wc -l)
  echo "$name: ${execs:-?} executions, $found findings, corpus $(find "$work" -type f | wc -l) files"
  if ((found > 0)); then
    status=1
    find "$findings" -type f
  fi
done
exit "$status"
