#!/bin/sh
# The Wine prefix of the GOST stand-in tests.
#   test_prefix.sh make WINE_RUN PREFIX_DIR FIXTURE_EXE
#       copies the pristine prefix to PREFIX_DIR and registers the provider in it
#   test_prefix.sh remove PREFIX_DIR
#       stops the prefix's wineserver and deletes the copy
set -e
case "$1" in
make)
  wine_run=$2 prefix=$3 fixture=$4
  "$wine_run" --fresh-prefix "$prefix" >/dev/null
  KELVORA_WINEPREFIX="$prefix" "$wine_run" "$fixture" register
  ;;
remove)
  prefix=$2
  if [ -d "$prefix" ]; then
    WINEPREFIX="$prefix" /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
  fi
  ;;
*)
  echo "usage: $0 make WINE_RUN PREFIX_DIR FIXTURE_EXE | remove PREFIX_DIR" >&2
  exit 2
  ;;
esac
