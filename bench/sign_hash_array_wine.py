#!/usr/bin/env python3
"""Peak memory of SignHashArray over 20,000 SHA-256 hashes signed by an SKF
device (the stand-in library) with 8 KiB and with 256-byte signatures, side
by side: one kelvora_messaging process per row, its VmHWM read after the
answer. Either answer is longer than the 1 MiB a browser takes, so the host
answers that limit's failure; it stops signing as soon as the answer cannot
fit, so both rows stay near the memory of reading the request. The x86_64
build under wine64; the i686 build under 32-bit Wine where that runs
(natively, or with the i386 handler already on) and the 32-bit stage's
prefix exists."""
import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.environ.setdefault("KELVORA_BUILD_DIR", os.path.join(ROOT, "build", "win64"))
os.environ.setdefault("KELVORA_SOURCE_DIR", ROOT)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from csp_support import WinePrefix  # noqa: E402
from e2e_support import kelvora_client  # noqa: E402
from skf_support import DESCRIPTION_VARIABLE, LIBRARY_DIR, LIBRARY_NAME, container_lines  # noqa: E402

HASHES = 20000
PIN = "1234"
WIN32_DIR = os.path.join(ROOT, "build", "win32")
WIN64_DIR = os.path.join(ROOT, "build", "win64")
PRISTINE32 = os.path.join(WIN32_DIR, "wineprefix32")
EMULATION = os.path.join(ROOT, "tests", "smoke32", "emulation.sh")


def arguments(thumbprint):
    hashes = [{"id": "%05d" % n, "hash": base64.b64encode(hashlib.sha256(b"%d" % n).digest()).decode()}
              for n in range(HASHES)]
    return {"hashes": hashes, "thumbprint": thumbprint, "store_type": "skf", "pin": PIN}


def describe(work, der, modulus):
    path = os.path.join(work, "devices.txt")
    with open(path, "w") as f:
        f.write("device Bench Key\napplication APP\npin %s\n%s" % (
            PIN, container_lines("c", der, "modulus %d\n" % modulus)))
    return path


def run_row(command, env, request):
    start = time.perf_counter()
    host = kelvora_client.WatchedHost(command, env, 4 << 30, 3600)
    try:
        answer = host.ask("SignHashArray", request)
        outcome = answer.get("error") or "%d signatures" % len(answer["result"]["signatures"])
        host.close()
    except kelvora_client.HostFailure as e:
        outcome = "no answer (%s)" % e
    return host.highest / 2 ** 20, time.perf_counter() - start, outcome


def rows(build, command, env, work, der, request):
    for modulus in (8192, 256):
        devices = describe(work, der, modulus)
        devices = {DESCRIPTION_VARIABLE: "Z:" + devices.replace("/", "\\")}
        peak, seconds, outcome = run_row(command, dict(env, **devices), request)
        label = "%s, %d hashes, %s signatures" % (build, HASHES, "8 KiB" if modulus == 8192 else "256-byte")
        print(f"  {label:44s} peak {peak:7.1f} MiB  {seconds:6.1f} s  {outcome}")


def thirty_two_bit_runs():
    for state in ("native", "status"):
        if subprocess.run([EMULATION, state], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0:
            return os.path.exists(os.path.join(PRISTINE32, ".kelvora-ready"))
    return False


def main():
    prefix = WinePrefix()
    work = tempfile.mkdtemp(prefix="sign-array-bench.")
    try:
        ((thumbprint, der),) = prefix.make_certs([{"subject": "CN=Bench SKF", "container": "bench", "store": "none"}])
        request = arguments(thumbprint)
        print("SignHashArray over SKF signatures (the request is %.1f MiB):" % (len(json.dumps(request)) / 2 ** 20))
        folder = os.path.join(prefix.path, "drive_c", *LIBRARY_DIR)
        os.makedirs(folder)
        shutil.copyfile(os.path.join(WIN64_DIR, "kelvora_test_skf.dll"), os.path.join(folder, LIBRARY_NAME))
        rows("x86_64", kelvora_client.host_command(os.path.join(WIN64_DIR, "kelvora_messaging.exe")), prefix.env, work,
             der, request)
        if not thirty_two_bit_runs():
            print("  i686: skipped (32-bit Wine does not run here, or the 32-bit stage's prefix is missing)")
            return
        prefix32 = os.path.join(work, "prefix32")
        shutil.copytree(PRISTINE32, prefix32, symlinks=True)
        folder = os.path.join(prefix32, "drive_c", *LIBRARY_DIR)
        os.makedirs(folder)
        shutil.copyfile(os.path.join(WIN32_DIR, "kelvora_test_skf.dll"), os.path.join(folder, LIBRARY_NAME))
        env32 = dict(os.environ, WINEPREFIX=prefix32, WINEARCH="win32", WINEDEBUG="-all",
                     WINEDLLOVERRIDES="mscoree,mshtml=")
        try:
            rows("i686", ["/usr/lib/wine/wine", os.path.join(WIN32_DIR, "kelvora_messaging.exe")], env32, work, der,
                 request)
        finally:
            subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=env32, stderr=subprocess.DEVNULL)
    finally:
        prefix.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
