"""SerializeCertificate through the built host under wine64: certificates made
with OpenSSL at test time, all rendered by one host process; the expected texts
are data, and serial, names, dates, key and signature bytes are checked
against OpenSSL's own reading of the same certificates."""
import base64
import datetime
import json
import re
import subprocess
import textwrap
import unittest

from e2e_support import run_requests
from viewer_certificates import Certificates, SPECS

READ_ERROR = "Ошибка чтения сертификата"
RSA = ("1.2.840.113549.1.1.1", "1.2.840.113549.1.1.1", "05 00")
RSA_SHA256 = ("1.2.840.113549.1.1.11", "1.2.840.113549.1.1.11")
MONTHS = ["января", "февраля", "марта", "апреля", "мая", "июня", "июля", "августа", "сентября", "октября", "ноября",
          "декабря"]
CERTIFICATE_KEYS = ["version", "serial-number", "issuer", "validity", "subject", "subject-public-key-info",
                    "extensions", "signed-content"]
FULL_NAME = [("2.5.4.3", "CN", 'Иван "Q" back\\slash'), ("1.2.643.3.131.1.1", "ИНН", "007700000001"),
             ("1.2.643.100.1", "ОГРН", "1027700000001"), ("1.2.643.100.3", "СНИЛС", "12345678901"),
             # A string value that begins with "#" is that string (Wine writes it quoted).
             ("2.5.4.10", "O", "#0c024142")]
GOST_ID_KIND = ("1.2.643.100.114", "false", "Тип идентификации при выдаче сертификата",
                "Без личного присутствия с использованием сведений из ЕСИА и ЕБС")
GOST_EXTENSIONS = [("2.5.29.15", "false", "Использование ключа", "Цифровая подпись, Неотрекаемость (c0)"),
                   GOST_ID_KIND, ("2.5.29.14", "false", "Идентификатор ключа субъекта", "{ski}")]

# Per certificate: version, serial, names (issuer = subject: all are self-signed),
# key algorithm (OID, name, parameters), extensions (OID, critical, name, text;
# {ski} is the subject key identifier as OpenSSL reads it) and the signature
# algorithm (OID, name).
EXPECTED = {
    "full": ("3", "01 02 03 04 05", FULL_NAME, RSA, [
        ("2.5.29.15", "true", "Использование ключа",
         "Цифровая подпись, Неотрекаемость, Шифрование ключей, Шифрование данных (f0)"),
        ("2.5.29.37", "false", "Улучшенный ключ",
         "Проверка подлинности клиента (1.3.6.1.5.5.7.3.2) Защищенная электронная почта (1.3.6.1.5.5.7.3.4) "
         "Пользователь Центра Регистрации, HTTP, TLS client (1.2.643.2.2.34.6) 1.2.3.4.5 (1.2.3.4.5) "),
        ("2.5.29.14", "false", "Идентификатор ключа субъекта", "{ski}"),
        ("2.5.29.35", "false", "Идентификатор ключа центра сертификатов",
         'Идентификатор ключа={ski} Поставщик сертификата: CN=Иван "Q" back\\slash ИНН=007700000001 '
         "ОГРН=1027700000001 СНИЛС=12345678901 O=#0c024142 Серийный номер сертификата=0102 0304 05"),
        ("2.5.29.31", "false", "Точки распространения списков отзыва (CRL)",
         "[1]URL=http://crl.kelvora.test/a.crl [2]URL=http://crl2.kelvora.test/b.crl "),
        ("1.3.6.1.5.5.7.1.1", "false", "Доступ к информации о центрах сертификации",
         "[1]Метод доступа=Протокол определения состояния сертификата через сеть URL=http://ocsp.kelvora.test "
         "[2]Метод доступа=Поставщик центра сертификации URL=http://ca.kelvora.test/ca.crt "),
        # No decoder for the private key usage period is registered under Wine.
        ("2.5.29.16", "false", "Период использования закрытого ключа", ""),
        ("2.5.29.32", "false", "Политики сертификата",
         "[1]Идентификатор политики=Класс средства ЭП КС1 [2]Идентификатор политики=Класс средства ЭП КС2 "
         "[3]Идентификатор политики=1.2.3.99 "),
        ("1.2.643.100.111", "false", "Средство электронной подписи владельца", 'СКЗИ "Кельвора-CSP"'),
        ("1.2.643.100.112", "true", "Средства электронной подписи и УЦ издателя",
         "Средство электронной подписи: Средство ЭП «Кельвора» Заключение на средство ЭП: Заключение № 1 "
         "Средство УЦ: Средство УЦ Заключение на средство УЦ: Заключение № 2"),
        ("1.2.643.100.114", "false", "Тип идентификации при выдаче сертификата",
         "Без личного присутствия с использованием квалифицированной ЭП"),
        ("1.2.643.2.2.49.2", "false", "Ограниченная лицензия КРИПТО-ПРО",
         "Ограниченная лицензия на Крипто-Про CSP для использования с закрытым ключом данного сертификата в рамках "
         'системы "Кельвора", полный текст доступен по адресу http://lic.kelvora.test/l.txt'),
        ("1.3.6.1.4.1.311.21.7", "false", "Шаблон сертификата", "Идентификатор шаблона = 1.2.643.3.227.1 "),
        ("2.5.29.17", "false", "Дополнительное имя субъекта",
         "[1]Имя каталога: CN=Каталог O=Kelvora [2]DNS имя: kelvora.test [4]DNS имя: www.kelvora.test "),
        ("1.2.3.4.99", "false", "1.2.3.4.99", "04 02 ab cd"),
    ], RSA_SHA256),
    "second": ("3", "00 FF", [("2.5.4.3", "CN", "Line\nfeed"), ("2.5.4.10", "O", "ООО Кельвора"), ("2.5.4.6", "C", "RU")],
               RSA, [
        ("2.5.29.15", "false", "Использование ключа",
         "Цифровая подпись, Подпись ключа сертификата, Автономное подписание списков отзыва (86)"),
        ("2.5.29.14", "false", "Идентификатор ключа субъекта", "{ski}"),
        ("2.5.29.35", "false", "Идентификатор ключа центра сертификатов", "Идентификатор ключа={ski} "),
        # Latin-1 bytes become U+FFFD.
        ("1.2.643.100.111", "false", "Средство электронной подписи владельца", "Kelvora caf\ufffd"),
        ("1.2.643.100.112", "false", "Средства электронной подписи и УЦ издателя",
         'Средство электронной подписи: Tool "A" Заключение на средство ЭП: Back\\slash '),
        # Not one of the four kinds: the INTEGER's content byte as text.
        ("1.2.643.100.114", "false", "Тип идентификации при выдаче сертификата", "\x07"),
        # A length past the end of the value: unreadable, so empty.
        ("1.3.6.1.4.1.311.21.7", "false", "Шаблон сертификата", ""),
        ("1.2.643.100.115", "false", "1.2.643.100.115", "30 03 02 01 05"),
    ], RSA_SHA256),
    "bare": ("1", "00", [("2.5.4.3", "CN", "Bare")], RSA, [], RSA_SHA256),
    "large": ("1", "0A", [("2.5.4.9", "STREET", "z" * 20000)], RSA, [], RSA_SHA256),
    "gost256": ("3", "40 01", [("2.5.4.3", "CN", "ГОСТ 256"), ("1.2.643.100.3", "СНИЛС", "98765432109")],
                ("1.2.643.7.1.1.1.1", "ГОСТ Р 34.10-2012-256",
                 "30 13 06 07 2a 85 03 02 02 23 01 06 08 2a 85 03 07 01 01 02 02"),
                GOST_EXTENSIONS, ("1.2.643.7.1.1.3.2", "ГОСТ Р 34.11/34.10-2012-256")),
    "gost512": ("3", "40 02", [("2.5.4.3", "CN", "ГОСТ 512")],
                ("1.2.643.7.1.1.1.2", "ГОСТ Р 34.10-2012-512",
                 "30 15 06 09 2a 85 03 07 01 02 01 02 01 06 08 2a 85 03 07 01 01 02 03"),
                GOST_EXTENSIONS, ("1.2.643.7.1.1.3.3", "ГОСТ Р 34.11/34.10-2012-512")),
}


def ask(requests):
    """(arguments) -> answers of one host process, in order."""
    texts = [json.dumps({"type": "SerializeCertificate", "id": str(n), "arguments": a}) for n, a in enumerate(requests)]
    run = run_requests(texts)
    answers = [json.loads(t) for t in run.texts()]
    assert len(answers) == len(texts), run.output[-200:]
    return answers


def openssl(*args, input_bytes=None):
    engine = ["-engine", "gost"] if args[0] in ("x509",) else []
    return subprocess.run(["openssl", args[0], *engine, *args[1:]], input=input_bytes, check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout.decode("utf-8")


def asn1_lines(der, *options):
    """OpenSSL's asn1parse lines as (offset, depth, header length, length, text)."""
    lines = []
    for line in openssl("asn1parse", "-inform", "DER", *options, input_bytes=der).splitlines():
        m = re.match(r"\s*(\d+):d=(\d+)\s+hl=(\d+)\s+l=\s*(\d+)\s+\w+:\s*(.*)", line)
        if m:
            lines.append((int(m[1]), int(m[2]), int(m[3]), int(m[4]), m[5].strip()))
    return lines


def russian_date(openssl_date):
    when = datetime.datetime.strptime(re.sub(" +", " ", openssl_date), "%b %d %H:%M:%S %Y GMT")
    return "%d %s %04d г. %02d:%02d:%02d UTC" % (when.day, MONTHS[when.month - 1], when.year, when.hour,
                                                   when.minute, when.second)


def pairs(data, separator=" "):
    return separator.join(data[i:i + 2].hex().upper() for i in range(0, len(data), 2))


class SerializeCertificate(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.certs = Certificates()
        cls.names = list(SPECS)
        der = cls.certs.der
        pem = {n: cls.pem(der[n]) for n in cls.names}
        requests = [{"cert": base64.b64encode(der[n]).decode()} for n in cls.names]
        requests += [
            {},                                                    # no "cert"
            {"cert": ""},
            {"cert": base64.b64encode(b"not a certificate").decode()},
            {"cert": "@@@@"},                                      # taken as raw bytes
            {"cert": base64.b64encode(der["bare"][:-10]).decode()},  # cut short
            {"cert": pem["bare"]},                                 # PEM with its header lines
            {"cert": pem["gost256"].replace("\n", "\r\n")},
            {"cert": "\n".join(textwrap.wrap(base64.b64encode(der["second"]).decode(), 64))},  # bare, in lines
            {"cert": {"nested": "object"}},
        ]
        cls.answers = ask(requests)
        cls.by_name = dict(zip(cls.names, cls.answers))
        cls.failures = cls.answers[len(cls.names):]

    @classmethod
    def tearDownClass(cls):
        cls.certs.close()

    @staticmethod
    def pem(der):
        body = "\n".join(textwrap.wrap(base64.b64encode(der).decode(), 64))
        return "-----BEGIN CERTIFICATE-----\n%s\n-----END CERTIFICATE-----\n" % body

    def certificate(self, name):
        answer = self.by_name[name]
        self.assertEqual(answer["response"], "success", answer)
        self.assertEqual(list(answer["result"]), ["certificate"])  # no "valid" key
        return answer["result"]["certificate"]

    def subject_key_id(self, name):
        text = openssl("x509", "-inform", "DER", "-noout", "-ext", "subjectKeyIdentifier", input_bytes=self.certs.der[name])
        lines = text.splitlines()
        return lines[1].strip().replace(":", " ").lower() if len(lines) > 1 else ""

    def test_renders_each_certificate_as_expected(self):
        for name in self.names:
            with self.subTest(name):
                version, serial, names, algorithm, extensions, signature = EXPECTED[name]
                c = self.certificate(name)
                has_extensions = bool(extensions)
                self.assertEqual(list(c), CERTIFICATE_KEYS)
                self.assertEqual(c["version"], version)
                self.assertEqual(c["serial-number"], serial)
                rdn = [{"oid": o, "name": n, "value": v} for o, n, v in names]
                for key in ("issuer", "subject"):
                    self.assertEqual(c[key], {"rdn": rdn})
                    self.assertEqual([list(e) for e in c[key]["rdn"]], [["oid", "name", "value"]] * len(names))
                self.assertEqual(c["validity"], {"notBefore": "5 марта 2024 г. 07:08:09 UTC",
                                                 "notAfter": "5 марта 2034 г. 07:08:09 UTC"})
                info = c["subject-public-key-info"]
                self.assertEqual(list(info), ["public-key-algorithm", "value", "unused-bits"])
                self.assertEqual(info["public-key-algorithm"],
                                 {"oid": algorithm[0], "name": algorithm[1], "parameters": algorithm[2]})
                self.assertEqual(info["unused-bits"], "0")
                ski = self.subject_key_id(name)
                want = [{"order": str(i + 1), "oid": o, "critical": crit, "name": n, "value": v.replace("{ski}", ski)}
                        for i, (o, crit, n, v) in enumerate(extensions)]
                # An empty list is written as the empty text by the answer writer.
                self.assertEqual(c["extensions"], want if has_extensions else "")
                self.assertEqual(c["signed-content"]["signature-algorithm"], {"oid": signature[0], "name": signature[1]})

    def test_agrees_with_openssl(self):
        for name in self.names:
            with self.subTest(name):
                der = self.certs.der[name]
                c = self.certificate(name)
                text = openssl("x509", "-inform", "DER", "-noout", "-serial", "-startdate", "-enddate", "-subject",
                               "-nameopt", "oid,utf8,sep_multiline", input_bytes=der)
                fields = dict(line.split("=", 1) for line in text.splitlines() if "=" in line and not line[0].isspace())
                # The DER integer's bytes, a leading zero byte of the sign included.
                self.assertEqual(int(c["serial-number"].replace(" ", ""), 16), int(fields["serial"], 16))
                self.assertEqual(c["validity"]["notBefore"], russian_date(fields["notBefore"]))
                self.assertEqual(c["validity"]["notAfter"], russian_date(fields["notAfter"]))
                # Names: OIDs and values in order, a string that starts with "#" too.
                openssl_names = [line.strip().split("=", 1) for line in text.splitlines() if line.startswith("    ")]
                ours = [(e["oid"], e["value"]) for e in c["subject"]["rdn"]]
                if "\n" not in "".join(v for _, v in ours):
                    self.assertEqual(ours, [tuple(pair) for pair in openssl_names])

                lines = asn1_lines(der)
                # The key: the TLV inside the subject public key's BIT STRING (depth 3).
                offset, _, header, length, _ = next(l for l in lines if l[1] == 3 and l[4] == "BIT STRING")
                key = der[offset + header + 1:offset + header + length]
                _, _, key_header, key_length, _ = asn1_lines(key)[0]
                content = key[key_header:key_header + key_length]
                head = "%02X%02X" % (key[0], key_length) if key_length < 256 else "%02X%04X" % (key[0], key_length)
                self.assertEqual(c["subject-public-key-info"]["value"], " ".join([head] + [pairs(content)] * bool(content)))
                # The signature: the last 64 bytes of the outer BIT STRING's content, last first.
                offset, _, header, length, _ = [l for l in lines if l[1] == 1][-1]
                signature = der[offset + header:offset + header + length][-64:][::-1]
                self.assertEqual(c["signed-content"]["signature-value"], pairs(signature) + " ")

    def test_gost_512_signature_shows_its_last_64_bytes_reversed(self):
        value = self.certificate("gost512")["signed-content"]["signature-value"]
        self.assertEqual(len(value.split()), 32)

    def test_failures_are_answered_in_band(self):
        no_cert, empty, not_cert, raw, cut, pem, crlf_pem, lines, nested = self.failures
        self.assertEqual(no_cert["result"], {"valid": "false", "error": "No such node (cert)"})
        for answer in (empty, not_cert, raw, cut, nested):
            self.assertEqual(answer["response"], "success")
            self.assertEqual(answer["result"], {"valid": "false", "error": READ_ERROR})
        self.assertEqual(list(no_cert["result"]), ["valid", "error"])
        # PEM with its header lines, and bare base64 broken into lines, read as the DER does.
        self.assertEqual(pem["result"], self.by_name["bare"]["result"])
        self.assertEqual(crlf_pem["result"], self.by_name["gost256"]["result"])
        self.assertEqual(lines["result"], self.by_name["second"]["result"])


if __name__ == "__main__":
    unittest.main()
