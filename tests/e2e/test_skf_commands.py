"""Certificate and signing commands of the built host with "store_type" "skf",
over the test SKF library installed at the system's fixed library path in a
fresh Wine prefix. The library's "signature" is the PKCS#1 type-1 block of
what it was given, XORed with a key stream of the container's path, so the
tests read back the DigestInfo that was signed."""
import base64
import hashlib
import json
import os
import shutil
import unittest

from csp_support import BASE64_ERROR, WinePrefix, b64, error, result, sha1_hex
from e2e_support import BUILD_DIR
from skf_support import DESCRIPTION_VARIABLE, LIBRARY_DIR, LIBRARY_NAME, container_lines, digest_info, signed_data
from e2e_support import ask_measured
from pkcs11_support import FIXTURE, PEAK_BOUND_MIB, large_public_key_info

DESCRIPTION_KEYS = ["thumbprint", "serial", "subject", "raw_subject", "issuer", "validFrom", "validTo", "algorithm",
                    "container", "hardware", "reader", "carrier_type"]
RSA_OIDS = {"sha256": "1.2.840.113549.1.1.11", "sha384": "1.2.840.113549.1.1.12", "sha512": "1.2.840.113549.1.1.13"}

# The certificates on the devices, by name; all RSA keys made in the prefix.
SPECS = {
    "sha256": {"signature_oid": RSA_OIDS["sha256"], "subject": "CN=SKF RSA 256, O=Kelvora"},
    "sha384": {"signature_oid": RSA_OIDS["sha384"], "subject": "CN=SKF RSA 384"},
    "sha512": {"signature_oid": RSA_OIDS["sha512"], "subject": "CN=SKF RSA 512"},
    "expired": {"subject": "CN=SKF expired", "not_before": -864000, "not_after": -86400},
    "no_usage": {"subject": "CN=SKF no usage", "usages": "none"},
    "gost": {"signature_oid": "1.2.643.7.1.1.3.2", "placeholder_signature": 1, "subject": "CN=SKF GOST"},
    "ecc_container": {"subject": "CN=SKF in an ECC container"},
    "bad_device": {"subject": "CN=SKF bad device"},
    "bad_application": {"subject": "CN=SKF bad application"},
    "bad_container": {"subject": "CN=SKF bad container"},
    "bad_signing": {"subject": "CN=SKF bad signing"},
    "padded": {"subject": "CN=SKF padded sizes"},
}
HEALTHY = {"sha256", "sha384", "sha512", "bad_device", "bad_application", "bad_container", "bad_signing", "padded"}


class SkfPrefix:
    """A fresh prefix with the test SKF library and a description of its devices."""

    def __init__(self):
        self.wine = WinePrefix()
        self.drive_c = os.path.join(self.wine.path, "drive_c")
        self.work = os.path.join(self.drive_c, "skf-test")
        os.makedirs(self.work)
        self.env = {DESCRIPTION_VARIABLE: "C:\\skf-test\\devices.txt"}

    def install(self, dll="kelvora_test_skf.dll"):
        folder = os.path.join(self.drive_c, *LIBRARY_DIR)
        os.makedirs(folder, exist_ok=True)
        shutil.copyfile(os.path.join(BUILD_DIR, dll), os.path.join(folder, LIBRARY_NAME))

    def uninstall(self):
        path = os.path.join(self.drive_c, *LIBRARY_DIR, LIBRARY_NAME)
        if os.path.exists(path):
            os.remove(path)

    def describe(self, text):
        with open(os.path.join(self.work, "devices.txt"), "w", encoding="utf-8") as f:
            f.write("log C:\\skf-test\\calls.log\n" + text)
        self.clear_log()

    def clear_log(self):
        log = os.path.join(self.work, "calls.log")
        if os.path.exists(log):
            os.remove(log)

    def log(self):
        path = os.path.join(self.work, "calls.log")
        if not os.path.exists(path):
            return []
        with open(path, encoding="utf-8") as f:
            return [line.rstrip("\n").split("\t") for line in f]

    def ask(self, *requests, env=None):
        return self.wine.ask(list(requests), extra_env=dict(self.env, **(env or {})))

    def ask_measured(self, *requests):
        """As ask, one request at a time; also the host's peak memory in MiB."""
        return ask_measured(list(requests), dict(self.wine.env, **self.env))

    def close(self):
        self.wine.close()


class SkfCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = SkfPrefix()
        names = list(SPECS)
        made = cls.prefix.wine.make_certs([dict(SPECS[n], container="skf-e2e", store="none") for n in names])
        cls.thumb = {n: t for n, (t, _) in zip(names, made)}
        cls.der = {n: d for n, (_, d) in zip(names, made)}
        d = cls.der
        cls.prefix.install()
        cls.prefix.describe(
            "device Kelvora Token 1\n"
            "application RSA APP\npin 1234\nretries 10\n" +
            container_lines("sign-256", d["sha256"]) + container_lines("sign-384", d["sha384"]) +
            container_lines("sign-512", d["sha512"]) + container_lines("old", d["expired"]) +
            container_lines("plain", d["no_usage"]) + container_lines("gost", d["gost"]) +
            container_lines("ecc", d["ecc_container"], "type 2\n") +
            container_lines("refuses", d["bad_container"], "fail SKF_OpenContainer skip 1\n") +
            container_lines("cannot-sign", d["bad_signing"], "fail SKF_RSASignData\n") +
            container_lines("padded", d["padded"], "quirk SKF_ExportCertificate query_extra 9\n"
                            "quirk SKF_RSASignData query_extra 3\nmodulus 128\n") +
            "application Locked App\nfail SKF_OpenApplication skip 1\n" +
            container_lines("c", d["bad_application"]) +
            "device Flaky Token\nfail SKF_ConnectDev skip 1\napplication APP\n" +
            container_lines("c", d["bad_device"]))

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def names_of(self, listing):
        if listing == "":
            return set()
        by_thumb = {t: n for n, t in self.thumb.items()}
        return {by_thumb.get(d["thumbprint"], d["thumbprint"]) for d in listing}

    # --- certificate commands ---------------------------------------------

    def test_listing_applies_the_rsa_test_by_default(self):
        default, rsa_off, rsa_on, csp = self.prefix.ask(
            ("CertificatesList", {"store_type": "skf"}), ("CertificatesList", {"store_type": "skf", "rsa": False}),
            ("CertificatesList", {"store_type": "skf", "rsa": "1"}), ("CertificatesList", {"store_type": "Skf"}))
        self.assertEqual(self.names_of(result(default)), HEALTHY)
        self.assertEqual(self.names_of(result(rsa_on)), HEALTHY)
        self.assertEqual(self.names_of(result(rsa_off)), {"gost"})
        # Another spelling is the (empty) CryptoAPI store.
        self.assertEqual(result(csp), "")

    def test_descriptions_of_device_certificates(self):
        (listing,) = self.prefix.ask(("CertificatesList", {"store_type": "skf"}))
        by_thumb = {d["thumbprint"]: d for d in result(listing)}
        for name, container in (("sha256", "sign-256"), ("sha384", "sign-384"), ("sha512", "sign-512")):
            d = by_thumb[self.thumb[name]]
            self.assertEqual(list(d), DESCRIPTION_KEYS)
            self.assertEqual(d["thumbprint"], sha1_hex(self.der[name]))
            self.assertEqual(d["algorithm"], RSA_OIDS[name])
            self.assertEqual((d["hardware"], d["carrier_type"], d["container"], d["reader"]),
                             ("true", "skf", "Kelvora Token 1\\RSA APP\\" + container, "Kelvora Token 1"))
        self.assertEqual(by_thumb[self.thumb["sha256"]]["subject"]["CN"], "SKF RSA 256")
        self.assertEqual(by_thumb[self.thumb["bad_device"]]["container"], "Flaky Token\\APP\\c")
        # A size query that asked for more than the certificate: the thumbprint
        # is that of the certificate's own bytes.
        self.assertEqual(by_thumb[self.thumb["padded"]]["thumbprint"], sha1_hex(self.der["padded"]))

    def test_find_and_export_compare_thumbprints_exactly(self):
        t = self.thumb
        found, lower, expired, ecc, unknown, in_store, exported, missing = self.prefix.ask(
            ("FindCertificate", {"thumbprint": t["sha384"], "store_type": "skf"}),
            ("FindCertificate", {"thumbprint": t["sha384"].lower(), "store_type": "skf"}),
            ("FindCertificate", {"thumbprint": t["expired"], "store_type": "skf"}),
            ("FindCertificate", {"thumbprint": t["ecc_container"], "store_type": "skf"}),
            ("FindCertificate", {"thumbprint": "00" * 20, "store_type": "skf"}),
            ("FindCertificate", {"thumbprint": t["sha384"]}),
            ("CertificateToBase64", {"thumbprint": t["sha512"], "store_type": "skf"}),
            ("CertificateToBase64", {"thumbprint": t["sha512"].lower(), "store_type": "skf"}))
        d = result(found)
        self.assertEqual(d["thumbprint"], t["sha384"])
        self.assertEqual(d["container"], "Kelvora Token 1\\RSA APP\\sign-384")
        self.assertEqual(result(lower), "")
        # The lookup has no validity or usage test.
        self.assertEqual(result(expired)["thumbprint"], t["expired"])
        # Only RSA containers hold certificates for the system.
        self.assertEqual(result(ecc), "")
        self.assertEqual(result(unknown), "")
        self.assertEqual(result(in_store), "")
        self.assertEqual(base64.b64decode(result(exported)), self.der["sha512"])
        self.assertEqual(result(missing), "")

    # --- signing -------------------------------------------------------------

    def test_sign_hash_signs_the_digest_info(self):
        hashes = {n: hashlib.new(n, b"kelvora " + n.encode()).digest() for n in ("sha256", "sha384", "sha512")}
        requests = [("SignHash", {"hash": b64(hashes[n]), "thumbprint": self.thumb[n], "store_type": "skf",
                                  "pin": "1234"}) for n in ("sha256", "sha384", "sha512")]
        # The DigestInfo follows the hash length, whatever the certificate.
        requests.append(("SignHash", {"hash": b64(hashes["sha512"]), "thumbprint": self.thumb["sha256"],
                                      "store_type": "skf", "pin": "1234"}))
        answers = self.prefix.ask(*requests)
        containers = ["sign-256", "sign-384", "sign-512", "sign-256"]
        for answer, name, container in zip(answers, ["sha256", "sha384", "sha512", "sha512"], containers):
            signature = base64.b64decode(result(answer))
            self.assertEqual(len(signature), 256)
            path = "Kelvora Token 1\\RSA APP\\" + container
            self.assertEqual(signed_data(path, signature), digest_info(hashes[name]), name)
            # As the library wrote them, the bytes are no type-1 block: the host reversed them.
            self.assertIsNone(signed_data(path, bytes(reversed(signature))))

    def test_each_request_loads_the_library_and_closes_everything(self):
        digest = hashlib.sha256(b"x").digest()
        self.prefix.clear_log()
        self.prefix.ask(("SignHash", {"hash": b64(digest), "thumbprint": self.thumb["sha256"], "store_type": "skf",
                                      "pin": "1234"}),
                        ("FindCertificate", {"thumbprint": self.thumb["sha512"], "store_type": "skf"}))
        log = self.prefix.log()
        kinds = [line[0] for line in log]
        self.assertEqual(kinds.count("load"), 2)
        self.assertEqual([line for line in log if line[0] == "unload"], [["unload", "open=0"]] * 2)
        # The signer's own calls, after the listing of the first request.
        start = max(i for i, line in enumerate(log[:kinds.index("unload")]) if line[0] == "SKF_ConnectDev"
                    and line[1] == "Kelvora Token 1")
        signer = [(line[0], line[1]) for line in log[start:kinds.index("unload")]]
        path = "Kelvora Token 1\\RSA APP\\sign-256"
        self.assertEqual(signer, [("SKF_ConnectDev", "Kelvora Token 1"), ("SKF_OpenApplication", "Kelvora Token 1\\RSA APP"),
                                  ("SKF_VerifyPIN", "Kelvora Token 1\\RSA APP"), ("SKF_OpenContainer", path),
                                  ("SKF_RSASignData", path), ("SKF_RSASignData", path),
                                  ("SKF_CloseContainer", path), ("SKF_CloseApplication", "Kelvora Token 1\\RSA APP"),
                                  ("SKF_DisConnectDev", "Kelvora Token 1")])

    def test_sign_hash_array_signs_every_hash_in_one_session(self):
        hashes = {"2": hashlib.sha256(b"two").digest(), "10": hashlib.sha384(b"ten").digest(),
                  "1": hashlib.sha512(b"one").digest()}
        self.prefix.clear_log()
        (answer,) = self.prefix.ask(("SignHashArray", {
            "hashes": [{"id": i, "hash": b64(h)} for i, h in hashes.items()],
            "thumbprint": self.thumb["sha512"], "store_type": "skf", "encrypted_pin": "", "pin": "1234"}))
        signatures = result(answer)["signatures"]
        self.assertEqual([s["id"] for s in signatures], ["1", "10", "2"])
        for s in signatures:
            self.assertEqual(signed_data("Kelvora Token 1\\RSA APP\\sign-512", base64.b64decode(s["sig"])),
                             digest_info(hashes[s["id"]]))
        kinds = [line[0] for line in self.prefix.log()]
        self.assertEqual(kinds.count("SKF_VerifyPIN"), 1)
        self.assertEqual(kinds.count("SKF_RSASignData"), 6)

    def test_padded_sizes_are_cut_to_what_was_written(self):
        digest = hashlib.sha384(b"padded").digest()
        (answer,) = self.prefix.ask(("SignHash", {"hash": b64(digest), "thumbprint": self.thumb["padded"],
                                                  "store_type": "skf", "pin": "1234"}))
        signature = base64.b64decode(result(answer))
        self.assertEqual(len(signature), 128)
        self.assertEqual(signed_data("Kelvora Token 1\\RSA APP\\padded", signature), digest_info(digest))

    def test_skf_error_texts(self):
        digest = b64(hashlib.sha256(b"e").digest())

        def sign(name, pin="1234", hash_text=digest):
            return ("SignHash", {"hash": hash_text, "thumbprint": self.thumb[name], "store_type": "skf", "pin": pin})

        answers = self.prefix.ask(
            sign("bad_device"), sign("bad_application"), sign("sha256", pin="4321"), sign("bad_container"),
            sign("bad_signing"), sign("sha256", hash_text=b64(hashlib.sha1(b"e").digest())),
            ("SignHashArray", {"hashes": [{"id": "a", "hash": digest}], "thumbprint": self.thumb["bad_signing"],
                               "store_type": "skf", "pin": "1234"}),
            ("SignHashArray", {"hashes": [{"id": "a", "hash": digest}], "thumbprint": self.thumb["sha256"],
                               "store_type": "skf", "pin": ""}))
        self.assertEqual([error(a) for a in answers], [
            "Invalid SKF device Flaky Token", "Invalid SKF application Locked App",
            "Cannot log in, attempts remain: 9", "Invalid SKF container refuses", "Cannot sign hash",
            "Cannot sign hash", "Cannot sign hashes", "Cannot log in, attempts remain: 9"])

    def test_gost_certificate_on_a_device_gets_the_token_signer(self):
        digest = b64(hashlib.sha256(b"g").digest())
        sign_hash, try_gost, try_rsa, try_missing = self.prefix.ask(
            ("SignHash", {"hash": digest, "thumbprint": self.thumb["gost"], "store_type": "skf", "pin": "1234"}),
            ("TryWithoutPin", {"thumbprint": self.thumb["gost"], "store_type": "skf"}),
            ("TryWithoutPin", {"thumbprint": self.thumb["sha256"], "store_type": "skf"}),
            ("TryWithoutPin", {"thumbprint": self.thumb["sha256"].lower(), "store_type": "skf"}))
        self.assertEqual(error(sign_hash), "Invalid pkcs#11 session")
        self.assertEqual(result(try_gost), {"valid": "false"})
        self.assertEqual(result(try_rsa), {"valid": "false"})
        self.assertEqual(error(try_missing), "Certificate not found")

    def test_not_found_and_bad_input(self):
        missing, bad_hash = self.prefix.ask(
            ("SignHash", {"hash": b64(b"\x01" * 32), "thumbprint": "AB" * 20, "store_type": "skf"}),
            ("SignHash", {"hash": "***", "thumbprint": self.thumb["sha256"], "store_type": "skf"}))
        self.assertEqual(result(missing), "")
        self.assertEqual(error(bad_hash), BASE64_ERROR)


class SkfLibraryAbsent(unittest.TestCase):
    """Without the library, with a library that lacks an entry point, and with no device."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = SkfPrefix()

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def requests(self):
        return [("CertificatesList", {"store_type": "skf"}),
                ("FindCertificate", {"thumbprint": "AB" * 20, "store_type": "skf"}),
                ("SignHash", {"hash": b64(b"\x01" * 32), "thumbprint": "AB" * 20, "store_type": "skf"}),
                ("CertificatesList", {})]

    def test_no_library_and_partial_library_are_invalid_sessions(self):
        for dll in (None, "kelvora_test_skf_partial.dll"):
            self.prefix.uninstall()
            if dll:
                self.prefix.install(dll)
            self.prefix.describe("device D\napplication A\n")
            answers = self.prefix.ask(*self.requests())
            self.assertEqual([error(a) for a in answers[:3]], ["Invalid SKF session"] * 3, dll)
            self.assertEqual(result(answers[3]), "")
            # The incomplete library never got a call.
            self.assertEqual(self.prefix.log(), [])

    def test_no_device_lists_nothing(self):
        self.prefix.install()
        self.prefix.describe("")
        listing, found, signed = self.prefix.ask(*self.requests()[:3])
        self.assertEqual((result(listing), result(found), result(signed)), ("", "", ""))
        # No description at all is no device either.
        listing, = self.prefix.ask(("CertificatesList", {"store_type": "skf"}), env={DESCRIPTION_VARIABLE: ""})
        self.assertEqual(result(listing), "")


class SkfLimits(unittest.TestCase):
    """A library that names thousands of devices, applications and containers,
    exports large certificates from each, or signs with 8 KiB signatures: a
    listing walks at most 64 devices, 256 applications and 4,096 containers
    and keeps at most 16 MiB of certificates; SignHashArray stops once its
    answer cannot fit in 1 MiB. Each request is answered, the host ends by
    itself and its peak memory stays within the bound."""

    @classmethod
    def setUpClass(cls):
        cls.prefix = SkfPrefix()
        cls.prefix.install()
        (cls.thumb, cls.der), = cls.prefix.wine.make_certs([{"subject": "CN=SKF many", "container": "skf-limits",
                                                            "store": "none"}])
        # Just under the 1 MiB a certificate may take.
        made = cls.prefix.wine.run([FIXTURE, "make-certs"], json.dumps([{
            "algorithm": "rsa-sha256", "subject": "CN=SKF one MiB",
            "public_key_info": large_public_key_info((1 << 20) - 2000)}]).encode())
        cls.large = base64.b64decode(made.stdout.decode().split()[1])

    @classmethod
    def tearDownClass(cls):
        cls.prefix.close()

    def calls(self, function):
        return sum(1 for line in self.prefix.log() if line[0] == function)

    def sign(self, hash_bytes):
        return ("SignHash", {"hash": b64(hash_bytes), "thumbprint": self.thumb, "store_type": "skf", "pin": "1234"})

    def test_walks_and_certificate_bytes_are_bounded(self):
        many = "copies 9000\n"
        listing = ("CertificatesList", {"store_type": "skf"})
        find = ("FindCertificate", {"store_type": "skf", "thumbprint": self.thumb})
        digest = hashlib.sha256(b"many").digest()
        rows = [
            # (description, function, how many calls of it the listing made)
            ("device d\n" + many, "SKF_ConnectDev", 64),
            ("device d\n" + many + "application a\n" + many, "SKF_OpenApplication", 256),
            ("device d\n" + many + "application a\n" + many + "pin 1234\n" + container_lines("c", self.der, many),
             "SKF_OpenContainer", 4096),
            # 16 certificates of almost 1 MiB are kept; the 17th would pass 16 MiB.
            ("device d\napplication a\n" + container_lines("c", self.large, many), "SKF_ExportCertificate", 2 * 16 + 1),
        ]
        for text, function, count in rows:
            with self.subTest(text=text[:80], function=function):
                self.prefix.describe(text)
                (answer,), peak = self.prefix.ask_measured(listing)
                self.assertEqual(self.calls(function), count)
                self.assertIn(answer["response"], ("success", "fail"))
                self.assertLess(peak, PEAK_BOUND_MIB)
        # The 4,096 certificates of one listing are too many for an answer; a
        # lookup finds the first, and the signer signs with it.
        self.prefix.describe("device d\napplication a\npin 1234\n" + container_lines("c", self.der))
        expected = self.prefix.ask(find, self.sign(digest))
        self.prefix.describe(rows[2][0])
        answers, peak = self.prefix.ask_measured(listing, find, self.sign(digest))
        self.assertEqual(error(answers[0]), "Answer exceeds the 1 MiB limit of native messaging")
        self.assertEqual(answers[1:], [dict(e, id=str(n + 1)) for n, e in enumerate(expected)])
        self.assertLess(peak, PEAK_BOUND_MIB)

    def test_sign_hash_array_stops_once_its_answer_cannot_fit(self):
        # 20,000 hashes and 8 KiB signatures: each takes at least
        # {"id":"<5 digits>","sig":"<10,924 base64 characters>"} (10,947
        # bytes), so the 96th takes the answer past 1 MiB and no hash after
        # it is signed. With 256-byte signatures (367 bytes each) the 2,858th.
        hashes = [{"id": "%05d" % n, "hash": b64(hashlib.sha256(b"%d" % n).digest())} for n in range(20000)]
        array = ("SignHashArray", {"hashes": hashes, "thumbprint": self.thumb, "store_type": "skf", "pin": "1234"})
        after = self.sign(hashlib.sha256(b"after").digest())
        for modulus, signed in ((8192, 96), (256, 2858)):
            with self.subTest(modulus=modulus):
                self.prefix.describe("device d\napplication a\npin 1234\n" +
                                     container_lines("c", self.der, "modulus %d\n" % modulus))
                (expected,) = self.prefix.ask(after)
                self.prefix.clear_log()
                (answer, again), peak = self.prefix.ask_measured(array, after)
                self.assertEqual(error(answer), "Answer exceeds the 1 MiB limit of native messaging")
                # Two calls a signature; SignHash signs once more.
                self.assertEqual(self.calls("SKF_RSASignData"), 2 * (signed + 1))
                self.assertEqual(again, dict(expected, id="1"))
                self.assertLess(peak, PEAK_BOUND_MIB)


if __name__ == "__main__":
    unittest.main()
