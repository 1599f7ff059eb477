#!/usr/bin/env bash
# The launcher window at rest under Wine on a virtual screen: CPU use while
# it sits in Ready (30 repaints a second) and while minimised, its memory
# over that time, and the start-up time to the first painted frame.
#
#   bench/window.sh [SECONDS] [RUNS]      (default 30 s per span, 3 runs)
#
# STONEWAKE_WINDOWS_BUILD names the Windows build folder (default
# build/windows); the publisher preset's build (docs/publishing.md's) makes the
# release.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/common.sh
windows_build stonewake_launcher with_env record_start sample_game
release_publisher
PYTHONPATH=$stonewake_source exec python3 bench/window_bench.py --build "$build" --publisher "$publisher" \
  --seconds "${1:-30}" --runs "${2:-3}"
