"""CreateRequestHW and WriteCertificateHW in the built host (and kelvora_ax),
over the stand-in token module: a key pair generated on the token, the PKCS#10
request read back by openssl and by a DER walk, the issued certificate written
beside the key pair and then listed and used for signing, and the in-band
failures in one host process with the token's call log."""
import base64
import hashlib
import json
import os
import subprocess
import tempfile
import unittest

from csp_support import (b64, check_hostile_rows, emptied_bit_strings, error, hostile_certificates, result, tlv,
                         unreadable_extension_values)
from pkcs11_support import (AX_CLIENT, CKM_GOSTR3410, ESMART, FIXTURE, GOST_2012_512_SIGN, JACARTA, RUTOKEN, Tokens,
                            certificate, private_key, standin_signature)

PIN = "1234"
MECHANISMS = ["0x1200", "0x1201", "0x1202", "0xD4321005", "0xD4321006", "0xD4321008", "0xD4321009"]
EKU = ["1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"]
SUBJECT = "2.5.4.3=Иванов Иван,2.5.4.6=RU"

OID_EXTENSION_REQUEST = bytes.fromhex("060A2B06010401823702010E")
OID_SIGNING_TOOL = bytes.fromhex("06052A8503646F")
RUTOKEN_3 = "«Рутокен ЭЦП 3.0»"
RUTOKEN_2 = "«Рутокен ЭЦП 2.0»"
JACARTA_TOOL = "«Криптотокен 2 ЭП» в составе изделия «JaCarta ГОСТ»"
ESMART_TOOL = "«MS_KEY K» - «АНГАРА»"

DRIVER = "Ошибка инициализации драйвера PKCS#11"
NOT_FOUND = "Не обнаружен запрошенный носитель"
EXISTS = "Контейнер с таким именем уже существует"
WRONG_PIN = "Неудачный логин (неверный ПИН)"
NOT_CREATED = "Ошибка создания запроса"
EKU_EMPTY = "Массив EKU (улучшенный ключ) пуст"
INTEGRITY = "Ошибка проверки целостности данных запроса"
CRYPT_E_ASN1_BADTAG = "0x8009310B"
CRYPT_E_ASN1_CORRUPT = "0x80093103"
CRYPT_E_ASN1_EOD = "0x80093102"


# (request key, key-pair mechanism, signing mechanism, public-key algorithm
# and its two parameters, signature algorithm (DER OIDs), public-key size,
# the certificate fixture's algorithm, SignHash mechanism and hash size)
STANDARDS = [
    ("gost2001", 0x1200, 0x1202, "06062A8503020213", "06072A850302022400", "06072A850302021E01",
     "06062A8503020203", 64, "2001", CKM_GOSTR3410, 32),
    ("gost2012-256", 0x1200, 0xD4321008, "06082A85030701010101", "06072A850302022301", "06082A85030701010202",
     "06082A85030701010302", 64, "2012-256", CKM_GOSTR3410, 32),
    ("GOST2012-512", 0xD4321005, 0xD4321009, "06082A85030701010102", "06092A8503070102010201",
     "06082A85030701010203", "06082A85030701010303", 128, "2012-512", GOST_2012_512_SIGN, 64),
]


def der_children(content):
    """(tag, content, whole element) of each DER element in content."""
    out, at = [], 0
    while at < len(content):
        tag, start, stop = tlv(content, at)
        out.append((tag, content[start:stop], content[at:stop]))
        at = stop
    return out


def public_key_value(mechanism, key_id):
    """The CKA_VALUE the stand-in gives a generated public key."""
    size = 128 if mechanism == 0xD4321005 else 64
    return b"".join(hashlib.sha256(b"kelvora-pkcs11-standin" + mechanism.to_bytes(4, "big") + bytes([k]) +
                                   key_id.encode()).digest() for k in range(size // 32))


class Request:
    """The parts of a DER PKCS#10 request the tests look at."""

    def __init__(self, der):
        ((_, body, _),) = der_children(der)
        (_, info, self.info), (_, algorithm, _), (_, bits, _) = der_children(body)
        self.signature_algorithm = der_children(algorithm)[0][2]
        self.signature = bits[1:]
        _, (_, _, self.subject), (_, spki, self.public_key_info), (_, attributes, _) = der_children(info)
        (_, algorithm, _), (_, key_bits, _) = der_children(spki)
        (_, _, self.key_algorithm), (_, parameters, _) = der_children(algorithm)
        self.parameters = [whole for _, _, whole in der_children(parameters)]
        ((_, self.public_key, _),) = der_children(key_bits[1:])
        self.extensions = {}
        for _, attribute, _ in der_children(attributes):
            (_, _, oid), (_, values, _) = der_children(attribute)
            if oid == OID_EXTENSION_REQUEST:
                ((_, extensions, _),) = der_children(values)
                for _, extension, _ in der_children(extensions):
                    parts = der_children(extension)
                    self.extensions[parts[0][2]] = parts[-1][1]

    def signing_tool(self):
        ((tag, text, _),) = der_children(self.extensions[OID_SIGNING_TOOL])
        assert tag == 0x0C
        return text.decode("utf-8")


def arguments(container, serial, standard="gost2012-256", card_type="4", pin=PIN, subject=SUBJECT, eku=EKU,
              exportable="0", hash_hex=None, **extra):
    text = subject + "".join(eku) + exportable
    node = {"reader": "Reader", "container": container, "subject_quoted": subject, "eku": eku,
            "cryptoStandart": standard, "export": exportable,
            "hash_quoted": hash_hex or hashlib.sha1(text.encode()).hexdigest(), "card_type": card_type,
            "card_serial": serial, "pincode": pin}
    node.update(extra)
    return node


def without(node, key):
    return {k: v for k, v in node.items() if k != key}


def write_arguments(container, serial, der, card_type="4", pin=PIN):
    return {"container": container, "cert": base64.b64encode(der).decode(), "card_type": card_type,
            "card_serial": serial, "pincode": pin}


def token_slot(reader, serial, objects=(), hardware="30.0", mechanisms=MECHANISMS, **extra):
    node = {"description": reader, "pin": PIN, "objects": list(objects), "mechanisms": mechanisms,
            "token": {"serial": serial, "model": "Model " + serial, "hardware_version": hardware}}
    node.update(extra)
    return node


def public_key(key_id):
    return {"class": "public_key", "id": key_id}


def openssl_request_text(der):
    with tempfile.NamedTemporaryFile(suffix=".der") as f:
        f.write(der)
        f.flush()
        done = subprocess.run(["openssl", "req", "-inform", "DER", "-text", "-noout", "-in", f.name],
                              capture_output=True)
    return done.returncode, done.stdout.decode("utf-8", errors="replace")


def fail(text):
    return ("fail", text)


def in_band(code, message):
    return {"valid": "0", "errorcode": code, "error": message}


@unittest.skipUnless(os.path.exists(FIXTURE), "the PKCS#11 stand-in is not built")
class TokenRequests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tokens = Tokens()

    @classmethod
    def tearDownClass(cls):
        cls.tokens.close()

    def create(self, node, env=None):
        (answer,) = self.tokens.ask(("CreateRequestHW", node), env=env)
        r = result(answer)
        self.assertEqual(r["valid"], "1", r)
        return base64.b64decode(r["x509request"])

    def test_the_users_road_for_each_standard(self):
        for (standard, key_mechanism, sign_mechanism, algorithm, key_parameters, digest_parameters, signature_oid,
             key_size, certificate_algorithm, hash_mechanism, hash_size) in STANDARDS:
            with self.subTest(standard=standard):
                self.tokens.install({RUTOKEN: {"slots": [token_slot("Rutoken", "RT0001")]}})
                container = "road-" + standard
                der = self.create(arguments(container, "RT0001", standard))
                code, text = openssl_request_text(der)
                self.assertEqual(code, 0, text)
                self.assertIn("Signing Tool of Subject", text)
                self.assertIn(RUTOKEN_3, text)

                request = Request(der)
                self.assertEqual(request.key_algorithm.hex().upper(), algorithm)
                self.assertEqual([p.hex().upper() for p in request.parameters], [key_parameters, digest_parameters])
                value = public_key_value(key_mechanism, container)
                self.assertEqual(len(value), key_size)
                self.assertEqual(request.public_key, value)
                self.assertEqual(request.signature_algorithm.hex().upper(), signature_oid)
                # The token's signature of the body, in the order C_Sign gave it.
                self.assertEqual(request.signature, standin_signature(sign_mechanism, container, request.info))
                self.assertEqual(request.signing_tool(), RUTOKEN_3)
                (sign_line,) = self.tokens.log("C_Sign ")
                self.assertIn("data=" + request.info.hex().upper() + " buffer=256", sign_line)

                # The CA's certificate for the request, written in a second process.
                ((thumbprint, issued),) = self.tokens.make_certs([{
                    "algorithm": certificate_algorithm, "subject": "CN=Иванов Иван, C=RU", "serial": "00F1E2",
                    "public_key_info": request.public_key_info.hex()}])
                self.tokens.clear_log()
                (written,) = self.tokens.ask(("WriteCertificateHW", write_arguments(container, "RT0001", issued)))
                self.assertEqual(result(written), {"valid": "1"})
                (create_line,) = self.tokens.log("C_CreateObject session")
                name = container.encode().hex().upper()
                self.assertIn(" CKA_ID=%s CKA_LABEL=%s CKA_VALUE=%s CKA_SERIAL_NUMBER=E2F100 CKA_SUBJECT=" %
                              (name, name, issued.hex().upper()), create_line)

                # A third process lists it and signs with the generated key.
                hash_bytes = bytes(range(hash_size))
                listed, signed = self.tokens.ask(
                    ("CertificatesList", {"store_type": "pkcs11"}),
                    ("SignHash", {"store_type": "pkcs11", "thumbprint": thumbprint, "hash": b64(hash_bytes),
                                  "pin": PIN}))
                self.assertEqual([c["thumbprint"] for c in result(listed)], [thumbprint])
                self.assertEqual(base64.b64decode(result(signed)),
                                 standin_signature(hash_mechanism, container, hash_bytes)[::-1])

    def test_signing_tool_by_family_hardware_version_and_user_text(self):
        long_text = "Средство ЭП " * 12
        self.tokens.install({
            RUTOKEN: {"slots": [token_slot("R30", "HW30"), token_slot("R29", "HW29", hardware="29.9")]},
            JACARTA: {"slots": [token_slot("JaCarta", "JC01", hardware="40.0")]},
            ESMART: {"slots": [token_slot("ESMART", "ES01", hardware="1.0")]}})
        rows = [
            (arguments("t1", "HW30"), RUTOKEN_3),
            (arguments("t2", "HW29"), RUTOKEN_2),
            (arguments("t3", "JC01", card_type="7"), JACARTA_TOOL),
            (arguments("t4", "ES01", card_type="12"), ESMART_TOOL),
            (arguments("t5", "HW30", userCsp="Свой СКЗИ"), "Свой СКЗИ"),
            (arguments("t6", "HW29", userCsp=long_text), long_text),
            (arguments("t7", "HW30", userCsp=""), RUTOKEN_3),
        ]
        answers = self.tokens.ask(*[("CreateRequestHW", node) for node, _ in rows])
        for (node, tool), answer in zip(rows, answers):
            with self.subTest(container=node["container"]):
                request = Request(base64.b64decode(result(answer)["x509request"]))
                self.assertEqual(request.signing_tool(), tool)
        self.assertGreater(len(long_text.encode()), 127)

    def test_failures_answer_in_band_in_one_process_and_every_login_is_logged_out(self):
        ((_, installed),) = self.tokens.make_certs([{"algorithm": "2012-256", "subject": "CN=Installed"}])
        ((_, issued),) = self.tokens.make_certs([{"algorithm": "2012-256", "subject": "CN=Issued"}])
        # Slots are searched in order; the faults of a slot touch only requests for its serial.
        self.tokens.install({
            RUTOKEN: {"slots": [
                token_slot("Old", "OLD1", mechanisms=["0x1200", "0x1201", "0x1202"]),
                token_slot("Rutoken", "RT01", [public_key("exists"), private_key("exists"),
                                               public_key("has-cert"), certificate(installed, "has-cert")]),
                token_slot("First", "DUP1", fail={"C_GenerateKeyPair": "0x30"}),
                token_slot("Second", "DUP1"),
                # What a token reports beyond our buffers: a 1024-byte public
                # key, a 64-byte parameter set and a 256-byte signature fit.
                *[token_slot("Overstating", "OV%d" % n, overstate={"C_GetAttributeValue": n})
                  for n in (55, 56, 961)],
                *[token_slot("Long signature", "SG%d" % n, overstate={"C_Sign": n}) for n in (192, 193)],
                # The serial field "0000AAAA \0XYZ" and blanks: cut at its NUL, then trimmed.
                token_slot("Cut serial", "0000AAAA \0XYZ")]},
            JACARTA: {"slots": [token_slot("JaCarta", "JC01", fail={"C_GenerateKeyPair": "0x30"}),
                                token_slot("Broken", "BRK1", fail={"C_GetTokenInfo": "0x30"})]},
            ESMART: {"slots": [token_slot("ESMART", "ES01", [public_key("es-key")],
                                          fail={"C_Sign": "0x30", "C_CreateObject": "0x31"})]}})
        good = arguments("new", "RT01")
        rows = [
            ("CreateRequestHW", without(good, "reader"),
             in_band("0xFFFFFFFF", "Ошибка обработки данных запроса: No such node (reader)")),
            ("CreateRequestHW", without(good, "pincode"),
             in_band("0xFFFFFFFF", "Ошибка обработки данных запроса: No such node (pincode)")),
            ("CreateRequestHW", dict(good, hash_quoted="00" * 20), in_band("0xFFFFFFFF", INTEGRITY)),
            ("CreateRequestHW", dict(good, eku=[], hash_quoted="00" * 20), in_band("0xFFFFFFFF", EKU_EMPTY)),
            ("CreateRequestHW", arguments("new", "RT01", eku=[]), in_band("0xFFFFFFFF", EKU_EMPTY)),
            *[("CreateRequestHW", dict(good, card_type=t), in_band("0xFFFFFFFF", DRIVER))
              for t in ("1", "2", "3", "11", "-1")],
            ("CreateRequestHW", dict(good, card_serial="ZZ99"), in_band("0xFFFFFFFF", NOT_FOUND)),
            ("CreateRequestHW", dict(good, card_serial="RT01 "), in_band("0xFFFFFFFF", NOT_FOUND)),
            ("CreateRequestHW", dict(good, card_serial="OLD1"), in_band("0xFFFFFFFF", NOT_FOUND)),
            ("CreateRequestHW", arguments("exists", "RT01"), in_band("0xFFFFFFFF", EXISTS)),
            ("CreateRequestHW", dict(good, pincode="0000"), in_band("0xFFFFFFFF", WRONG_PIN)),
            ("CreateRequestHW", arguments("k", "JC01", card_type="7"), in_band("0x00000000", NOT_CREATED)),
            ("CreateRequestHW", arguments("k", "DUP1"), in_band("0x00000000", NOT_CREATED)),
            ("CreateRequestHW", arguments("k", "OV55"), {"valid": "1"}),
            ("CreateRequestHW", arguments("k", "OV56"), in_band("0x00000000", NOT_CREATED)),
            ("CreateRequestHW", arguments("k", "OV961"), in_band("0x00000000", NOT_CREATED)),
            ("CreateRequestHW", arguments("k", "SG192"), {"valid": "1"}),
            ("CreateRequestHW", arguments("k", "SG193"), in_band("0x00000000", NOT_CREATED)),
            ("CreateRequestHW", arguments("k", "JC02", card_type="7"), fail("PKCS#11 error, code = 0x00000030")),
            ("CreateRequestHW", arguments("k", "ES01", card_type="12"), in_band("0x00000000", NOT_CREATED)),
            ("CreateRequestHW", arguments("", "RT01"), in_band("0x00000000", NOT_CREATED)),
            ("CreateRequestHW", dict(good, card_type="abc"), fail("invalid stoi argument")),
            ("CreateRequestHW", dict(good, card_type="99999999999"), fail("stoi argument out of range")),
            ("CreateRequestHW", arguments("e", "RT01", subject="", eku=[""], exportable=""), fail("Fatal error!")),
            ("CreateRequestHW", arguments("blank-type", "RT01", card_type=" +4 tokens"), {"valid": "1"}),
            ("CreateRequestHW", arguments("cut", "0000AAAA"), {"valid": "1"}),
            ("CreateRequestHW", arguments("cut", "0000AAAA "), in_band("0xFFFFFFFF", NOT_FOUND)),
            # Wished validity dates that cannot be read fail the request.
            ("CreateRequestHW", arguments("bad-end", "RT01", certExpirationDate="garbage"),
             in_band("0xFFFFFFFF", NOT_CREATED)),
            ("CreateRequestHW", arguments("bad-start", "RT01", certStartDate="2024-13-05 07:08:09+03:00",
                                          certExpirationDate="2025-01-02 03:04:05+00:00"),
             in_band("0xFFFFFFFF", NOT_CREATED)),
            ("WriteCertificateHW", without(write_arguments("exists", "RT01", issued), "cert"),
             in_band("0xFFFFFFFF", "Ошибка обработки данных сертификата: No such node (cert)")),
            ("WriteCertificateHW", write_arguments("nothing", "RT01", issued), in_band("0xFFFFFFFF",
                                                                                       "Контейнер не найден")),
            ("WriteCertificateHW", write_arguments("has-cert", "RT01", issued),
             in_band("0xFFFFFFFF", "Сертификат уже установлен в контейнер")),
            ("WriteCertificateHW", write_arguments("exists", "RT01", issued, pin="0000"),
             in_band("0xFFFFFFFF", WRONG_PIN)),
            ("WriteCertificateHW", write_arguments("exists", "RT01", issued, card_type="3"),
             in_band("0xFFFFFFFF", DRIVER)),
            ("WriteCertificateHW", write_arguments("es-key", "ES01", issued, card_type="12"),
             in_band("0x00000031", "")),
            ("WriteCertificateHW", write_arguments("exists", "RT01", issued, card_type="x"),
             fail("invalid stoi argument")),
            ("WriteCertificateHW", dict(write_arguments("exists", "RT01", issued), cert="AAAA"),
             in_band(CRYPT_E_ASN1_BADTAG, "")),
            # A signature value without its unused-bits octet is not read.
            ("WriteCertificateHW", dict(write_arguments("exists", "RT01", issued),
                                        cert=b64(emptied_bit_strings(issued)[-1][0])),
             in_band(CRYPT_E_ASN1_CORRUPT, "")),
            ("WriteCertificateHW", write_arguments("exists", "RT01", issued), {"valid": "1"}),
            ("WriteCertificateHW", write_arguments("exists", "RT01", issued),
             in_band("0xFFFFFFFF", "Сертификат уже установлен в контейнер")),
        ]
        answers = self.tokens.ask(*[(kind, node) for kind, node, _ in rows])
        for (kind, node, expected), answer in zip(rows, answers):
            with self.subTest(kind=kind, node=node):
                if isinstance(expected, tuple):
                    self.assertEqual(error(answer), expected[1])
                elif expected == {"valid": "1"} and kind == "CreateRequestHW":
                    self.assertEqual(result(answer)["valid"], "1")
                else:
                    self.assertEqual(result(answer), expected)

        # Per session: a right PIN is followed by C_Logout, a wrong one is
        # not, and every session is closed.
        sessions = {}
        for line in self.tokens.log():
            fields = line.split()
            session = next((f for f in fields if f.startswith("session=")), None)
            if session:
                sessions.setdefault((fields[0], session), []).append(fields[1:])
        logins = 0
        for key, calls in sessions.items():
            names = [c[0] for c in calls]
            self.assertEqual(names[-1], "C_CloseSession", key)
            for n, call in enumerate(calls):
                if call[0] == "C_Login":
                    logins += 1
                    followed = "C_Logout" in names[n + 1:]
                    self.assertEqual(followed, "pin=" + PIN in call, (key, names))
            self.assertLessEqual(names.count("C_Logout"), 1, key)
        self.assertEqual(logins, 19)
        # The token without the vendor mechanism is never opened.
        self.assertEqual(self.tokens.log(RUTOKEN + " C_OpenSession slot=1 "), [])

        # Certificates that are not DER throughout are not read (after the
        # login, as any certificate); one cut short fails as the decoder fails
        # it. Extension values the decoder must not see leave a certificate
        # that is written, each beside a key pair of its own.
        readable = unreadable_extension_values(issued)
        self.tokens.install({RUTOKEN: {"slots": [token_slot("Rutoken", "RT01", [public_key("exists"), private_key(
            "exists")] + [public_key("b%d" % n) for n in range(len(readable))])]}})
        hostile = [(form, copy, CRYPT_E_ASN1_CORRUPT) for form, copy in hostile_certificates(issued)]
        check_hostile_rows(self, self.tokens.ask, [
            (form, ("WriteCertificateHW", write_arguments("exists", "RT01", copy)), in_band(code, ""))
            for form, copy, code in hostile + [("cut short", issued[:-9], CRYPT_E_ASN1_EOD)]] + [
            (form, ("WriteCertificateHW", write_arguments("b%d" % n, "RT01", copy)), {"valid": "1"})
            for n, (form, copy, _) in enumerate(readable)], issued)

    def test_objects_made_by_one_process_are_seen_by_the_next(self):
        self.tokens.install({RUTOKEN: {"slots": [token_slot("Rutoken", "RT0001")]}})
        self.create(arguments("kept", "RT0001"))
        (again,) = self.tokens.ask(("CreateRequestHW", arguments("kept", "RT0001")))
        self.assertEqual(result(again), in_band("0xFFFFFFFF", EXISTS))

    @unittest.skipUnless(os.path.exists(AX_CLIENT), "the control's test client is not built")
    def test_both_commands_through_the_control(self):
        node = arguments("ax", "RT0001", "gost2012-512")
        self.tokens.install({RUTOKEN: {"slots": [token_slot("Rutoken", "RT0001")]}})
        host_request = self.create(node)
        self.tokens.install({RUTOKEN: {"slots": [token_slot("Rutoken", "RT0001")]}})

        def ax(kind, arguments_node):
            output = self.tokens.run_ax_client("unload", {"type": kind, "id": "9", "arguments": arguments_node})
            answer = json.loads(output.partition("\n")[0])
            self.assertEqual(list(answer)[-1], "id")
            return result(answer)

        created = ax("CreateRequestHW", node)
        # The stand-in is deterministic: the same request as through the host.
        self.assertEqual(base64.b64decode(created["x509request"]), host_request)
        key_info = Request(host_request).public_key_info.hex()
        ((_, issued),) = self.tokens.make_certs([{"algorithm": "2012-512", "subject": "CN=Control",
                                                  "public_key_info": key_info}])
        self.assertEqual(ax("WriteCertificateHW", write_arguments("ax", "RT0001", issued)), {"valid": "1"})
        self.assertEqual(ax("WriteCertificateHW", write_arguments("ax", "RT0001", issued)),
                         in_band("0xFFFFFFFF", "Сертификат уже установлен в контейнер"))


if __name__ == "__main__":
    unittest.main()
