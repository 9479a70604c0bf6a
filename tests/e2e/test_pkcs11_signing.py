"""SignHash, SignHashArray and TryWithoutPin with "store_type" "pkcs11" in the
built host, over the stand-in token module (tests/standins/pkcs11_token):
login, key by CKA_ID, the signer's mechanism, logout, and the token's
signature returned with its bytes reversed."""
import base64
import os
import unittest

from csp_support import b64, error, result
from pkcs11_support import (CKM_GOSTR3410, FIXTURE, GOST_2012_512_SIGN, JACARTA, RUTOKEN, Tokens, certificate,
                            private_key, slot, standin_signature)
from pkcs11_support import PEAK_BOUND_MIB, padded_to_all_ones

PIN = "87654321"
SPECS = {
    "g256": {"algorithm": "2012-256", "subject": "CN=Signer 256"},
    "g2001": {"algorithm": "2001", "subject": "CN=Signer 2001"},
    "g512": {"algorithm": "2012-512", "subject": "CN=Signer 512"},
    "rsa": {"algorithm": "rsa-sha256", "subject": "CN=RSA on a token"},
    "keyless": {"algorithm": "2012-256", "subject": "CN=No key"},
}
KEY_ID = {"g256": "k256", "g2001": "k2001", "g512": "k512", "rsa": "krsa", "keyless": "kless"}


@unittest.skipUnless(os.path.exists(FIXTURE), "the PKCS#11 stand-in is not built")
class TokenSigning(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tokens = Tokens()
        names = list(SPECS)
        made = cls.tokens.make_certs([SPECS[n] for n in names])
        cls.thumb = {n: t for n, (t, _) in zip(names, made)}
        cls.der = {n: d for n, (_, d) in zip(names, made)}

    @classmethod
    def tearDownClass(cls):
        cls.tokens.close()

    def install(self, **slot_extra):
        objects = []
        for name in SPECS:
            objects.append(certificate(self.der[name], KEY_ID[name]))
            if name != "keyless":
                objects.append(private_key(KEY_ID[name]))
        self.tokens.install({JACARTA: {"slots": [slot("JaCarta GOST", objects, pin=PIN, **slot_extra)]},
                             # Another token on another module, not involved.
                             RUTOKEN: {"slots": [slot("Rutoken", [], pin="0000")]}})

    def sign_hash(self, name, hash_bytes, pin=PIN):
        return ("SignHash", {"store_type": "pkcs11", "thumbprint": self.thumb[name], "hash": b64(hash_bytes),
                             "pin": pin})

    def calls(self):
        """The function names of the jacarta module's calls after the listing."""
        lines = self.tokens.log(JACARTA)
        names = [line.split()[1] for line in lines]
        return names

    def test_sign_hash_logs_in_finds_the_key_signs_logs_out_and_reverses(self):
        self.install()
        hash_256, hash_512 = bytes(range(32)), bytes(range(100, 164))
        answers = self.tokens.ask(self.sign_hash("g256", hash_256), self.sign_hash("g2001", hash_256),
                                  self.sign_hash("g512", hash_512))
        signatures = [base64.b64decode(result(a)) for a in answers]
        expected_256 = standin_signature(CKM_GOSTR3410, "k256", hash_256)
        self.assertEqual(signatures[0], expected_256[::-1])
        self.assertNotEqual(signatures[0], expected_256)
        self.assertEqual(signatures[1], standin_signature(CKM_GOSTR3410, "k2001", hash_256)[::-1])
        self.assertEqual(len(signatures[2]), 128)
        self.assertEqual(signatures[2], standin_signature(GOST_2012_512_SIGN, "k512", hash_512)[::-1])

        names = self.calls()
        first = names.index("C_Login")
        self.assertEqual(names[first:first + 11],
                         ["C_Login", "C_GetAttributeValue", "C_GetAttributeValue", "C_FindObjectsInit",
                          "C_FindObjects", "C_FindObjectsFinal", "C_SignInit", "C_Sign", "C_Sign", "C_Logout",
                          "C_CloseSession"])
        self.assertEqual(self.tokens.log("C_Login")[0].split()[-2:], ["pin=" + PIN, "length=8"])
        key_search = self.tokens.log("CKA_CLASS=03000000")
        self.assertEqual([line.split()[-1] for line in key_search],
                         ["CKA_ID=" + KEY_ID[n].encode().hex().upper() for n in ("g256", "g2001", "g512")])
        self.assertEqual([line.split()[3] for line in self.tokens.log("C_SignInit")],
                         ["mechanism=0x1201", "mechanism=0x1201", "mechanism=0xD4321006"])
        # The hashes reached the token as they came.
        self.assertIn("data=" + hash_256.hex().upper(), self.tokens.log("C_Sign ")[0])
        self.assertIn("data=" + hash_512.hex().upper(), self.tokens.log("C_Sign ")[-1])

    def test_sign_hash_array_signs_every_hash_in_one_login(self):
        self.install()
        h1, h2, h3 = bytes([1] * 32), bytes([2] * 32), bytes([3] * 32)
        request = {"store_type": "pkcs11", "thumbprint": self.thumb["g256"], "pin": PIN,
                   "hashes": [{"id": "b", "hash": b64(h2)}, {"id": "a", "hash": b64(h1)},
                              {"id": "b", "hash": b64(h3)}]}
        (answer,) = self.tokens.ask(("SignHashArray", request))
        self.assertEqual(result(answer), {"signatures": [
            {"id": "a", "sig": b64(standin_signature(CKM_GOSTR3410, "k256", h1)[::-1])},
            {"id": "b", "sig": b64(standin_signature(CKM_GOSTR3410, "k256", h2)[::-1])}]})
        self.assertEqual(len(self.tokens.log("C_Login")), 1)
        self.assertEqual(len(self.tokens.log("C_Logout")), 1)
        self.assertEqual(len(self.tokens.log("buffer=64")), 2)

    def test_a_wrong_pin_fails_and_the_next_request_logs_in_again(self):
        self.install()
        hash_bytes = bytes(range(32))
        wrong, array, right, empty = self.tokens.ask(
            self.sign_hash("g256", hash_bytes, pin="1111"),
            ("SignHashArray", {"store_type": "pkcs11", "thumbprint": self.thumb["g256"], "pin": "1111",
                               "hashes": [{"id": "1", "hash": b64(hash_bytes)}]}),
            self.sign_hash("g256", hash_bytes),
            self.sign_hash("g256", hash_bytes, pin=""))
        self.assertEqual(error(wrong), "PKCS#11 error, code = 0x000000A0")
        self.assertEqual(error(array), "PKCS#11 error, code = 0x000000A0")
        self.assertEqual(base64.b64decode(result(right)),
                         standin_signature(CKM_GOSTR3410, "k256", hash_bytes)[::-1])
        self.assertEqual(error(empty), "PKCS#11 error, code = 0x000000A0")
        self.assertEqual([line.split()[-1] for line in self.tokens.log("C_Login")],
                         ["length=4", "length=4", "length=8", "length=0"])

    def test_failures_of_the_token_and_of_the_signer_choice(self):
        self.install()
        hash_bytes = bytes(range(32))
        keyless, rsa, too_long, unknown, unknown_array, try_pin = self.tokens.ask(
            self.sign_hash("keyless", hash_bytes),
            self.sign_hash("rsa", hash_bytes),
            self.sign_hash("g256", bytes(64)),
            ("SignHash", {"store_type": "pkcs11", "thumbprint": "00" * 20, "hash": b64(hash_bytes)}),
            ("SignHashArray", {"store_type": "pkcs11", "thumbprint": "00" * 20,
                               "hashes": [{"id": "1", "hash": b64(hash_bytes)}]}),
            ("TryWithoutPin", {"store_type": "pkcs11", "thumbprint": self.thumb["g256"]}))
        self.assertEqual(error(keyless), "Private key not found")
        # An RSA certificate on a token gets the SKF signer.
        self.assertEqual(error(rsa), "Invalid SKF session")
        # The token refuses a hash of the wrong length for its mechanism.
        self.assertEqual(error(too_long), "PKCS#11 error, code = 0x00000021")
        self.assertEqual(result(unknown), "")
        self.assertEqual(result(unknown_array), "")
        self.assertEqual(result(try_pin), {"valid": "false"})
        # Only the key-less and too-long requests logged in (and the session
        # logged out as it closed, since they failed after the login).
        self.assertEqual(len(self.tokens.log("C_Login")), 2)
        self.assertEqual(len(self.tokens.log("C_Logout")), 2)

    def test_a_refused_signature_and_lying_signature_lengths(self):
        self.install(fail={"C_Sign": {"rv": "0x6", "after": 1}})
        (refused,) = self.tokens.ask(self.sign_hash("g256", bytes(32)))
        self.assertEqual(error(refused), "PKCS#11 error, code = 0x00000006")
        hash_bytes = bytes(range(64))
        for group in ("overstate", "pad_query"):
            self.install(**{group: {"C_Sign": 50, "C_GetAttributeValue": 3}})
            (answer,) = self.tokens.ask(self.sign_hash("g512", hash_bytes))
            self.assertEqual(base64.b64decode(result(answer)),
                             standin_signature(GOST_2012_512_SIGN, "k512", hash_bytes)[::-1], group)

    def test_signature_sizes_beyond_any_token(self):
        # A size query of 0xFFFFFFFF, or of 16 MiB before each of 100
        # signatures of 64 bytes: the buffer is at most 8 KiB, keeps only
        # what the token wrote, and the answers are those of a true query.
        hash_bytes = bytes(range(32))
        array = ("SignHashArray", {"store_type": "pkcs11", "thumbprint": self.thumb["g256"], "pin": PIN, "hashes": [
            {"id": "%03d" % n, "hash": b64(bytes([n]) * 32)} for n in range(100)]})
        self.install()
        expected = self.tokens.ask(self.sign_hash("g256", hash_bytes), array)
        for query in (padded_to_all_ones(64), (16 << 20) - 64):
            with self.subTest(query=query):
                self.install(pad_query={"C_Sign": query})
                answers, peak = self.tokens.ask_measured(self.sign_hash("g256", hash_bytes), array)
                self.assertEqual(answers, expected)
                self.assertLess(peak, PEAK_BOUND_MIB)

    def test_sign_hash_array_stops_once_its_answer_cannot_fit(self):
        # 20,000 hashes: each signature takes at least {"id":"<5 digits>",
        # "sig":"<88 base64 characters>"} (111 bytes) of the answer, so the
        # 9,447th takes it past 1 MiB, and no hash after it is signed.
        self.install()
        hashes = [{"id": "%05d" % n, "hash": b64(n.to_bytes(32, "big"))} for n in range(20000)]
        after = self.sign_hash("g256", bytes(range(32)))
        (expected,) = self.tokens.ask(after)
        self.tokens.clear_log()
        (answer, signed), peak = self.tokens.ask_measured(("SignHashArray", {
            "store_type": "pkcs11", "thumbprint": self.thumb["g256"], "pin": PIN, "hashes": hashes}), after)
        self.assertEqual(error(answer), "Answer exceeds the 1 MiB limit of native messaging")
        # Two C_Sign calls a signature: 9,447 for the array, one for SignHash.
        self.assertEqual(len(self.tokens.log("C_Sign session")), 2 * (9447 + 1))
        self.assertEqual(signed, dict(expected, id="1"))
        self.assertLess(peak, PEAK_BOUND_MIB)


if __name__ == "__main__":
    unittest.main()
