#!/usr/bin/env bash
# Builds and runs every benchmark once and prints the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh native win64 >/dev/null
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
build/native/hash_bench
build/native/host_roundtrip_bench
bench/host_roundtrip_wine.py build/win64/kelvora_messaging.exe
bench/compute_hash_wine.py build/win64/kelvora_messaging.exe
bench/cards_wine.py
bench/serialize_certificate_wine.py build/win64/kelvora_messaging.exe
bench/json_memory.sh
bench/create_request_wine.py build/win64/kelvora_messaging.exe
