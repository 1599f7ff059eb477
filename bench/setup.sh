# Sourced by the benchmarks from the source folder: the programs they time.
#
#   windows_build TARGET...   the Windows build (build/windows, or the folder
#                             named by STONEWAKE_WINDOWS_BUILD), configured
#                             when needed, with TARGET... built; sets `build`
#                             and `wine_run`
#   release_publisher         the optimised publisher of the README's
#                             `publisher` preset; sets `publisher` and `key`
#                             (the committed test-only key)
#
# and the small tools of their figures: now, median (of lines on stdin), m
# (median of its arguments), field KEY (the value after KEY in a program's
# "key value" lines), fresh FOLDER (emptied, pending writes flushed).

windows_build() {
  build=${STONEWAKE_WINDOWS_BUILD:-build/windows}
  build=$(cd "$build" 2>/dev/null && pwd || echo "$PWD/$build")
  if [[ ! -f $build/build.ninja ]]; then
    cmake --preset windows -B "$build" >/dev/null
  fi
  cmake --build "$build" --target "$@" >/dev/null
  wine_run=$build/wine-run
}

release_publisher() {
  cmake --preset publisher >/dev/null
  cmake --build --preset publisher >/dev/null
  publisher=$PWD/build/publisher/bin/publisher
  key=$PWD/test_support/keys/test-only-release-key.pem
}

now() { date +%s.%N; }
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
m() { printf '%s\n' "$@" | median; }
field() { tr -d '\r' | awk -v k="$1" '$1 == k {print $2}'; }
fresh() { rm -rf "$1"; mkdir -p "$1"; sync; }
# A / B with two decimals.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
