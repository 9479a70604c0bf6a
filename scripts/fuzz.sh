#!/usr/bin/env bash
# Runs the request-path fuzzer for the given number of seconds over the
# corpus kept in the tree (new finds go to a scratch folder, not the tree),
# then the certificate viewer's fuzzer for a third of that time, seeded with a
# certificate OpenSSL makes here.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
scratch=build/fuzz/corpus-new
mkdir -p "$scratch"
build/fuzz/request_fuzzer -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix=build/fuzz/ "$scratch" fuzz/corpus/request 2>&1 | tail -15

viewer=build/fuzz/corpus-viewer
mkdir -p "$viewer"
if [ ! -f "$viewer/seed.der" ]; then
  openssl req -x509 -newkey rsa:1024 -nodes -keyout /dev/null -subj "/CN=Seed/O=Kelvora" -days 1 \
    -addext "keyUsage=digitalSignature" -addext "certificatePolicies=1.2.643.100.113.1" \
    -outform DER -out "$viewer/seed.der" 2>/dev/null || true
fi
build/fuzz/viewer_fuzzer -max_total_time=$((seconds / 3 + 1)) -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix=build/fuzz/viewer- "$viewer" 2>&1 | tail -15
# The request encoders (subject texts, EKU lists, dates, alternative names).
scratch=build/fuzz/corpus-encoders-new
mkdir -p "$scratch"
build/fuzz/request_encoder_fuzzer -max_total_time="$seconds" -max_len=2048 -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix=build/fuzz/ "$scratch" fuzz/corpus/request_encoders 2>&1 | tail -15
