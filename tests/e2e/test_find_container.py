"""FindContainer and ProvidersList through the built host: CryptoAPI
containers of the stand-in GOST provider (written straight into its state
file, with known public-key blobs), token keys of the stand-in PKCS#11 module,
readers of the stand-in PC/SC service. One host process per command table."""
import base64
import hashlib
import json
import os
import unittest

from cards_support import ATR, WINSCARD_STANDIN, Cards, container_line, public_key_blob
from csp_support import BASE64_ERROR, GOST_FIXTURE, answer_of, error
from pkcs11_support import AX_CLIENT, ESMART, JACARTA, RUTOKEN, slot
from e2e_support import ask_measured
from pkcs11_support import PEAK_BOUND_MIB

AT_KEYEXCHANGE, AT_SIGNATURE = 1, 2
DH_2012_256, GR3410_2012_256 = 0xAA46, 0x2E49
P256 = "Kelvora Test GOST R 34.10-2012 (256) Provider"
P512 = "Kelvora Test GOST R 34.10-2012 (512) Provider"
P2001 = "Kelvora Test GOST R 34.10-2001 Provider"
READER = "Kelvora Test Reader 0"
RSA_AES = "Microsoft Enhanced RSA and AES Cryptographic Provider"


def key(label):
    return hashlib.sha512(label.encode()).digest()


def pkhash(data):
    return base64.b64encode(hashlib.sha1(data).digest()).decode()


def public_key(key_id, value, **extra):
    node = {"class": "public_key", "value": base64.b64encode(value).decode()}
    if key_id is not None:
        node["id"] = key_id
    node.update(extra)
    return node


K = {name: key(name) for name in ("signature", "bad", "shared", "ecp", "zero-id", "no-id", "no-value", "second",
                                  "esmart", "other", "angara", "no-2012", "jacarta", "private", "huge")}
K["exchange"] = bytes(range(64))  # its hash is xhONUU/6ITW/zg7QuPrGVmmRfsc=
PRIVATE = bytes(32)

CONTAINERS = [
    container_line("csp-exchange", [(AT_KEYEXCHANGE, DH_2012_256, PRIVATE, public_key_blob(K["exchange"]))]),
    # A later, longer name: read only when the length is reset before each call.
    container_line("csp-signature-only-on-a-reader-with-a-name-longer-than-the-first-ones",
                   [(AT_SIGNATURE, GR3410_2012_256, PRIVATE, public_key_blob(K["signature"]))], reader=READER),
    container_line("csp-key-outside-the-blob",
                   [(AT_KEYEXCHANGE, DH_2012_256, PRIVATE, public_key_blob(K["bad"], bit_length=1024))]),
    container_line("csp-cut-blob", [(AT_KEYEXCHANGE, DH_2012_256, PRIVATE, public_key_blob(K["bad"])[:17])]),
    container_line("csp-without-keys", []),
    container_line("csp-shared", [(AT_KEYEXCHANGE, DH_2012_256, PRIVATE, public_key_blob(K["shared"]))]),
]

MODULES = {
    RUTOKEN: {"slots": [
        slot("Рутокен ЭЦП 0", [public_key("ecp-key-1", K["ecp"]), public_key(None, K["no-id"]),
                               {"class": "public_key", "id": "v", "value": base64.b64encode(K["no-value"]).decode(),
                                "unavailable": ["CKA_VALUE"]},
                               dict(public_key(None, K["zero-id"]), id_hex="41420043"), public_key("shared  ", K["shared"]),
                               {"class": "private_key", "id": "p", "value": base64.b64encode(K["private"]).decode(),
                                "private": False}],
             token={"serial": "3A0B1C2D"}),
        slot("Rutoken without 2012", [public_key("x", K["no-2012"])], mechanisms=["0x1201"]),
        slot("Second ECP Slot", [public_key("second", K["second"])], token={"serial": "3A0B1C2E  "})]},
    ESMART: {"slots": [
        slot("ANGARA Reader", [public_key("angara", K["angara"])], token={"serial": "A0000001"}),
        slot("ESMART 64K Reader", [public_key("esmart", K["esmart"])], token={"serial": "E5000001"}),
        slot("Other ESMART", [public_key("other", K["other"])], token={"serial": "E5000009"}),
        # A module that reports almost 4 GiB for every attribute it is asked about.
        slot("Oversized ESMART", [public_key("huge", K["huge"])], token={"serial": "E5000010"},
             pad_query={"C_GetAttributeValue": "0xFFFF0000"})]},
    JACARTA: {"slots": [slot("JaCarta PRO Reader", [public_key("j", K["jacarta"])],
                             fail={"C_FindObjects": "0x30"})]},
}

READERS = [{"name": "Рутокен ЭЦП 0", "atr": ATR[4]}, {"name": "ESMART 64K Reader", "atr": ATR[8]},
           {"name": "ANGARA Reader", "atr": ATR[12]}, {"name": "Rutoken S Reader", "atr": ATR[3]},
           {"name": "ESMART 64K Second", "atr": ATR[8]}]
WITH_JACARTA = READERS + [{"name": "JaCarta PRO Reader", "atr": ATR[7]}]


def csp(provider, provtype, container, reader=""):
    return {"reader": reader, "container": container, "provname": provider, "provtype": str(provtype),
            "hardware": "false"}


def token(reader, container, card_type, serial):
    return {"reader": reader, "container": container, "card_type": str(card_type), "card_serial": serial,
            "hardware": "true"}


SIGNATURE_NAME = "csp-signature-only-on-a-reader-with-a-name-longer-than-the-first-ones"
# (readers, pkhash, answer: a list of hits, "" or ("fail", text))
FIND_TABLE = [
    (READERS, "xhONUU/6ITW/zg7QuPrGVmmRfsc=", [csp(P256, 80, "csp-exchange"), csp(P512, 81, "csp-exchange")]),
    (READERS, pkhash(K["signature"]), [csp(P256, 80, SIGNATURE_NAME, READER), csp(P512, 81, SIGNATURE_NAME, READER)]),
    (READERS, pkhash(K["bad"]), ""),
    (READERS, pkhash(K["ecp"]), [token("Рутокен ЭЦП 0", "ecp-key-1", 4, "3A0B1C2D")]),
    (READERS, pkhash(K["zero-id"]), [token("Рутокен ЭЦП 0", "AB", 4, "3A0B1C2D")]),
    (READERS, pkhash(K["shared"]), [csp(P256, 80, "csp-shared"), csp(P512, 81, "csp-shared"),
                                    token("Рутокен ЭЦП 0", "shared", 4, "3A0B1C2D")]),
    (READERS, pkhash(K["second"]), [token("Second ECP Slot", "second", 4, "3A0B1C2E")]),
    # Each family's module once, whatever number of its cards is present; the
    # card type of the reader named like the slot, else of the family's first reader.
    (READERS, pkhash(K["esmart"]), [token("ESMART 64K Reader", "esmart", 8, "E5000001")]),
    (READERS, pkhash(K["angara"]), [token("ANGARA Reader", "angara", 12, "A0000001")]),
    (READERS, pkhash(K["other"]), [token("Other ESMART", "other", 12, "E5000009")]),
    (READERS, pkhash(K["no-2012"]), ""),
    (READERS, pkhash(K["huge"]), ""),
    (READERS, pkhash(K["no-id"]), ""),
    (READERS, pkhash(K["no-value"]), ""),
    (READERS, pkhash(K["private"]), ""),
    (READERS, base64.b64encode(hashlib.sha1(K["ecp"]).digest()[:19]).decode(), ""),
    (READERS, base64.b64encode(bytes(20)).decode(), ""),
    ([], pkhash(K["ecp"]), ""),
    ([], "xhONUU/6ITW/zg7QuPrGVmmRfsc=", [csp(P256, 80, "csp-exchange"), csp(P512, 81, "csp-exchange")]),
    (WITH_JACARTA, pkhash(K["ecp"]), ("fail", "PKCS#11 error, code = 0x00000030")),
    (READERS, "not base64!", ("fail", BASE64_ERROR)),
    (READERS, None, ("fail", "No such node (pkhash)")),
]

PROVIDERS_TABLE = [
    (["1.2.643.7.1.1.2.2"], [{"type": "80", "name": P256}, {"type": "81", "name": P512}]),
    (["1.2.643.2.2.9", "1.2.3.4"], [{"type": "75", "name": P2001}, {"type": "80", "name": P256},
                                    {"type": "81", "name": P512}]),
    (["1.2.643.7.1.1.2.3"], [{"type": "81", "name": P512}]),
    # Wine's AES provider, registered twice, reports PP_PROVTYPE 1.
    (["2.16.840.1.101.3.4.2.1"], [{"type": "1", "name": RSA_AES}, {"type": "1", "name": RSA_AES + " (Prototype)"}]),
    (["1.2.3.4"], ""),
    ([], ""),
    (None, ("fail", "No such node (algorithms)")),
]


@unittest.skipUnless(os.path.exists(WINSCARD_STANDIN) and os.path.exists(GOST_FIXTURE), "stand-ins not built")
class ContainersAndProviders(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cards = Cards(gost=True)
        cls.cards.install(MODULES)
        cls.cards.set_containers(CONTAINERS)

    @classmethod
    def tearDownClass(cls):
        cls.cards.close()

    def run_table(self, kind, table, key):
        session = self.cards.session()
        try:
            for row in table:
                readers, value, expected = row if len(row) == 3 else ([], *row)
                self.cards.set_readers(readers)
                with self.subTest(value=value, readers=len(readers)):
                    self.assertEqual(answer_of(session.ask(kind, {} if value is None else {key: value})), expected)
        finally:
            self.assertEqual(session.close(), 0)

    def test_find_container_table(self):
        self.run_table("FindContainer", FIND_TABLE, "pkhash")

    def test_providers_list_table(self):
        self.run_table("ProvidersList", PROVIDERS_TABLE, "algorithms")

    def test_a_token_search_that_never_ends(self):
        # The Rutoken's first slot never reports the end of its public keys:
        # its module's scan takes 4,096 objects and goes on with what it has;
        # the other families are scanned as before.
        modules = json.loads(json.dumps(MODULES))
        modules[RUTOKEN]["slots"][0]["endless_search"] = True
        self.cards.install(modules)
        self.cards.set_readers(READERS)
        try:
            answers, peak = ask_measured([("FindContainer", {"pkhash": pkhash(K["esmart"])}),
                                          ("FindContainer", {"pkhash": base64.b64encode(bytes(20)).decode()})],
                                         dict(self.cards.prefix.env, **self.cards.env()))
            self.assertEqual([answer_of(a) for a in answers], [FIND_TABLE[7][2], ""])
            self.assertEqual(len(self.cards.log(RUTOKEN + " C_FindObjects session")), 2 * 4096)
            self.assertLess(peak, PEAK_BOUND_MIB)
        finally:
            self.cards.install(MODULES)

    @unittest.skipUnless(os.path.exists(AX_CLIENT), "the control's test client is not built")
    def test_through_the_control(self):
        self.cards.set_readers(READERS)
        for kind, arguments, expected in (
                ("FindContainer", {"pkhash": pkhash(K["shared"])}, FIND_TABLE[5][2]),
                ("ProvidersList", {"algorithms": ["1.2.643.7.1.1.2.2"]}, PROVIDERS_TABLE[0][1])):
            with self.subTest(kind):
                answer = json.loads(self.cards.ax(kind, arguments))
                self.assertEqual(list(answer), ["response", "result", "id"])
                self.assertEqual(answer["result"], expected)


if __name__ == "__main__":
    unittest.main()
