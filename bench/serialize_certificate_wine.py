#!/usr/bin/env python3
"""Round trips per second of SerializeCertificate through one kelvora_messaging
process under wine64, for a certificate with every extension the viewer names
(made here with OpenSSL). Each request is written only after the previous
answer arrived; the host's start is not counted.

Then names of many attributes: CertificateFromBase64 and SerializeCertificate
in one host process of certificates whose subjects hold 16,000 and 128,000
RDNs of distinct OIDs, each request timed from its writing to its answer
(the fastest of three), as time per RDN; the time per RDN at 128,000 must be within 1.5 times that at
16,000 for both commands (names cost time linear in their attributes).
With --request-limit, a certificate whose CertificateFromBase64 request fills
the host's 64 MiB request limit is timed too, through both commands."""
import base64
import json
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import kelvora_client  # noqa: E402
from csp_support import attribute, changed, der_element  # noqa: E402
from host_bench import timed_calls  # noqa: E402
from viewer_certificates import Certificates  # noqa: E402

RDN_COUNTS = (16000, 128000)
REPEATS = 3
REQUEST_LIMIT = 64 * 1024 * 1024


def many_rdns(count):
    """A Name of count RDNs, the nth an attribute 1.2.n with the PrintableString "v"."""
    return der_element(0x30, b"".join(der_element(0x31, attribute("1.2.%d" % n, b"\x13\x01v")) for n in range(count)))


def with_subject(der, count):
    """The certificate with a subject of count RDNs (signature left as it was)."""
    return changed(der, lambda f: setattr(f.subject, "raw", many_rdns(count)))


def request(kind, der):
    key = "data" if kind == "CertificateFromBase64" else "cert"
    return json.dumps({"type": kind, "id": "1", "arguments": {key: base64.b64encode(der).decode()}})


def fitting_count(der, limit):
    """The most RDNs whose CertificateFromBase64 request stays within limit
    bytes (every RDN past the first 2^14 takes 14 bytes of DER)."""
    count = limit * 3 // 4 // 14
    while True:
        size = len(request("CertificateFromBase64", with_subject(der, count)))
        if size <= limit and limit - size < 4 * 14:
            return count
        count -= (size - limit) * 3 // 4 // 14 + (1 if size > limit else 0)


def timed(proc, kind, der):
    """Seconds from writing the request to reading its answer, and the answer's head."""
    framed = kelvora_client.frame(request(kind, der))
    start = time.perf_counter()
    answer = kelvora_client.round_trip(proc, framed)
    elapsed = time.perf_counter() - start
    head = json.loads(answer)
    if head.get("response") == "success" and not head.get("result"):
        raise RuntimeError("%s did not read the certificate" % kind)
    return elapsed, len(answer)


def round_trips(exe, der, count):
    request_frame = kelvora_client.frame(request("SerializeCertificate", der))
    proc = kelvora_client.start_host(exe)
    answer_size = 0

    def round_trip(_):
        nonlocal answer_size
        answer = kelvora_client.round_trip(proc, request_frame)
        answer_size = len(answer)
        if b'"certificate"' not in answer:
            raise RuntimeError("not rendered: %r" % answer[:200])

    elapsed = timed_calls(round_trip, count, 20)
    proc.stdin.close()
    proc.wait()
    print(f"SerializeCertificate under wine64: {count / elapsed:10.0f} round trips/s "
          f"({elapsed / count * 1e6:.0f} us each; {len(der)}-byte certificate with 15 extensions, "
          f"{answer_size}-byte answer)")


def many_names(exe, der, request_limit):
    counts = list(RDN_COUNTS)
    if request_limit:
        counts.append(fitting_count(der, REQUEST_LIMIT))
    certificates = {n: with_subject(der, n) for n in counts}
    proc = kelvora_client.start_host(exe)
    per_rdn = {}
    for n in counts:
        for kind in ("CertificateFromBase64", "SerializeCertificate"):
            # The fastest of a few runs: the machine's other work only ever adds time.
            runs = [timed(proc, kind, certificates[n]) for _ in range(REPEATS if n in RDN_COUNTS else 1)]
            elapsed, answer_size = min(runs)
            per_rdn[kind, n] = elapsed / n
            print(f"{kind} of a subject of {n} RDNs ({len(certificates[n])}-byte certificate, "
                  f"{len(request(kind, certificates[n]))}-byte request): {elapsed:8.2f} s, "
                  f"{elapsed / n * 1e6:6.1f} us per RDN ({answer_size}-byte answer)")
    proc.stdin.close()
    proc.wait()
    small, large = RDN_COUNTS
    within = True
    for kind in ("CertificateFromBase64", "SerializeCertificate"):
        ratio = per_rdn[kind, large] / per_rdn[kind, small]
        within &= ratio <= 1.5
        print(f"{kind}: time per RDN at {large} RDNs is {ratio:.2f} times that at {small} "
              f"({'within' if ratio <= 1.5 else 'beyond'} 1.5)")
    return within


def main():
    args = [a for a in sys.argv[1:] if not a.startswith("--")]
    exe = args[0] if args else kelvora_client.DEFAULT_EXE
    count = int(args[1]) if len(args) > 1 else 1000
    certs = Certificates()
    try:
        full, bare = certs.der["full"], certs.der["bare"]
    finally:
        certs.close()
    round_trips(exe, full, count)
    if not many_names(exe, bare, "--request-limit" in sys.argv):
        sys.exit(1)


if __name__ == "__main__":
    main()
