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
  chromium
)
# Node.js runs the browser test's driver; the machine's own Node.js (20 or
# later) is used where there is one.
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The browser test's automation library, at the version its lock file pins
# (it drives Debian's Chromium and downloads no browser of its own).
browser_tests="$(dirname "$0")/../tests/browser"
if ! cmp -s "$browser_tests/package-lock.json" "$browser_tests/node_modules/.installed-lock.json"; then
  echo "Installing: the browser test's npm packages"
  (cd "$browser_tests" && npm ci --no-audit --no-fund --loglevel=error >/dev/null &&
     cp package-lock.json node_modules/.installed-lock.json)
fi
