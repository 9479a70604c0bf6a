#!/usr/bin/env python3
"""Round trips per second of small requests through one kelvora_messaging
process under wine64: each request is written only after the previous answer
arrived, as a page waiting for its answer would do. The host's start is not
counted."""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import kelvora_client  # noqa: E402
from host_bench import timed_calls  # noqa: E402


def main():
    exe = sys.argv[1] if len(sys.argv) > 1 else kelvora_client.DEFAULT_EXE
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
    proc = kelvora_client.start_host(exe)
    request = kelvora_client.frame('{"type":"Version","id":"1"}')

    elapsed = timed_calls(lambda _: kelvora_client.round_trip(proc, request), count, 20)
    proc.stdin.close()
    proc.wait()
    print(f"one host process under wine64: {count / elapsed:10.0f} round trips/s "
          f"({elapsed / count * 1e6:.0f} us each, {count} Version requests)")


if __name__ == "__main__":
    main()
