#!/usr/bin/env python3
"""Round trips per second of SerializeCertificate through one kelvora_messaging
process under wine64, for a certificate with every extension the viewer names
(made here with OpenSSL). Each request is written only after the previous
answer arrived; the host's start is not counted."""
import base64
import json
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import kelvora_client  # noqa: E402
from host_bench import timed_calls  # noqa: E402
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
    proc = kelvora_client.start_host(exe)
    answer_size = 0

    def round_trip(_):
        nonlocal answer_size
        answer = kelvora_client.round_trip(proc, request)
        answer_size = len(answer)
        if b'"certificate"' not in answer:
            raise RuntimeError("not rendered: %r" % answer[:200])

    elapsed = timed_calls(round_trip, count, 20)
    proc.stdin.close()
    proc.wait()
    print(f"SerializeCertificate under wine64: {count / elapsed:10.0f} round trips/s "
          f"({elapsed / count * 1e6:.0f} us each; {len(der)}-byte certificate with 15 extensions, "
          f"{answer_size}-byte answer)")


if __name__ == "__main__":
    main()
