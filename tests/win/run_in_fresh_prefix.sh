#!/usr/bin/env bash
# Runs a test program of a build folder in its own copy of the build's Wine
# prefix, so that what it registers and the stores and key containers it
# writes vanish with it.
# Usage: run_in_fresh_prefix.sh BUILD_DIR PROGRAM [ARGS...]
set -uo pipefail
build_dir=$(cd "$1" && pwd)
shift
work=$(mktemp -d "$build_dir/test-prefix.XXXXXX")
prefix="$work/prefix"
cleanup() {
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
"$build_dir/wine-run" --fresh-prefix "$prefix" >/dev/null || exit 1
# With the test GOST provider built, register it in the copy before the
# program starts: crypt32 reads the registered OIDs when it loads.
if [ -f "$build_dir/gost_csp_fixture.exe" ]; then
  KELVORA_WINEPREFIX="$prefix" "$build_dir/wine-run" "$build_dir/gost_csp_fixture.exe" register >/dev/null || exit 1
fi
KELVORA_WINEPREFIX="$prefix" "$build_dir/wine-run" "$@"
