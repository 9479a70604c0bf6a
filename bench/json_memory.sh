#!/usr/bin/env bash
# Time and peak memory of reading the worst request shapes, one process per
# shape: in the shipping 32-bit build under 32-bit Wine (where 32-bit code
# runs natively or the i386 handler is already on), and natively.
#   bench/json_memory.sh [MiB]     (default 64, the largest request accepted)
set -uo pipefail
cd "$(dirname "$0")/.."
size=${1:-64}
native=build/native/json_memory_bench
win32=build/win32/json_memory_bench.exe
[ -x "$native" ] || scripts/build.sh native >/dev/null
[ -f "$win32" ] || scripts/build.sh win32 >/dev/null

echo "native (x86_64 Linux):"
for shape in $($native); do $native "$shape" "$size"; done

echo "i686 build under 32-bit Wine:"
if ! tests/smoke32/emulation.sh native >/dev/null 2>&1 && ! tests/smoke32/emulation.sh status >/dev/null 2>&1; then
  echo "  skipped: 32-bit Wine does not run here (tests/smoke32/emulation.sh)"
  exit 0
fi
export WINEPREFIX="$PWD/build/win32/wineprefix-bench" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
  /usr/lib/wine/wine wineboot -i >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
fi
/usr/lib/wine/wineserver -p
for shape in $(/usr/lib/wine/wine "$win32" | tr -d '\r'); do
  /usr/lib/wine/wine "$win32" "$shape" "$size" | tr -d '\r'
done
/usr/lib/wine/wineserver -k
