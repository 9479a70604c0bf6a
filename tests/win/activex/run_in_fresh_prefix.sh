#!/usr/bin/env bash
# Runs a test program of a build folder in its own copy of the build's Wine
# prefix, so that what it registers vanishes with it.
# Usage: run_in_fresh_prefix.sh BUILD_DIR PROGRAM [ARGS...]
set -uo pipefail
build_dir=$1
shift
work=$(mktemp -d "$build_dir/activex-prefix.XXXXXX")
prefix="$work/prefix"
cleanup() {
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
"$build_dir/wine-run" --fresh-prefix "$prefix" >/dev/null || exit 1
KELVORA_WINEPREFIX="$prefix" "$build_dir/wine-run" "$@"
