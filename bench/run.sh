#!/usr/bin/env bash
# Builds and runs every benchmark once and prints the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh native win64 win32 >/dev/null
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
native_output=$(mktemp)
trap 'rm -f "$native_output"' EXIT
build/native/hash_bench | tee "$native_output"
# The shipping i686 build's hashes under 32-bit Wine beside the anchors above.
bench/hash32.py "$native_output"
build/native/host_roundtrip_bench
bench/host_roundtrip_wine.py build/win64/kelvora_messaging.exe
bench/compute_hash_wine.py build/win64/kelvora_messaging.exe
bench/cards_wine.py
bench/serialize_certificate_wine.py build/win64/kelvora_messaging.exe
bench/json_memory.sh
bench/create_request_wine.py build/win64/kelvora_messaging.exe
bench/sign_hash_array_wine.py
