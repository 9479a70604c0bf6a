"""CreateRequest and WriteCertificate through the built host over the test
GOST provider (tests/standins/gost_csp): the road from a request to a
certificate that signs, and the in-band failure rows of both commands."""
import base64
import hashlib
import json
import os
import unittest

from csp_support import (GOST_FIXTURE, SCARD_W_WRONG_CHV, PrefixTests, Scratch, WinePrefix, b64, check_hostile_rows,
                         emptied_bit_strings, hostile_certificates, openssl, request_args, result, sha1_hex, tlv,
                         unreadable_extension_values)
from csp_support import in_band_failure as fail

NO_PROVIDER = "Не обнаружен соответствующий криптопровайдер"
FAMILY1_NAME_256 = "Kelvora Test GOST R 34.10-2012 (256) Provider"
FAMILY2_NAME_256 = "Kelvora Test Family-2 GOST R 34.10-2012 (256) Provider"


def children(data, at=0):
    """(start, end) of each value inside the constructed value at an offset."""
    _, pos, end = tlv(data, at)
    out = []
    while pos < end:
        _, start, stop = tlv(data, pos)
        out.append((pos, stop))
        pos = stop
    return out


def request_parts(der):
    """The request info bytes, the public-key bits and the signature as CryptoAPI returned it."""
    info, _, signature = children(der)
    key_info = children(der, info[0])[2]
    key_bits = children(der, key_info[0])[1]
    _, start, end = tlv(der, key_bits[0])
    _, sig_start, sig_end = tlv(der, signature[0])
    return der[info[0]:info[1]], der[start + 1:end], bytes(reversed(der[sig_start + 1:sig_end]))


def utf8_value(text):
    raw = text.encode()
    return bytes([0x0C, len(raw)]) + raw


def bmp_value(text):
    raw = text.encode("utf-16-be")
    return bytes([0x1E, len(raw)]) + raw


def request_der(answer):
    value = result(answer)
    if value.get("valid") != "1":
        raise AssertionError("no request: " + json.dumps(value, ensure_ascii=False))
    return base64.b64decode(value["x509request"])


class RequestPrefix(WinePrefix):
    def containers(self):
        """The stand-in's containers: name -> (reader, key specs and certificates)."""
        path = os.path.join(self.path, "drive_c", "kelvora-gost-csp", "containers.txt")
        out = {}
        with open(path) as f:
            for line in f:
                words = line.rstrip("\n").split(" ")
                if words[0] != "container":
                    continue
                name, reader = (bytes.fromhex(w.replace("-", "")).decode() for w in words[1:3])
                out[name] = (reader, [w.split(":") for w in words[4:]])
        return out


@unittest.skipUnless(os.path.exists(GOST_FIXTURE), "the GOST stand-in provider is not built")
class RequestCommands(PrefixTests):
    @classmethod
    def setUpClass(cls):
        cls.prefix = RequestPrefix()
        cls.scratch = Scratch()
        cls.prefix.gost("register", "--version1", "5.0")

    def test_the_road_from_request_to_signature(self):
        subject = "2.5.4.3=Road Test,2.5.4.6=RU"
        (answer,) = self.ask(("CreateRequest", request_args(
            "road", subject, policyLevel="KC2", certPeriod="12",
            subjectAltName={"dns": ["road.example"], "upn": "road@example"})))
        der = request_der(answer)
        shown = openssl("req", "-inform", "DER", "-in", self.scratch.file("road.p10", der), "-text", "-noout")
        self.assertEqual(shown.returncode, 0, shown.stderr.decode())
        self.assertIn("CN = Road Test, C = RU", shown.stdout.decode())
        self.assertIn("road.example", shown.stdout.decode())
        info, key_bits, signature = request_parts(der)

        # The request's key is the new container's, and its signature verifies.
        (digest,) = self.ask(("ComputeHash", {"algorithm": "1.2.643.7.1.1.2.2", "data": b64(info)}))
        self.assertTrue(self.prefix.gost_verifies("2012-256", "road", base64.b64decode(result(digest)), signature))
        self.assertEqual(self.prefix.containers()["road"][0], "R0")
        certificate = self.prefix.gost("new-cert", "--alg", "2012-256", "--container", "road", "--existing",
                                       "--no-store", "--subject", "CN=Road Test, C=RU").strip()
        cert_der = base64.b64decode(certificate)
        self.assertIn(key_bits, cert_der)

        thumbprint = sha1_hex(cert_der)
        hash_value = hashlib.sha256(b"road").digest()[:32]
        written, listed, found, signed = self.ask(
            ("WriteCertificate", {"container": "road", "cert": certificate, "install": "1"}),
            ("CertificatesList", {}), ("FindCertificate", {"thumbprint": thumbprint}),
            ("SignHash", {"thumbprint": thumbprint, "hash": b64(hash_value)}))
        self.assertEqual(result(written), {"valid": "1"})
        self.assertIn(thumbprint, [d["thumbprint"] for d in result(listed)])
        description = result(found)
        self.assertTrue(description["container"].endswith("road"), description)
        self.assertEqual(description["reader"], "R0")
        self.assertTrue(self.prefix.gost_verifies("2012-256", "road", hash_value, base64.b64decode(result(signed))))

    def test_request_contents(self):
        default_tool, user_tool, bare = self.ask(
            ("CreateRequest", request_args("tool-a", certStartDate="2024-03-05 07:08:09+03:00",
                                           certExpirationDate="2025-01-02 03:04:05+00:00")),
            ("CreateRequest", request_args("tool-b", userCsp="Свой СКЗИ", cryptoProvider="auto",
                                           identificationKind="2", templateOid="1.2.3.4")),
            ("CreateRequest", request_args("tool-c", subject="no pairs", cryptoStandart="GOST2012-512")))
        der = request_der(default_tool)
        self.assertIn(utf8_value('"КриптоПро CSP" (версия 5.0)'), der)
        self.assertIn(bmp_value(FAMILY1_NAME_256), der)
        self.assertIn(bmp_value("20240305070809+03:00"), der)
        self.assertIn(bmp_value("20250102030405+00:00"), der)
        der = request_der(user_tool)
        self.assertIn(utf8_value("Свой СКЗИ"), der)
        self.assertNotIn("версия".encode(), der)
        self.assertIn(bytes.fromhex("06052A850364720403020102"), der)  # identification kind 2
        der = request_der(bare)
        info = request_parts(der)[0]
        self.assertEqual([info[a:b] for a, b in children(info)[:2]], [b"\x02\x01\x00", b"\x30\x00"])
        self.assertIn(bytes.fromhex("06082A85030701010303"), der)  # GOST R 34.10-2012 512 signature

    def test_both_commands_through_the_control(self):
        from test_activex_control import CONTROL_WINDOWS_PATH, js_unescape
        registered = self.prefix.run(["regsvr32", "/s", CONTROL_WINDOWS_PATH])
        self.assertEqual(registered.returncode, 0, registered.stderr)
        requests = [json.dumps({"type": "CreateRequest", "id": "1", "arguments": request_args("ax")}),
                    json.dumps({"type": "WriteCertificate", "id": "2", "arguments": {"container": "ax"}})]
        script = "var plugin = new ActiveXObject(\"kelvora.plugin\");\n" + "".join(
            "WScript.Echo(escape(plugin.SendMessage(%s)));\n" % json.dumps(r) for r in requests)
        with open(os.path.join(self.prefix.path, "drive_c", "requests.js"), "w", newline="\r\n") as f:
            f.write(script)
        out = self.prefix.run(["cscript", "//nologo", "C:\\requests.js"]).stdout.decode()
        lines = [json.loads(js_unescape(line.strip())) for line in out.splitlines() if line.strip()]
        self.assertEqual(len(lines), 2, out)
        created, written = lines
        self.assertEqual(created["id"], "1")
        shown = openssl("req", "-inform", "DER", "-noout", "-subject", input_bytes=request_der(created))
        self.assertIn("CN = Test", shown.stdout.decode())
        self.assertEqual(result(written), fail(-1, "Ошибка обработки данных сертификата: No such node (cert)"))

    def test_in_band_failure_rows(self):
        rsa = openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=rsa", "-outform", "DER",
                      "-keyout", os.path.join(self.scratch.dir, "rsa.key"))
        self.assertEqual(rsa.returncode, 0)
        no_provider_key = request_args("rows-a")
        del no_provider_key["cryptoProvider"]
        wrong_hash = request_args("rows-b", eku=[])
        wrong_hash["hash_quoted"] = "00" * 20
        rows = [
            ("CreateRequest", no_provider_key,
             fail(-1, "Ошибка обработки данных запроса: No such node (cryptoProvider)")),
            ("CreateRequest", request_args("rows-c", subject=""), fail(-1, "Отсутствуют данные в поле Subject")),
            ("CreateRequest", wrong_hash, fail(-1, "Ошибка проверки целостности данных запроса")),
            ("CreateRequest", request_args("rows-d", eku=[]), fail(-1, "Массив EKU (улучшенный ключ) пуст")),
            ("CreateRequest", request_args("rows-e", cryptoProvider="ViPNet"), fail(-1, NO_PROVIDER)),
            # Names longer than the first 1024-byte buffer neither end the
            # container search nor are read cut.
            ("CreateRequest", request_args("L" * 1500), {"valid": "1"}),
            ("CreateRequest", request_args("l" * 1500), fail(-1, "Контейнер с таким именем уже существует")),
            ("CreateRequest", request_args("Rows-F"), {"valid": "1"}),
            ("CreateRequest", request_args("rows-f"), fail(-1, "Контейнер с таким именем уже существует")),
            ("CreateRequest", request_args("rows-g", subject="1.2.643.3.131.1.1=12a4"),
             fail(0x80092020, "Ошибка создания запроса")),
            ("CreateRequest", request_args("rows-h", subject="CN=x"), fail(0x80093100, "Ошибка создания запроса")),
            # Wished validity dates that cannot be read fail the request.
            ("CreateRequest", request_args("rows-i", certExpirationDate="garbage"), fail(-1, "Ошибка создания запроса")),
            ("CreateRequest", request_args("rows-j", certStartDate="2024-13-05 07:08:09+03:00",
                                           certExpirationDate="2025-01-02 03:04:05+00:00"),
             fail(-1, "Ошибка создания запроса")),
            ("CreateRequest", request_args("rows-k", certStartDate="2024-03-05 07:08:09+03:00",
                                           certExpirationDate="2025-01-02 03:04:05+00:00"), {"valid": "1"}),
            ("WriteCertificate", {"container": "rows-f"},
             fail(-1, "Ошибка обработки данных сертификата: No such node (cert)")),
            ("WriteCertificate", {"container": "rows-f", "cert": b64(rsa.stdout)}, fail(-1, NO_PROVIDER)),
            ("WriteCertificate", {"container": "rows-f", "cert": "not a certificate"}, fail(-1, NO_PROVIDER)),
            ("WriteCertificate", {"container": "missing", "cert": "CERT"}, fail(-1, "Контейнер не найден")),
            # A signature value without its unused-bits octet is not read.
            ("WriteCertificate", {"container": "Rows-F", "cert": "CERT-EMPTIED"}, fail(-1, NO_PROVIDER)),
            ("WriteCertificate", {"container": "Rows-F", "cert": "CERT", "install": "yes"}, {"valid": "1"}),
        ]
        certificate = self.prefix.gost("new-cert", "--alg", "2012-256", "--container", "rows-cert",
                                       "--no-store").strip()
        emptied = b64(emptied_bit_strings(base64.b64decode(certificate))[-1][0])
        answers = self.ask(*[(kind, json.loads(json.dumps(args).replace('"CERT"', json.dumps(certificate))
                                               .replace('"CERT-EMPTIED"', json.dumps(emptied))))
                             for kind, args, _ in rows])
        for (kind, args, expected), answer in zip(rows, answers):
            value = result(answer)
            if expected.get("valid") == "1":
                self.assertEqual(value.get("valid"), "1", (kind, args, value))
            else:
                self.assertEqual(value, expected, (kind, args))
        containers = self.prefix.containers()
        # A request that failed after the container was made leaves it behind.
        self.assertIn("rows-g", containers)
        self.assertNotIn("rows-d", containers)
        # "install" other than "1" writes the certificate onto the key only.
        self.assertEqual(containers["Rows-F"][1][0][3].replace("-", "").upper(), base64.b64decode(certificate).hex().upper())
        (listed,) = self.ask(("CertificatesList", {}))
        self.assertNotIn(sha1_hex(base64.b64decode(certificate)), [d["thumbprint"] for d in result(listed) or []])
        # Certificates that are not DER throughout are not read; extension
        # values the decoder must not see leave a certificate that is written.
        der = base64.b64decode(certificate)
        forms = [(form, copy, fail(-1, NO_PROVIDER)) for form, copy in hostile_certificates(der)]
        forms += [(form, copy, {"valid": "1"}) for form, copy, _ in unreadable_extension_values(der)]
        check_hostile_rows(self, self.ask, [(form, ("WriteCertificate", {"container": "Rows-F", "cert": b64(copy)}),
                                             expected) for form, copy, expected in forms], der)


@unittest.skipUnless(os.path.exists(GOST_FIXTURE), "the GOST stand-in provider is not built")
class ProviderFamilies(unittest.TestCase):
    """Family choice, versions and the family-1 PIN check, each prefix set up once."""

    def test_version4_pin_check_and_both_families(self):
        prefix = RequestPrefix()
        try:
            prefix.gost("register", "--families", "1,2", "--version1", "4.0", "--version2", "4.1",
                        "--wrong-pin-calls", "5")
            three_wrong, two_wrong, automatic, family2 = prefix.ask([
                ("CreateRequest", request_args("pin-a")), ("CreateRequest", request_args("pin-b")),
                ("CreateRequest", request_args("auto", cryptoProvider="")),
                ("CreateRequest", request_args("vip", cryptoProvider="vipnet"))])
            self.assertEqual(result(three_wrong), fail(SCARD_W_WRONG_CHV, "Ошибка создания запроса"))
            request_der(two_wrong)
            self.assertIn(bmp_value(FAMILY1_NAME_256), request_der(automatic))
            der = request_der(family2)
            self.assertIn(bmp_value(FAMILY2_NAME_256), der)
            self.assertIn(utf8_value('"ViPNet CSP" (версия 4.2)'), der)
            containers = prefix.containers()
            self.assertEqual(containers["vip"][0], "")
            self.assertEqual(containers["auto"][0], "R0")

            # NTE_BAD_TYPE counts as success; any other failure is the request's code.
            prefix.gost("register", "--families", "1", "--version1", "4.0", "--pin-check-result", "8009000A")
            (bad_type,) = prefix.ask([("CreateRequest", request_args("pin-c"))])
            prefix.gost("register", "--families", "1", "--version1", "4.0", "--pin-check-result", "80090020")
            (other,) = prefix.ask([("CreateRequest", request_args("pin-d"))])
            request_der(bad_type)
            self.assertEqual(result(other), fail(0x80090020, "Ошибка создания запроса"))
        finally:
            prefix.close()

    def test_only_the_second_family(self):
        prefix = RequestPrefix()
        try:
            prefix.gost("register", "--families", "2", "--version2", "4.1")
            automatic, family2 = prefix.ask([("CreateRequest", request_args("only-a", cryptoProvider="x")),
                                             ("CreateRequest", request_args("only-b", cryptoProvider="VIPNET"))])
            self.assertEqual(result(automatic), fail(-1, NO_PROVIDER))
            self.assertIn(bmp_value(FAMILY2_NAME_256), request_der(family2))
        finally:
            prefix.close()


if __name__ == "__main__":
    unittest.main()
