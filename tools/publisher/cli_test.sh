#!/usr/bin/env bash
# The publisher's command line as a release script uses it: exit codes,
# what goes to standard output, and the files it leaves.
#   cli_test.sh PUBLISHER
set -uo pipefail
publisher=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# run EXPECTED_STATUS ARGS...: runs the publisher, keeps its output in
# $work/out and $work/err.
run() {
  local expected=$1; shift
  "$publisher" "$@" >"$work/out" 2>"$work/err"
  local status=$?
  [[ $status -eq $expected ]] || fail "publisher $* exited $status, expected $expected: $(cat "$work/err")"
}

contains() { grep -qF -- "$2" "$1" || fail "$1 lacks \"$2\": $(cat "$1")"; }

run 0 --help
for word in keygen release verify --public-key-file --rollback 0600; do contains "$work/out" "$word"; done
run 2
run 2 frobnicate
run 2 keygen
run 2 release --game "$work" --version 1 --key k --out t --bogus

cd "$work"
run 0 keygen --out key.pem --public-out key.hex
key=$(cat out)
[[ $key =~ ^[0-9a-f]{128}$ ]] || fail "keygen printed \"$key\""
[[ $(cat key.hex) == "$key" ]] || fail "key.hex differs from what keygen printed"
[[ $(stat -c %a key.pem) == 600 ]] || fail "key.pem has mode $(stat -c %a key.pem)"
cp key.pem key.before
run 1 keygen --out key.pem
contains err "already exists"
cmp -s key.pem key.before || fail "keygen changed an existing key"

mkdir -p game/data
printf 'MZ game' >game/Stonewake.exe
printf 'pak' >game/data/a.pak
printf 'MZ launcher' >launcher.exe
run 0 release --game game --launcher launcher.exe --version 1.2 --commit=abc --key key.pem --out tree
contains out "published version 1.2"
run 0 verify --tree tree --public-key "$key"
contains out "valid release, version 1.2, commit abc; 3 files"
run 0 verify --tree tree --public-key-file key.hex
run 2 verify --tree tree
run 1 verify --tree tree --public-key "$(printf '%0128d' 0)"
contains err "not a point on the P-256 curve"
"$publisher" keygen --out other.pem >other.hex 2>/dev/null
run 1 verify --tree tree --public-key-file other.hex
contains err "not a valid signature"

printf 'x' >game/AUX.dat
run 1 release --game game --version 1.3 --key key.pem --out tree2
contains err "game/AUX.dat"
[[ ! -e tree2 ]] || fail "a refused release wrote tree2"

if ((failures)); then
  echo "$failures failures"
  exit 1
fi
echo "publisher command line: all checks passed"
