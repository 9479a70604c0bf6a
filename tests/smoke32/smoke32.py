#!/usr/bin/env python3
"""The 32-bit smoke stage: the shipping i686 builds run one batch of requests,
and their answers must equal the x86_64 build's answers for the same batch.

It runs build/win32/kelvora_messaging.exe under 32-bit Wine in a 32-bit prefix
of its own (build/win32/wineprefix32) and build/win64/kelvora_messaging.exe
under wine64, each as one process carrying the whole batch. Encrypted PINs are
random, so each build's EncryptPin texts are checked by the other build's
TryDecryptPin. An RSA certificate made in the 32-bit prefix with Wine's RSA
provider signs a hash and a CMS message through the i686 host, and OpenSSL
verifies both. Certificates made with OpenSSL render alike through
SerializeCertificate in both builds. SmartcardList and FindContainer over the
PC/SC stand-in, token (PKCS#11) signing, a certificate request made on a token
and its certificate written back, and SKF signing run through both builds, each
with the stand-in DLLs of its own bitness, and must answer alike; so must
certificates that are not DER throughout and certificates with extension
values the system's decoder must not see, through every command that reads
certificate bytes, each followed by a rendering that must equal a fresh
process's. The test GOST provider then answers the i686 host's calls
wrongly, row by row in one host process (csp_support's fault table). Then
kelvora_ax.dll (i686) is registered with the 32-bit regsvr32 and called once
from JScript. Last, token modules, SKF devices and a PC/SC service that
report sizes and counts beyond any real one, never end a search or fall
short in their function lists are asked through both builds (answers alike,
each host ending by itself within its memory bound), and a token module only
in the current directory is loaded neither by the i686 host nor by the i686
control.
"""
import base64
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WIN32_DIR = os.path.join(ROOT, "build", "win32")
WIN64_DIR = os.path.join(ROOT, "build", "win64")
# The end-to-end helpers work on the x86_64 build this stage compares with.
os.environ["KELVORA_BUILD_DIR"] = WIN64_DIR
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import kelvora_client  # noqa: E402
from csp_support import (FAULTS_VARIABLE, Scratch, WatchedHost, b64, hostile_certificates,  # noqa: E402
                         names_as_held, openssl_cms_verify, openssl_verifies_signature, padded, provider_fault_rows,
                         provider_fault_setup, run_fault_rows, sha1_hex, unreadable_extension_values,
                         without_extension_value, zone_offset_copy)
from pkcs11_support import (CKM_GOSTR3410, GOST_2012_512_SIGN, JACARTA, RUTOKEN, Tokens,  # noqa: E402
                            certificate, private_key, slot, standin_signature)
from cards_support import WINSCARD_VARIABLE  # noqa: E402
from e2e_support import ask_measured  # noqa: E402
from pkcs11_support import PEAK_BOUND_MIB, large_public_key_info, padded_to_all_ones  # noqa: E402
from viewer_certificates import Certificates  # noqa: E402
from skf_support import (DESCRIPTION_VARIABLE as SKF_VARIABLE, LIBRARY_DIR as SKF_DIR,  # noqa: E402
                               LIBRARY_NAME as SKF_NAME, container_lines, digest_info, signed_data)

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


def viewer_requests():
    """SerializeCertificate of every certificate of the viewer tests (made here
    with OpenSSL), and of texts that are not certificates."""
    certs = Certificates()
    try:
        texts = {name: base64.b64encode(der).decode() for name, der in certs.der.items()}
    finally:
        certs.close()
    texts.update({"empty": "", "not-a-certificate": "bm90IGEgY2VydGlmaWNhdGU=", "cut": texts["full"][:-12]})
    return [{"type": "SerializeCertificate", "id": f"view/{name}", "arguments": {"cert": text}}
            for name, text in texts.items()]


def batch(extra=()):
    """Requests whose answers are deterministic, plus EncryptPin (last)."""
    data = bytes((i * 7 + 3) % 256 for i in range(1000))  # crosses 32/64/128-byte blocks
    requests = [{"type": "Version", "id": "v"}, {"type": "VersionEx", "id": "vx"}]
    for oid in OIDS:
        for label, blob in (("abc", b"abc"), ("1000", data), ("127", data[:127]), ("64", data[:64])):
            requests.append({"type": "ComputeHash", "id": f"{oid}/{label}",
                             "arguments": {"algorithm": oid, "data": base64.b64encode(blob).decode()}})
    requests += list(extra)
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


def host32(requests, extra_env=None):
    return run_host(os.path.join(WIN32_DIR, "kelvora_messaging.exe"), requests, WINE32,
                    dict(env32(), **(extra_env or {})))


def host64(requests, extra_env=None):
    return run_host(os.path.join(WIN64_DIR, "kelvora_messaging.exe"), requests,
                    os.path.join(WIN64_DIR, "wine-run"), dict(os.environ, **(extra_env or {})))


def compare(a32, a64, skip=()):
    """Answers must be equal, key order included, but for the ids in skip."""
    for r32, r64 in zip(a32, a64):
        if r32["id"] not in skip and json.dumps(r32) != json.dumps(r64):
            raise SystemExit(f"smoke32: answers differ for {r32['id']}: {r32} != {r64}")


def make_certs32(specs):
    """csp_test_tool make-certs in the 32-bit prefix: (thumbprint, DER) of each spec."""
    made = subprocess.run([WINE32, os.path.join(WIN32_DIR, "csp_test_tool.exe"), "make-certs"], env=env32(),
                          input=json.dumps(specs).encode(), capture_output=True)
    if made.returncode != 0:
        raise SystemExit("smoke32: csp_test_tool make-certs failed: " + made.stderr.decode(errors="replace"))
    lines = [line.split() for line in made.stdout.decode().splitlines() if line.strip()]
    return [(thumb, base64.b64decode(der64)) for thumb, der64 in lines]


def check_rsa_signing():
    """SignHash and SignCms through the i686 host with a certificate whose key
    lives in the 32-bit prefix's RSA provider; signatures are random-free but
    the key is new each run, so OpenSSL checks them instead of a comparison.
    A certificate of the same key that expired an hour ago, its notAfter
    written with a zone offset, is neither listed nor used."""
    rsa = {"container": "smoke32-rsa", "signature_oid": "1.2.840.113549.1.1.11"}
    (thumbprint, der), (_, expired) = make_certs32([
        dict(rsa, subject="CN=Kelvora smoke32"),
        dict(rsa, subject="CN=Zone offset", not_before=-864000, store="none")])
    zone = zone_offset_copy(expired)
    make_certs32([dict(rsa, der=b64(zone))])
    data = b"32-bit smoke stage document"
    requests = [
        {"type": "SignHash", "id": "h", "arguments": {"hash": base64.b64encode(hashlib.sha256(data).digest()).decode(),
                                                      "thumbprint": thumbprint}},
        {"type": "SignCms", "id": "c", "arguments": {"data": base64.b64encode(data).decode(), "detached": "0",
                                                     "thumbprint": thumbprint}},
        {"type": "CertificatesList", "id": "l", "arguments": {"rsa": True}},
        {"type": "SignHash", "id": "z", "arguments": {"hash": b64(hashlib.sha256(data).digest()),
                                                      "thumbprint": sha1_hex(zone)}},
    ]
    answers = host32([json.dumps(r) for r in requests])
    for a in answers:
        if a.get("response") != "success":
            raise SystemExit(f"smoke32: {a}")
    if [d["thumbprint"] for d in answers[2]["result"] or []] != [thumbprint] or answers[3]["result"] != "":
        raise SystemExit(f"smoke32: a store certificate with a zone offset is used: {answers[2:]}")
    scratch = Scratch()
    try:
        if not openssl_verifies_signature(scratch, der, "sha256", data, base64.b64decode(answers[0]["result"])):
            raise SystemExit("smoke32: OpenSSL does not verify the i686 host's RSA signature")
        if openssl_cms_verify(scratch, base64.b64decode(answers[1]["result"])) != data:
            raise SystemExit("smoke32: OpenSSL does not verify the i686 host's CMS message")
    finally:
        scratch.close()


TOKEN_PIN, SKF_PIN = "87654321", "1234"
TOKEN_SERIAL = "00SMOKE32"  # listed before the probed card's serial
# The Rutoken's mechanisms: signing, and key-pair generation and request
# signing for the GOST R 34.10-2012 256-bit requests.
TOKEN_MECHANISMS = ["0x1200", "0x1201", "0xD4321006", "0xD4321008"]
SKF_DEVICE = "Smoke32 Key\\APP\\"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def describe_standins(tokens, der):
    """Writes both stand-ins' descriptions into the tokens' folder, which both
    builds reach through drive Z:; returns the environment that names them.
    The JaCarta holds the certificates made from the issued one (not DER
    throughout, with extension values the decoder must not see, with names
    a viewer may take for something else, and the issued one with bytes after
    its element); the Rutoken has a key pair for each of the second kind to
    write it beside."""
    readable = unreadable_extension_values(der["issued"])
    tokens.install({
        RUTOKEN: {"slots": [slot("Smoke32 Rutoken", [certificate(der["g256"], "k256"), private_key("k256")] + [
            {"class": "public_key", "id": "b%d" % n} for n in range(len(readable))],
                                 pin=TOKEN_PIN, token={"serial": TOKEN_SERIAL}, mechanisms=TOKEN_MECHANISMS)]},
        JACARTA: {"slots": [slot("Smoke32 JaCarta", [certificate(der["g512"], "k512"), private_key("k512")] + [
            certificate(copy, "h%d" % n) for n, (_, copy) in enumerate(hostile_certificates(der["issued"]))] + [
            certificate(copy, "b%d" % n) for n, (_, copy, _) in enumerate(readable)] + [
            certificate(copy, "n%d" % n) for n, (_, copy, _, _) in enumerate(names_as_held(der["issued"]))] + [
            certificate(padded(der["issued"]), "p")], pin=TOKEN_PIN)]}})
    devices = os.path.join(tokens.dir, "devices.txt")
    with open(devices, "w") as f:
        f.write(f"log {windows_path(os.path.join(tokens.dir, 'skf.log'))}\n"
                f"device Smoke32 Key\napplication APP\npin {SKF_PIN}\n" +
                container_lines("c256", der["rsa256"]) + container_lines("c512", der["rsa512"]))
    # The PC/SC stand-in of each build (winscard.dll beside its host) shows the
    # Rutoken's reader and a probed Rutoken S in a reader with a Cyrillic name.
    readers = os.path.join(tokens.dir, "readers.json")
    with open(readers, "w", encoding="utf-8") as f:
        json.dump({"readers": [
            {"name": "Smoke32 Rutoken", "atr": "3B8B015275746F6B656E20445320C1"},
            {"name": "Считыватель S", "atr": "3B6F00FF00567275546F6B6E73302000009000", "protocol": 1,
             "script": [{"command": "00CA018A04", "reply": "102700009000"},
                        {"command": "00CA018108", "reply": "785634129000"}]}]}, f, ensure_ascii=False)
    return dict(tokens.env(), **{SKF_VARIABLE: windows_path(devices), WINSCARD_VARIABLE: windows_path(readers),
                                 "WINEDLLOVERRIDES": "mscoree,mshtml=;winscard=n"})


def token_request_cases(issued, hostile, readable):
    """A request made on the Rutoken and the certificate written beside it;
    before it, certificates that are not DER throughout fail to be written,
    and those with extension values the decoder must not see are written
    beside key pairs of their own."""
    subject, eku = "2.5.4.3=Smoke32,2.5.4.6=RU", ["1.3.6.1.5.5.7.3.2"]
    token = {"container": "smoke32", "card_type": "4", "card_serial": TOKEN_SERIAL, "pincode": TOKEN_PIN}
    request = dict(token, reader="Smoke32 Rutoken", subject_quoted=subject, eku=eku, cryptoStandart="gost2012-256",
                   export="0", hash_quoted=hashlib.sha1((subject + "".join(eku) + "0").encode()).hexdigest())
    return [
        ("CreateRequestHW", request, lambda r: r["valid"] == "1" and len(base64.b64decode(r["x509request"])) > 64),
        *hostile("WriteCertificateHW", lambda der: dict(token, cert=b64(der)),
                 {"valid": "0", "errorcode": "0x80093103", "error": ""}),
        *readable("WriteCertificateHW", lambda n, der: dict(token, container="b%d" % n, cert=b64(der)),
                  lambda n, der, oid: lambda r: r == {"valid": "1"}),
        ("WriteCertificateHW", dict(token, cert=b64(issued)), lambda r: r == {"valid": "1"}),
        ("WriteCertificateHW", dict(token, cert=b64(issued)),
         lambda r: r["error"] == "Сертификат уже установлен в контейнер"),
    ]


def standin_cases(thumb, issued, rendered, description):
    """(type, arguments, expectation) of the card round, the token round and the SKF round: a
    test of the result for a success, the error text for a failure. Certificates
    that are not DER throughout (made from the issued one; the JaCarta holds
    them too) are passed over through every command that reads certificate
    bytes, each followed by a rendering of the issued certificate that must
    equal `rendered`, the rendering of a fresh process; `description` is the
    issued certificate's CertificateFromBase64 result there. Copies whose
    names a viewer may take for something else show them as held, and the
    issued certificate padded on the JaCarta is found by its own SHA-1."""
    h32, h48, h64 = (hashlib.new(n, b"smoke32").digest() for n in ("sha256", "sha384", "sha512"))
    h32b = hashlib.sha256(b"smoke32 again").digest()

    def token(name, pin=TOKEN_PIN, hash_bytes=h32):
        return {"store_type": "pkcs11", "thumbprint": thumb[name], "hash": b64(hash_bytes), "pin": pin}

    def skf(name, pin=SKF_PIN, hash_bytes=h32):
        return {"store_type": "skf", "thumbprint": thumb[name], "hash": b64(hash_bytes), "pin": pin}

    def listed(*names, copies=()):
        return lambda r: sorted(c["thumbprint"] for c in r) == sorted([thumb[n] for n in names] + list(copies))

    def found(name, key, value):
        return lambda r: (r["thumbprint"], r[key]) == (thumb[name], value)

    def token_signed(mechanism, key_id, hash_bytes):
        return lambda r: r == b64(standin_signature(mechanism, key_id, hash_bytes)[::-1])

    def skf_signed(container, hash_bytes):
        return lambda r: signed_data(SKF_DEVICE + container, base64.b64decode(r)) == digest_info(hash_bytes)

    def array(arguments, hashes, signed):
        """SignHashArray of {id: hash}; every signature as signed(hash) expects."""
        def test(r):
            return sorted(s["id"] for s in r["signatures"]) == sorted(hashes) and \
                all(signed(hashes[s["id"]])(s["sig"]) for s in r["signatures"])
        return ("SignHashArray", dict(arguments, hashes=[{"id": i, "hash": b64(h)} for i, h in hashes.items()]), test)

    render = ("SerializeCertificate", {"cert": b64(issued)}, lambda r: r == rendered)

    def hostile(kind, arguments, expected):
        return [case for _, der in hostile_certificates(issued)
                for case in ((kind, arguments(der), lambda r: r == expected), render)]

    copies = unreadable_extension_values(issued)

    def readable(kind, arguments, test):
        """The copies with extension values the decoder must not see, the nth
        with arguments(n, copy), its result tested by test(n, copy, oid)."""
        return [case for n, (_, der, oid) in enumerate(copies)
                for case in ((kind, arguments(n, der), test(n, der, oid)), render)]

    def described(der, container):
        return lambda r: isinstance(r, dict) and (r["thumbprint"], r["container"]) == (sha1_hex(der), container)

    held = names_as_held(issued)
    on_jacarta = {"hardware": "true", "reader": "Smoke32 JaCarta", "carrier_type": "pkcs11"}

    def as_held(kind, arguments, expected):
        """The copies with names as held, the nth with arguments(n, copy), expected(n, rendering, description)."""
        return [case for n, (_, der, rendering, shown) in enumerate(held)
                for case in ((kind, arguments(n, der), lambda r, e=expected(n, rendering, shown): r == e), render)]

    def cards(r):
        token = {"reader": "Smoke32 Rutoken", "type": "4", "brand": "Рутокен ЭЦП", "label": "Kelvora Test Token",
                 "model": "Stand-in", "serial": TOKEN_SERIAL, "totalmem": "-1", "freemem": "-1", "hardware": "true"}
        probed = {"reader": "Считыватель S", "type": "3", "brand": "Рутокен S", "label": "", "model": "Rutoken S",
                  "serial": "12345678", "totalmem": "32768", "freemem": "10000", "hardware": "false"}
        return r == [token, dict(token, hardware="false"), probed]

    return [
        ("SmartcardList", {}, cards),
        ("FindContainer", {"pkhash": b64(bytes(20))}, lambda r: r == ""),
        ("CertificatesList", {"store_type": "pkcs11"}, listed("g256", "g512", copies=[
            sha1_hex(der) for _, der, oid in copies if oid != "2.5.29.37"] + [
            sha1_hex(der) for _, der, _, _ in held] + [sha1_hex(issued)])),
        *hostile("FindCertificate", lambda der: {"store_type": "pkcs11", "thumbprint": sha1_hex(der)}, ""),
        *hostile("SerializeCertificate", lambda der: {"cert": b64(der)},
                 {"valid": "false", "error": "Ошибка чтения сертификата"}),
        *hostile("CertificateFromBase64", lambda der: {"data": b64(der)}, ""),
        *hostile("WriteCertificate", lambda der: {"container": "smoke32", "cert": b64(der)},
                 {"valid": "0", "errorcode": "0xFFFFFFFF", "error": "Не обнаружен соответствующий криптопровайдер"}),
        *readable("FindCertificate", lambda n, der: {"store_type": "pkcs11", "thumbprint": sha1_hex(der)},
                  lambda n, der, oid: described(der, "b%d" % n)),
        *readable("SerializeCertificate", lambda n, der: {"cert": b64(der)},
                  lambda n, der, oid: lambda r, e=without_extension_value(rendered, oid): r == e),
        *readable("CertificateFromBase64", lambda n, der: {"data": b64(der)}, lambda n, der, oid: described(der, "")),
        *readable("WriteCertificate", lambda n, der: {"container": "smoke32", "cert": b64(der)}, lambda n, der, oid:
                  lambda r: r == {"valid": "0", "errorcode": "0xFFFFFFFF", "error": "Контейнер не найден"}),
        *as_held("SerializeCertificate", lambda n, der: {"cert": b64(der)},
                 lambda n, rendering, _: rendering(rendered)),
        *as_held("CertificateFromBase64", lambda n, der: {"data": b64(der)}, lambda n, _, shown: shown(description)),
        *as_held("FindCertificate", lambda n, der: {"store_type": "pkcs11", "thumbprint": sha1_hex(der)},
                 lambda n, _, shown: dict(shown(description), container="n%d" % n, **on_jacarta)),
        ("SerializeCertificate", {"cert": b64(padded(issued))}, lambda r: r == rendered),
        ("CertificateFromBase64", {"data": b64(padded(issued))}, lambda r: r == description),
        ("FindCertificate", {"store_type": "pkcs11", "thumbprint": sha1_hex(issued)},
         lambda r: r == dict(description, container="p", **on_jacarta)),
        ("FindCertificate", {"store_type": "pkcs11", "thumbprint": thumb["g512"]},
         found("g512", "reader", "Smoke32 JaCarta")),
        ("SignHash", token("g256"), token_signed(CKM_GOSTR3410, "k256", h32)),
        ("SignHash", token("g512", hash_bytes=h64), token_signed(GOST_2012_512_SIGN, "k512", h64)),
        array(token("g256"), {"b": h32b, "a": h32}, lambda h: token_signed(CKM_GOSTR3410, "k256", h)),
        ("SignHash", token("g256", pin="1111"), "PKCS#11 error, code = 0x000000A0"),
        *token_request_cases(issued, hostile, readable),
        ("CertificatesList", {"store_type": "skf"}, listed("rsa256", "rsa512")),
        ("FindCertificate", {"store_type": "skf", "thumbprint": thumb["rsa512"]},
         found("rsa512", "container", SKF_DEVICE + "c512")),
        ("SignHash", skf("rsa256"), skf_signed("c256", h32)),
        array(skf("rsa512"), {"1": h48, "2": h64}, lambda h: skf_signed("c512", h)),
        ("SignHash", skf("rsa256", pin="4321"), "Cannot log in, attempts remain: 9"),
    ]


def expected(answer, expectation):
    if isinstance(expectation, str):
        return answer["response"] == "fail" and answer["error"] == expectation
    return answer["response"] == "success" and expectation(answer["result"])


def start_prefix64(path):
    """One server for the 64-bit prefix copy, and the prefix's own processes
    started with their output to /dev/null: they keep the stderr of the
    process that started them for as long as the server lives, so a program
    whose stderr is a pipe (make-certs) must not be the one to start them."""
    subprocess.run([WINESERVER, "-p"], env=dict(os.environ, WINEPREFIX=path))
    subprocess.run([os.path.join(WIN64_DIR, "wine-run"), "wineboot"], env=dict(os.environ, KELVORA_WINEPREFIX=path),
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)


def register_gost_provider(prefix64):
    """The test GOST provider of each build registered in its prefix."""
    for command, env in (([WINE32, os.path.join(WIN32_DIR, "gost_csp_fixture.exe"), "register"], env32()),
                         ([os.path.join(WIN64_DIR, "wine-run"), os.path.join(WIN64_DIR, "gost_csp_fixture.exe"),
                           "register"], dict(os.environ, KELVORA_WINEPREFIX=prefix64))):
        done = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, timeout=120)
        if done.returncode != 0:
            raise SystemExit("smoke32: the test GOST provider did not register: " + done.stderr.decode(errors="replace"))


def check_standins():
    """Token and SKF signing through both builds, each in a fresh prefix with
    the stand-ins of its own bitness (PKCS#11 modules beside the host, the SKF
    library at its fixed path), the same descriptions and certificates, all
    requests in one host process per build. The stand-ins sign
    deterministically, so the answers must be byte-identical, and the calls
    the stand-ins log must be the same; the 32-bit answers are also checked
    against the stand-ins' signature schemes. Returns the number of requests."""
    tokens = Tokens()  # a fresh 64-bit prefix, and a folder for descriptions and logs
    try:
        start_prefix64(tokens.prefix.path)
        specs = {"g256": "2012-256", "g512": "2012-512", "rsa256": "rsa-sha256", "rsa512": "rsa-sha512",
                 "issued": "2012-256"}
        cert_specs = [{"algorithm": a, "subject": f"CN=Smoke32 {n}"} for n, a in specs.items()]
        try:
            made = tokens.make_certs(cert_specs, timeout=120)
        except subprocess.TimeoutExpired:
            # Now and then a Wine program never gets going on a new server
            # (test.sh runs a failing win64 test twice for the same reason):
            # the prefix's server once more from the start.
            print("smoke32: the certificate fixture did not finish in 120 s; the 64-bit prefix is restarted once")
            subprocess.run([WINESERVER, "-k"], env=dict(os.environ, WINEPREFIX=tokens.prefix.path))
            start_prefix64(tokens.prefix.path)
            made = tokens.make_certs(cert_specs, timeout=120)
        thumb = {n: t for n, (t, _) in zip(specs, made)}
        der = {n: d for n, (_, d) in zip(specs, made)}
        env = describe_standins(tokens, der)
        # The test GOST provider in both prefixes: WriteCertificate reads the
        # certificate once a GOST provider is there.
        register_gost_provider(tokens.prefix.path)
        fresh = host32([json.dumps({"type": "SerializeCertificate", "id": "fresh",
                                    "arguments": {"cert": b64(der["issued"])}}),
                        json.dumps({"type": "CertificateFromBase64", "id": "described",
                                    "arguments": {"data": b64(der["issued"])}})])
        cases = standin_cases(thumb, der["issued"], fresh[0]["result"], fresh[1]["result"])
        requests = [json.dumps({"type": kind, "id": f"{n}:{kind}", "arguments": arguments})
                    for n, (kind, arguments, _) in enumerate(cases)]
        skf_log = os.path.join(tokens.dir, "skf.log")
        runs = []
        for build_dir, drive_c, ask in (
                (WIN32_DIR, os.path.join(PREFIX32, "drive_c"), lambda: host32(requests, env)),
                (WIN64_DIR, os.path.join(tokens.prefix.path, "drive_c"),
                 lambda: host64(requests, dict(env, KELVORA_WINEPREFIX=tokens.prefix.path)))):
            os.makedirs(os.path.join(drive_c, *SKF_DIR), exist_ok=True)
            shutil.copyfile(os.path.join(build_dir, "kelvora_test_skf.dll"),
                            os.path.join(drive_c, *SKF_DIR, SKF_NAME))
            tokens.clear_log()
            open(tokens.store_path, "w").close()  # each build starts with the tokens as described
            open(skf_log, "w").close()
            answers = ask()
            with open(skf_log, encoding="utf-8") as f:
                runs.append((answers, tokens.log(), f.read().splitlines()))
    finally:
        tokens.close()
    (a32, p11_32, skf32), (a64, p11_64, skf64) = runs
    compare(a32, a64)
    for (_, _, expectation), answer in zip(cases, a32):
        if not expected(answer, expectation):
            raise SystemExit(f"smoke32: unexpected answer to {answer['id']}: {answer}")
    for name, log32, log64 in (("PKCS#11 token", p11_32, p11_64), ("SKF library", skf32, skf64)):
        if log32 != log64 or not log32:
            diff = next((pair for pair in zip(log32, log64) if pair[0] != pair[1]), (len(log32), len(log64)))
            raise SystemExit(f"smoke32: the {name} stand-in logged other calls (or none) for the i686 host: {diff}")
    return len(cases)


# The most resident memory the i686 host, qemu-i386 included where it runs
# under it, may reach over all the fault rows.
FAULT_ROWS_PEAK = 384 << 20


def check_provider_faults():
    """The fault rows of the test GOST provider (csp_support's table) through
    the i686 host in one process of the 32-bit prefix: every row answered, in
    band or as a failure, never a success with a bad output, the honest
    request after it answered honestly, the peak memory of the Windows
    process within FAULT_ROWS_PEAK, and the host ending by itself with
    status 0. Returns the number of rows and the peak in MiB."""
    def gost(*args):
        done = subprocess.run([WINE32, os.path.join(WIN32_DIR, "gost_csp_fixture.exe"), *args], env=env32(),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
        if done.returncode != 0:
            raise SystemExit(f"smoke32: gost_csp_fixture {args[0]}: " + done.stderr.decode(errors="replace"))
        return done.stdout.decode()

    rows = provider_fault_rows(provider_fault_setup(gost))
    work = tempfile.mkdtemp(prefix="smoke32-faults.")
    try:
        faults = os.path.join(work, "faults.txt")
        env = dict(env32(), **{FAULTS_VARIABLE: windows_path(faults)})
        problems, peak = run_fault_rows(
            lambda: WatchedHost([WINE32, os.path.join(WIN32_DIR, "kelvora_messaging.exe")], env, FAULT_ROWS_PEAK,
                                timeout=600), faults, rows)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if problems:
        raise SystemExit("smoke32: the i686 host and a broken provider: " +
                         "; ".join(f"{name}: {text}" for name, text in problems))
    return len(rows), peak / 1048576


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


# The most either host may take (VmHWM, MiB) while it answers the hostile
# stand-ins; the i686 host runs under qemu-i386 where the kernel cannot run
# 32-bit code, whose own memory counts too.
HOSTILE_PEAK_MIB = {"win64": PEAK_BOUND_MIB, "win32": 2 * PEAK_BOUND_MIB}
TOO_LARGE = "Answer exceeds the 1 MiB limit of native messaging"


def measured(build, requests, env):
    """The answers of one host process of build to (type, arguments) pairs,
    asked one at a time, and its peak memory in MiB; it must answer each and
    exit 0 by itself."""
    if build == "win32":
        command, env = [WINE32, os.path.join(WIN32_DIR, "kelvora_messaging.exe")], dict(env32(), **env)
    else:
        command = [os.path.join(WIN64_DIR, "wine-run"), os.path.join(WIN64_DIR, "kelvora_messaging.exe")]
        env = dict(os.environ, **env)
    try:
        return ask_measured(requests, env, command=command, timeout=1800)
    except kelvora_client.HostFailure as e:
        raise SystemExit(f"smoke32: {build}: {e}")


def hostile_rows(thumb, der, large):
    """(name, PKCS#11 modules, SKF devices, PC/SC service, requests, test of
    the answers): modules, devices and readers that report sizes and counts
    beyond any real one, never end a search, or fall short in their function
    lists."""
    h32, h64 = hashlib.sha256(b"hostile").digest(), hashlib.sha512(b"hostile").digest()
    g512 = {"store_type": "pkcs11", "thumbprint": thumb["g512"], "hash": b64(h64), "pin": TOKEN_PIN}
    signed_512 = b64(standin_signature(GOST_2012_512_SIGN, "k512", h64)[::-1])
    jacarta = {"slots": [slot("Smoke32 JaCarta", [certificate(der["g512"], "k512"), private_key("k512")],
                              pin=TOKEN_PIN)]}

    def rutoken(**extra):
        return dict(extra, slots=[slot("Smoke32 Rutoken", [certificate(der["g256"], "k256"), private_key("k256")],
                                       pin=TOKEN_PIN, token={"serial": TOKEN_SERIAL}, mechanisms=TOKEN_MECHANISMS)])

    def listed(*names):
        return lambda r: [c["thumbprint"] for c in r] == [thumb[n] for n in names]

    listing = ("CertificatesList", {"store_type": "pkcs11"})
    rows = [(f"function list {rules}", {RUTOKEN: rutoken(function_list=rules), JACARTA: jacarta}, None, None,
             [listing, ("SignHash", dict(g512, thumbprint=thumb["g256"], hash=b64(h32))), ("SignHash", g512)],
             [listed("g512"), lambda r: r == "", lambda r: r == signed_512])
            for rules in ({"null": ["C_GetSlotList"]}, {"null": ["C_Finalize"]}, {"end_after": "C_Initialize"})]
    endless = {RUTOKEN: {"slots": [slot("Endless", [certificate(der["g256"], "e")], endless_search=True)]},
               JACARTA: jacarta}
    counts = {RUTOKEN: rutoken(pad_query={"C_GetSlotList": padded_to_all_ones(1)}),
              JACARTA: {"slots": [dict(jacarta["slots"][0], pad_query={"C_GetMechanismList": padded_to_all_ones(3),
                                                                        "C_Sign": padded_to_all_ones(128)})]}}
    hashes = [{"id": "%03d" % n, "hash": b64(bytes([n]) * 64)} for n in range(100)]
    rows += [
        ("a search without end", endless, None, None, [listing, ("SignHash", g512)],
         [TOO_LARGE, lambda r: r == signed_512]),
        ("counts and sizes of 0xFFFFFFFF", counts, None, None,
         [listing, ("SignHash", g512), ("SignHashArray", dict(g512, hashes=hashes))],
         [listed("g512", "g256"), lambda r: r == signed_512,
          lambda r: r["signatures"][1]["sig"] == b64(standin_signature(GOST_2012_512_SIGN, "k512", bytes([1]) * 64)[::-1])]),
        ("a reader list of 0xFFFFFFFF characters", {RUTOKEN: rutoken()}, None,
         {"extra_query_length": padded_to_all_ones(len("Smoke32 Rutoken") + 2),
          "readers": [{"name": "Smoke32 Rutoken", "atr": "3B8B015275746F6B656E20445320C1"}]},
         [("SmartcardList", {})], [lambda r: [c["serial"] for c in r] == [TOKEN_SERIAL, TOKEN_SERIAL]]),
    ]
    many = "copies 9000\n"
    skf_array = {"store_type": "skf", "thumbprint": thumb["rsa256"], "pin": SKF_PIN,
                 "hashes": [{"id": "%05d" % n, "hash": b64(hashlib.sha256(b"%d" % n).digest())} for n in range(20000)]}
    skf_sign = {"store_type": "skf", "thumbprint": thumb["rsa256"], "hash": b64(h32), "pin": SKF_PIN}

    def skf_signed(path, size):
        return lambda r: len(base64.b64decode(r)) == size and \
            signed_data(path, base64.b64decode(r)) == digest_info(h32)

    # Short names, so that 9,000 of them fit in the 64 KiB a name list may take.
    rows += [
        ("SKF certificates of 1 MiB in 9,000 containers", None,
         "device Smoke32 Key\napplication APP\n" + container_lines("c", large, many), None,
         [("CertificatesList", {"store_type": "skf"}), ("FindCertificate", {"store_type": "skf", "thumbprint": sha1_hex(large)})],
         [lambda r: [c["thumbprint"] for c in r] == [sha1_hex(large)] * 16,
          lambda r: r["container"] == SKF_DEVICE + "c"]),
        ("SKF: 9,000 names at each level", None, "device k\n" + many + "application a\n" + many +
         f"pin {SKF_PIN}\n" + container_lines("c", der["rsa256"], many), None,
         [("CertificatesList", {"store_type": "skf"}), ("SignHash", skf_sign)], [TOO_LARGE, skf_signed("k\\a\\c", 256)]),
        ("SKF: SignHashArray of 20,000 hashes, 8 KiB signatures", None,
         f"device Smoke32 Key\napplication APP\npin {SKF_PIN}\n" + container_lines("c", der["rsa256"], "modulus 8192\n"),
         None, [("SignHashArray", skf_array), ("SignHash", skf_sign)], [TOO_LARGE, skf_signed(SKF_DEVICE + "c", 8192)]),
    ]
    return rows


def check_hostile_standins(builds=("win32", "win64")):
    """Each row of hostile_rows in one host process of each of builds, with
    the stand-ins of its bitness: the answers must be alike and as expected,
    each host must end by itself with 0 and stay within its memory bound.
    Then, with the i686 build, the current directory: a token module only
    there is never loaded, by a copy of the i686 host in a folder of its own,
    nor by the i686 control that JScript calls. Returns the number of
    requests and the peaks. With builds ("win64",) the rows run where 32-bit
    code does not."""
    tokens = Tokens()
    try:
        start_prefix64(tokens.prefix.path)
        specs = {"g256": "2012-256", "g512": "2012-512", "rsa256": "rsa-sha256"}
        made = tokens.make_certs([{"algorithm": a, "subject": f"CN=Hostile {n}"} for n, a in specs.items()] + [
            {"algorithm": "rsa-sha256", "subject": "CN=Hostile 1 MiB",
             "public_key_info": large_public_key_info((1 << 20) - 2000)}], timeout=300)
        thumb = {n: t for n, (t, _) in zip(specs, made)}
        der = {n: d for n, (_, d) in zip(specs, made)}
        devices, readers = os.path.join(tokens.dir, "devices.txt"), os.path.join(tokens.dir, "readers.json")
        env = dict(tokens.env(), **{SKF_VARIABLE: windows_path(devices), WINSCARD_VARIABLE: windows_path(readers),
                                    "WINEDLLOVERRIDES": "mscoree,mshtml=;winscard=n"})
        drives = {"win32": (WIN32_DIR, os.path.join(PREFIX32, "drive_c")),
                  "win64": (WIN64_DIR, os.path.join(tokens.prefix.path, "drive_c"))}
        for build_dir, drive_c in (drives[build] for build in builds):
            os.makedirs(os.path.join(drive_c, *SKF_DIR), exist_ok=True)
            shutil.copyfile(os.path.join(build_dir, "kelvora_test_skf.dll"), os.path.join(drive_c, *SKF_DIR, SKF_NAME))
        count, peaks = 0, {"win32": 0, "win64": 0}
        for name, modules, skf_text, service, requests, expectations in hostile_rows(thumb, der, made[-1][1]):
            tokens.install(modules or {})
            with open(devices, "w") as f:
                f.write(skf_text or "")
            with open(readers, "w") as f:
                json.dump(service or {"readers": []}, f)
            answers = {}
            for build in builds:
                build_env = dict(env, KELVORA_WINEPREFIX=tokens.prefix.path) if build == "win64" else env
                answers[build], peak = measured(build, requests, build_env)
                if peak > HOSTILE_PEAK_MIB[build]:
                    raise SystemExit(f"smoke32: {name}: the {build} host took {peak:.0f} MiB")
                peaks[build] = max(peaks[build], peak)
            if len(builds) == 2:
                compare(answers["win32"], answers["win64"])
            for answer, expectation in zip(answers[builds[0]], expectations):
                if not expected(answer, expectation):
                    raise SystemExit(f"smoke32: {name}: unexpected answer {json.dumps(answer)[:300]}")
            count += len(requests)
        if "win32" in builds:
            check_current_directory(tokens, thumb["g256"], der["g256"])
    finally:
        tokens.close()
    return count, peaks


def check_current_directory(tokens, thumbprint, der):
    """rtPKCS11ECP.dll only in the current directory: neither the i686 host
    (a copy in a folder of its own) nor the i686 control (JScript through
    cscript) loads it. Beside the host copy, and in the 32-bit system folder
    (beside cscript, the control's program), it loads."""
    tokens.install({RUTOKEN: {"slots": [slot("Current", [certificate(der, "c")])]}})
    request = {"type": "CertificatesList", "id": "cwd", "arguments": {"store_type": "pkcs11"}}
    work = tempfile.mkdtemp(dir=tokens.dir)
    program, current = os.path.join(work, "program"), os.path.join(work, "current")
    os.makedirs(program)
    os.makedirs(current)
    shutil.copy(os.path.join(WIN32_DIR, "kelvora_messaging.exe"), program)
    with open(os.path.join(PREFIX32, "drive_c", "kelvora", "cwd.js"), "w") as f:
        f.write('WScript.Echo(new ActiveXObject("kelvora.plugin").SendMessage(\'%s\'));\n' % json.dumps(request))
    env = dict(env32(), **tokens.env())

    def host():
        done = subprocess.run([WINE32, os.path.join(program, "kelvora_messaging.exe")], env=env, cwd=current,
                              input=kelvora_client.frame(json.dumps(request)), capture_output=True, timeout=600)
        texts = kelvora_client.HostRun(done.stdout, done.returncode).texts()
        return texts[0] if done.returncode == 0 and len(texts) == 1 else f"exit {done.returncode}: {texts}"

    def control():
        done = subprocess.run([WINE32, "cscript", "//nologo", "C:\\kelvora\\cwd.js"], env=env, cwd=current,
                              capture_output=True, text=True, timeout=600)
        return done.stdout.strip() if done.returncode == 0 else f"exit {done.returncode}: {done.stdout}"

    system = os.path.join(PREFIX32, "drive_c", "windows", "system32")
    for name, ask, folder, loads in (("host", host, current, False), ("host", host, program, True),
                                     ("control", control, current, False), ("control", control, system, True)):
        target = os.path.join(folder, RUTOKEN)
        shutil.copyfile(os.path.join(WIN32_DIR, "kelvora_test_pkcs11_token.dll"), target)
        try:
            answer = ask()
        finally:
            os.remove(target)
        try:
            value = json.loads(answer)["result"]
            listed = [c["thumbprint"] for c in value] if value else []
        except (ValueError, KeyError, TypeError):
            listed = None
        if listed != ([thumbprint] if loads else []):
            raise SystemExit(f"smoke32: the i686 {name} with the module in {folder} answered {answer!r}")
    shutil.rmtree(work, ignore_errors=True)


def check_hash_paths():
    """The hash tests of the i686 build: every accelerated path of that build
    (SHA extensions, the vector SHA-512, the SSE2 and AVX-512 GOST R
    34.11-2012 loops, the vector base64 decoders) against its portable code,
    on this processor."""
    exe = os.path.join(WIN32_DIR, "kelvora_unit_tests.exe")
    # Output into a file, not a pipe: Wine's background processes may keep a
    # pipe open long after the program ends.
    with tempfile.TemporaryFile(mode="w+") as output:
        run = subprocess.run([WINE32, exe, "--gtest_brief=1",
                              "--gtest_filter=*sha*:*Gost*:*streebog*:block_buffer.*:hash_*:Base64*"],
                             env=env32(), stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT,
                             timeout=600)
        output.seek(0)
        text = output.read()
    if run.returncode != 0 or "PASSED" not in text:
        print(text[-4000:])
        raise SystemExit("smoke32: the hash tests of the i686 build failed")
    ran = [line for line in text.splitlines() if line.startswith("[==========]")]
    return ran[-1].split()[1] if ran else "?"


def main():
    needed = ["win32/kelvora_unit_tests.exe", "win32/kelvora_ax.dll", "win64/pkcs11_token_fixture.exe"] + [
        f"{b}/{f}" for b in ("win32", "win64")
        for f in ("kelvora_messaging.exe", RUTOKEN, JACARTA, "kelvora_test_skf.dll", "winscard.dll",
                  "gost_csp_fixture.exe", "kelvora_test_gost_csp.dll")]
    for path in needed:
        if not os.path.exists(os.path.join(ROOT, "build", path)):
            raise SystemExit(f"smoke32: build/{path} is missing")
    start = time.time()
    ensure_prefix32()
    subprocess.run([WINESERVER, "-p"], env=env32())  # keep one server for the whole stage
    try:
        hash_tests = check_hash_paths()
        viewer = viewer_requests()
        requests = batch(viewer)
        a32, a64 = host32(requests), host64(requests)
        compare(a32, a64, skip=("pin",))
        pin32, pin64 = a32[-1]["result"], a64[-1]["result"]
        cross = [json.dumps({"type": "TryDecryptPin", "id": "x", "arguments": {"encrypted_pin": p}})
                 for p in (pin32, pin64)]
        if host64(cross[:1])[0].get("result") != {"valid": "true"} or \
                host32(cross[1:])[0].get("result") != {"valid": "true"}:
            raise SystemExit("smoke32: an encrypted PIN of one build does not decrypt in the other")
        check_rsa_signing()
        standin_count = check_standins()
        fault_rows, fault_peak = check_provider_faults()
        check_control()
        hostile_count, hostile_peaks = check_hostile_standins()
    finally:
        subprocess.run([WINESERVER, "-k"], env=env32(), stderr=subprocess.DEVNULL)
    print(f"smoke32: {hash_tests} hash tests of the i686 build pass; "
          f"{len(requests)} requests: the i686 answers equal the x86_64 answers; "
          f"PINs decrypt across builds; RSA SignHash and SignCms verify; "
          f"SerializeCertificate of {len(viewer)} texts among them; "
          f"{standin_count} card, token and SKF requests answer alike in both builds; "
          f"{fault_rows} rows of a broken GOST provider pass (peak {fault_peak:.0f} MiB); "
          f"kelvora_ax (i686) registers and answers JScript; "
          f"{hostile_count} requests to hostile modules, devices and readers answer alike, each host ending by "
          f"itself (peaks: i686 {hostile_peaks['win32']:.0f} MiB, x86_64 {hostile_peaks['win64']:.0f} MiB), "
          f"and no token module loads from the current directory ({time.time() - start:.0f} s)")


if __name__ == "__main__":
    main()
