#!/usr/bin/env bash
# The long fuzzing run: every target for the given number of seconds (600 by
# default), JOBS targets at a time (2 by default). Each target runs in
# libFuzzer's fork mode and goes on after a finding, so one known fault does
# not end its run; every finding is kept as build/fuzz/<target>-crash-* (or
# -timeout-, -oom-). Logs go to build/fuzz/long/<target>.log; a summary line
# per target (runs, coverage, features, corpus, findings) is printed at the end.
# TARGETS="name ..." limits the run to those targets.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz_targets.sh
if [ -n "${TARGETS:-}" ]; then
  chosen=()
  for entry in "${fuzz_targets[@]}"; do
    for name in $TARGETS; do [ "${entry%% *}" = "$name" ] && chosen+=("$entry"); done
  done
  fuzz_targets=("${chosen[@]}")
fi
seconds="${1:-600}"
jobs="${JOBS:-2}"
mkdir -p build/fuzz/long
for entry in "${fuzz_targets[@]}"; do
  read -r target corpus <<<"$entry"
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  run_fuzz_target "$target" "$corpus" "$seconds" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    >build/fuzz/long/"$target".log 2>&1 &
done
wait
for entry in "${fuzz_targets[@]}"; do
  read -r target _ <<<"$entry"
  log=build/fuzz/long/$target.log
  # Fork mode's progress lines: "#RUNS: cov: C ft: F corp: N exec/s E oom/timeout/crash: O/T/X time: S ..."
  last=$(grep -E '^#[0-9]+: cov:' "$log" | tail -1)
  runs=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$last")
  cov=$(grep -oE 'cov: [0-9]+' <<<"$last" | grep -oE '[0-9]+')
  ft=$(grep -oE 'ft: [0-9]+' <<<"$last" | grep -oE '[0-9]+')
  corp=$(grep -oE 'corp: [0-9]+' <<<"$last" | grep -oE '[0-9]+')
  faults=$(grep -oE 'oom/timeout/crash: [0-9/]+' <<<"$last" | cut -d' ' -f2)
  echo "$target: runs ${runs:-?}, coverage ${cov:-?}, features ${ft:-?}, corpus ${corp:-?}, oom/timeout/crash ${faults:-?}"
done
