#!/usr/bin/env bash
# Installs everything a fresh Debian 12 machine needs to build and test the
# launcher. Safe to run again: it only asks apt for packages that are missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang-14 libclang-rt-14-dev googletest
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  # Wine's bcrypt verifies ECDSA through GnuTLS, which libwine only
  # recommends.
  libgnutls30
  # Signing the openssl-to-CNG interop fixtures at build time.
  openssl python3
  xvfb openbox xdotool imagemagick
  # xprop: the windowed tests wait for the window manager with it.
  x11-utils
  libssl-dev nginx-light curl
  # Signing test launchers as a studio signs its launcher (Authenticode).
  osslsigncode
  python3-pil python3-numpy
  # Wine's own fonts (the generic sans-serif family among them), which
  # libwine only recommends.
  fonts-wine
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then sudo=sudo; else sudo=; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
else
  echo "install-deps: all packages present"
fi
echo "install-deps: done"
