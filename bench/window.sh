#!/usr/bin/env bash
# The launcher window at rest under Wine on a virtual screen: CPU use while
# it sits in Ready (30 repaints a second) and while minimised, its memory
# over that time, and the start-up time to the first painted frame.
#
#   bench/window.sh [SECONDS] [RUNS]      (default 30 s per span, 3 runs)
#
# STONEWAKE_WINDOWS_BUILD names the Windows build folder (default
# build/windows); the publisher preset's build (the README's) makes the
# release.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${STONEWAKE_WINDOWS_BUILD:-$source_dir/build/windows}
(cd "$source_dir" && cmake --preset publisher >/dev/null && cmake --build --preset publisher >/dev/null)
PYTHONPATH="$source_dir/test_support:$source_dir/window/testing" \
  exec python3 "$source_dir/bench/window_bench.py" --build "$build" --source "$source_dir" \
  --publisher "$source_dir/build/publisher/bin/publisher" --seconds "${1:-30}" --runs "${2:-3}"
