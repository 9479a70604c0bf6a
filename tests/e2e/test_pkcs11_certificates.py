"""CertificatesList, FindCertificate and CertificateToBase64 with "store_type"
"pkcs11" in the built host, over the stand-in token module that sits beside
it under the three vendor module names (tests/standins/pkcs11_token)."""
import base64
import hashlib
import json
import os
import unittest

from csp_support import (b64, check_hostile_rows, error, hostile_certificates, names_as_held, padded, result,
                         sha1_hex, unreadable_extension_values)
from pkcs11_support import AX_CLIENT, ESMART, FIXTURE, JACARTA, RUTOKEN, Tokens, certificate, private_key, slot
from pkcs11_support import (CALLED_ENTRIES, PEAK_BOUND_MIB, SHORT_LISTS, large_public_key_info,
                            padded_to_all_ones, standin_signature)

SNILS = "1.2.643.100.3"
SPECS = {
    "g256": {"algorithm": "2012-256", "subject": "CN=Token GOST 256, %s=11122233344" % SNILS},
    "g2001": {"algorithm": "2001", "subject": "CN=Token GOST 2001"},
    "g512": {"algorithm": "2012-512", "subject": "CN=Token GOST 512"},
    "expired": {"algorithm": "2012-256", "subject": "CN=Expired", "days_before": 10, "days_after": -1},
    "server": {"algorithm": "2012-256", "subject": "CN=Server only", "usages": ["1.3.6.1.5.5.7.3.1"]},
    "rsa": {"algorithm": "rsa-sha256", "subject": "CN=RSA on a token"},
    "shared": {"algorithm": "2012-256", "subject": "CN=On every token"},
    "hidden": {"algorithm": "2012-256", "subject": "CN=On a token without GOST"},
    "binary": {"algorithm": "2012-256", "subject": "CN=Binary key identifier"},
    # Just under the 64 KiB a token attribute may take.
    "large": {"algorithm": "2012-256", "subject": "CN=Large", "public_key_info": large_public_key_info(64 * 1024 - 700)},
}
TOO_LARGE = "Answer exceeds the 1 MiB limit of native messaging"


@unittest.skipUnless(os.path.exists(FIXTURE), "the PKCS#11 stand-in is not built")
class TokenCertificates(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tokens = Tokens()
        names = list(SPECS)
        made = cls.tokens.make_certs([SPECS[n] for n in names])
        cls.thumb = {n: t for n, (t, _) in zip(names, made)}
        cls.der = {n: d for n, (_, d) in zip(names, made)}
        cls.names = {t: n for n, t in cls.thumb.items()}

    @classmethod
    def tearDownClass(cls):
        cls.tokens.close()

    def modules(self):
        d = self.der
        return {
            RUTOKEN: {"slots": [
                slot("Rutoken ECP 0", [certificate(d["g256"], "0001"), private_key("0001"),
                                       certificate(d["g2001"], "0002"), certificate(d["expired"], "0003"),
                                       certificate(d["server"], "0004"), certificate(d["rsa"], "0005"),
                                       certificate(d["shared"], "r-shared")]),
                slot("RSA-only token", [certificate(d["hidden"], "h")], mechanisms=["0x1", "0x40"]),
            ]},
            JACARTA: {"slots": [slot("JaCarta GOST", [certificate(d["g512"], "j512"),
                                                      certificate(d["shared"], "j-shared")])]},
            ESMART: {"slots": [slot("ESMART Token", [certificate(d["shared"], "e-shared")])]},
        }

    def listed(self, answer):
        value = result(answer)
        if value == "":
            return []
        return [(self.names[c["thumbprint"]], c["reader"], c["container"]) for c in value]

    def test_listing_lookup_and_descriptions(self):
        self.tokens.install(self.modules())
        answers = self.tokens.ask(
            ("CertificatesList", {"store_type": "pkcs11"}),
            ("CertificatesList", {"store_type": "pkcs11", "rsa": True}),
            ("CertificatesList", {"store_type": "pkcs11", "snils": "11122233344"}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["g256"]}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["expired"]}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["g256"].lower()}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["shared"]}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["hidden"]}),
            ("CertificateToBase64", {"store_type": "pkcs11", "thumbprint": self.thumb["g2001"]}),
            ("FindCertificate", {"thumbprint": self.thumb["g256"]}),
            ("FindCertificate", {"store_type": "PKCS11", "thumbprint": self.thumb["g256"]}))
        gost, rsa, snils, g256, expired, lower, shared, hidden, to_base64, csp, wrong_case = answers
        # Modules by family key (esmart, jacarta, rutoken_ecp), then slots and
        # objects in the token's order; only usable GOST client certificates.
        self.assertEqual(self.listed(gost), [
            ("shared", "ESMART Token", "e-shared"),
            ("g512", "JaCarta GOST", "j512"), ("shared", "JaCarta GOST", "j-shared"),
            ("g256", "Rutoken ECP 0", "0001"), ("g2001", "Rutoken ECP 0", "0002"),
            ("shared", "Rutoken ECP 0", "r-shared")])
        self.assertEqual(self.listed(rsa), [("rsa", "Rutoken ECP 0", "0005")])
        self.assertEqual(self.listed(snils), [("g256", "Rutoken ECP 0", "0001")])

        found = result(g256)
        self.assertEqual(found["thumbprint"], self.thumb["g256"])
        self.assertEqual(found["hardware"], "true")
        self.assertEqual(found["carrier_type"], "pkcs11")
        self.assertEqual(found["container"], "0001")
        self.assertEqual(found["reader"], "Rutoken ECP 0")
        self.assertEqual(found["algorithm"], "1.2.643.7.1.1.3.2")
        self.assertEqual(found["subject"]["CN"], "Token GOST 256")
        # Found whatever its validity; the thumbprint text compares exactly.
        self.assertEqual(result(expired)["thumbprint"], self.thumb["expired"])
        self.assertEqual(result(lower), "")
        # One certificate on several modules: the esmart module's wins.
        self.assertEqual((result(shared)["reader"], result(shared)["container"]), ("ESMART Token", "e-shared"))
        # A token without CKM_GOSTR3410 is not searched.
        self.assertEqual(result(hidden), "")
        self.assertEqual(base64.b64decode(result(to_base64)), self.der["g2001"])
        # Other store types look in the CryptoAPI store, which is empty.
        self.assertEqual(result(csp), "")
        self.assertEqual(result(wrong_case), "")

    def test_certificates_that_are_not_der_throughout_are_skipped(self):
        # A token's certificate bytes reach the system's decoder as a page's
        # do: bytes that are not DER throughout (times not in DER's form,
        # names holding NUL among them) are passed over, in the listing and
        # in a lookup by their thumbprint. Extension values the
        # decoder must not see leave a certificate that is found and listed,
        # but for an enhanced key usage that does not read: no client
        # authentication, so not listed.
        sound = [certificate(self.der["g256"], "0001"), private_key("0001")]
        hostile = hostile_certificates(self.der["g256"])
        readable = unreadable_extension_values(self.der["g256"])
        held = names_as_held(self.der["g256"])
        self.tokens.install({RUTOKEN: {"slots": [
            slot("Rutoken ECP 0", sound + [certificate(self.der["g2001"], "p")])]}})
        (listed,) = self.tokens.ask(("CertificatesList", {"store_type": "pkcs11"}))
        g256, g2001 = result(listed)
        self.tokens.install({RUTOKEN: {"slots": [slot("Rutoken ECP 0", sound + [
            certificate(copy, "h%d" % n) for n, (_, copy) in enumerate(hostile)] + [
            certificate(copy, "b%d" % n) for n, (_, copy, _) in enumerate(readable)] + [
            certificate(copy, "n%d" % n) for n, (_, copy, _, _) in enumerate(held)] + [
            certificate(padded(self.der["g2001"]), "p")])]}})
        found = [dict(g256, thumbprint=sha1_hex(copy), container="b%d" % n)
                 for n, (_, copy, _) in enumerate(readable)]
        # Names as the certificate holds them: strings starting with "#" as
        # they are, each attribute of an RDN an entry of its own; a value
        # padded after the certificate's element is listed and found by the
        # element's own SHA-1.
        shown = [dict(description(g256), container="n%d" % n) for n, (_, _, _, description) in enumerate(held)]
        rows = [("listing", ("CertificatesList", {"store_type": "pkcs11"}), [g256] + [
            description for description, (_, _, oid) in zip(found, readable) if oid != "2.5.29.37"] + shown + [g2001])]
        rows += [(form, ("FindCertificate", {"store_type": "pkcs11", "thumbprint": sha1_hex(copy)}), "")
                 for form, copy in hostile]
        rows += [(form, ("FindCertificate", {"store_type": "pkcs11", "thumbprint": sha1_hex(copy)}), description)
                 for (form, copy, _), description in zip(readable, found)]
        rows += [(form, ("FindCertificate", {"store_type": "pkcs11", "thumbprint": sha1_hex(copy)}), description)
                 for (form, copy, _, _), description in zip(held, shown)]
        rows += [("seven zero bytes after the element", ("FindCertificate", {
            "store_type": "pkcs11", "thumbprint": sha1_hex(self.der["g2001"])}), g2001),
                 ("seven zero bytes after the element, by their SHA-1", ("FindCertificate", {
                     "store_type": "pkcs11", "thumbprint": sha1_hex(padded(self.der["g2001"]))}), ""),
                 ("the element of seven padded bytes", ("CertificateToBase64", {
                     "store_type": "pkcs11", "thumbprint": sha1_hex(self.der["g2001"])}), b64(self.der["g2001"]))]
        check_hostile_rows(self, self.tokens.ask, rows, self.der["g256"])
        # The entries of an RDN in the certificate's order.
        (listing,) = self.tokens.ask(("CertificatesList", {"store_type": "pkcs11"}))
        two = next(d for d in result(listing) if d["container"] == "n%d" % (len(held) - 2))
        self.assertEqual(list(two["subject"])[:2], ["CN", "O"])

    def test_modules_load_once_in_table_order_and_are_finalised_at_exit(self):
        self.tokens.install(self.modules())
        answers = self.tokens.ask(*[("CertificatesList", {"store_type": "pkcs11"})] * 3)
        self.assertTrue(all(len(result(a)) == 6 for a in answers))
        log = self.tokens.log()
        self.assertEqual(self.tokens.log("C_GetFunctionList"),
                         ["%s C_GetFunctionList" % m for m in (RUTOKEN, JACARTA, ESMART)])
        self.assertEqual(self.tokens.log("C_Initialize args"),
                         ["%s C_Initialize args=null" % m for m in (RUTOKEN, JACARTA, ESMART)])
        # Each listing opens one read-only session per GOST slot and closes it.
        self.assertEqual(len(self.tokens.log("C_OpenSession slot")), 9)
        self.assertTrue(all(line.endswith("flags=0x4") for line in self.tokens.log("C_OpenSession slot")))
        self.assertEqual(len(self.tokens.log("C_CloseSession")), 9)
        # The host's exit finalises and frees each module, after the last request.
        finalised = [n for n, line in enumerate(log) if "C_Finalize" in line]
        self.assertEqual(sorted(log[n].split()[0] for n in finalised), sorted([RUTOKEN, JACARTA, ESMART]))
        self.assertGreater(min(finalised), max(n for n, line in enumerate(log) if "C_CloseSession" in line))
        self.assertEqual(len(self.tokens.log("detach=unload")), 3)

    def test_requests_of_other_back_ends_load_no_module(self):
        self.tokens.install(self.modules())
        answers = self.tokens.ask(
            ("CertificatesList", {}), ("CertificatesList", {"store_type": "csp"}),
            ("FindCertificate", {"thumbprint": self.thumb["g256"]}), ("Version", {}))
        self.assertEqual([result(a) for a in answers[:3]], ["", "", ""])
        self.assertEqual(self.tokens.log(), [])

    def test_without_a_description_no_token_is_present(self):
        self.tokens.install(self.modules())
        answers = self.tokens.prefix.ask([
            ("CertificatesList", {"store_type": "pkcs11"}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["g256"]}),
            ("SignHash", {"store_type": "pkcs11", "thumbprint": self.thumb["g256"], "pin": "12345678",
                          "hash": base64.b64encode(bytes(32)).decode()})])
        self.assertEqual([result(a) for a in answers], ["", "", ""])
        self.assertEqual(self.tokens.log(), [])

    def test_a_module_initialised_elsewhere_is_left_out(self):
        modules = self.modules()
        modules[ESMART]["fail"] = {"C_Initialize": "0x191"}
        self.tokens.install(modules)
        listing, shared = self.tokens.ask(
            ("CertificatesList", {"store_type": "pkcs11"}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["shared"]}))
        self.assertEqual([n for n, _, _ in self.listed(listing)], ["g512", "shared", "g256", "g2001", "shared"])
        self.assertEqual(result(shared)["reader"], "JaCarta GOST")
        # It was tried once, like the others, and never finalised.
        self.assertEqual(len(self.tokens.log(ESMART + " C_Initialize args")), 1)
        self.assertEqual(self.tokens.log(ESMART + " C_Finalize"), [])

        modules = self.modules()
        modules[ESMART]["fail"] = {"C_GetFunctionList": "0x5"}
        modules[JACARTA]["fail"] = {"C_Initialize": "0x191"}
        self.tokens.install(modules)
        (shared,) = self.tokens.ask(
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["shared"]}))
        self.assertEqual(result(shared)["container"], "r-shared")

    def test_one_failing_token_fails_the_listing_and_every_lookup(self):
        modules = self.modules()
        modules[RUTOKEN]["slots"][0]["fail"] = {"C_OpenSession": "0xE0"}
        self.tokens.install(modules)
        listing, find, to_base64 = self.tokens.ask(
            ("CertificatesList", {"store_type": "pkcs11"}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["shared"]}),
            ("CertificateToBase64", {"store_type": "pkcs11", "thumbprint": self.thumb["g512"]}))
        for answer in (listing, find, to_base64):
            self.assertEqual(error(answer), "PKCS#11 error, code = 0x000000E0")

        modules = self.modules()
        del modules[JACARTA]["slots"][0]["objects"][0]["value"]
        self.tokens.install(modules)
        (listing,) = self.tokens.ask(("CertificatesList", {"store_type": "pkcs11"}))
        self.assertEqual(error(listing), "PKCS#11 error, code = 0x00000012")

    def test_counts_and_lengths_beyond_our_buffers_change_nothing(self):
        self.tokens.install(self.modules())
        (baseline,) = self.tokens.ask(("CertificatesList", {"store_type": "pkcs11"}))
        for group in ("overstate", "pad_query"):
            modules = self.modules()
            for name in (RUTOKEN, JACARTA, ESMART):
                modules[name][group] = {f: 37 for f in ("C_GetSlotList", "C_GetMechanismList", "C_FindObjects",
                                                         "C_GetAttributeValue")}
            self.tokens.install(modules)
            (listing,) = self.tokens.ask(("CertificatesList", {"store_type": "pkcs11"}))
            self.assertEqual(result(listing), result(baseline), group)

    @unittest.skipUnless(os.path.exists(AX_CLIENT), "the control's test client is not built")
    def test_a_binary_key_identifier_gives_valid_answers_in_both_deliverables(self):
        # CKA_ID 00 FF 41 80: the container text is written with U+FFFD for
        # the bytes that are not UTF-8, so both answers stay valid JSON text.
        modules = self.modules()
        modules[RUTOKEN]["slots"][0]["objects"].append(
            {"class": "certificate", "value": base64.b64encode(self.der["binary"]).decode(), "id_hex": "00FF4180"})
        self.tokens.install(modules)
        container = "\x00\ufffdA\ufffd"
        find = {"store_type": "pkcs11", "thumbprint": self.thumb["binary"]}
        # The host's answers are decoded as strict UTF-8 by the client.
        listing, found = self.tokens.ask(("CertificatesList", {"store_type": "pkcs11"}), ("FindCertificate", find))
        self.assertIn(("binary", "Rutoken ECP 0", container), self.listed(listing))
        self.assertEqual(len(self.listed(listing)), 7)
        self.assertEqual(result(found)["container"], container)
        # Through the control, whose SendMessage would otherwise fail with "bad conversion".
        for kind, arguments in (("FindCertificate", find), ("CertificatesList", {"store_type": "pkcs11"})):
            output = self.tokens.run_ax_client("exit", {"type": kind, "id": "7", "arguments": arguments})
            answer = json.loads(output.partition("\n")[0])
            value = result(answer)
            if kind == "FindCertificate":
                self.assertEqual(value["container"], container)
            else:
                self.assertIn(container, [c["container"] for c in value])

    # --- modules that fall short, searches without end, counts beyond any token

    def test_a_module_whose_function_list_falls_short_counts_as_not_loaded(self):
        # The Rutoken module holds a certificate, its key, a key pair to
        # write beside and a token for requests: between them these requests
        # reach every entry the host calls. With any of them missing from the
        # list, another list version or a list cut short after C_Initialize,
        # the module is never initialised, and every answer is the one of a
        # module that does not load; the JaCarta's certificate still serves.
        d, t, pin = self.der, self.thumb, "12345678"
        subject, eku = "2.5.4.3=Short list,2.5.4.6=RU", ["1.3.6.1.5.5.7.3.2"]
        token = {"card_type": "4", "card_serial": "RT0001", "pincode": pin}
        requests = [
            ("CertificatesList", {"store_type": "pkcs11"}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": t["g512"]}),
            ("CertificateToBase64", {"store_type": "pkcs11", "thumbprint": t["g512"]}),
            ("SignHash", {"store_type": "pkcs11", "thumbprint": t["g512"], "pin": pin,
                          "hash": base64.b64encode(bytes(range(64))).decode()}),
            ("SignHashArray", {"store_type": "pkcs11", "thumbprint": t["g512"], "pin": pin,
                               "hashes": [{"id": "a", "hash": base64.b64encode(bytes(64)).decode()}]}),
            ("TryWithoutPin", {"store_type": "pkcs11", "thumbprint": t["g512"]}),
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": t["g256"]}),
            ("SignHash", {"store_type": "pkcs11", "thumbprint": t["g256"], "pin": pin,
                          "hash": base64.b64encode(bytes(32)).decode()}),
            ("CreateRequestHW", dict(token, container="made", reader="Rutoken ECP 0", subject_quoted=subject,
                                     eku=eku, cryptoStandart="gost2012-256", export="0",
                                     hash_quoted=hashlib.sha1((subject + "".join(eku) + "0").encode()).hexdigest())),
            ("WriteCertificateHW", dict(token, container="written", cert=base64.b64encode(d["g256"]).decode())),
        ]
        jacarta = {"slots": [slot("JaCarta GOST", [certificate(d["g512"], "j512"), private_key("j512")])]}

        def rutoken(**module):
            return dict(module, slots=[slot("Rutoken ECP 0", [
                certificate(d["g256"], "0001"), private_key("0001"), {"class": "public_key", "id": "written"}],
                mechanisms=["0x1200", "0x1201", "0xD4321006", "0xD4321008"], token={"serial": "RT0001"})])

        # Whole, the module is reached through every entry of the list.
        self.tokens.install({RUTOKEN: rutoken(), JACARTA: jacarta})
        whole = self.tokens.ask(*requests)
        self.assertEqual(result(whole[7]), base64.b64encode(
            standin_signature(0x1201, "0001", bytes(32))[::-1]).decode())
        self.assertEqual(result(whole[8])["valid"], "1")
        self.assertEqual(result(whole[9]), {"valid": "1"})
        called = {line.split()[1] for line in self.tokens.log(RUTOKEN)}
        self.assertEqual(sorted(set(CALLED_ENTRIES) - called), [])

        self.tokens.install({RUTOKEN: rutoken(fail={"C_GetFunctionList": "0x5"}), JACARTA: jacarta})
        not_loaded = self.tokens.ask(*requests)
        self.assertEqual([c["thumbprint"] for c in result(not_loaded[0])], [t["g512"]])
        self.assertEqual([result(a) for a in not_loaded[6:8]], ["", ""])
        self.assertEqual(whole[1:6], not_loaded[1:6])
        for rules in SHORT_LISTS:
            with self.subTest(function_list=rules):
                self.tokens.install({RUTOKEN: rutoken(function_list=rules), JACARTA: jacarta})
                # The host answers every request and ends by itself with 0.
                self.assertEqual(self.tokens.ask(*requests), not_loaded)
                self.assertEqual(self.tokens.log(RUTOKEN + " C_"), [RUTOKEN + " C_GetFunctionList"])

    def large_and_endless(self, der, key_id="endless"):
        """A Rutoken whose search never ends on a slot holding der, beside a
        JaCarta whose certificate signs."""
        return {RUTOKEN: {"slots": [slot("Endless", [certificate(der, key_id)], endless_search=True)]},
                JACARTA: {"slots": [slot("JaCarta GOST", [certificate(self.der["g512"], "j512"),
                                                          private_key("j512")])]}}

    def test_a_search_that_never_ends_is_followed_only_so_far(self):
        sign = ("SignHash", {"store_type": "pkcs11", "thumbprint": self.thumb["g512"], "pin": "12345678",
                             "hash": base64.b64encode(bytes(range(64))).decode()})
        find = ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["g512"]})
        self.tokens.install({JACARTA: self.large_and_endless(self.der["large"])[JACARTA]})
        expected_sign, expected_find = self.tokens.ask(sign, find)

        # Certificates of 64 KiB: the listing keeps them up to 16 MiB and
        # stops with those; lookups walk at most 4,096 objects.
        self.tokens.install(self.large_and_endless(self.der["large"]))
        (listing, found, large, signed), peak = self.tokens.ask_measured(
            ("CertificatesList", {"store_type": "pkcs11"}), find,
            ("FindCertificate", {"store_type": "pkcs11", "thumbprint": self.thumb["large"]}), sign)
        kept = -(-(16 * 1024 * 1024 - len(self.der["g512"])) // len(self.der["large"]))
        self.assertEqual([c["thumbprint"] for c in result(listing)],
                         [self.thumb["g512"]] + [self.thumb["large"]] * kept)
        self.assertEqual(result(large)["container"], "endless")
        self.assertEqual((found, signed), (dict(expected_find, id="1"), dict(expected_sign, id="3")))
        # The listing took as many objects as it kept; each lookup (SignHash
        # looks the certificate up too) took 4,096 in all, the most for one
        # command, the JaCarta's one among them.
        self.assertEqual(len(self.tokens.log(RUTOKEN + " C_FindObjects session")), kept + 3 * (4096 - 1))
        self.assertLess(peak, PEAK_BOUND_MIB)

        # Small certificates: 4,096 of them, too many for an answer.
        self.tokens.install(self.large_and_endless(self.der["g2001"]))
        (listing, found, signed), peak = self.tokens.ask_measured(
            ("CertificatesList", {"store_type": "pkcs11"}), find, sign)
        self.assertEqual(error(listing), TOO_LARGE)
        self.assertEqual((found, signed), (dict(expected_find, id="1"), dict(expected_sign, id="2")))
        self.assertLess(peak, PEAK_BOUND_MIB)

    def test_slot_and_mechanism_counts_beyond_any_token(self):
        # Counts of 0xFFFFFFFF from the size queries: the lists are read with
        # buffers of their bounds (256 slots, 1,024 mechanisms), which hold
        # what the module has.
        self.tokens.install(self.modules())
        (baseline,) = self.tokens.ask(("CertificatesList", {"store_type": "pkcs11"}))
        slots = self.modules()
        slots[RUTOKEN]["pad_query"] = {"C_GetSlotList": padded_to_all_ones(2)}
        mechanisms = self.modules()
        mechanisms[JACARTA]["slots"][0]["pad_query"] = {"C_GetMechanismList": padded_to_all_ones(3)}
        for name, modules in (("slots", slots), ("mechanisms", mechanisms)):
            with self.subTest(name):
                self.tokens.install(modules)
                (listing,), peak = self.tokens.ask_measured(("CertificatesList", {"store_type": "pkcs11"}))
                self.assertEqual(listing, baseline)
                self.assertLess(peak, PEAK_BOUND_MIB)

    def test_token_modules_never_come_from_the_current_directory(self):
        # A copy of the host in a folder of its own: the module beside it,
        # in the system folder and on PATH load; the one in the current
        # directory (a browser's is the user's downloads) never does.
        d = self.der
        self.tokens.install({RUTOKEN: {"slots": [slot("Current", [certificate(d["g256"], "r")])]},
                             JACARTA: {"slots": [slot("Program", [certificate(d["g512"], "j")])]},
                             ESMART: {"slots": [slot("Path", [certificate(d["g2001"], "e")])]}})
        listing = ("CertificatesList", {"store_type": "pkcs11"})
        rows = [
            ({"current": [RUTOKEN], "program": [JACARTA], "path": [ESMART]}, None, ["g2001", "g512"]),
            ({"current": [RUTOKEN, JACARTA, ESMART]}, None, []),
            ({"current": [JACARTA], "system": [RUTOKEN]}, None, ["g256"]),
            # A relative PATH entry names a folder under the current directory.
            ({"current": [RUTOKEN, JACARTA, ESMART]}, ".", []),
        ]
        for placement, path_entry, names in rows:
            with self.subTest(placement=placement, path_entry=path_entry):
                self.tokens.clear_log()
                (answer,) = self.tokens.ask_placed(placement, listing, path_entry=path_entry)
                value = result(answer)
                self.assertEqual([c["thumbprint"] for c in value] if value else [], [self.thumb[n] for n in names])
                self.assertEqual({line.split()[0] for line in self.tokens.log("C_GetFunctionList")},
                                 {name for place, loaded in placement.items() if place != "current"
                                  for name in loaded})

    @unittest.skipUnless(os.path.exists(AX_CLIENT), "the control's test client is not built")
    def test_the_control_never_loads_a_module_from_the_current_directory(self):
        self.tokens.install({RUTOKEN: {"slots": [slot("Rutoken", [certificate(self.der["g256"], "r")])]}})
        request = {"type": "CertificatesList", "id": "7", "arguments": {"store_type": "pkcs11"}}
        for placement, names in (({"program": [RUTOKEN]}, ["g256"]), ({"current": [RUTOKEN]}, [])):
            with self.subTest(placement=placement):
                answer = json.loads(self.tokens.ax_placed(placement, "unload", request).partition("\n")[0])
                value = result(answer)
                self.assertEqual([c["thumbprint"] for c in value] if value else [], [self.thumb[n] for n in names])


if __name__ == "__main__":
    unittest.main()
