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
from csp_support import Scratch, WINE_RUN, b64, openssl_cms_verify, openssl_verifies_signature, sha1_hex
from e2e_support import HOST_EXE
from pkcs11_support import CKM_GOSTR3410, RUTOKEN, Tokens, certificate, private_key, slot, standin_signature

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
               "binary_id": {"algorithm": "2012-256", "subject": "CN=Binary key id"}}
TOKEN_KEY_ID = "k256"
BINARY_KEY_ID = "00FF4180"  # NUL, two bytes that are no UTF-8, "A"
BINARY_KEY_ID_SEEN = "\u0000\ufffdA\ufffd"


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
        ("last", "Version", {}, success("2.1.0102")),
    ]


class Fixture:
    """The test prefix: one RSA certificate of Wine's RSA provider in the
    user's store, and the PKCS#11 stand-in with a GOST certificate and one
    whose CKA_ID is binary."""

    def __init__(self):
        self.tokens = Tokens()
        self.scratch = Scratch()
        prefix = self.tokens.prefix
        ((self.rsa_thumb, self.rsa_der),) = prefix.make_certs([RSA_CERT])
        names = list(TOKEN_CERTS)
        made = self.tokens.make_certs([TOKEN_CERTS[n] for n in names])
        self.token_thumb = {n: t for n, (t, _) in zip(names, made)}
        der = {n: d for n, (_, d) in zip(names, made)}
        binary = {"class": "certificate", "value": b64(der["binary_id"]), "id_hex": BINARY_KEY_ID}
        self.tokens.install({RUTOKEN: {"slots": [slot("Rutoken ECP", [
            certificate(der["signer"], TOKEN_KEY_ID), private_key(TOKEN_KEY_ID), binary], pin=TOKEN_PIN)]}})
        # One wineserver for the prefix while the browser runs, its background
        # programs started with streams that lead nowhere: the host's output is
        # then held by the host alone.
        wine_env = dict(os.environ, WINEPREFIX=prefix.path)
        subprocess.run(["/usr/lib/wine/wineserver", "-p"], env=wine_env, check=True)
        subprocess.run([WINE_RUN, "wineboot"], env=prefix.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.values = {"rsa_thumb": self.rsa_thumb, "rsa_der64": b64(self.rsa_der),
                       "binary_thumb": self.token_thumb["binary_id"], "signer_thumb": self.token_thumb["signer"]}

    def host(self):
        """The host's command and environment for the launcher."""
        return [WINE_RUN, HOST_EXE], dict(KELVORA_WINEPREFIX=self.tokens.prefix.path, **self.tokens.env())

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
        self.tokens.close()


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
