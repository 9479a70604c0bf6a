#!/usr/bin/env python3
"""Round trips per second of SerializeCertificate through one kelvora_messaging
process under wine64, for a certificate with every extension the viewer names
(made here with OpenSSL). Each request is written only after the previous
answer arrived; the host's start is not counted."""
import base64
import json
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import kelvora_client  # noqa: E402
from viewer_certificates import Certificates  # noqa: E402


def main():
    exe = sys.argv[1] if len(sys.argv) > 1 else kelvora_client.DEFAULT_EXE
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    certs = Certificates()
    try:
        der = certs.der["full"]
    finally:
        certs.close()
    request = kelvora_client.frame(json.dumps({"type": "SerializeCertificate", "id": "1",
                                               "arguments": {"cert": base64.b64encode(der).decode()}}))
    proc = subprocess.Popen(kelvora_client.host_command(exe), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    answer_size = 0

    def round_trip():
        nonlocal answer_size
        answer = kelvora_client.round_trip(proc, request)
        answer_size = len(answer)
        if b'"certificate"' not in answer:
            raise RuntimeError("not rendered: %r" % answer[:200])

    for _ in range(20):
        round_trip()
    start = time.perf_counter()
    for _ in range(count):
        round_trip()
    elapsed = time.perf_counter() - start
    proc.stdin.close()
    proc.wait()
    print(f"SerializeCertificate under wine64: {count / elapsed:10.0f} round trips/s "
          f"({elapsed / count * 1e6:.0f} us each; {len(der)}-byte certificate with 15 extensions, "
          f"{answer_size}-byte answer)")


if __name__ == "__main__":
    main()
