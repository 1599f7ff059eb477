#!/usr/bin/env bash
# How CMake configures the builds a studio makes, each in a scratch folder:
# a players' build refuses to guess its key or release server, and builds
# the launcher alone; the publisher's build configures without warnings.
#   configure_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
source "$source_dir/tools/common.sh"
scratch

studio_key=$(printf '3f2a%.0s' $(seq 32))
test_key=$(tr -d '[:space:]' <"$source_dir/test_support/keys/test-only-release-key.pub.hex")
url=http://releases.example.net:8080

# configure NAME EXPECTED_STATUS PRESET ARGS...: configures into
# $work/NAME, output in $work/NAME.out.
configure() {
  local name=$1 expected=$2 preset=$3
  shift 3
  (cd "$source_dir" && cmake --preset "$preset" -B "$work/$name" "$@") >"$work/$name.out" 2>&1
  local status=$?
  if [[ $expected == 0 && $status != 0 ]] || [[ $expected != 0 && $status == 0 ]]; then
    fail "$name: cmake exited $status: $(tail -20 "$work/$name.out")"
  fi
  if grep -q "Manually-specified variables were not used" "$work/$name.out"; then
    fail "$name: $(grep -A4 "Manually-specified" "$work/$name.out")"
  fi
}
# says NAME TEXT: the output holds TEXT, wherever CMake broke its lines.
says() {
  tr -s ' \n' '  ' <"$work/$1.out" | grep -qF -- "$2" || fail "$1 does not say \"$2\": $(tail -20 "$work/$1.out")"
}

# Refused: a players' build without a server, without a key, or trusting
# the test key; a test build (STONEWAKE_TRUST_TEST_KEY, the windows preset) that
# trusts another key without a server.
configure no-server 1 windows-release -DSTONEWAKE_RELEASE_PUBLIC_KEY="$studio_key"
says no-server "Set STONEWAKE_RELEASE_BASE_URL to the release server this launcher asks"
configure no-key 1 windows-release -DSTONEWAKE_RELEASE_BASE_URL=$url
says no-key "Set STONEWAKE_RELEASE_PUBLIC_KEY"
configure test-key 1 windows-release -DSTONEWAKE_RELEASE_PUBLIC_KEY="$test_key" -DSTONEWAKE_RELEASE_BASE_URL=$url
says test-key "The test-only release key may only be trusted by a test build"
configure own-key-test-build 1 windows -DSTONEWAKE_RELEASE_PUBLIC_KEY="$studio_key"
says own-key-test-build "Set STONEWAKE_RELEASE_BASE_URL"

# The release server's base URL: the launcher appends its paths to the text
# as it is, so anything that would need escaping, or change what the
# appended paths mean, is refused with the form a valid one has.
accepted_urls=(
  https://cdn.example.net/stonewake
  https://cdn.example.net
  https://localhost:8443/releases/stonewake
  http://releases.example.net:8080
  http://127.0.0.1:18080/a_b~c/d-e.f
  "https://[::1]:65535/stonewake"
  "https://[2001:db8::8:800:200C:417a]"
  "https://[::ffff:192.0.2.128]:8443/stonewake"
  # The longest path whose object URLs WinHTTP still sends.
  "https://cdn.example.net/$(printf 'p%.0s' $(seq 1973))"
)
refused_urls=(
  ftp://cdn.example.net/stonewake
  HTTPS://cdn.example.net
  https://
  https://cdn.example.net/
  https://cdn.example.net/stonewake/
  https://cdn.example.net//stonewake
  https://cdn.example.net/a/../stonewake
  "https://cdn.example.net/stonewake?channel=live"
  "https://cdn.example.net/stonewake#latest"
  "https://cdn.example.net/stone wake"
  "https://cdn.example.net/st%C3%B6newake"
  "https://cdn.example.net/stönewake"
  "https://cdn.example.net/a;b"
  https://user@cdn.example.net
  https://cdn.example.net:0
  https://cdn.example.net:65536
  https://cdn.example.net:08443
  https://cdn.example.net:https
)
for i in "${!accepted_urls[@]}"; do
  configure "url-accepted-$i" 0 windows-release -DSTONEWAKE_RELEASE_PUBLIC_KEY="$studio_key" \
    "-DSTONEWAKE_RELEASE_BASE_URL=${accepted_urls[$i]}"
  server=$(sed -n 's/^server //p' "$work/url-accepted-$i/generated/release_trust/release_trust.txt" 2>/dev/null)
  [[ $server == "${accepted_urls[$i]}" ]] || fail "${accepted_urls[$i]}: the trust resource names \"$server\""
  grep -qF "L\"${accepted_urls[$i]}\"" "$work/url-accepted-$i/generated/release_config.cpp" ||
    fail "${accepted_urls[$i]}: not the launcher's base URL"
done
for i in "${!refused_urls[@]}"; do
  configure "url-refused-$i" 1 windows-release -DSTONEWAKE_RELEASE_PUBLIC_KEY="$studio_key" \
    "-DSTONEWAKE_RELEASE_BASE_URL=${refused_urls[$i]}"
  says "url-refused-$i" "STONEWAKE_RELEASE_BASE_URL must be https://host[:port][/path] or http://host[:port][/path] \
(for example https://cdn.example.net/stonewake): a path of letters, digits and - . _ ~ between single slashes"
done

# Addresses of the right form that no launcher could fetch from, refused
# with the reason: a path whose object URLs pass WinHTTP's limit, and a
# bracketed host that is not an IPv6 address.
configure url-path-too-long 1 windows-release -DSTONEWAKE_RELEASE_PUBLIC_KEY="$studio_key" \
  "-DSTONEWAKE_RELEASE_BASE_URL=https://cdn.example.net/$(printf 'p%.0s' $(seq 1000))/$(printf 'q%.0s' $(seq 973))"
says url-path-too-long "STONEWAKE_RELEASE_BASE_URL has a path of 1975 characters: WinHTTP sends a URL path of at \
most 2047 characters"
says url-path-too-long "can have at most 1974 characters"
configure url-host-too-long 1 windows-release -DSTONEWAKE_RELEASE_PUBLIC_KEY="$studio_key" \
  "-DSTONEWAKE_RELEASE_BASE_URL=https://$(printf 'h%.0s' $(seq 252)).net/stonewake"
says url-host-too-long "has a host of 256 characters: WinHTTP takes a host name of at most 255 characters"
not_ipv6=("https://[abcd]/stonewake" "https://[192.0.2.128]" "https://[1::2::3]" "https://[1:2:3:4:5:6:7:8:9]")
for i in "${!not_ipv6[@]}"; do
  configure "url-not-ipv6-$i" 1 windows-release -DSTONEWAKE_RELEASE_PUBLIC_KEY="$studio_key" \
    "-DSTONEWAKE_RELEASE_BASE_URL=${not_ipv6[$i]}"
  says "url-not-ipv6-$i" "a host in brackets must be an IPv6 address"
done

# The players' build: the launcher and nothing else, carrying the key and
# server it was given.
configure players 0 windows-release -DSTONEWAKE_RELEASE_PUBLIC_KEY="$studio_key" -DSTONEWAKE_RELEASE_BASE_URL=$url
programs=$(ninja -C "$work/players" -t commands all | grep -oE -- '-o "?bin/[^"]*\.exe' | sed -E 's/^-o "?//' | sort -u)
[[ $programs == "bin/Stonewake Launcher.exe" ]] || fail "the players' build links: ${programs:-nothing}"
trust=$work/players/generated/release_trust/release_trust.txt
[[ $(cat "$trust" 2>/dev/null) == $'stonewake-release-trust 1\nkey '"$studio_key"$'\nserver '"$url" ]] ||
  fail "the launcher's trust resource reads: $(cat "$trust" 2>&1)"

# Configured again with another version, as the demo makes two launchers:
# nothing given goes unused (a toolchain given twice would).
configure players 0 windows-release -DSTONEWAKE_LAUNCHER_VERSION=2.5.2

# The publisher's own build, as docs/publishing.md builds it.
configure publisher 0 publisher

finish configure
