"""Certificate, signing and Decrypt commands of the built host over Wine's
RSA provider ("Microsoft Enhanced RSA and AES Cryptographic Provider"), with
the signatures and CMS messages checked by OpenSSL."""
import base64
import datetime
import hashlib
import json
import re
import unittest

from csp_support import (BASE64_ERROR, NTE_BAD_KEYSET, Element, PrefixTests, Scratch, WinePrefix, answer_of,
                         attribute, b64, changed, check_hostile_rows, der_element, emptied_bit_strings, error,
                         hostile_certificates, names_as_held, openssl_cms_print, openssl_cms_verify,
                         openssl_verifies_signature, openssl_x509_text, padded, result, retimed, sha1_hex,
                         unreadable_extension_values, zone_offset_copy)

DESCRIPTION_KEYS = ["thumbprint", "serial", "subject", "raw_subject", "issuer", "validFrom", "validTo", "algorithm",
                    "container", "hardware", "reader", "carrier_type"]
RSA_OIDS = {"sha256": "1.2.840.113549.1.1.11", "sha384": "1.2.840.113549.1.1.12", "sha512": "1.2.840.113549.1.1.13"}
SNILS, INN, INNLE, OGRN, OGRNIP = "1.2.643.100.3", "1.2.643.3.131.1.1", "1.2.643.100.4", "1.2.643.100.1", "1.2.643.100.5"

# Certificates of the test prefix, by name. The GOST-signed ones carry RSA keys
# and placeholder signatures: enough for listing and filtering.
SPECS = {
    "sha256": {"container": "rsa-256", "signature_oid": RSA_OIDS["sha256"], "subject": "CN=Kelvora RSA 256, O=Kelvora"},
    "sha384": {"container": "rsa-384", "signature_oid": RSA_OIDS["sha384"], "subject": "CN=Kelvora RSA 384"},
    "sha512": {"container": "rsa-512", "signature_oid": RSA_OIDS["sha512"], "subject": "CN=Kelvora RSA 512"},
    # A key pair of the signature kind, named as such in the key information.
    "signature_key": {"container": "rsa-sig", "key_spec": "signature", "subject": "CN=Signature key"},
    "expired": {"container": "rsa-256", "subject": "CN=Expired", "not_before": -864000, "not_after": -86400},
    "future": {"container": "rsa-256", "subject": "CN=Future", "not_before": 86400},
    "no_usage": {"container": "rsa-256", "subject": "CN=No usage", "usages": "none"},
    "server_only": {"container": "rsa-256", "subject": "CN=Server", "usages": ["1.3.6.1.5.5.7.3.1"]},
    "no_key_info": {"container": "rsa-256", "subject": "CN=No key info", "key_provider_info": 0},
    "sha1": {"container": "rsa-256", "subject": "CN=SHA-1", "signature_oid": "1.2.840.113549.1.1.5"},
    "lost_container": {"container": "rsa-256", "subject": "CN=Lost", "info_container": "kelvora-no-such-container"},
    "loose": {"container": "rsa-256", "store": "none", "serial": "0A0201",
              "subject": 'OU=First, OU=Second, CN="Say ""hi"", all"', "issuer": "CN=Loose Issuer"},
    "gost_a": {"container": "rsa-256", "signature_oid": "1.2.643.7.1.1.3.2", "placeholder_signature": 1,
               "subject": "CN=Gost A, %s=12345678901, %s=770000000001, %s=1027700000001" % (SNILS, INN, OGRN),
               "issuer": "CN=CA One, %s=1111111111111" % OGRN},
    "gost_b": {"container": "rsa-256", "signature_oid": "1.2.643.2.2.3", "placeholder_signature": 1,
               "subject": "CN=Gost B, %s=98765432109, %s=7700000002, %s=304770000000001" % (SNILS, INNLE, OGRNIP),
               "issuer": "CN=CA Two, %s=2222222222222" % OGRN},
    "gost_c": {"container": "rsa-256", "signature_oid": "1.2.643.7.1.1.3.3", "placeholder_signature": 1,
               "subject": "CN=Gost C"},
    "gost_expired": {"container": "rsa-256", "signature_oid": "1.2.643.7.1.1.3.2", "placeholder_signature": 1,
                     "subject": "CN=Gost old, %s=12345678901" % SNILS, "not_before": -864000, "not_after": -86400},
}


class RsaCommands(PrefixTests):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix()
        names = list(SPECS)
        made = cls.prefix.make_certs([SPECS[n] for n in names])
        cls.certs = dict(zip(names, made))
        cls.thumb = {n: t for n, (t, _) in cls.certs.items()}
        cls.der = {n: d for n, (_, d) in cls.certs.items()}
        cls.scratch = Scratch()

    def names_of(self, listing):
        if listing == "":
            return set()
        by_thumb = {t: n for n, t in self.thumb.items()}
        return {by_thumb.get(d["thumbprint"], d["thumbprint"]) for d in listing}

    # --- certificate commands ---------------------------------------------

    def test_rsa_listing_keeps_valid_client_certificates_with_keys(self):
        rsa, gost_default, skf, pkcs11, *other_kinds = self.ask(
            ("CertificatesList", {"rsa": True}), ("CertificatesList", {}),
            ("CertificatesList", {"store_type": "skf"}), ("CertificatesList", {"store_type": "pkcs11", "rsa": "1"}),
            ("CertificatesList", {"store_type": "PKCS11"}), ("CertificatesList", {"store_type": "skf "}),
            ("CertificatesList", {"store_type": {"x": "skf"}}))
        self.assertEqual(self.names_of(result(rsa)), {"sha256", "sha384", "sha512", "signature_key", "lost_container"})
        self.assertEqual(self.names_of(result(gost_default)), {"gost_a", "gost_b", "gost_c"})
        # Only the exact names choose a token back end; anything else is the store.
        for answer in other_kinds:
            self.assertEqual(self.names_of(result(answer)), {"gost_a", "gost_b", "gost_c"})
        # No token holds certificates: the empty list is written as "". Without
        # an SKF library that back end cannot be asked at all.
        self.assertEqual(error(skf), "Invalid SKF session")
        self.assertEqual(result(pkcs11), "")

    def test_description_keys_and_value_forms(self):
        (listing,) = self.ask(("CertificatesList", {"rsa": "true"}))
        descriptions = {d["thumbprint"]: d for d in result(listing)}
        d = descriptions[self.thumb["sha256"]]
        self.assertEqual(list(d), DESCRIPTION_KEYS)
        self.assertEqual(d["subject"]["CN"], "Kelvora RSA 256")
        self.assertEqual(d["subject"]["O"], "Kelvora")
        self.assertEqual(d["raw_subject"]["2.5.4.3"], "Kelvora RSA 256")
        self.assertEqual(d["issuer"]["CN"], "Kelvora RSA 256")
        self.assertEqual(d["algorithm"], RSA_OIDS["sha256"])
        self.assertEqual((d["container"], d["hardware"], d["reader"], d["carrier_type"]),
                         ("rsa-256", "false", "", "csp"))
        self.assertEqual(descriptions[self.thumb["signature_key"]]["container"], "rsa-sig")
        der = self.der["sha256"]
        self.assertEqual(d["thumbprint"], sha1_hex(der))
        serial = openssl_x509_text(self.scratch, der, "-serial").strip().split("=")[1]
        self.assertEqual(d["serial"], serial)
        for key, option in (("validFrom", "-startdate"), ("validTo", "-enddate")):
            text = openssl_x509_text(self.scratch, der, option).strip().split("=", 1)[1]
            when = datetime.datetime.strptime(re.sub(" +", " ", text), "%b %d %H:%M:%S %Y GMT")
            self.assertEqual(d[key], "%d-%02d-%02dT%02d:%02d:%02d" % (
                when.year, when.month, when.day, when.hour, when.minute, when.second))

    def test_rsa_flag_forms(self):
        forms = [True, "1", " true ", "true\n", False, "0", "True", "yes", "2", ""]
        answers = self.ask(*[("CertificatesList", {"rsa": f}) for f in forms])
        rsa_set = {"sha256", "sha384", "sha512", "signature_key", "lost_container"}
        gost_set = {"gost_a", "gost_b", "gost_c"}
        expected = [rsa_set] * 4 + [gost_set] * 6
        for form, answer, want in zip(forms, answers, expected):
            self.assertEqual(self.names_of(result(answer)), want, repr(form))

    def test_gost_filters(self):
        cases = [
            ({"snils": "12345678901"}, {"gost_a"}),
            ({"snils": 98765432109}, {"gost_b"}),  # a JSON number filters by its digits
            ({"snils": ""}, {"gost_a", "gost_b", "gost_c"}),
            ({"inn": "770000000001"}, {"gost_a"}),
            ({"innle": "7700000002"}, {"gost_b"}),
            ({"ogrn": "1027700000001"}, {"gost_a"}),
            ({"ogrn": "1111111111111"}, set()),  # the issuer's OGRN is not the subject's
            ({"issuer_ogrn": "1111111111111"}, {"gost_a"}),
            ({"issuer_ogrn": "2222222222222"}, {"gost_b"}),
            ({"ogrnip": "304770000000001"}, {"gost_b"}),
            ({"snils": "12345678901", "inn": "770000000001", "issuer_ogrn": "1111111111111"}, {"gost_a"}),
            ({"snils": "12345678901", "inn": "0"}, set()),
            ({"snils": "1234567890"}, set()),  # whole texts only
            ({"snils": "12345678901", "rsa": True}, {"sha256", "sha384", "sha512", "signature_key", "lost_container"}),
        ]
        answers = self.ask(*[("CertificatesList", args) for args, _ in cases])
        for (args, want), answer in zip(cases, answers):
            self.assertEqual(self.names_of(result(answer)), want, json.dumps(args))

    def test_find_certificate_by_thumbprint(self):
        t = self.thumb
        answers = self.ask(("FindCertificate", {"thumbprint": t["sha384"]}),
                           ("FindCertificate", {"thumbprint": t["sha384"].lower()}),
                           ("FindCertificate", {"thumbprint": t["expired"]}),
                           ("FindCertificate", {"thumbprint": t["future"].lower(), "store_type": "csp"}),
                           ("FindCertificate", {"thumbprint": t["no_key_info"]}),
                           ("FindCertificate", {"thumbprint": "00" * 20}),
                           ("FindCertificate", {"thumbprint": t["sha384"], "store_type": "pkcs11"}),
                           ("FindCertificate", {"thumbprint": t["sha384"], "store_type": "skf"}),
                           ("FindCertificate", {"store_type": "csp"}))
        for answer, name in zip(answers[:5], ["sha384", "sha384", "expired", "future", "no_key_info"]):
            d = result(answer)
            self.assertEqual(list(d), DESCRIPTION_KEYS)
            self.assertEqual(d["thumbprint"], t[name])
        self.assertEqual(result(answers[4])["container"], "")
        self.assertEqual([result(a) for a in answers[5:7]], ["", ""])
        self.assertEqual(error(answers[7]), "Invalid SKF session")
        self.assertEqual(error(answers[8]), "No such node (thumbprint)")

    def test_certificate_to_base64(self):
        answers = self.ask(("CertificateToBase64", {"thumbprint": self.thumb["sha512"].lower()}),
                           ("CertificateToBase64", {"thumbprint": self.thumb["expired"]}),
                           ("CertificateToBase64", {"thumbprint": "ab" * 20}),
                           ("CertificateToBase64", {"thumbprint": self.thumb["sha512"], "store_type": "skf"}),
                           ("CertificateToBase64", {}))
        self.assertEqual(base64.b64decode(result(answers[0])), self.der["sha512"])
        self.assertEqual(base64.b64decode(result(answers[1])), self.der["expired"])
        self.assertEqual(result(answers[2]), "")
        self.assertEqual(error(answers[3]), "Invalid SKF session")
        self.assertEqual(error(answers[4]), "No such node (thumbprint)")

    def test_certificate_from_base64(self):
        answers = self.ask(("CertificateFromBase64", {"data": b64(self.der["loose"])}),
                           ("CertificateFromBase64", {"data": ""}),
                           ("CertificateFromBase64", {"data": b64(b"not a certificate")}),
                           ("CertificateFromBase64", {"data": "@@@@"}),
                           ("CertificateFromBase64", {}))
        d = result(answers[0])
        self.assertEqual(list(d), DESCRIPTION_KEYS)
        self.assertEqual(d["thumbprint"], sha1_hex(self.der["loose"]))
        self.assertEqual(d["serial"], "0A0201")
        self.assertEqual(d["subject"], {"CN": 'Say "hi", all', "OU": "First"})
        self.assertEqual(d["issuer"], {"CN": "Loose Issuer"})
        self.assertEqual((d["container"], d["hardware"], d["reader"], d["carrier_type"]), ("", "false", "", "csp"))
        self.assertEqual(result(answers[1]), "")
        self.assertEqual(result(answers[2]), "")
        self.assertEqual(error(answers[3]), BASE64_ERROR)
        self.assertEqual(error(answers[4]), "No such node (data)")
        # Bytes the system's decoder must not see read as no certificate: a
        # BIT STRING without its unused-bits octet, and forms that are not DER.
        loose = self.der["loose"]
        rows = [("BIT STRING %d emptied" % n, ("CertificateFromBase64", {"data": b64(copy)}), "")
                for n, (copy, oid) in enumerate(emptied_bit_strings(loose)) if not oid]
        rows += [(form, ("CertificateFromBase64", {"data": b64(copy)}), "") for form, copy in hostile_certificates(loose)]
        # Extension values the decoder must not see leave the certificate readable.
        rows += [(form, ("CertificateFromBase64", {"data": b64(copy)}), dict(d, thumbprint=sha1_hex(copy)))
                 for form, copy, _ in unreadable_extension_values(loose)]
        # Names as the certificate holds them: strings starting with "#" as
        # they are, each attribute of an RDN an entry of its own; bytes after
        # the certificate's element are no part of it.
        rows += [(form, ("CertificateFromBase64", {"data": b64(copy)}), description(d))
                 for form, copy, _, description in names_as_held(loose)]
        rows += [("seven zero bytes after the element", ("CertificateFromBase64", {"data": b64(padded(loose))}), d)]
        check_hostile_rows(self, self.ask, rows, loose)

    def test_serialize_certificate_renders_what_certificate_to_base64_returns(self):
        (exported,) = self.ask(("CertificateToBase64", {"thumbprint": self.thumb["sha256"]}))
        (view,) = self.ask(("SerializeCertificate", {"cert": result(exported)}))
        c = result(view)["certificate"]
        serial = openssl_x509_text(self.scratch, self.der["sha256"], "-serial").strip().split("=")[1]
        self.assertEqual(int(c["serial-number"].replace(" ", ""), 16), int(serial, 16))
        self.assertEqual(sorted((e["name"], e["value"]) for e in c["subject"]["rdn"]),
                         [("CN", "Kelvora RSA 256"), ("O", "Kelvora")])
        self.assertEqual(c["signed-content"]["signature-algorithm"]["oid"], RSA_OIDS["sha256"])

    # --- signing ----------------------------------------------------------

    def test_sign_hash_verifies_with_openssl(self):
        data = b"Kelvora signs this text."
        cases = [("sha256", "sha256"), ("sha384", "sha384"), ("sha512", "sha512"), ("signature_key", "sha256")]
        requests = []
        for name, digest in cases:
            requests.append(("SignHash", {"hash": b64(hashlib.new(digest, data).digest()),
                                          "thumbprint": self.thumb[name].lower(), "pin": "ignored"}))
        requests.append(("CertificateToBase64", {"thumbprint": self.thumb["sha256"]}))
        answers = self.ask(*requests)
        for (name, digest), answer in zip(cases, answers):
            signature = base64.b64decode(result(answer))
            self.assertEqual(len(signature), 128, name)
            self.assertTrue(openssl_verifies_signature(self.scratch, self.der[name], digest, data, signature), name)
            self.assertFalse(openssl_verifies_signature(self.scratch, self.der[name], digest, data + b"!", signature))
        # The certificate CertificateToBase64 returns carries the key that verifies.
        exported = base64.b64decode(result(answers[-1]))
        self.assertTrue(openssl_verifies_signature(self.scratch, exported, "sha256", data,
                                                   base64.b64decode(result(answers[0]))))

    def test_sign_hash_errors(self):
        t = self.thumb
        h32 = b64(bytes(range(32)))
        answers = self.ask(("SignHash", {"hash": b64(bytes(20)), "thumbprint": t["sha256"]}),
                           ("SignHash", {"hash": b64(bytes(32)), "thumbprint": t["sha512"]}),
                           ("SignHash", {"hash": "", "thumbprint": t["sha256"]}),
                           ("SignHash", {"hash": h32, "thumbprint": "00" * 20}),
                           ("SignHash", {"hash": "*bad*"}),
                           ("SignHash", {"hash": h32}),
                           ("SignHash", {"thumbprint": t["sha256"]}),
                           ("SignHash", {"hash": h32, "thumbprint": t["sha1"]}),
                           ("SignHash", {"hash": h32, "thumbprint": t["lost_container"]}),
                           ("SignHash", {"hash": h32, "thumbprint": t["sha256"], "store_type": "pkcs11"}),
                           ("SignHash", {"hash": h32, "thumbprint": t["sha256"], "encrypted_pin": "$$"}),
                           ("SignHash", {"hash": h32, "thumbprint": t["sha256"], "encrypted_pin": "@@$AAAA"}))
        self.assertEqual(error(answers[0]), "Invalid hash length: expected 32 bytes, got 20")
        self.assertEqual(error(answers[1]), "Invalid hash length: expected 64 bytes, got 32")
        self.assertEqual(error(answers[2]), "Empty hash")
        self.assertEqual(result(answers[3]), "")
        self.assertEqual(error(answers[4]), BASE64_ERROR)  # the hash is decoded before anything else is read
        self.assertEqual(error(answers[5]), "No such node (thumbprint)")
        self.assertEqual(error(answers[6]), "No such node (hash)")
        self.assertEqual(error(answers[7]), "Unsupported signature algorithm: 1.2.840.113549.1.1.5")
        # The container that does not open is reported with the acquire's own error.
        self.assertEqual(error(answers[8]), self.prefix.error_text(NTE_BAD_KEYSET))
        self.assertEqual(result(answers[9]), "")
        # An encrypted PIN that does not decrypt gives the empty PIN (the RSA provider needs none).
        self.assertTrue(base64.b64decode(result(answers[10])))
        self.assertEqual(error(answers[11]), BASE64_ERROR)

    def test_sign_hash_with_encrypted_pin(self):
        (encrypted,) = self.ask(("EncryptPin", {"pincode": "1234"}))
        digest = hashlib.sha256(b"pin").digest()
        (signed,) = self.ask(("SignHash", {"hash": b64(digest), "thumbprint": self.thumb["sha256"],
                                           "pin": "other", "encrypted_pin": result(encrypted)}))
        self.assertTrue(openssl_verifies_signature(self.scratch, self.der["sha256"], "sha256", b"pin",
                                                   base64.b64decode(result(signed))))

    def test_sign_hash_array_in_id_order(self):
        texts = {"2": b"second", "10": b"tenth", "1": b"first"}
        entries = [{"id": i, "hash": b64(hashlib.sha384(texts[i]).digest())} for i in ("2", "10", "1")]
        entries.append({"id": "2", "hash": b64(hashlib.sha384(b"dropped").digest())})
        (answer,) = self.ask(("SignHashArray", {"hashes": entries, "thumbprint": self.thumb["sha384"]}))
        signatures = result(answer)["signatures"]
        self.assertEqual([s["id"] for s in signatures], ["1", "10", "2"])
        for s in signatures:
            self.assertEqual(list(s), ["id", "sig"])
            self.assertTrue(openssl_verifies_signature(self.scratch, self.der["sha384"], "sha384", texts[s["id"]],
                                                       base64.b64decode(s["sig"])), s["id"])

    def test_sign_hash_array_edges(self):
        h = b64(hashlib.sha256(b"x").digest())
        answers = self.ask(("SignHashArray", {"hashes": []}),
                           ("SignHashArray", {"hashes": "text"}),
                           ("SignHashArray", {"hashes": {"a": {"id": "k", "hash": h}}, "thumbprint": self.thumb["sha256"]}),
                           ("SignHashArray", {"hashes": [{"id": "1", "hash": h}], "thumbprint": "11" * 20}),
                           ("SignHashArray", {"hashes": [{"id": "1", "hash": h}, {"id": "1", "hash": "!!"}],
                                              "thumbprint": self.thumb["sha256"]}),
                           ("SignHashArray", {"hashes": ["plain"], "thumbprint": self.thumb["sha256"]}),
                           ("SignHashArray", {"hashes": [{"id": "1"}]}),
                           ("SignHashArray", {"thumbprint": self.thumb["sha256"]}),
                           ("SignHashArray", {"hashes": [{"id": "1", "hash": h}]}),
                           ("SignHashArray", {"hashes": [{"id": "1", "hash": h}, {"id": "2", "hash": b64(bytes(31))}],
                                              "thumbprint": self.thumb["sha256"]}))
        self.assertEqual(result(answers[0]), "")
        self.assertEqual(result(answers[1]), "")
        self.assertEqual([s["id"] for s in result(answers[2])["signatures"]], ["k"])
        self.assertEqual(result(answers[3]), "")
        self.assertEqual(error(answers[4]), BASE64_ERROR)
        self.assertEqual(error(answers[5]), "No such node (id)")
        self.assertEqual(error(answers[6]), "No such node (hash)")
        self.assertEqual(error(answers[7]), "No such node (hashes)")
        self.assertEqual(error(answers[8]), "No such node (thumbprint)")
        self.assertEqual(error(answers[9]), "Invalid hash length: expected 32 bytes, got 31")

    def test_sign_cms_attached_and_detached(self):
        data = b"CMS content \x00\x01\xff with binary bytes"
        forms = [False, True, "0", "1", " true "]
        answers = self.ask(*[("SignCms", {"data": b64(data), "detached": f, "thumbprint": self.thumb["sha256"]})
                             for f in forms])
        messages = [base64.b64decode(result(a)) for a in answers]
        for form, message in zip(forms, messages):
            detached = form in (True, "1", " true ")
            if detached:
                self.assertIsNone(openssl_cms_verify(self.scratch, message), repr(form))
                self.assertEqual(openssl_cms_verify(self.scratch, message, content=data), data, repr(form))
                self.assertIsNone(openssl_cms_verify(self.scratch, message, content=data + b"x"), repr(form))
            else:
                self.assertEqual(openssl_cms_verify(self.scratch, message), data, repr(form))
        self.assertLess(len(messages[1]), len(messages[0]))

    def test_sign_cms_digest_follows_the_certificate(self):
        answers = self.ask(("SignCms", {"data": b64(b"abc"), "detached": False, "thumbprint": self.thumb["sha384"]}),
                           ("SignCms", {"data": "", "detached": "false", "thumbprint": self.thumb["sha512"]}))
        message = base64.b64decode(result(answers[0]))
        self.assertIn("sha384", openssl_cms_print(self.scratch, message))
        self.assertEqual(openssl_cms_verify(self.scratch, message), b"abc")
        empty = base64.b64decode(result(answers[1]))
        self.assertIn("sha512", openssl_cms_print(self.scratch, empty))
        # Empty data leaves the message without content: it verifies against the empty text.
        self.assertEqual(openssl_cms_verify(self.scratch, empty, content=b""), b"")

    def test_sign_cms_errors(self):
        t = self.thumb
        answers = self.ask(("SignCms", {"data": "AA==", "detached": "yes", "thumbprint": t["sha256"]}),
                           ("SignCms", {"data": "AA==", "detached": True, "thumbprint": "22" * 20}),
                           ("SignCms", {"data": "AA==", "detached": True, "thumbprint": t["sha256"].lower(),
                                        "store_type": "pkcs11"}),
                           ("SignCms", {"data": "AA==", "detached": True, "thumbprint": t["sha1"]}),
                           ("SignCms", {"data": "AA==", "thumbprint": t["sha256"]}),
                           ("SignCms", {"data": "**", "detached": 1}),
                           ("SignCms", {"data": "AA==", "detached": 0}),
                           ("SignCms", {"data": "AA==", "detached": True, "thumbprint": t["no_key_info"]}))
        self.assertEqual(error(answers[0]), 'conversion of data to type "bool" failed')
        self.assertEqual(error(answers[1]), "Certificate not found")
        self.assertTrue(base64.b64decode(result(answers[2])))  # "store_type" is not read
        self.assertEqual(error(answers[3]), "Unsupported signature algorithm: 1.2.840.113549.1.1.5")
        self.assertEqual(error(answers[4]), "No such node (detached)")
        self.assertEqual(error(answers[5]), BASE64_ERROR)
        self.assertEqual(error(answers[6]), "No such node (thumbprint)")
        text = error(answers[7])
        code = re.search(r"Error code: 0x([0-9A-F]{8})$", text)
        if code:
            self.assertEqual(text, self.prefix.error_text(int(code.group(1), 16)))
        else:
            self.assertEqual(text, "Unknown error")

    def test_try_without_pin(self):
        t = self.thumb
        answers = self.ask(("TryWithoutPin", {"thumbprint": t["sha256"]}),
                           ("TryWithoutPin", {"thumbprint": t["signature_key"].lower()}),
                           ("TryWithoutPin", {"thumbprint": t["lost_container"]}),
                           ("TryWithoutPin", {"thumbprint": t["no_key_info"]}),
                           ("TryWithoutPin", {"thumbprint": t["gost_a"]}),
                           ("TryWithoutPin", {"thumbprint": "33" * 20}),
                           ("TryWithoutPin", {"thumbprint": t["sha256"], "store_type": "skf"}),
                           ("TryWithoutPin", {"thumbprint": t["sha1"]}),
                           ("TryWithoutPin", {}))
        self.assertEqual(result(answers[0]), {"valid": "true"})
        self.assertEqual(result(answers[1]), {"valid": "true"})
        self.assertEqual(result(answers[2]), {"valid": "false"})
        self.assertEqual(result(answers[3]), {"valid": "false"})
        self.assertEqual(result(answers[4]), {"valid": "false"})  # the RSA provider has no GOST hash
        self.assertEqual(error(answers[5]), "Certificate not found")
        self.assertEqual(error(answers[6]), "Invalid SKF session")
        self.assertEqual(error(answers[7]), "Unsupported signature algorithm: 1.2.840.113549.1.1.5")
        self.assertEqual(error(answers[8]), "No such node (thumbprint)")

    # --- Decrypt over a provider without GOST keys ---------------------------

    @staticmethod
    def decrypt_arguments(thumb, **changes):
        """A Decrypt request; a change "a__b" sets (or with None removes) args[a][b]."""
        args = {"thumbprint": thumb,
                "encryptedKey": {"sessionKey": {"parameters": b64(b"\x30\x00"), "data": b64(bytes(32)),
                                                "mac": b64(bytes(4)), "ukm": b64(bytes(8))},
                                 "ephemeralKey": {"data": b64(bytes(64)), "parameters": b64(b"\x30\x00"),
                                                  "algorithm": "1.2.840.113549.1.1.1"}},
                "serverPublicKey": b64(bytes(100))}
        for path, value in changes.items():
            node = args
            keys = path.split("__")
            for key in keys[:-1]:
                node = node[key]
            if value is None:
                del node[keys[-1]]
            else:
                node[keys[-1]] = value
        return args

    def test_decrypt_fails_in_order(self):
        t = self.thumb["sha256"]
        d = self.decrypt_arguments
        answers = self.ask(("Decrypt", d(t, thumbprint=None)),
                           ("Decrypt", d(t, encryptedKey=None)),
                           ("Decrypt", d(t, encryptedKey__sessionKey=None, encryptedKey__ephemeralKey=None)),
                           ("Decrypt", d(t, encryptedKey__sessionKey__mac=None, encryptedKey__sessionKey__ukm=None)),
                           ("Decrypt", d(t, encryptedKey__sessionKey__data="%%")),
                           ("Decrypt", d(t, encryptedKey__ephemeralKey=None)),
                           ("Decrypt", d(t, encryptedKey__ephemeralKey__algorithm="2.16.840.1.101.3.4.2.1")),
                           ("Decrypt", d("44" * 20, encryptedKey__sessionKey=None)),
                           ("Decrypt", d(self.thumb["lost_container"])),
                           ("Decrypt", d(t)),
                           ("Decrypt", d("44" * 20)))
        self.assertEqual(error(answers[0]), "No such node (thumbprint)")
        self.assertEqual(error(answers[1]), "No such node (encryptedKey)")
        self.assertEqual(error(answers[2]), "No such node (sessionKey)")
        self.assertEqual(error(answers[3]), "No such node (mac)")
        self.assertEqual(error(answers[4]), BASE64_ERROR)
        self.assertEqual(error(answers[5]), "No such node (ephemeralKey)")
        self.assertEqual(error(answers[6]), "Invalid public key algorithm")
        # The arguments are read before a missing certificate shows.
        self.assertEqual(error(answers[7]), "No such node (sessionKey)")
        self.assertEqual(error(answers[8]), self.prefix.error_text(NTE_BAD_KEYSET))
        # The RSA provider refuses the GOST public-key blob; no certificate: the import fails.
        for answer in answers[9:]:
            text = error(answer)
            code = re.search(r"Error code: 0x([0-9A-F]{8})$", text)
            self.assertEqual(text, self.prefix.error_text(int(code.group(1), 16)) if code else "Unknown error")


# Certificates of the store whose bytes mislead the system's decoder, made in
# a prefix of their own: made without the store, changed, then added to it
# with the key information of a container that signs.
MISLEADING_SPECS = {
    # Expired at 00:01 UTC yesterday, its notAfter written as today's midnight
    # with a zone offset of +23:59, which the decoder applies with the wrong
    # sign: valid until 23:59 tonight.
    "zone_after": ({"subject": "CN=Zone offset after", "not_before": -864000}, zone_offset_copy),
    # Valid in half an hour; its notBefore written with a zone offset of -01:00
    # is read two hours early.
    "zone_before": ({"subject": "CN=Zone offset before", "not_before": 1800},
                    lambda der: changed(der, lambda f: retimed(f.not_before, 0x17, lambda t: (
                        t - datetime.timedelta(hours=1)).strftime("%y%m%d%H%M%S-0100")))),
    # Seven zero bytes after the certificate's element.
    "padded": ({"subject": "CN=Padded"}, padded),
    # A GOST client certificate whose first RDN holds its SNILS beside its common name.
    "two_values": ({"subject": "CN=Gost two values", "signature_oid": "1.2.643.7.1.1.3.2", "placeholder_signature": 1},
                   lambda der: changed(der, lambda f: f.subject.children[0].children.append(Element(0x30, raw=attribute(
                       SNILS, der_element(0x12, b"12345678901")))))),
}


class MisleadingStoreCertificates(PrefixTests):
    @classmethod
    def setUpClass(cls):
        cls.prefix = WinePrefix()
        cls.scratch = Scratch()
        names = list(MISLEADING_SPECS)
        made = cls.prefix.make_certs([dict(MISLEADING_SPECS[n][0], container="rsa-256", store="none") for n in names] +
                                     [{"container": "rsa-256", "subject": "CN=Sound"}])
        cls.der = {n: MISLEADING_SPECS[n][1](der) for n, (_, der) in zip(names, made)}
        cls.element = {n: der for n, (_, der) in zip(names, made)}
        cls.sound = made[-1]
        cls.prefix.make_certs([{"container": "rsa-256", "der": b64(cls.der[n])} for n in names])

    def test_certificates_that_mislead_are_neither_listed_nor_used(self):
        # Times with zone offsets and bytes after the element: neither listed
        # nor found, so nothing signs with them; a sound certificate of the
        # same key still does, in the same process.
        h32 = b64(hashlib.sha256(b"zone").digest())
        thumbs = [sha1_hex(self.der[n]) for n in ("zone_after", "zone_before", "padded")] + [
            sha1_hex(self.element["padded"])]
        answers = self.ask(("CertificatesList", {"rsa": True}), *[
            request for t in thumbs for request in (
                ("FindCertificate", {"thumbprint": t}), ("CertificateToBase64", {"thumbprint": t}),
                ("SignHash", {"hash": h32, "thumbprint": t}),
                ("SignCms", {"data": b64(b"zone"), "detached": "1", "thumbprint": t}))],
            ("SignHash", {"hash": h32, "thumbprint": self.sound[0]}))
        with self.subTest("listing"):
            self.assertEqual([d["thumbprint"] for d in result(answers[0])], [self.sound[0]])
        forms = ["zone offset in notAfter", "zone offset in notBefore", "padded, by the element's SHA-1",
                 "padded, by the SHA-1 of its bytes"]
        for n, form in enumerate(forms):
            find, to_base64, sign, cms = answers[1 + 4 * n:5 + 4 * n]
            with self.subTest(form):
                self.assertEqual((result(find), result(to_base64), result(sign)), ("", "", ""))
                self.assertEqual(answer_of(cms), ("fail", "Certificate not found"))
        self.assertTrue(openssl_verifies_signature(self.scratch, self.sound[1], "sha256", b"zone",
                                                   base64.b64decode(result(answers[-1]))))

    def test_each_attribute_of_an_rdn_filters(self):
        snils, default = self.ask(("CertificatesList", {"snils": "12345678901"}), ("CertificatesList", {}))
        thumb = sha1_hex(self.der["two_values"])
        self.assertEqual([d["thumbprint"] for d in result(snils)], [thumb])
        (d,) = result(default)
        self.assertEqual(d["subject"], {"CN": "Gost two values", SNILS: "12345678901"})
        self.assertEqual(list(d["raw_subject"].items()), [("2.5.4.3", "Gost two values"), (SNILS, "12345678901")])


if __name__ == "__main__":
    unittest.main(verbosity=2)
