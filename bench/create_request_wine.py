#!/usr/bin/env python3
"""CreateRequest requests per second through one kelvora_messaging process
under wine64, over the test GOST provider registered in a fresh copy of the
build's prefix: each request makes a new key container, a key pair and a
signed request. The host's start is not counted."""
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import kelvora_client  # noqa: E402
from host_bench import timed_calls  # noqa: E402


def request(n):
    subject, eku = "2.5.4.3=Bench %d,2.5.4.6=RU" % n, ["1.3.6.1.5.5.7.3.2"]
    digest = hashlib.sha1((subject + "".join(eku) + "1").encode()).hexdigest()
    return kelvora_client.frame(json.dumps({"type": "CreateRequest", "id": str(n), "arguments": {
        "reader": "R0", "container": "bench-%d" % n, "subject_quoted": subject, "eku": eku,
        "cryptoStandart": "gost2012-256", "export": "1", "hash_quoted": digest, "cryptoProvider": "cryptopro",
        "policyLevel": "KC2", "certPeriod": "12"}}))


def main():
    exe = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else kelvora_client.DEFAULT_EXE)
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    build = os.path.dirname(exe)
    runner = os.path.join(build, "wine-run")
    work = tempfile.mkdtemp(prefix="bench-request.", dir=build)
    prefix = os.path.join(work, "prefix")
    env = dict(os.environ, KELVORA_WINEPREFIX=prefix)
    try:
        subprocess.run([runner, "--fresh-prefix", prefix], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([runner, os.path.join(build, "gost_csp_fixture.exe"), "register", "--version1", "5.0"],
                       check=True, stdout=subprocess.DEVNULL, env=env)
        proc = kelvora_client.start_host(exe, env)

        def round_trip(n):
            answer = json.loads(kelvora_client.round_trip(proc, request(n)))
            if answer["result"]["valid"] != "1":
                raise RuntimeError("request failed: %s" % answer)

        elapsed = timed_calls(round_trip, count, 5)
        proc.stdin.close()
        proc.wait()
        print(f"CreateRequest through one host under wine64: {count / elapsed:8.1f} requests/s "
              f"({elapsed / count * 1e3:.1f} ms each, {count} requests, stand-in GOST provider)")
    finally:
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
