#!/usr/bin/env bash
# The 32-bit smoke stage of test.sh. Exit 0 passed, 77 skipped (no way to run
# 32-bit Wine here), anything else failed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)

"$here/setup-emulation.sh" || exit $?
"$here/emulation.sh" native
case $? in
  0) exec python3 "$here/smoke32.py" ;;
  1) exec "$here/emulation.sh" run python3 "$here/smoke32.py" ;;
  77) exit 77 ;;
  *) echo "smoke32: the i386 handler is on; switch it off (emulation.sh off) and run again"; exit 1 ;;
esac
