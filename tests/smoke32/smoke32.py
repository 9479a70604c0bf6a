#!/usr/bin/env python3
"""The 32-bit smoke stage: the shipping i686 builds run one batch of requests,
and their answers must equal the x86_64 build's answers for the same batch.

It runs build/win32/kelvora_messaging.exe under 32-bit Wine in a 32-bit prefix
of its own (build/win32/wineprefix32) and build/win64/kelvora_messaging.exe
under wine64, each as one process carrying the whole batch. Encrypted PINs are
random, so each build's EncryptPin texts are checked by the other build's
TryDecryptPin. An RSA certificate made in the 32-bit prefix with Wine's RSA
provider signs a hash and a CMS message through the i686 host, and OpenSSL
verifies both. Then kelvora_ax.dll (i686) is registered with the 32-bit
regsvr32 and called once from JScript.
"""
import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import kelvora_client  # noqa: E402
from csp_support import Scratch, openssl_cms_verify, openssl_verifies_signature  # noqa: E402

WIN32_DIR = os.path.join(ROOT, "build", "win32")
WIN64_DIR = os.path.join(ROOT, "build", "win64")
# The pristine 32-bit prefix is made once; each run works in a fresh copy, so
# certificates and registrations never carry over from one run to the next.
PRISTINE32 = os.path.join(WIN32_DIR, "wineprefix32")
PREFIX32 = os.path.join(WIN32_DIR, "wineprefix32-run")
WINE32 = "/usr/lib/wine/wine"
WINESERVER = "/usr/lib/wine/wineserver"

OIDS = ["1.3.14.3.2.26", "1.2.643.2.2.9", "1.2.643.7.1.1.2.2", "1.2.643.7.1.1.2.3",
        "1.2.840.113549.1.1.11", "1.2.840.113549.1.1.12", "1.2.840.113549.1.1.13"]


def env32():
    env = dict(os.environ, WINEPREFIX=PREFIX32, WINEARCH="win32", WINEDEBUG="-all",
               WINEDLLOVERRIDES="mscoree,mshtml=")
    return env


def ensure_prefix32():
    marker = os.path.join(PRISTINE32, ".kelvora-ready")
    if not os.path.exists(marker):
        shutil.rmtree(PRISTINE32, ignore_errors=True)
        start = time.time()
        env = dict(env32(), WINEPREFIX=PRISTINE32)
        subprocess.run([WINE32, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, "-w"], env=env)
        if not os.path.isdir(os.path.join(PRISTINE32, "drive_c", "windows", "system32")):
            raise SystemExit("smoke32: could not create the 32-bit prefix")
        open(marker, "w").close()
        print(f"smoke32: 32-bit prefix created in {time.time() - start:.0f} s")
    shutil.rmtree(PREFIX32, ignore_errors=True)
    shutil.copytree(PRISTINE32, PREFIX32, symlinks=True)


def batch():
    """Requests whose answers are deterministic, plus EncryptPin."""
    data = bytes((i * 7 + 3) % 256 for i in range(1000))  # crosses 32/64/128-byte blocks
    requests = [{"type": "Version", "id": "v"}, {"type": "VersionEx", "id": "vx"}]
    for oid in OIDS:
        for label, blob in (("abc", b"abc"), ("1000", data), ("127", data[:127]), ("64", data[:64])):
            requests.append({"type": "ComputeHash", "id": f"{oid}/{label}",
                             "arguments": {"algorithm": oid, "data": base64.b64encode(blob).decode()}})
    requests += [
        {"type": "ComputeHash", "id": "unknown", "arguments": {"algorithm": "1.2.3", "data": "YWJj"}},
        {"type": "ComputeHash", "id": "empty", "arguments": {"algorithm": OIDS[0], "data": ""}},
        {"type": "ComputeHash", "id": "bad64", "arguments": {"algorithm": OIDS[0], "data": "Y*Jj"}},
        {"type": "ComputeHash", "id": "missing", "arguments": {"algorithm": OIDS[0]}},
        {"type": "TryDecryptPin", "id": "nodollar", "arguments": {"encrypted_pin": "abc"}},
        {"type": "EncryptPin", "id": "pin", "arguments": {"pincode": "1234-\u043f\u0438\u043d"}},
    ]
    return [json.dumps(r, ensure_ascii=False) for r in requests]


def run_host(exe, requests, launcher, env):
    os.environ["KELVORA_WINE"] = launcher
    try:
        run = kelvora_client.run_requests(requests, exe=exe, env=env)
    finally:
        del os.environ["KELVORA_WINE"]
    if run.status != 0 or len(run.frames()) != len(requests):
        raise SystemExit(f"smoke32: {exe} answered {len(run.frames())} of {len(requests)} (status {run.status})")
    return [json.loads(t) for t in run.texts()]


def host32(requests):
    return run_host(os.path.join(WIN32_DIR, "kelvora_messaging.exe"), requests, WINE32, env32())


def host64(requests):
    env = dict(os.environ)
    return run_host(os.path.join(WIN64_DIR, "kelvora_messaging.exe"), requests,
                    os.path.join(WIN64_DIR, "wine-run"), env)


def check_rsa_signing():
    """SignHash and SignCms through the i686 host with a certificate whose key
    lives in the 32-bit prefix's RSA provider; signatures are random-free but
    the key is new each run, so OpenSSL checks them instead of a comparison."""
    spec = json.dumps([{"container": "smoke32-rsa", "signature_oid": "1.2.840.113549.1.1.11",
                        "subject": "CN=Kelvora smoke32"}])
    made = subprocess.run([WINE32, os.path.join(WIN32_DIR, "csp_test_tool.exe"), "make-certs"], env=env32(),
                          input=spec.encode(), capture_output=True)
    if made.returncode != 0:
        raise SystemExit("smoke32: csp_test_tool make-certs failed: " + made.stderr.decode(errors="replace"))
    thumbprint, der64 = made.stdout.decode().split()[:2]
    der = base64.b64decode(der64)
    data = b"32-bit smoke stage document"
    requests = [
        {"type": "SignHash", "id": "h", "arguments": {"hash": base64.b64encode(hashlib.sha256(data).digest()).decode(),
                                                      "thumbprint": thumbprint}},
        {"type": "SignCms", "id": "c", "arguments": {"data": base64.b64encode(data).decode(), "detached": "0",
                                                     "thumbprint": thumbprint}},
    ]
    answers = host32([json.dumps(r) for r in requests])
    for a in answers:
        if a.get("response") != "success":
            raise SystemExit(f"smoke32: {a}")
    scratch = Scratch()
    try:
        if not openssl_verifies_signature(scratch, der, "sha256", data, base64.b64decode(answers[0]["result"])):
            raise SystemExit("smoke32: OpenSSL does not verify the i686 host's RSA signature")
        if openssl_cms_verify(scratch, base64.b64decode(answers[1]["result"])) != data:
            raise SystemExit("smoke32: OpenSSL does not verify the i686 host's CMS message")
    finally:
        scratch.close()


def check_control():
    """regsvr32 and one JScript SendMessage round trip with the i686 control."""
    target = os.path.join(PREFIX32, "drive_c", "kelvora")
    os.makedirs(target, exist_ok=True)
    shutil.copy(os.path.join(WIN32_DIR, "kelvora_ax.dll"), target)
    with open(os.path.join(target, "smoke.js"), "w") as f:
        f.write('var p = new ActiveXObject("kelvora.plugin");\n'
                'WScript.Echo(p.SendMessage(\'{"type":"Version","id":"1"}\'));\n'
                'try { p.SendMessage(\'{"type":"Nope","id":"2"}\'); WScript.Echo("no error"); }\n'
                'catch (e) { WScript.Echo("error: " + e.description); }\n'
                'WScript.Echo("done");\n')
    reg = subprocess.run([WINE32, "regsvr32", "/s", "C:\\kelvora\\kelvora_ax.dll"], env=env32(),
                         capture_output=True, text=True)
    if reg.returncode != 0:
        raise SystemExit(f"smoke32: regsvr32 failed with {reg.returncode}")
    out = subprocess.run([WINE32, "cscript", "//nologo", "C:\\kelvora\\smoke.js"], env=env32(),
                         capture_output=True, text=True).stdout.replace("\r\n", "\n")
    expected = '{"response":"success","result":"2.1.0102","id":"1"}\n\nerror: Invalid message\ndone\n'
    if out != expected:
        raise SystemExit(f"smoke32: JScript round trip gave {out!r}, expected {expected!r}")


def main():
    for f in ("kelvora_messaging.exe", "kelvora_ax.dll"):
        if not os.path.exists(os.path.join(WIN32_DIR, f)):
            raise SystemExit(f"smoke32: build/win32/{f} is missing")
    start = time.time()
    ensure_prefix32()
    subprocess.run([WINESERVER, "-p"], env=env32())  # keep one server for the whole stage
    try:
        requests = batch()
        a32, a64 = host32(requests), host64(requests)
        for r32, r64 in zip(a32, a64):
            if r32["id"] == "pin":
                continue
            if r32 != r64:
                raise SystemExit(f"smoke32: answers differ for {r32['id']}: {r32} != {r64}")
        pin32, pin64 = a32[-1]["result"], a64[-1]["result"]
        cross = [json.dumps({"type": "TryDecryptPin", "id": "x", "arguments": {"encrypted_pin": p}})
                 for p in (pin32, pin64)]
        if host64(cross[:1])[0].get("result") != {"valid": "true"} or \
                host32(cross[1:])[0].get("result") != {"valid": "true"}:
            raise SystemExit("smoke32: an encrypted PIN of one build does not decrypt in the other")
        check_rsa_signing()
        check_control()
    finally:
        subprocess.run([WINESERVER, "-k"], env=env32(), stderr=subprocess.DEVNULL)
    print(f"smoke32: {len(requests)} requests: the i686 answers equal the x86_64 answers; "
          f"PINs decrypt across builds; RSA SignHash and SignCms verify; "
          f"kelvora_ax (i686) registers and answers JScript "
          f"({time.time() - start:.0f} s)")


if __name__ == "__main__":
    main()
