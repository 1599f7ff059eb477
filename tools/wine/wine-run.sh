#!/usr/bin/env bash
# Runs Windows programs under Wine in a prefix of their own.
#
#   wine-run.sh --start [EXE...] create the prefix if needed, copy each
#                                EXE into its system32 (stand-ins for tools
#                                Wine lacks), start a persistent wineserver
#   wine-run.sh --stop           stop that wineserver
#   wine-run.sh PROGRAM [ARG...] run PROGRAM, print its output, exit with
#                                its exit code
#   wine-run.sh --exec PROGRAM [ARG...]
#                                become `wine PROGRAM ARG...` (the caller
#                                handles the output; wine execs its loader,
#                                so the process is the Windows program's own
#                                and a SIGKILL ends it with no chance to tidy
#                                up)
#
# This is the one place that sets up Wine for the project's programs: the
# Python test package (test_support/wine.py) runs everything through it.
# WINEPREFIX and STONEWAKE_WINE_HOME name the prefix and the home folder.
# Output goes through a file, never a pipe: Wine's background services
# inherit the program's standard handles, and a caller reading a pipe would
# wait for them forever.
set -u

: "${WINEPREFIX:?WINEPREFIX must name the prefix}"
: "${STONEWAKE_WINE_HOME:=$WINEPREFIX/../home}"
export WINEPREFIX
export HOME="$STONEWAKE_WINE_HOME"
export WINEARCH=win64
export WINEDEBUG=-all
# No desktop menu entries, no Mono or Gecko install prompts.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="

log_dir="$(dirname "$WINEPREFIX")/logs"
mkdir -p "$HOME" "$log_dir"

ensure_prefix() {
  [[ -f "$WINEPREFIX/.stonewake-ready" ]] && return 0
  (
    flock 9
    [[ -f "$WINEPREFIX/.stonewake-ready" ]] && exit 0
    echo "wine-run: creating Wine prefix $WINEPREFIX" >&2
    wineboot -i >"$log_dir/wineboot.log" 2>&1 </dev/null
    wineserver -w
    # A fresh prefix lacks the generic sans-serif family; Wine's own fonts
    # supply it.
    fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    for dir in /usr/share/wine/fonts /usr/lib/x86_64-linux-gnu/wine/fonts /usr/lib/wine/fonts; do
      [[ -d $dir ]] && cp -n "$dir"/* "$fonts"/ 2>/dev/null
    done
    # A fresh prefix links Desktop, Documents and the like to $HOME; tests
    # write shortcuts there, so make them real folders inside the prefix.
    for link in "$WINEPREFIX"/drive_c/users/*/*; do
      if [[ -L $link ]]; then
        rm -f "$link" && mkdir -p "$link"
      fi
    done
    touch "$WINEPREFIX/.stonewake-ready"
  ) 9>"$(dirname "$WINEPREFIX")/prefix.lock"
}

case "${1:-}" in
  --start)
    ensure_prefix || exit 1
    shift
    for exe in "$@"; do
      cp -f "$exe" "$WINEPREFIX/drive_c/windows/system32/" || exit 1
    done
    # The server makes itself a daemon once it holds the prefix; its output
    # goes to a file, so nothing waits on it. It refuses (status 2) while
    # another server holds the prefix: typically one started by the test
    # listing, which ends 3 s after its last program and would drop a test
    # program that reached it in that moment ("recvmsg: Connection reset by
    # peer"). Wait for that one to end, then start the lasting one. One still
    # there after the wait lasts on its own (left by an earlier run).
    for _ in 1 2 3; do
      wineserver -p >>"$log_dir/wineserver.log" 2>&1 </dev/null && exit 0
      timeout 5 wineserver -w >/dev/null 2>&1 </dev/null || exit 0
    done
    exit 0
    ;;
  --stop)
    wineserver -k >/dev/null 2>&1 </dev/null
    exit 0
    ;;
  --exec)
    ensure_prefix || exit 1
    shift
    exec wine "$@"
    ;;
  "")
    echo "usage: wine-run.sh --start [EXE...] | --stop | [--exec] PROGRAM [ARG...]" >&2
    exit 2
    ;;
esac

ensure_prefix || exit 1
out="$(mktemp "$log_dir/run.XXXXXX")"
wine "$@" >"$out" 2>&1 </dev/null
status=$?
cat "$out"
rm -f "$out"
exit "$status"
