#!/usr/bin/env bash
# Installs what the build and the tests need from Debian's packages, where missing.
set -euo pipefail

packages=(cmake make python3 g++-mingw-w64-i686-posix mingw-w64-i686-dev g++-mingw-w64-x86-64-posix
          mingw-w64-x86-64-dev binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 googletest
          wine wine64 wine32:i386 wixl procps util-linux)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "== Installing: ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# The shipped program is 32-bit: make sure Wine's 32-bit side can run it on this kernel.
bash "$(dirname "${BASH_SOURCE[0]}")/i386-emulation.sh"
