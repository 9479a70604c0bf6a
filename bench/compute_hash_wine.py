#!/usr/bin/env python3
"""ComputeHash (GOST R 34.11-2012-256) of a 32 MiB document through one running
kelvora_messaging under wine64, the host's start excluded, against
`base64 -d | openssl dgst` on the same data; and the host's peak memory against
the request's size."""
import base64
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import kelvora_client  # noqa: E402


def main():
    exe = sys.argv[1] if len(sys.argv) > 1 else kelvora_client.DEFAULT_EXE
    data = os.urandom(32 << 20)
    b64 = base64.b64encode(data)
    request = (b'{"type":"ComputeHash","id":"1","arguments":{"algorithm":"1.2.643.7.1.1.2.2","data":"' + b64 + b'"}}')

    proc = kelvora_client.start_host(exe)
    warm = kelvora_client.frame('{"type":"Version","id":"0"}')
    kelvora_client.round_trip(proc, warm)

    start = time.perf_counter()
    answer = kelvora_client.round_trip(proc, kelvora_client.frame(request))
    host_time = time.perf_counter() - start
    peak = kelvora_client.peak_kib(proc.pid)
    proc.stdin.close()
    proc.wait()
    if b'"success"' not in answer:
        print("ComputeHash failed:", answer[:200])
        return 1

    with open("/tmp/kelvora-bench-doc.b64", "wb") as f:
        f.write(b64)
    start = time.perf_counter()
    subprocess.run("base64 -d /tmp/kelvora-bench-doc.b64 | openssl dgst -sha256 >/dev/null", shell=True, check=True)
    reference_time = time.perf_counter() - start
    os.remove("/tmp/kelvora-bench-doc.b64")

    ratio = host_time / reference_time
    mem_ratio = peak * 1024 / len(request)
    print(f"ComputeHash GOST-2012-256, 32 MiB document ({len(request) / 2**20:.1f} MiB request) under wine64:")
    print(f"  host {host_time:.3f} s, base64 -d | openssl dgst {reference_time:.3f} s, ratio {ratio:.2f}x "
          f"(target at most 4x: {'met' if ratio <= 4 else 'NOT MET'})")
    print(f"  host peak memory {peak / 1024:.1f} MiB = {mem_ratio:.2f}x the request "
          f"(target at most 3x: {'met' if mem_ratio <= 3 else 'NOT MET'})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
