#!/usr/bin/env bash
# Builds every preset and runs every test: the native core (plain and with
# AddressSanitizer+UBSan), the win64 build under wine64 (unit and end-to-end),
# a bounded fuzzing run, and the 32-bit smoke stage where it can be had.
set -uo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh || exit 1

failed=()
stages=0
step() { echo; echo "=== $*"; stages=$((stages + 1)); }

# win32-debug builds the shipping host unoptimised: its assembly must find
# registers enough without the optimiser too.
step "build: native native-asan win64 win32 win32-debug fuzz"
scripts/build.sh native native-asan win64 win32 win32-debug fuzz || { echo "build failed"; exit 1; }

step "tests: native"
ctest --preset native || failed+=(native)
step "tests: native-asan"
ctest --preset native-asan || failed+=(native-asan)
step "tests: win64 under wine64"
# The 64-bit prefix is made once per build folder, outside any test's time
# limit, and with the 32-bit emulation off (it would start under emulation).
[ -x tests/smoke32/emulation.sh ] && tests/smoke32/emulation.sh off >/dev/null 2>&1
prefix64=$(build/win64/wine-run --prefix-only) || failed+=(wine-prefix)
# One wineserver serves the whole suite, so the many short Wine processes never
# race a server that is shutting down. A test that fails is run once more: a
# Wine process now and then fails to start at all under heavy parallel load;
# a real fault fails both times.
WINEPREFIX="$prefix64" /usr/lib/wine/wineserver -p
# Wine's own background processes start with the first program and keep its
# standard streams: let them start with a program whose streams lead nowhere,
# or a test reading a host's output would wait for them forever.
build/win64/wine-run wineboot </dev/null >/dev/null 2>&1
ctest --preset win64 --repeat until-pass:2 || failed+=(win64)
WINEPREFIX="$prefix64" /usr/lib/wine/wineserver -k 2>/dev/null

step "fuzzing: every target, 140 s in all"
scripts/fuzz.sh 140 || failed+=(fuzz)

if [ -x tests/smoke32/run.sh ]; then
  step "32-bit smoke stage"
  tests/smoke32/run.sh
  rc=$?
  if [ $rc -eq 77 ]; then echo "32-bit smoke stage skipped"; stages=$((stages - 1));
  elif [ $rc -ne 0 ]; then failed+=(smoke32); fi
fi

echo
[ ${#failed[@]} -eq 0 ] || echo "failed stages: ${failed[*]}"
# Stages after the build: each runs a suite of its own (the CTest summaries above count their tests).
echo "stages: $((stages - 1 - ${#failed[@]})) passed, ${#failed[@]} failed"
[ ${#failed[@]} -eq 0 ]
