# The fuzz targets with their corpora, and how one is run (sourced by
# fuzz.sh and fuzz-long.sh).
fuzz_targets=(
  "request_fuzzer request"
  "json_differential_fuzzer json"
  "activex_request_fuzzer activex"
  "text_fuzzer text"
  "aes_pin_fuzzer aes_pin"
  "viewer_fuzzer viewer"
  "request_encoder_fuzzer request_encoders"
)

# run_fuzz_target TARGET CORPUS SECONDS [extra libFuzzer options...]
# The inputs reach 8 KiB: well above the fuzz build's piece sizes (64-byte
# large strings, 256-byte frame chunks, 48-byte base64 pieces).
run_fuzz_target() {
  local target=$1 corpus=$2 seconds=$3
  shift 3
  local scratch=build/fuzz/corpus-new/$corpus
  mkdir -p "$scratch"
  local seeds=()
  [ -d fuzz/corpus/"$corpus" ] && seeds=(fuzz/corpus/"$corpus")
  # The certificate viewer starts from a certificate OpenSSL makes here.
  if [ "$target" = viewer_fuzzer ] && [ ! -f "$scratch/seed.der" ]; then
    openssl req -x509 -newkey rsa:1024 -nodes -keyout /dev/null -subj "/CN=Seed/O=Kelvora" -days 1 \
      -addext "keyUsage=digitalSignature" -addext "certificatePolicies=1.2.643.100.113.1" \
      -outform DER -out "$scratch/seed.der" 2>/dev/null || true
  fi
  local dict=()
  case "$target" in
    request_fuzzer|json_differential_fuzzer) dict=(-dict=fuzz/request.dict) ;;
  esac
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  build/fuzz/"$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    "${dict[@]}" -print_final_stats=1 -artifact_prefix=build/fuzz/"$target"- "$@" "$scratch" "${seeds[@]}" 2>&1
}
