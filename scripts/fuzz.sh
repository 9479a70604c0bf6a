#!/usr/bin/env bash
# Runs every fuzz target in turn, sharing the given number of seconds (140 by
# default) between them, over the corpora kept in the tree (new finds go to
# scratch folders under build/fuzz, not into the tree). Stops at the first
# target that reports a finding; the input is kept as build/fuzz/<target>-crash-*.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz_targets.sh
total="${1:-140}"
each=$(( total / ${#fuzz_targets[@]} ))
[ "$each" -ge 1 ] || each=1
for entry in "${fuzz_targets[@]}"; do
  read -r target corpus <<<"$entry"
  echo "--- $target, $each s"
  log=build/fuzz/$target.log
  if run_fuzz_target "$target" "$corpus" "$each" >"$log"; then
    grep -E 'stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$log"
  else
    tail -40 "$log"
    echo "$target: finding, see build/fuzz/"
    exit 1
  fi
done
