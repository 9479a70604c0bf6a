"""Certificate, signing and Decrypt commands of the built host over the test
GOST provider (tests/standins/gost_csp): a CryptoAPI provider of types 75, 80
and 81 with PIN-protected containers and its own, verifiable signature scheme."""
import base64
import json
import os
import re
import unittest

from cards_support import windows_path
from csp_support import (BASE64_ERROR, FAULTS_VARIABLE, GOST_FIXTURE, NTE_SILENT_CONTEXT, PrefixTests,
                         SCARD_W_CANCELLED_BY_USER, SCARD_W_WRONG_CHV, Scratch, WatchedHost, WinePrefix, b64,
                         cms_signature, error, openssl_cms_print, provider_fault_rows, provider_fault_setup, result,
                         run_fault_rows)
from e2e_support import HOST_EXE, kelvora_client

SNILS, INN, OGRN = "1.2.643.100.3", "1.2.643.3.131.1.1", "1.2.643.100.1"
HASH_OID = {"2001": "1.2.643.2.2.9", "2012-256": "1.2.643.7.1.1.2.2", "2012-512": "1.2.643.7.1.1.2.3"}
SIGNATURE_OID = {"2001": "1.2.643.2.2.3", "2012-256": "1.2.643.7.1.1.3.2", "2012-512": "1.2.643.7.1.1.3.3"}

# name: (algorithm, container, extra new-cert options)
CERTS = {
    "g256": ("2012-256", "g256", ["--pin", "1234", "--subject", "CN=Gost 256, %s=11122233344, %s=500100732259" % (
        SNILS, INN), "--issuer", "CN=Test CA, %s=1027700132195" % OGRN]),
    "g2001": ("2001", "g2001", ["--reader", "--subject", "CN=Gost 2001, %s=55566677788" % SNILS]),
    # Only a signature key, while the key information names the key-exchange key.
    "g512": ("2012-512", "g512", ["--key-spec", "signature", "--prov-key-spec", "1"]),
    "no_prov": ("2012-256", "no-prov", ["--no-prov-info"]),
    "expired": ("2012-256", "expired", ["--days-before", "10", "--days-after", "-1"]),
    "server_only": ("2012-256", "server-only", ["--eku", "1.3.6.1.5.5.7.3.1"]),
    "user_dec": ("2012-256", "user-dec", ["--pin", "4321"]),
    "user_2001": ("2001", "user-2001", []),
}
LISTED = {"g256", "g2001", "g512", "user_dec", "user_2001"}


@unittest.skipUnless(os.path.exists(GOST_FIXTURE), "the GOST stand-in provider is not built")
class GostCommands(PrefixTests):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix()
        cls.scratch = Scratch()
        cls.prefix.gost("register")
        cls.thumb = {}
        for name, (alg, container, options) in CERTS.items():
            cls.thumb[name] = cls.prefix.gost("new-cert", "--alg", alg, "--container", container, *options).strip()
        cls.names = {t: n for n, t in cls.thumb.items()}

    def listed(self, answer):
        value = result(answer)
        return set() if value == "" else {self.names.get(d["thumbprint"], d["thumbprint"]) for d in value}

    def digest(self, alg, data):
        (answer,) = self.ask(("ComputeHash", {"algorithm": HASH_OID[alg], "data": b64(data)}))
        return base64.b64decode(result(answer))

    def verifies(self, name, hash_bytes, signature):
        alg, container, _ = CERTS[name]
        return self.prefix.gost_verifies(alg, container, hash_bytes, signature)

    # --- listing ------------------------------------------------------------

    def test_listing_and_descriptions(self):
        gost, rsa, snils, inn, issuer, wrong = self.ask(
            ("CertificatesList", {"store_type": "csp"}), ("CertificatesList", {"rsa": True}),
            ("CertificatesList", {"snils": "55566677788"}), ("CertificatesList", {"inn": "500100732259"}),
            ("CertificatesList", {"issuer_ogrn": "1027700132195", "snils": "11122233344"}),
            ("CertificatesList", {"issuer_ogrn": "1027700132195", "snils": "55566677788"}))
        self.assertEqual(self.listed(gost), LISTED)
        self.assertEqual(result(rsa), "")
        self.assertEqual(self.listed(snils), {"g2001"})
        self.assertEqual(self.listed(inn), {"g256"})
        self.assertEqual(self.listed(issuer), {"g256"})
        self.assertEqual(self.listed(wrong), set())
        by_name = {self.names[d["thumbprint"]]: d for d in result(gost)}
        for name in LISTED:
            alg, container, _ = CERTS[name]
            d = by_name[name]
            self.assertEqual(d["algorithm"], SIGNATURE_OID[alg], name)
            self.assertEqual((d["container"], d["hardware"], d["carrier_type"]), (container, "false", "csp"), name)
        # The container made on a reader reports it; the others have none.
        self.assertEqual(by_name["g2001"]["reader"], "Kelvora Test Reader 0")
        self.assertEqual(by_name["g256"]["reader"], "")
        self.assertEqual(by_name["g256"]["raw_subject"][SNILS], "11122233344")
        self.assertEqual(by_name["g256"]["issuer"]["CN"], "Test CA")

    def test_find_outside_validity_and_without_key(self):
        answers = self.ask(("FindCertificate", {"thumbprint": self.thumb["expired"].lower()}),
                           ("FindCertificate", {"thumbprint": self.thumb["no_prov"]}),
                           ("CertificateToBase64", {"thumbprint": self.thumb["server_only"].lower()}))
        self.assertEqual(result(answers[0])["thumbprint"], self.thumb["expired"])
        self.assertEqual(result(answers[1])["container"], "")
        self.assertTrue(base64.b64decode(result(answers[2])))

    # --- signing -------------------------------------------------------------

    def test_sign_hash_verifies_with_the_provider(self):
        data = b"GOST signing through the test provider"
        hashes = {alg: self.digest(alg, data) for alg in HASH_OID}
        (encrypted,) = self.ask(("EncryptPin", {"pincode": "1234"}))
        cases = [("g256", {"pin": "1234"}), ("g256", {"pin": "0000", "encrypted_pin": result(encrypted)}),
                 ("g2001", {}), ("g512", {})]
        answers = self.ask(*[("SignHash", dict(args, hash=b64(hashes[CERTS[n][0]]), thumbprint=self.thumb[n]))
                             for n, args in cases])
        for (name, _), answer in zip(cases, answers):
            signature = base64.b64decode(result(answer))
            self.assertTrue(self.verifies(name, hashes[CERTS[name][0]], signature), name)
        self.assertFalse(self.verifies("g256", hashes["2012-256"][::-1], base64.b64decode(result(answers[0]))))

    def test_pin_errors_carry_the_provider_code(self):
        h = b64(self.digest("2012-256", b"pin"))
        answers = self.ask(("SignHash", {"hash": h, "thumbprint": self.thumb["g256"], "pin": "9999"}),
                           ("SignHash", {"hash": h, "thumbprint": self.thumb["g256"]}),
                           ("SignHash", {"hash": h, "thumbprint": self.thumb["g256"], "encrypted_pin": "$"}),
                           ("SignHashArray", {"hashes": [{"id": "1", "hash": h}], "thumbprint": self.thumb["g256"],
                                              "pin": "1111"}),
                           ("SignHash", {"hash": b64(bytes(32)), "thumbprint": self.thumb["g512"]}))
        wrong_pin = self.prefix.error_text(SCARD_W_WRONG_CHV)
        self.assertEqual(error(answers[0]), wrong_pin)
        # Without a PIN the provider asks for it; its dialog is cancelled here.
        self.assertEqual(error(answers[1]), self.prefix.error_text(SCARD_W_CANCELLED_BY_USER))
        self.assertEqual(error(answers[2]), self.prefix.error_text(SCARD_W_CANCELLED_BY_USER))
        self.assertEqual(error(answers[3]), wrong_pin)
        self.assertEqual(error(answers[4]), "Invalid hash length: expected 64 bytes, got 32")
        for text in (wrong_pin, self.prefix.error_text(SCARD_W_CANCELLED_BY_USER)):
            self.assertTrue(text == "Unknown error" or re.search(r"\r\nError code: 0x8010006[BE]$", text), text)

    def test_provider_dialog_answers_the_pin(self):
        h = self.digest("2012-256", b"dialog")
        (answer,) = self.ask(("SignHash", {"hash": b64(h), "thumbprint": self.thumb["g256"]}),
                             env={"KELVORA_GOST_CSP_PROMPT_PIN": "1234"})
        self.assertTrue(self.verifies("g256", h, base64.b64decode(result(answer))))

    def test_sign_hash_array_in_ascending_id_order(self):
        texts = {i: ("text " + i).encode() for i in ("2", "10", "1", "b", "a")}
        hashes = {i: self.digest("2012-256", t) for i, t in texts.items()}
        (answer,) = self.ask(("SignHashArray", {
            "hashes": [{"id": i, "hash": b64(hashes[i])} for i in ("2", "10", "1", "b", "a")],
            "thumbprint": self.thumb["g256"], "pin": "1234"}))
        signatures = result(answer)["signatures"]
        self.assertEqual([s["id"] for s in signatures], ["1", "10", "2", "a", "b"])
        for s in signatures:
            self.assertTrue(self.verifies("g256", hashes[s["id"]], base64.b64decode(s["sig"])), s["id"])

    def test_try_without_pin(self):
        answers = self.ask(("TryWithoutPin", {"thumbprint": self.thumb["g256"]}),
                           ("TryWithoutPin", {"thumbprint": self.thumb["g2001"]}),
                           ("TryWithoutPin", {"thumbprint": self.thumb["g512"]}),
                           ("TryWithoutPin", {"thumbprint": self.thumb["no_prov"]}),
                           ("TryWithoutPin", {"thumbprint": self.thumb["user_2001"], "store_type": "pkcs11"}),
                           env={"KELVORA_GOST_CSP_PROMPT_PIN": "1234"})
        # A PIN-protected key is refused silently: no dialog, whatever it would answer.
        self.assertEqual(result(answers[0]), {"valid": "false"})
        self.assertEqual(result(answers[1]), {"valid": "true"})
        self.assertEqual(result(answers[2]), {"valid": "true"})
        self.assertEqual(result(answers[3]), {"valid": "false"})
        self.assertEqual(error(answers[4]), "Certificate not found")

    def test_sign_cms_with_the_provider(self):
        data = b"CMS over GOST"
        answers = self.ask(("SignCms", {"data": b64(data), "detached": False, "thumbprint": self.thumb["g2001"]}),
                           ("SignCms", {"data": b64(data), "detached": True, "thumbprint": self.thumb["g256"]}),
                           env={"KELVORA_GOST_CSP_PROMPT_PIN": "1234"})
        for answer, name in zip(answers, ("g2001", "g256")):
            message = base64.b64decode(result(answer))
            alg = CERTS[name][0]
            printed = openssl_cms_print(self.scratch, message)
            self.assertIn(HASH_OID[alg], printed.replace(" ", ""))
            self.assertEqual(data in message, name == "g2001")
            # No signed attributes: the signature covers the digest of the data;
            # CMS keeps it in the reverse of CryptSignHash's byte order.
            signature = cms_signature(self.scratch, message)[::-1]
            self.assertTrue(self.verifies(name, self.digest(alg, data), signature), name)

    # --- Decrypt ----------------------------------------------------------

    def session_key(self, name, server):
        alg, container, _ = CERTS[name]
        out = self.prefix.gost("make-session-key", "--alg", alg, "--container", container,
                               "--server-container", server)
        return json.loads(out)

    def rewrapped_ok(self, name, server, blob, probe):
        alg, container, _ = CERTS[name]
        done = self.prefix.run([GOST_FIXTURE, "check-rewrapped", "--alg", alg, "--container", container,
                                "--server-container", server, "--blob", blob, "--probe", probe])
        return done.returncode == 0

    def test_decrypt_rewraps_the_session_key_for_the_server(self):
        parts = self.session_key("user_dec", "server-256")
        parts_2001 = self.session_key("user_2001", "server-2001")
        args = {"thumbprint": self.thumb["user_dec"], "pin": "4321", "encryptedKey": parts["encryptedKey"],
                "serverPublicKey": parts["serverPublicKey"]}
        args_2001 = {"thumbprint": self.thumb["user_2001"].lower(), "encryptedKey": parts_2001["encryptedKey"],
                     "serverPublicKey": parts_2001["serverPublicKey"]}
        answers = self.ask(("Decrypt", args), ("Decrypt", args_2001))
        blob = result(answers[0])
        self.assertEqual(base64.b64decode(blob)[0], 1)  # SIMPLEBLOB
        self.assertTrue(self.rewrapped_ok("user_dec", "server-256", blob, parts["probe"]))
        self.assertTrue(self.rewrapped_ok("user_2001", "server-2001", result(answers[1]), parts_2001["probe"]))
        # The blob is for the server: another party's key does not unwrap it.
        self.session_key("user_dec", "server-other")
        self.assertFalse(self.rewrapped_ok("user_dec", "server-other", blob, parts["probe"]))

    def test_decrypt_failures_in_order(self):
        parts = self.session_key("user_dec", "server-256")
        good = {"thumbprint": self.thumb["user_dec"], "pin": "4321", "encryptedKey": parts["encryptedKey"],
                "serverPublicKey": parts["serverPublicKey"]}

        def changed(**changes):
            args = json.loads(json.dumps(good))
            for path, value in changes.items():
                node, keys = args, path.split("__")
                for key in keys[:-1]:
                    node = node[key]
                if value is None:
                    del node[keys[-1]]
                else:
                    node[keys[-1]] = value
            return args

        session = parts["encryptedKey"]["sessionKey"]
        bad_mac = b64(bytes(b ^ 0xFF for b in base64.b64decode(session["mac"])))
        answers = self.ask(("Decrypt", changed(pin="0000")),
                           ("Decrypt", changed(pin=None)),
                           ("Decrypt", changed(pin="0000", serverPublicKey=None)),
                           ("Decrypt", changed(serverPublicKey=None)),
                           ("Decrypt", changed(serverPublicKey="!!")),
                           ("Decrypt", changed(serverPublicKey=b64(b"\x06\x20\x00\x00garbage"))),
                           ("Decrypt", changed(encryptedKey__sessionKey__mac=bad_mac)),
                           ("Decrypt", changed(encryptedKey__ephemeralKey__algorithm="1.2.3")),
                           ("Decrypt", changed(encryptedKey__sessionKey=None)),
                           ("Decrypt", changed(encrypted_pin="ignored", pin="4321")),
                           env={"KELVORA_GOST_CSP_PROMPT_PIN": "4321"})
        wrong_pin = self.prefix.error_text(SCARD_W_WRONG_CHV)
        self.assertEqual(error(answers[0]), wrong_pin)
        # Opened silently: a container that needs a PIN refuses instead of asking.
        self.assertEqual(error(answers[1]), self.prefix.error_text(NTE_SILENT_CONTEXT))
        # The server key is read only after the session key was unwrapped.
        self.assertEqual(error(answers[2]), wrong_pin)
        self.assertEqual(error(answers[3]), "No such node (serverPublicKey)")
        self.assertEqual(error(answers[4]), BASE64_ERROR)
        for answer in answers[5:7]:
            text = error(answer)
            code = re.search(r"Error code: 0x([0-9A-F]{8})$", text)
            self.assertEqual(text, self.prefix.error_text(int(code.group(1), 16)) if code else "Unknown error")
        self.assertEqual(error(answers[7]), "Invalid public key algorithm")
        self.assertEqual(error(answers[8]), "No such node (sessionKey)")
        # "encrypted_pin" is not read by Decrypt.
        self.assertTrue(base64.b64decode(result(answers[9])))


# The most resident memory the x86_64 host may reach over all the fault rows.
FAULT_ROWS_PEAK = 96 << 20


@unittest.skipUnless(os.path.exists(GOST_FIXTURE), "the GOST stand-in provider is not built")
class BrokenProvider(unittest.TestCase):
    """Every command that reaches the providers, in one host, while the test
    provider answers the host's calls wrongly row by row (csp_support's fault
    table): no row may end the host, stall it or run its peak memory past the
    bound, and none may be answered as a success with a bad output."""

    def test_fault_rows(self):
        prefix = WinePrefix()
        try:
            made = provider_fault_setup(prefix.gost)
            faults = os.path.join(prefix.work, "faults.txt")
            env = dict(prefix.env, **{FAULTS_VARIABLE: windows_path(faults)})
            problems, peak = run_fault_rows(
                lambda: WatchedHost(kelvora_client.host_command(HOST_EXE), env, FAULT_ROWS_PEAK, timeout=120),
                faults, provider_fault_rows(made))
            self.assertEqual(problems, [])
            print("fault rows: peak memory of the x86_64 host %.1f MiB" % (peak / 1048576))
        finally:
            prefix.close()


if __name__ == "__main__":
    unittest.main(verbosity=2)
