#!/usr/bin/env bash
# Runs every test from nothing: installs what a fresh Debian 12 machine lacks,
# builds both presets and runs both suites. Exits non-zero on any failure.
#
#   host    the portable core and the publisher, natively, under
#           AddressSanitizer and UndefinedBehaviorSanitizer
#   windows the launcher and its test programs, cross-built with MinGW-w64
#           and run under Wine
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

jobs=$(nproc)
start=$SECONDS

echo "== host build (g++, -fsanitize=address,undefined)"
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs"
echo "== host tests (native, sanitizers on)"
ctest --preset host -j "$jobs"

echo "== windows build (x86_64-w64-mingw32-g++-posix, static)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
echo "== windows tests (under Wine, prefix in build/windows/wine)"
ctest --preset windows -j "$jobs"

echo "== all tests passed in $((SECONDS - start)) s"
