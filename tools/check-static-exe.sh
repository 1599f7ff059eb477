#!/usr/bin/env bash
# check-static-exe.sh OBJDUMP EXE
# Fails when EXE imports a DLL that Windows does not ship (a MinGW runtime
# DLL such as libstdc++-6.dll or libwinpthread-1.dll).
set -euo pipefail
objdump="$1"; exe="$2"
dlls=$("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
echo "imports:" $dlls
bad=$(grep -iE '^(lib|msvcp|vcruntime)' <<<"$dlls" || true)
if [[ -n $bad ]]; then
  echo "not self-contained, imports: $bad" >&2
  exit 1
fi
