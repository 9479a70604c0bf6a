#!/usr/bin/env bash
# Runs the request-path fuzzer for the given number of seconds over the
# corpus kept in the tree (new finds go to a scratch folder, not the tree).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scratch=build/fuzz/corpus-new
mkdir -p "$scratch"
build/fuzz/request_fuzzer -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix=build/fuzz/ "$scratch" fuzz/corpus/request 2>&1 | tail -15
# The request encoders (subject texts, EKU lists, dates, alternative names).
scratch=build/fuzz/corpus-encoders-new
mkdir -p "$scratch"
build/fuzz/request_encoder_fuzzer -max_total_time="$seconds" -max_len=2048 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix=build/fuzz/ "$scratch" fuzz/corpus/request_encoders 2>&1 | tail -15
