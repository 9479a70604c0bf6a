# The fuzz targets with their corpora, and how one is run (sourced by
# fuzz.sh and fuzz-long.sh).
fuzz_targets=(
  "request_fuzzer request"
  "json_differential_fuzzer json"
  "activex_request_fuzzer activex"
  "text_fuzzer text"
  "aes_pin_fuzzer aes_pin"
)

# run_fuzz_target TARGET CORPUS SECONDS [extra libFuzzer options...]
# The inputs reach 8 KiB: well above the fuzz build's piece sizes (64-byte
# large strings, 256-byte frame chunks, 48-byte base64 pieces).
run_fuzz_target() {
  local target=$1 corpus=$2 seconds=$3
  shift 3
  local scratch=build/fuzz/corpus-new/$corpus
  mkdir -p "$scratch"
  local dict=()
  case "$target" in
    request_fuzzer|json_differential_fuzzer) dict=(-dict=fuzz/request.dict) ;;
  esac
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  build/fuzz/"$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
    "${dict[@]}" -print_final_stats=1 -artifact_prefix=build/fuzz/"$target"- "$@" "$scratch" fuzz/corpus/"$corpus" 2>&1
}
