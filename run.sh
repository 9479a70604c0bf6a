#!/usr/bin/env bash
# Builds kelvora_messaging (win64) and sends each REQUEST-JSON argument to one
# host process under wine64, printing each answer. Default: a Version request.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
scripts/build.sh win64 >/dev/null
if [ $# -eq 0 ]; then
  set -- '{"type":"Version","id":"1"}'
fi
exec tools/kelvora-request "$@"
