#!/usr/bin/env bash
# The publisher reads what real launchers of this build trust (their version
# resource and release trust resource, as MinGW's linker lays them out),
# prints it, and refuses them when they trust another key or ask another
# server than the studio says.
#
#   launcher_trust_e2e.sh SOURCE_DIR PUBLISHER TRUST_TEXT [LAUNCHER_EXE VERSION]...
set -uo pipefail
source_dir=$1
publisher=$2
trust_text=$3
shift 3
source "$source_dir/tools/common.sh"
keys=$source_dir/test_support/keys

scratch
key=$(sed -n 's/^key //p' "$trust_text")
server=$(sed -n 's/^server //p' "$trust_text")
[[ $key =~ ^[0-9a-f]{128}$ && $server == http://* ]] || fail "$trust_text: $(cat "$trust_text")"
mkdir -p "$work/game"
printf 'MZ game' >"$work/game/Stonewake.exe"
cp "$keys/test-only-release-key.pem" "$work/key.pem" && chmod 600 "$work/key.pem"
"$publisher" keygen --out "$work/other.pem" >/dev/null 2>&1

# publish EXPECTED_STATUS LAUNCHER ARGS...: a dry run, output in $work/out
# and $work/err.
publish() {
  local expected=$1 launcher=$2
  shift 2
  "$publisher" release --game "$work/game" --launcher "$launcher" --version 1.0 --out "$work/tree" --dry-run "$@" \
    >"$work/out" 2>"$work/err"
  local status=$?
  ((status == expected)) || fail "publisher exited $status, expected $expected: $(cat "$work/err")"
}

while (($# >= 2)); do
  launcher=$1 version=$2
  shift 2
  echo "launcher_trust_e2e: $launcher"
  publish 0 "$launcher" --key "$work/key.pem" --server "$server"
  contains "$work/out" "launcher $version trusts key ${key:0:8}...${key: -8} and asks $server"
  publish 1 "$launcher" --key "$work/key.pem" --server http://releases.example.net:8080
  contains "$work/err" "launcher $version asks $server, not http://releases.example.net:8080 (--server)"
  publish 1 "$launcher" --key "$work/other.pem"
  contains "$work/err" "launcher $version trusts key ${key:0:8}...${key: -8}, not the key this release is signed with"
  publish 0 "$launcher" --key "$work/other.pem" --rotate-key
done

finish "launcher_trust_e2e (the publisher reads every launcher's trust)"
