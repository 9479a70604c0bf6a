"""The built host with its real client: Chromium starts it from its host
manifest and the test extension's page sends a request of every command through
one chrome.runtime.connectNative port. Each answer must arrive, and the port
must stay open after each: Chromium closes the port on an answer frame above
1 MiB, and stalls or closes it on a frame whose length does not match its text.

request_table() is the table: one row per request, (name, type, arguments,
check[, id]), sent in order to one browser and one host process. The check
takes the answer the page received. In the arguments, "@fx:NAME" is a value of
the fixture (a thumbprint) and "@result:NAME" the result of the earlier row
NAME, filled in by the page."""
import base64
import hashlib
import os
import subprocess
import unittest

from browser_support import missing_pieces, run_in_browser
from cards_support import Cards, container_line, public_key_blob
from csp_support import (GOST_FIXTURE, Scratch, WINE_RUN, b64, openssl, openssl_cms_verify, openssl_verifies_signature,
                         sha1_hex)
from e2e_support import HOST_EXE
from pkcs11_support import CKM_GOSTR3410, RUTOKEN, certificate, private_key, slot, standin_signature
from test_find_container import AT_KEYEXCHANGE, DH_2012_256, P256, P512, PRIVATE, csp, pkhash, public_key, token
from test_request_commands import request_args
from test_serialize_certificate import EXPECTED, READ_ERROR
from test_smartcard_list import card, reader, rutoken_s
from test_token_requests import MECHANISMS, RUTOKEN_3, Request, arguments, openssl_request_text, write_arguments
from viewer_certificates import make_certificate

MAX_MESSAGE = 1 << 20
SHA256_OID, SHA512_OID = "1.2.840.113549.1.1.11", "1.2.840.113549.1.1.13"
TOO_LARGE = "Answer exceeds the 1 MiB limit of native messaging"
TOKEN_PIN = "12345678"
# A document of 1 MiB, every byte value many times.
DOCUMENT = bytes((i * 7 + (i >> 10)) & 0xFF for i in range(MAX_MESSAGE))
SIGNED_TEXT = b"Kelvora signs this text in a browser."
# An id that fits a failure answer but not a ComputeHash answer with a SHA-512
# digest: the host must answer with the failure.
LARGE_ID = "L" * (MAX_MESSAGE - 100)

RSA_CERT = {"container": "browser-rsa", "signature_oid": SHA256_OID, "subject": "CN=Browser RSA, O=Kelvora"}
TOKEN_CERTS = {"signer": {"algorithm": "2012-256", "subject": "CN=Browser token signer"},
               "binary_id": {"algorithm": "2012-256", "subject": "CN=Binary key id"},
               # Issued for the token's key pair "browser-key"; written onto the token by WriteCertificateHW.
               "written": {"algorithm": "2012-256", "subject": "CN=Browser token written"}}
TOKEN_KEY_ID = "k256"
BINARY_KEY_ID = "00FF4180"  # NUL, two bytes that are no UTF-8, "A"
BINARY_KEY_ID_SEEN = "\u0000\ufffdA\ufffd"
TOKEN_READER, TOKEN_SERIAL = "Rutoken ECP", "B0000001"
TOKEN_INFO = {"label": "Browser token", "model": "Rutoken ECP", "serial": TOKEN_SERIAL, "hardware_version": "30.0",
              "total_memory": 65536, "free_memory": 30000}
# A key pair on the token whose public key is also in a container of the GOST
# stand-in provider: FindContainer finds both.
SHARED_KEY = hashlib.sha512(b"browser shared key").digest()
SHARED_KEY_ID = "browser-key"
# PC/SC readers: the token's, and a Rutoken S card the host probes with APDUs.
READERS = [reader(TOKEN_READER, 4), rutoken_s("Rutoken S Reader", "10270000" "9000", "78563412" "9000", protocol=1)]
TOKEN_CARD = card(TOKEN_READER, 4, "Рутокен ЭЦП", "Browser token", "Rutoken ECP", TOKEN_SERIAL, 65536, 30000, True)
# The token with GOST 2012 keys comes first as a key carrier, and again among the cards.
CARDS = [TOKEN_CARD, card("Rutoken S Reader", 3, "Рутокен S", "", "Rutoken S", "12345678", 32768, 10000),
         dict(TOKEN_CARD, hardware="false")]
GOST_CONTAINER = "browser-gost"
REQUEST_SUBJECT = "2.5.4.3=Browser Request,2.5.4.6=RU"
HW_CONTAINER = "browser-hw-request"
GOST_2012_256_SIGN = 0xD4321008
NOT_FOUND = "Контейнер не найден"


# --- checks: each takes the answer and the fixture, and asserts ---------------

def success(expected):
    def check(t, answer, fx):
        t.assertEqual(answer.get("response"), "success", answer)
        t.assertEqual(answer.get("result"), expected(fx) if callable(expected) else expected)
    return check


def fail(expected):
    def check(t, answer, fx):
        t.assertEqual(answer.get("response"), "fail", answer)
        t.assertEqual(answer.get("error"), expected)
    return check


def result_of(t, answer):
    t.assertEqual(answer.get("response"), "success", answer)
    return answer["result"]


def check_encrypted_pin(t, answer, fx):
    text = result_of(t, answer)
    t.assertRegex(text, r"^[A-Za-z0-9+/=]+\$[A-Za-z0-9+/=]+$")
    t.assertNotIn("12345678", text)


def check_rsa_listing(t, answer, fx):
    listing = {d["thumbprint"]: d for d in result_of(t, answer)}
    d = listing[fx.rsa_thumb]
    t.assertEqual(d["subject"], {"CN": "Browser RSA", "O": "Kelvora"})
    t.assertEqual((d["container"], d["hardware"], d["carrier_type"]), ("browser-rsa", "false", "csp"))


def check_rsa_signature(data):
    def check(t, answer, fx):
        signature = base64.b64decode(result_of(t, answer))
        t.assertTrue(openssl_verifies_signature(fx.scratch, fx.rsa_der, "sha256", data, signature))
    return check


def check_cms(t, answer, fx):
    t.assertEqual(openssl_cms_verify(fx.scratch, base64.b64decode(result_of(t, answer))), SIGNED_TEXT)


def check_hash_array(t, answer, fx):
    signatures = result_of(t, answer)["signatures"]
    t.assertEqual([s["id"] for s in signatures], ["1", "2"])
    for s, text in zip(signatures, (b"first", b"second")):
        t.assertTrue(openssl_verifies_signature(fx.scratch, fx.rsa_der, "sha256", text, base64.b64decode(s["sig"])))


def check_token_listing(t, answer, fx):
    listing = {d["thumbprint"]: d for d in result_of(t, answer)}
    t.assertEqual(set(listing), {fx.token_thumb["signer"], fx.token_thumb["binary_id"]})
    t.assertEqual(listing[fx.token_thumb["signer"]]["container"], TOKEN_KEY_ID)
    # Bytes of the key id that are no UTF-8 arrive as U+FFFD; the rest as they are.
    binary = listing[fx.token_thumb["binary_id"]]
    t.assertEqual(binary["container"], BINARY_KEY_ID_SEEN)
    t.assertEqual((binary["reader"], binary["hardware"], binary["carrier_type"]),
                  ("Rutoken ECP", "true", "pkcs11"))


def check_binary_id_description(t, answer, fx):
    d = result_of(t, answer)
    t.assertEqual(d["thumbprint"], fx.token_thumb["binary_id"])
    t.assertEqual(d["container"], BINARY_KEY_ID_SEEN)


def check_token_signature(t, answer, fx):
    signature = base64.b64decode(result_of(t, answer))
    t.assertEqual(signature, standin_signature(CKM_GOSTR3410, TOKEN_KEY_ID, bytes(range(32)))[::-1])


def check_request(t, answer, fx):
    """A CryptoAPI request: valid "1", and OpenSSL reads it with its subject."""
    value = result_of(t, answer)
    t.assertEqual(value.get("valid"), "1", value)
    shown = openssl("req", "-inform", "DER", "-noout", "-subject", input_bytes=base64.b64decode(value["x509request"]))
    t.assertEqual(shown.returncode, 0, shown.stderr)
    t.assertIn("CN = Browser Request, C = RU", shown.stdout.decode())


def check_token_request(t, answer, fx):
    """A token request: OpenSSL reads it, and its signature is the token's of its body."""
    value = result_of(t, answer)
    t.assertEqual(value.get("valid"), "1", value)
    der = base64.b64decode(value["x509request"])
    code, text = openssl_request_text(der)
    t.assertEqual(code, 0, text)
    request = Request(der)
    t.assertEqual(request.signing_tool(), RUTOKEN_3)
    t.assertEqual(request.signature, standin_signature(GOST_2012_256_SIGN, HW_CONTAINER, request.info))


def check_rendered_certificate(t, answer, fx):
    version, serial, names = EXPECTED["full"][:3]
    c = result_of(t, answer)["certificate"]
    t.assertEqual((c["version"], c["serial-number"]), (version, serial))
    t.assertEqual(c["subject"], {"rdn": [{"oid": o, "name": n, "value": v} for o, n, v in names]})


def check_written_gost(t, answer, fx):
    """The certificate WriteCertificate installed is in the store, bound to its container."""
    description = result_of(t, answer)
    t.assertIsInstance(description, dict, answer)
    t.assertEqual(description["thumbprint"], fx.values["gost_thumb"])
    t.assertTrue(description["container"].endswith(GOST_CONTAINER), description)


def container_of(expected):
    def check(t, answer, fx):
        description = result_of(t, answer)
        t.assertIsInstance(description, dict, answer)
        t.assertEqual(description["container"], expected)
    return check


def request_table(fx):
    """(name, type, arguments, check[, id]): the id is the name unless given."""
    return [
        ("version", "Version", {}, success("2.1.0102")),
        ("version_ex", "VersionEx", {}, success({"version": "2.1.0102", "system": "windows"})),
        ("hash_1mib", "ComputeHash", {"algorithm": SHA256_OID, "data": b64(DOCUMENT)},
         success(b64(hashlib.sha256(DOCUMENT).digest()))),
        ("encrypt", "EncryptPin", {"pincode": "12345678"}, check_encrypted_pin),
        ("decrypt", "TryDecryptPin", {"encrypted_pin": "@result:encrypt"}, success({"valid": "true"})),
        ("decrypt_bad", "TryDecryptPin", {"encrypted_pin": "AA*A$AAAA"},
         fail("attempt to decode a value not in base64 char set")),
        ("rsa_list", "CertificatesList", {"rsa": True}, check_rsa_listing),
        ("rsa_find", "FindCertificate", {"thumbprint": "@fx:rsa_thumb"},
         lambda t, a, fx: t.assertEqual(result_of(t, a)["thumbprint"], fx.rsa_thumb)),
        ("rsa_export", "CertificateToBase64", {"thumbprint": "@fx:rsa_thumb"}, success(lambda fx: b64(fx.rsa_der))),
        ("rsa_import", "CertificateFromBase64", {"data": "@fx:rsa_der64"},
         lambda t, a, fx: t.assertEqual(result_of(t, a)["thumbprint"], sha1_hex(fx.rsa_der))),
        ("rsa_sign", "SignHash", {"hash": b64(hashlib.sha256(SIGNED_TEXT).digest()), "thumbprint": "@fx:rsa_thumb",
                                  "encrypted_pin": "@result:encrypt"}, check_rsa_signature(SIGNED_TEXT)),
        ("rsa_sign_array", "SignHashArray",
         {"thumbprint": "@fx:rsa_thumb", "hashes": [{"id": "2", "hash": b64(hashlib.sha256(b"second").digest())},
                                                    {"id": "1", "hash": b64(hashlib.sha256(b"first").digest())}]},
         check_hash_array),
        ("rsa_try", "TryWithoutPin", {"thumbprint": "@fx:rsa_thumb"}, success({"valid": "true"})),
        ("rsa_cms", "SignCms", {"data": b64(SIGNED_TEXT), "detached": False, "thumbprint": "@fx:rsa_thumb"},
         check_cms),
        ("decrypt_key", "Decrypt", {"thumbprint": "@fx:rsa_thumb"}, fail("No such node (encryptedKey)")),
        ("too_large", "ComputeHash", {"algorithm": SHA512_OID, "data": "YWJj"}, fail(TOO_LARGE), LARGE_ID),
        ("after_too_large", "Version", {}, success("2.1.0102")),
        ("token_list", "CertificatesList", {"store_type": "pkcs11"}, check_token_listing),
        ("token_find_binary_id", "FindCertificate", {"store_type": "pkcs11", "thumbprint": "@fx:binary_thumb"},
         check_binary_id_description),
        ("token_sign", "SignHash", {"store_type": "pkcs11", "thumbprint": "@fx:signer_thumb",
                                    "hash": b64(bytes(range(32))), "pin": TOKEN_PIN}, check_token_signature),
        ("providers", "ProvidersList", {"algorithms": ["1.2.643.7.1.1.2.2"]},
         success([{"type": "80", "name": P256}, {"type": "81", "name": P512}])),
        ("smartcards", "SmartcardList", {}, success(CARDS)),
        ("find_container", "FindContainer", {"pkhash": pkhash(SHARED_KEY)},
         success([csp(P256, 80, "browser-shared"), csp(P512, 81, "browser-shared"),
                  token(TOKEN_READER, SHARED_KEY_ID, 4, TOKEN_SERIAL)])),
        ("serialize", "SerializeCertificate", {"cert": "@fx:viewer_der64"}, check_rendered_certificate),
        ("serialize_bad", "SerializeCertificate", {"cert": b64(b"not a certificate")},
         success({"valid": "false", "error": READ_ERROR})),
        ("create_request", "CreateRequest", request_args("browser-request", REQUEST_SUBJECT), check_request),
        ("write_certificate", "WriteCertificate", {"container": GOST_CONTAINER, "cert": "@fx:gost_cert64",
                                                   "install": "1"}, success({"valid": "1"})),
        ("written_found", "FindCertificate", {"thumbprint": "@fx:gost_thumb"}, check_written_gost),
        ("write_certificate_missing", "WriteCertificate", {"container": "missing", "cert": "@fx:gost_cert64"},
         success({"valid": "0", "errorcode": "0xFFFFFFFF", "error": NOT_FOUND})),
        ("create_request_hw", "CreateRequestHW", arguments(HW_CONTAINER, TOKEN_SERIAL, pin=TOKEN_PIN),
         check_token_request),
        ("write_certificate_hw", "WriteCertificateHW",
         write_arguments(SHARED_KEY_ID, TOKEN_SERIAL, fx.token_der["written"], pin=TOKEN_PIN),
         success({"valid": "1"})),
        ("written_hw_found", "FindCertificate", {"store_type": "pkcs11", "thumbprint": "@fx:written_thumb"},
         container_of(SHARED_KEY_ID)),
        ("write_certificate_hw_missing", "WriteCertificateHW",
         write_arguments("missing", TOKEN_SERIAL, fx.token_der["written"], pin=TOKEN_PIN),
         success({"valid": "0", "errorcode": "0xFFFFFFFF", "error": NOT_FOUND})),
        ("last", "Version", {}, success("2.1.0102")),
    ]


class Fixture:
    """The test prefix: one RSA certificate of Wine's RSA provider in the
    user's store; the PKCS#11 stand-in with a GOST certificate, one whose
    CKA_ID is binary and a key pair without a certificate; the GOST stand-in
    provider with a container holding that key pair's public key and one with a
    certificate not yet in the store; the PC/SC stand-in with the token's
    reader and a Rutoken S card; and a certificate for the viewer."""

    def __init__(self):
        self.cards = Cards(gost=True)
        self.scratch = Scratch()
        prefix = self.cards.prefix
        # One wineserver for the prefix from here on (the set-up's own Wine
        # programs start faster with it too), its background programs started
        # with streams that lead nowhere: the host's output is then held by the
        # host alone.
        wine_env = dict(os.environ, WINEPREFIX=prefix.path)
        subprocess.run(["/usr/lib/wine/wineserver", "-p"], env=wine_env, check=True)
        subprocess.run([WINE_RUN, "wineboot"], env=prefix.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        ((self.rsa_thumb, self.rsa_der),) = prefix.make_certs([RSA_CERT])
        names = list(TOKEN_CERTS)
        made = self.cards.make_certs([TOKEN_CERTS[n] for n in names])
        self.token_thumb = {n: t for n, (t, _) in zip(names, made)}
        self.token_der = der = {n: d for n, (_, d) in zip(names, made)}
        binary = {"class": "certificate", "value": b64(der["binary_id"]), "id_hex": BINARY_KEY_ID}
        self.cards.install({RUTOKEN: {"slots": [slot(TOKEN_READER, [
            certificate(der["signer"], TOKEN_KEY_ID), private_key(TOKEN_KEY_ID), binary,
            public_key(SHARED_KEY_ID, SHARED_KEY), private_key(SHARED_KEY_ID)],
            pin=TOKEN_PIN, mechanisms=MECHANISMS, token=TOKEN_INFO)]}})
        self.cards.set_readers(READERS)
        self.cards.set_containers([container_line("browser-shared", [
            (AT_KEYEXCHANGE, DH_2012_256, PRIVATE, public_key_blob(SHARED_KEY))])])
        # A container of the GOST stand-in with its certificate on the key only:
        # WriteCertificate puts it into the store.
        issued = prefix.run([GOST_FIXTURE, "new-cert", "--alg", "2012-256", "--container", GOST_CONTAINER,
                             "--no-store", "--subject", "CN=Browser GOST, C=RU"], extra_env=self.cards.env())
        if issued.returncode != 0:
            raise RuntimeError("gost_csp_fixture new-cert: " + issued.stderr.decode(errors="replace"))
        gost_cert = base64.b64decode(issued.stdout.decode().strip())
        viewer_der = make_certificate(self.scratch.dir, "full")
        self.values = {"rsa_thumb": self.rsa_thumb, "rsa_der64": b64(self.rsa_der),
                       "binary_thumb": self.token_thumb["binary_id"], "signer_thumb": self.token_thumb["signer"],
                       "written_thumb": self.token_thumb["written"],
                       "gost_thumb": sha1_hex(gost_cert), "gost_cert64": b64(gost_cert),
                       "viewer_der64": b64(viewer_der)}

    def host(self):
        """The host's command and environment for the launcher."""
        return [WINE_RUN, HOST_EXE], dict(KELVORA_WINEPREFIX=self.cards.prefix.path, **self.cards.env())

    def resolve(self, value):
        """Fills in "@fx:NAME" values; "@result:NAME" is left for the page."""
        if isinstance(value, str) and value.startswith("@fx:"):
            return self.values[value[4:]]
        if isinstance(value, list):
            return [self.resolve(v) for v in value]
        if isinstance(value, dict):
            return {k: self.resolve(v) for k, v in value.items()}
        return value

    def close(self):
        self.scratch.close()
        self.cards.close()


class BrowserNativeMessaging(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = missing_pieces()
        if missing:
            raise RuntimeError("missing (scripts/install-deps.sh installs them): " + ", ".join(missing))
        cls.fx = Fixture()
        cls.table = request_table(cls.fx)
        rows = [{"name": row[0], "request": {"type": row[1], "id": row[4] if len(row) > 4 else row[0],
                                             "arguments": cls.fx.resolve(row[2])}}
                for row in cls.table]
        cls.rows = rows
        command, env = cls.fx.host()
        cls.seen = run_in_browser(rows, command, env)

    @classmethod
    def tearDownClass(cls):
        cls.fx.close()

    def test_every_request_answered_on_an_open_port(self):
        seen = self.seen["rows"]
        self.assertEqual([r["name"] for r in seen], [r["name"] for r in self.rows], self.seen.get("disconnectError"))
        for row, request, got in zip(self.table, self.rows, seen):
            with self.subTest(row[0]):
                self.assertIsNone(got.get("error"), "%s: %s" % (row[0], self.seen.get("disconnectError")))
                self.assertTrue(got["open"], row[0])
                answer = got["answer"]
                self.assertEqual(answer["id"], request["request"]["id"])
                row[3](self, answer, self.fx)
        self.assertEqual(self.seen["extra"], [])
        self.assertTrue(self.seen["openAtEnd"], self.seen.get("disconnectError"))


if __name__ == "__main__":
    unittest.main(verbosity=2)
