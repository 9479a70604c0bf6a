#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian 12 machine, skipping
# what is already there. Needs root (or sudo).
set -euo pipefail

packages=(
  cmake ninja-build g++ python3 file xxd
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64
  libboost-dev googletest
  clang libclang-rt-14-dev
  libssl-dev openssl libengine-gost-openssl libgcrypt20-dev libp11-kit-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
