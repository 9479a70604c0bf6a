#!/usr/bin/env bash
# The long fuzzing run: every target for the given number of seconds (600 by
# default), JOBS targets at a time (2 by default). Each target runs in
# libFuzzer's fork mode and goes on after a finding, so one known fault does
# not end its run; every finding is kept as build/fuzz/<target>-crash-* (or
# -timeout-, -oom-). Logs go to build/fuzz/long/<target>.log; a summary line
# per target (runs, coverage, features, corpus, findings) is printed at the end.
# TARGETS="name ..." limits the run to those targets.
# The certificate fuzzer on the system's own CryptoAPI decoder,
# wine_certificate_fuzzer (the win64 build under wine64), runs beside them
# for WINE_SECONDS (SECONDS by default), from the seed WINE_SEED (the clock's
# seconds by default), with Wine's heap checking on (warn+heap), so that a
# write past a heap block fails HeapValidate; its log is
# build/fuzz/long/wine_certificate_fuzzer.log (with Wine's heap errors) and
# its faulting inputs are kept in build/win64/wine-fuzz-findings.
set -uo pipefail
cd "$(dirname "$0")/.."
source scripts/fuzz_targets.sh
wine_target=wine_certificate_fuzzer
run_wine=1
if [ -n "${TARGETS:-}" ]; then
  chosen=()
  for entry in "${fuzz_targets[@]}"; do
    for name in $TARGETS; do [ "${entry%% *}" = "$name" ] && chosen+=("$entry"); done
  done
  fuzz_targets=("${chosen[@]}")
  case " $TARGETS " in *" $wine_target "*) ;; *) run_wine=0 ;; esac
fi
seconds="${1:-600}"
jobs="${JOBS:-2}"
mkdir -p build/fuzz/long

# The Wine fuzzer for the given seconds. A run stops early only when a heap of
# its process is damaged (every later input would fail); it then goes on from
# the next seed for the time that is left.
run_wine_fuzzer() {
  local total=$1 seed=${WINE_SEED:-$(date +%s)} started=$SECONDS left
  while :; do
    left=$(( total - (SECONDS - started) ))
    [ "$left" -ge 1 ] || break
    echo "--- seed $seed, $left s"
    WINEDEBUG=-all,err+heap,warn+heap build/win64/wine-run build/win64/$wine_target.exe --seed "$seed" \
      --seconds "$left" 2>&1 |
      tee build/fuzz/long/$wine_target.run
    grep -q 'heap of the process is damaged' build/fuzz/long/$wine_target.run || break
    seed=$((seed + 1))
  done
}
if [ "$run_wine" = 1 ]; then
  if [ -x build/win64/$wine_target.exe ]; then
    run_wine_fuzzer "${WINE_SECONDS:-$seconds}" >build/fuzz/long/$wine_target.log 2>&1 &
  else
    echo "$wine_target: not built (scripts/build.sh win64)"
    run_wine=0
  fi
fi
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
if [ "$run_wine" = 1 ]; then
  # Its own summary lines: "inputs: N in S s (R inputs/s), seed X", "faults: F in I inputs (...)",
  # then one line per kind of fault with its count and the first input of the kind.
  log=build/fuzz/long/$wine_target.log
  inputs=$(grep -E '^inputs: ' "$log" | awk '{n += $2} END {print n + 0}')
  rate=$(grep -E '^inputs: ' "$log" | tail -1 | grep -oE '[0-9]+ inputs/s')
  faults=$(grep -E '^faults: ' "$log" | awk '{n += $2; i += $4} END {print n + 0 " in " i + 0 " inputs"}')
  echo "$wine_target: inputs ${inputs}, ${rate:-? inputs/s}, faults ${faults}"
  sed -n '/^faults: /,/^--- seed /p' "$log" | grep -vE '^(faults: |--- seed )'
fi
