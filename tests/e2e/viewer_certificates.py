"""Certificates for the SerializeCertificate tests, made with OpenSSL at test
time (RSA keys, and GOST keys through OpenSSL's GOST engine). Between them
they carry every extension the viewer names, name values of every string
type, and the odd cases of its hexadecimal forms."""
import os
import shutil
import subprocess
import tempfile

def der(tag, content):
    """DER of one tag and its content (short or long form length)."""
    n = len(content)
    if n < 0x80:
        head = bytes([tag, n])
    else:
        size = n.to_bytes((n.bit_length() + 7) // 8, "big")
        head = bytes([tag, 0x80 | len(size)]) + size
    return head + content


def utf8(text):
    return der(0x0C, text.encode("utf-8"))


def sequence(*parts):
    return der(0x30, b"".join(parts))


# Extension values that OpenSSL's configuration cannot spell (non-ASCII text,
# quotes, broken lengths), written as DER.
FOUR_TOOLS = sequence(utf8("Средство ЭП «Кельвора»"), utf8("Заключение № 1"), utf8("Средство УЦ"),
                      utf8("Заключение № 2"))
TWO_TOOLS = sequence(utf8('Tool "A"'), utf8("Back\\slash"))
RESTRICTED = sequence(sequence(utf8("http://lic.kelvora.test/l.txt"), utf8("Кельвора")))
SIGNING_TOOL = utf8('СКЗИ "Кельвора-CSP"')
LATIN1_TOOL = der(0x0C, b"Kelvora caf\xe9")
# [4] directory name (CN=Каталог as UTF8String, O=Kelvora), two DNS names, an e-mail address.
ALT_NAMES = sequence(
    der(0xA4, sequence(der(0x31, sequence(der(0x06, bytes.fromhex("550403")), utf8("Каталог"))),
                       der(0x31, sequence(der(0x06, bytes.fromhex("55040a")), utf8("Kelvora"))))),
    der(0x82, b"kelvora.test"), der(0x81, b"a@kelvora.test"), der(0x82, b"www.kelvora.test"))
BROKEN_TEMPLATE = bytes.fromhex("300506032a03")  # the outer length runs past the value

CONFIG = """
[ca]
default_ca = kelvora
[kelvora]
database = index.txt
new_certs_dir = .
serial = serial
default_md = {md}
policy = any
unique_subject = no
[any]
commonName = optional
[req]
distinguished_name = dn
string_mask = {mask}
utf8 = yes
[dn]
[full]
keyUsage = critical, digitalSignature, nonRepudiation, keyEncipherment, dataEncipherment
extendedKeyUsage = clientAuth, emailProtection, 1.2.643.2.2.34.6, 1.2.3.4.5
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always, issuer:always
crlDistributionPoints = URI:http://crl.kelvora.test/a.crl, second_point
authorityInfoAccess = OCSP;URI:http://ocsp.kelvora.test, caIssuers;URI:http://ca.kelvora.test/ca.crt
2.5.29.16 = DER:3022800f32303234303330353037303830395a810f32303235303330353037303830395a
certificatePolicies = 1.2.643.100.113.1, 1.2.643.100.113.2, 1.2.3.99
1.2.643.100.111 = DER:{signing_tool}
1.2.643.100.112 = critical, DER:{four_tools}
1.2.643.100.114 = ASN1:INTEGER:1
1.2.643.2.2.49.2 = DER:{restricted}
1.3.6.1.4.1.311.21.7 = ASN1:SEQUENCE:template
2.5.29.17 = DER:{alt_names}
1.2.3.4.99 = DER:0402abcd
[second]
keyUsage = digitalSignature, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always
1.2.643.100.111 = DER:{latin1_tool}
1.2.643.100.112 = DER:{two_tools}
1.2.643.100.114 = ASN1:INTEGER:7
1.3.6.1.4.1.311.21.7 = DER:{broken_template}
1.2.643.100.115 = DER:3003020105
[gost]
keyUsage = digitalSignature, nonRepudiation
1.2.643.100.114 = ASN1:INTEGER:3
subjectKeyIdentifier = hash
[none]
[second_point]
fullname = URI:http://crl2.kelvora.test/b.crl
reasons = keyCompromise, CACompromise
[template]
id = OID:1.2.643.3.227.1
major = INT:100
minor = INT:0
"""

# name: (key, subject for -subj, string mask, serial in hex, extension section)
SPECS = {
    # Cyrillic as BMPString (the default mask), NumericString INN/OGRN/SNILS,
    # a quote and a backslash, and a string value that begins with "#".
    "full": ("rsa", '/CN=Иван "Q" back\\\\slash/INN=007700000001/OGRN=1027700000001/SNILS=12345678901'
                    '/O=#0c024142', "default", "0102030405", "full"),
    # Cyrillic as UTF8String and a line feed in a value.
    "second": ("rsa", "/CN=Line\nfeed/O=ООО Кельвора/C=RU", "utf8only", "FF", "second"),
    # No extensions at all: a version 1 certificate.
    "bare": ("rsa", "/CN=Bare", "utf8only", "00", "none"),
    # A 20,000-byte subject value.
    "large": ("rsa", "/street=" + "z" * 20000, "utf8only", "0A", "none"),
    "gost256": ("gost2012_256", "/CN=ГОСТ 256/SNILS=98765432109", "utf8only", "4001", "gost"),
    "gost512": ("gost2012_512", "/CN=ГОСТ 512", "utf8only", "4002", "gost"),
}

KEY_OPTIONS = {
    "rsa": ["-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024"],
    "gost2012_256": ["-engine", "gost", "-algorithm", "gost2012_256", "-pkeyopt", "paramset:A"],
    "gost2012_512": ["-engine", "gost", "-algorithm", "gost2012_512", "-pkeyopt", "paramset:A"],
}
DIGESTS = {"rsa": "sha256", "gost2012_256": "md_gost12_256", "gost2012_512": "md_gost12_512"}


def openssl(*args, cwd=None, input_bytes=None):
    done = subprocess.run(["openssl", *args], cwd=cwd, input=input_bytes, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
    if done.returncode != 0:
        raise RuntimeError("openssl %s: %s" % (args[0], done.stderr.decode(errors="replace")))
    return done.stdout


def make_certificate(work, name):
    """Self-signed, valid from 5 March 2024 07:08:09 to 5 March 2034 07:08:09 UTC; returns DER bytes."""
    key_kind, subject, mask, serial, section = SPECS[name]
    folder = os.path.join(work, name)
    os.makedirs(folder)
    engine = ["-engine", "gost"] if key_kind != "rsa" else []
    with open(os.path.join(folder, "ca.cnf"), "w", encoding="utf-8") as f:
        f.write(CONFIG.format(md=DIGESTS[key_kind], mask=mask, signing_tool=SIGNING_TOOL.hex(),
                              four_tools=FOUR_TOOLS.hex(), two_tools=TWO_TOOLS.hex(), restricted=RESTRICTED.hex(),
                              alt_names=ALT_NAMES.hex(), latin1_tool=LATIN1_TOOL.hex(),
                              broken_template=BROKEN_TEMPLATE.hex()))
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write(serial + "\n")
    openssl("genpkey", *KEY_OPTIONS[key_kind], "-out", "key.pem", cwd=folder)
    openssl("req", *engine, "-new", "-key", "key.pem", "-config", "ca.cnf", "-utf8", "-subj", subject,
            "-out", "req.csr", cwd=folder)
    openssl("ca", *engine, "-config", "ca.cnf", "-selfsign", "-keyfile", "key.pem", "-in", "req.csr",
            "-startdate", "20240305070809Z", "-enddate", "20340305070809Z", "-preserveDN", "-extensions", section,
            "-extfile", "ca.cnf", "-batch", "-notext", "-out", "cert.pem", cwd=folder)
    return openssl("x509", *engine, "-in", "cert.pem", "-outform", "DER", cwd=folder)


class Certificates:
    """Every certificate of SPECS, made in a scratch folder removed by close()."""

    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="viewer-certs.")
        self.der = {name: make_certificate(self.work, name) for name in SPECS}

    def path(self, name, file="cert.pem"):
        return os.path.join(self.work, name, file)

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)
