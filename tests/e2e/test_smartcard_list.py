"""SmartcardList through the built host over the stand-in PC/SC service
(tests/standins/winscard) and the stand-in token modules: one host process
answers a table of reader set-ups, each with the list it must give."""
import json
import os
import unittest

from cards_support import ATR, WINSCARD_STANDIN, Cards
from csp_support import answer_of
from pkcs11_support import AX_CLIENT, ESMART, JACARTA, RUTOKEN, slot
from e2e_support import ask_measured
from pkcs11_support import PEAK_BOUND_MIB, padded_to_all_ones


def text(value):
    return value.encode().hex()


def reader(name, card_type, script=(), **extra):
    steps = [dict(r, command=c) if isinstance(r, dict) else {"command": c, "reply": r} for c, r in script]
    node = {"name": name, "atr": ATR[card_type], "script": steps}
    node.update(extra)
    return node


def card(reader_name, card_type, brand, label, model, serial, totalmem, freemem, hardware=False):
    return {"reader": reader_name, "type": str(card_type), "brand": brand, "label": label, "model": model,
            "serial": serial, "totalmem": str(totalmem), "freemem": str(freemem),
            "hardware": "true" if hardware else "false"}


SELECT_LITE = "00A40800061000100010" "0000"
ETOKEN_SCRIPT = [("00A404000" "7A0000003120202" "00", "9000"), ("00A4080C066666500000" "0200", "9000"),
                 ("80180000040E02000000", text("eToken label ") + "9000"),
                 ("00CA011308", "FFFF00010000" "9000"), ("00CA011408", "FFFF00008000" "9000"),
                 ("00CA010700", "000000000A0B0C0D" "9000")]


def jacarta_lt(name, memory_reply, label_reply=text("JaCarta label") + "9000"):
    return reader(name, 6, [("00A4040008A000000448000301", "9000"), ("8030100020", label_reply),
                            ("8030300018", memory_reply)])


def rutoken_s(name, memory_reply, serial_reply, **extra):
    return reader(name, 3, [("00CA018A04", memory_reply), ("00CA018108", serial_reply)], **extra)


JC_MEMORY = "0000000000" "1234" + "00" * 15 + "1122334455667788" + "9000"   # 30 data bytes
JC_SHORT_MEMORY = "0000000000" "0001" + "00" * 15 + "AABB" + "9000"          # 24 data bytes

PROBED = [
    rutoken_s("Rutoken S Reader", "10270000" "9000", "78563412" "9000", protocol=1),
    rutoken_s("Считыватель Рутокен S", "00010000" "9000", "EFBEADDE" "9000"),
    rutoken_s("Rutoken S Misreported", {"reply": "20000000" "9000", "reported": 300}, "11223344" "9000"),
    rutoken_s("Rutoken S Short Reply", "90", "78563412" "9000"),
    rutoken_s("Rutoken S No Connect", "10270000" "9000", "01010101" "9000", connect_result="0x8010000B"),
    rutoken_s("Rutoken S Raw Protocol", "10270000" "9000", "02020202" "9000", protocol=4),
    reader("Rutoken Lite Reader", 5, [(SELECT_LITE, "9000"),
                                      ("00B0000000", "0102030405060708" + text("  Lite label  ") + "9000"),
                                      ("00CA018A04", "00001000" "9000"), ("00CA018108", "0000ABCD12345678" "9000")]),
    reader("Rutoken Lite No File", 5, [(SELECT_LITE, "6A82"), ("00CA018A04", "00000200" "9000"),
                                       ("00CA018108", "01020304" "9000")]),
    reader("eToken Reader", 1, ETOKEN_SCRIPT),
    jacarta_lt("JaCarta LT Reader", JC_MEMORY),
    jacarta_lt("JaCarta LT Short", JC_SHORT_MEMORY),
    jacarta_lt("JaCarta LT No Memory", "6A82"),
    jacarta_lt("JaCarta LT Bad Label", JC_MEMORY, label_reply="6A82"),
    # Not recognised or not readable: no record.
    dict(rutoken_s("Unknown Card Reader", "10270000" "9000", "03030303" "9000"), atr=ATR[3] + "00"),
    dict(rutoken_s("Long ATR Reader", "10270000" "9000", "04040404" "9000"), reported_atr=40),
    dict(rutoken_s("Empty Reader", "10270000" "9000", "05050505" "9000"), present=False),
    dict(rutoken_s("Broken Reader", "10270000" "9000", "06060606" "9000"), status_result="0x80100009"),
]
TOKEN_READERS = [reader("Рутокен ЭЦП 0", 4), reader("Рутокен ЭЦП 1", "4m"), reader("JaCarta PRO Reader", 7),
                 reader("ESMART 64K Reader", 8), reader("ESMART GOST Reader", 10), reader("ANGARA Reader", 12)]

MODULES = {
    RUTOKEN: {"slots": [
        slot("Рутокен ЭЦП 0", [], token={"label": "ECP label", "model": "Rutoken ECP", "serial": "3A0B1C2D",
                                         "total_memory": 65536, "free_memory": 30000}),
        slot("Рутокен ЭЦП 1", [], mechanisms=["0xD4321008"], token={"serial": "3A0B1C2E"}),
        slot("Not A Reader", [], token={"serial": "00000000"})]},
    # The JaCarta module does not load: its cards are neither listed nor probed.
    JACARTA: {"fail": {"C_Initialize": "0x191"}, "slots": [slot("JaCarta PRO Reader", [])]},
    ESMART: {"slots": [
        slot("ESMART 64K Reader", [], mechanisms=["0x1201"], token={"label": "ESMART", "serial": "E5000001"}),
        slot("ESMART GOST Reader", [], token={"label": "GOST", "model": "ESMART GOST", "serial": "E5000002"}),
        slot("ANGARA Reader", [], token={"label": "   ", "model": "ANGARA", "serial": "A0000001",
                                         "total_memory": 1000, "free_memory": 10}),
        # Its reader is present in one row only: a token error ends the listing.
        slot("Failing Token", [], fail={"C_GetTokenInfo": "0x30"})]},
}

ECP = card("Рутокен ЭЦП 0", 4, "Рутокен ЭЦП", "ECP label", "Rutoken ECP", "3A0B1C2D", 65536, 30000, True)
ANGARA = card("ANGARA Reader", 12, "ANGARA+", " ", "ANGARA", "A0000001", 1000, 10, True)
EVERY_CARD = [
    ECP, ANGARA,
    card("JaCarta LT No Memory", 6, "JaCarta LT", "JaCarta label", "JaCarta LT", "", -1, -1),
    card("Rutoken Lite Reader", 5, "Рутокен lite", "Lite label", "Rutoken Lite", "0000abcd12345678", 32768, 4096),
    card("Rutoken Lite No File", 5, "Рутокен lite", "", "Rutoken Lite", "01020304", 32768, 512),
    card("eToken Reader", 1, "eToken PRO Java 72k", "eToken label", "eToken PRO 72k", "0a0b0c0d", 65536, 32768),
    card("JaCarta LT Reader", 6, "JaCarta LT", "JaCarta label", "JaCarta LT", "1122334455667788", 65535, 4660),
    card("Rutoken S Reader", 3, "Рутокен S", "", "Rutoken S", "12345678", 32768, 10000),
    dict(ECP, hardware="false"),
    card("Rutoken S Misreported", 3, "Рутокен S", "", "Rutoken S", "44332211", 32768, 32),
    dict(ANGARA, hardware="false"),
    card("JaCarta LT Short", 6, "JaCarta LT", "JaCarta label", "JaCarta LT", "AABB", 65535, 1),
    card("ESMART 64K Reader", 8, "ESMART Token USB 64K", "ESMART", "Stand-in", "E5000001", -1, -1),
    card("ESMART GOST Reader", 10, "ESMART Token GOST", "GOST", "ESMART GOST", "E5000002", -1, -1),
    card("Считыватель Рутокен S", 3, "Рутокен S", "", "Rutoken S", "deadbeef", 32768, 256),
]
TWO = [PROBED[0], PROBED[8]]

# (what the readers are, the service's faults, the answer)
TABLE = [
    ("every kind of card", PROBED + TOKEN_READERS, {}, EVERY_CARD),
    ("the same again", PROBED + TOKEN_READERS, {}, EVERY_CARD),
    ("no readers", [], {}, ""),
    ("readers without cards", [dict(r, present=False) for r in PROBED + TOKEN_READERS], {}, ""),
    ("no PC/SC service", PROBED, {"fail": {"SCardEstablishContext": "0x8010001D"}}, ""),
    ("no reader list", PROBED, {"fail": {"SCardListReadersW": "0x8010002E"}}, ""),
    ("list without its final NUL", TWO, {"no_final_nul": True}, [EVERY_CARD[5], EVERY_CARD[7]]),
    ("list length overstated", TWO, {"extra_list_length": 40}, [EVERY_CARD[5], EVERY_CARD[7]]),
    ("a token that fails", TWO + [reader("Failing Token", 9)], {}, ("fail", "PKCS#11 error, code = 0x00000030")),
]


@unittest.skipUnless(os.path.exists(WINSCARD_STANDIN), "the PC/SC stand-in is not built")
class SmartcardList(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.cards = Cards()
        cls.cards.install(MODULES)

    @classmethod
    def tearDownClass(cls):
        cls.cards.close()

    def test_table_in_one_host(self):
        session = self.cards.session()
        try:
            for name, readers, service, expected in TABLE:
                self.cards.set_readers(readers, **service)
                self.cards.clear_pcsc_log()
                with self.subTest(name):
                    self.assertEqual(answer_of(session.ask("SmartcardList", {"ignored": "1"})), expected)
                    if name == "every kind of card":
                        self.check_probe_calls()
        finally:
            self.assertEqual(session.close(), 0)

    def check_probe_calls(self):
        log = self.cards.pcsc_log()
        connected = [line.split(" share=")[0][len("SCardConnectW "):] for line in log if line.startswith("SCardConnectW")]
        # Probed cards only (never a token read through its module), each
        # once, in reader-name order, by their wide names; shared, T0 or T1.
        probed = sorted(r["name"] for r in PROBED[:13])
        self.assertEqual(connected, sorted(probed, key=lambda n: n.encode()))
        self.assertTrue(all(l.endswith("share=2 protocols=3") for l in self.cards.pcsc_log("SCardConnectW")))
        self.assertEqual(len(self.cards.pcsc_log("SCardDisconnect")), len(connected) - 1)
        self.assertTrue(all(l.endswith("disposition=0") for l in self.cards.pcsc_log("SCardDisconnect")))
        self.assertTrue(self.cards.pcsc_log("SCardTransmit Rutoken S Reader T0 00CA018A04"))
        self.assertTrue(self.cards.pcsc_log("SCardTransmit Считыватель Рутокен S T1 00CA018A04"))
        self.assertEqual(self.cards.pcsc_log("SCardTransmit Rutoken S Raw Protocol"), [])
        # Each pass releases the contexts it made (the scan and the probes).
        self.assertEqual(len(self.cards.pcsc_log("SCardEstablishContext")), 2)
        self.assertEqual(len(self.cards.pcsc_log("SCardReleaseContext")), 2)

    def test_a_reader_list_length_beyond_any_service(self):
        # A size query of 0xFFFFFFFF characters: the list is read with a
        # buffer of 64 Ki characters, which holds the readers there are.
        length = sum(len(r["name"]) + 1 for r in TWO) + 1
        self.cards.set_readers(TWO, extra_query_length=padded_to_all_ones(length))
        (answer, again), peak = ask_measured([("SmartcardList", {})] * 2,
                                             dict(self.cards.prefix.env, **self.cards.env()))
        self.assertEqual([answer_of(answer), answer_of(again)], [[EVERY_CARD[5], EVERY_CARD[7]]] * 2)
        self.assertLess(peak, PEAK_BOUND_MIB)

    @unittest.skipUnless(os.path.exists(AX_CLIENT), "the control's test client is not built")
    def test_through_the_control(self):
        self.cards.set_readers(TWO + TOKEN_READERS[:1])
        answer = json.loads(self.cards.ax("SmartcardList", {}))
        self.assertEqual(list(answer), ["response", "result", "id"])
        self.assertEqual(answer["result"], [ECP, EVERY_CARD[5], EVERY_CARD[7], dict(ECP, hardware="false")])


if __name__ == "__main__":
    unittest.main()
