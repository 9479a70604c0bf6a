"""ComputeHash, EncryptPin and TryDecryptPin through the built host under wine64."""
import base64
import hashlib
import json
import unittest

from e2e_support import answers

# GOST digests of "abc" from libgcrypt (GOSTR3411_CP, STRIBOG256, STRIBOG512),
# which writes them in the host's byte order (least significant byte first,
# the reverse of the standard's printed examples).
GOST94_ABC = bytes.fromhex("b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c")
STRIBOG256_ABC = bytes.fromhex("4e2919cf137ed41ec4fb6270c61826cc4fffb660341e0af3688cd0626d23b481")
STRIBOG512_ABC = bytes.fromhex(
    "28156e28317da7c98f4fe2bed6b542d0dab85bb224445fcedaf75d46e26d7eb8"
    "d5997f3e0915dd6b7f0aab08d9c8beb0d8c64bae2ab8b3c8c6bc53b3bf0db728")


def request(type_, id_, **arguments):
    return json.dumps({"type": type_, "id": id_, "arguments": arguments})


class ComputeHash(unittest.TestCase):
    def test_abc_under_every_oid(self):
        expected = {
            "1.3.14.3.2.26": hashlib.sha1(b"abc").digest(),
            "1.2.643.2.2.9": GOST94_ABC,
            "1.2.643.7.1.1.2.2": STRIBOG256_ABC,
            "1.2.643.7.1.1.2.3": STRIBOG512_ABC,
            "1.2.840.113549.1.1.11": hashlib.sha256(b"abc").digest(),
            "1.2.840.113549.1.1.12": hashlib.sha384(b"abc").digest(),
            "1.2.840.113549.1.1.13": hashlib.sha512(b"abc").digest(),
        }
        oids = list(expected)
        got = answers([request("ComputeHash", str(i), algorithm=oid, data="YWJj") for i, oid in enumerate(oids)])
        self.assertEqual(len(got), len(oids))
        for i, oid in enumerate(oids):
            self.assertEqual(got[i], {"response": "success", "id": str(i),
                                      "result": base64.b64encode(expected[oid]).decode()}, oid)

    def test_large_data_crossing_blocks(self):
        data = bytes(range(256)) * 40 + b"tail"
        got = answers([request("ComputeHash", "1", algorithm="1.2.840.113549.1.1.11",
                               data=base64.b64encode(data).decode())])
        self.assertEqual(got[0]["result"], base64.b64encode(hashlib.sha256(data).digest()).decode())

    def test_unknown_oid_empty_data_bad_base64_and_missing_keys(self):
        got = answers([
            request("ComputeHash", "nist", algorithm="2.16.840.1.101.3.4.2.1", data="YWJj"),
            request("ComputeHash", "unknown-empty", algorithm="1.2.3", data=""),
            request("ComputeHash", "empty", algorithm="1.3.14.3.2.26", data=""),
            request("ComputeHash", "bad64", algorithm="1.3.14.3.2.26", data="YW*j"),
            request("ComputeHash", "nodata", algorithm="1.3.14.3.2.26"),
            request("ComputeHash", "noalg", data="YWJj"),
            json.dumps({"type": "ComputeHash", "id": "noargs"}),
        ])
        self.assertEqual(got, [
            {"response": "success", "id": "nist", "result": ""},
            {"response": "success", "id": "unknown-empty", "result": ""},
            {"response": "fail", "id": "empty", "error": "Fatal error!"},
            {"response": "fail", "id": "bad64", "error": "attempt to decode a value not in base64 char set"},
            {"response": "fail", "id": "nodata", "error": "No such node (data)"},
            {"response": "fail", "id": "noalg", "error": "No such node (algorithm)"},
            {"response": "fail", "id": "noargs", "error": "No such node (algorithm)"},
        ])


class PinProtection(unittest.TestCase):
    def test_encrypt_then_try_decrypt(self):
        first, second, empty, long_pin = answers([
            request("EncryptPin", "1", pincode="12345678"),
            request("EncryptPin", "2", pincode="12345678"),
            request("EncryptPin", "3", pincode=""),
            request("EncryptPin", "4", pincode="0123456789abcdef"),
        ])
        for a in (first, second, empty, long_pin):
            self.assertEqual(a["response"], "success")
        self.assertNotEqual(first["result"], second["result"])
        self.assertEqual(len(first["result"]), 24 + 1 + 64)
        self.assertEqual(len(empty["result"].split("$")[0]), 24)
        self.assertEqual(len(base64.b64decode(long_pin["result"].split("$")[0])), 32)

        checks = answers([
            request("TryDecryptPin", "a", encrypted_pin=first["result"]),
            request("TryDecryptPin", "b", encrypted_pin=second["result"]),
            request("TryDecryptPin", "c", encrypted_pin=long_pin["result"]),
            request("TryDecryptPin", "d", encrypted_pin=empty["result"]),
            request("TryDecryptPin", "e", encrypted_pin="no-dollar"),
            request("TryDecryptPin", "f", encrypted_pin="$" + first["result"].split("$")[1]),
            request("TryDecryptPin", "g", encrypted_pin=first["result"].split("$")[0] + "$"),
            request("TryDecryptPin", "h", encrypted_pin="AA*A$AAAA"),
            json.dumps({"type": "TryDecryptPin", "id": "i", "arguments": {}}),
        ])
        self.assertEqual([c.get("result", c.get("error")) for c in checks], [
            {"valid": "true"}, {"valid": "true"}, {"valid": "true"}, {"valid": "false"},
            {"valid": "false"}, {"valid": "false"}, {"valid": "false"},
            "attempt to decode a value not in base64 char set", "No such node (encrypted_pin)",
        ])


if __name__ == "__main__":
    unittest.main(verbosity=2)
