#!/usr/bin/env python3
"""Round trips per second of small requests through one kelvora_messaging
process under wine64: each request is written only after the previous answer
arrived, as a page waiting for its answer would do. The host's start is not
counted."""
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import kelvora_client  # noqa: E402


def main():
    exe = sys.argv[1] if len(sys.argv) > 1 else kelvora_client.DEFAULT_EXE
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    proc = subprocess.Popen(kelvora_client.host_command(exe), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    request = kelvora_client.frame('{"type":"Version","id":"1"}')

    def round_trip():
        kelvora_client.round_trip(proc, request)

    for _ in range(20):
        round_trip()
    start = time.perf_counter()
    for _ in range(count):
        round_trip()
    elapsed = time.perf_counter() - start
    proc.stdin.close()
    proc.wait()
    print(f"one host process under wine64: {count / elapsed:10.0f} round trips/s "
          f"({elapsed / count * 1e6:.0f} us each, {count} Version requests)")


if __name__ == "__main__":
    main()
