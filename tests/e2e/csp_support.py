"""Shared pieces of the certificate and signing end-to-end tests: a Wine
prefix of their own, the test tool that makes certificates in it, requests
to the built host, and OpenSSL checks on the Linux side."""
import base64
import datetime
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from e2e_support import BUILD_DIR, HOST_EXE, kelvora_client
from kelvora_client import HostFailure, WatchedHost  # noqa: F401 (the fault rows' hosts)

WINE_RUN = os.path.join(BUILD_DIR, "wine-run")
CSP_TOOL = os.path.join(BUILD_DIR, "csp_test_tool.exe")
GOST_FIXTURE = os.path.join(BUILD_DIR, "gost_csp_fixture.exe")

BASE64_ERROR = "attempt to decode a value not in base64 char set"
NTE_BAD_KEYSET = 0x80090016
NTE_SILENT_CONTEXT = 0x80090022
SCARD_W_WRONG_CHV = 0x8010006B
SCARD_W_CANCELLED_BY_USER = 0x8010006E


class WinePrefix:
    """A copy of the build's pristine prefix, removed again by close()."""

    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="csp-e2e.", dir=BUILD_DIR)
        self.path = os.path.join(self.work, "prefix")
        subprocess.run([WINE_RUN, "--fresh-prefix", self.path], check=True, stdout=subprocess.DEVNULL)
        self.env = dict(os.environ, KELVORA_WINEPREFIX=self.path)

    def run(self, args, input_bytes=b"", extra_env=None, timeout=600):
        env = dict(self.env, **(extra_env or {}))
        return subprocess.run([WINE_RUN, *args], input=input_bytes, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=env, timeout=timeout)

    def close(self):
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=dict(os.environ, WINEPREFIX=self.path),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(self.work, ignore_errors=True)

    # --- the test tool -----------------------------------------------------

    def make_certs(self, specs):
        """Makes the certificates; returns (thumbprint, DER bytes) for each certificate specification."""
        done = self.run([CSP_TOOL, "make-certs"], json.dumps(specs).encode())
        if done.returncode != 0:
            raise RuntimeError("csp_test_tool make-certs: " + done.stderr.decode(errors="replace"))
        lines = [line.split() for line in done.stdout.decode().splitlines() if line.strip()]
        return [(thumb, base64.b64decode(der)) for thumb, der in lines]

    def error_text(self, code):
        """The text the plug-in reports for a system error code."""
        done = self.run([CSP_TOOL, "error-text", "%08X" % code])
        if done.returncode != 0:
            raise RuntimeError("csp_test_tool error-text failed")
        return done.stdout.decode("utf-8")

    # --- the GOST stand-in provider's fixture --------------------------------

    def gost(self, *args):
        """Runs gost_csp_fixture.exe; returns its output, raises on failure."""
        done = self.run([GOST_FIXTURE, *args])
        if done.returncode != 0:
            raise RuntimeError("gost_csp_fixture %s: %s" % (args[0], done.stderr.decode(errors="replace")))
        return done.stdout.decode()

    def gost_verifies(self, alg, container, hash_bytes, signature):
        """Whether the stand-in accepts a signature (as CryptSignHash writes it) of a hash."""
        done = self.run([GOST_FIXTURE, "verify", "--alg", alg, "--container", container, "--hash", hash_bytes.hex(),
                         "--signature", base64.b64encode(signature).decode()])
        return done.returncode == 0

    # --- the host ----------------------------------------------------------

    def ask(self, requests, extra_env=None):
        """Sends (type, arguments) pairs to one host process; returns the answers in order."""
        texts = [json.dumps({"type": kind, "id": str(n), "arguments": arguments})
                 for n, (kind, arguments) in enumerate(requests)]
        env = dict(self.env, **(extra_env or {}))
        run = kelvora_client.run_requests(texts, exe=HOST_EXE, env=env)
        answers = [json.loads(t) for t in run.texts()]
        if len(answers) != len(requests) or run.status != 0:
            raise RuntimeError("host answered %d of %d requests, exit status %d" % (len(answers), len(requests),
                                                                                   run.status))
        for n, answer in enumerate(answers):
            if answer["id"] != str(n):
                raise RuntimeError("answer out of order")
        return answers


def result(answer):
    if answer["response"] != "success":
        raise AssertionError("expected success, got " + json.dumps(answer))
    return answer.get("result")


def error(answer):
    if answer["response"] != "fail":
        raise AssertionError("expected fail, got " + json.dumps(answer))
    return answer["error"]


def answer_of(answer):
    """The result of a successful answer, ("fail", error) of a failed one."""
    if answer["response"] == "fail":
        return ("fail", answer["error"])
    return result(answer)


def b64(data):
    return base64.b64encode(data).decode()


EKU = ["1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"]


def request_args(container, subject="2.5.4.3=Test,2.5.4.6=RU", eku=EKU, export="1", **extra):
    """CreateRequest's arguments for a GOST R 34.10-2012 256-bit request to the first provider family."""
    digest = hashlib.sha1((subject + "".join(eku) + export).encode()).hexdigest()
    args = {"reader": "R0", "container": container, "subject_quoted": subject, "eku": eku,
            "cryptoStandart": "gost2012-256", "export": export, "hash_quoted": digest, "cryptoProvider": "cryptopro"}
    args.update(extra)
    return args


def sha1_hex(data):
    return hashlib.sha1(data).hexdigest().upper()


# --- OpenSSL on the Linux side -------------------------------------------------

def openssl(*args, input_bytes=None):
    return subprocess.run(["openssl", *args], input=input_bytes, stdout=subprocess.PIPE, stderr=subprocess.PIPE)


class Scratch:
    """A folder for the files OpenSSL reads."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="csp-openssl.")

    def file(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def public_key_pem(scratch, der):
    cert = scratch.file("cert.der", der)
    done = openssl("x509", "-inform", "DER", "-in", cert, "-pubkey", "-noout")
    if done.returncode != 0:
        raise AssertionError("openssl cannot read the certificate: " + done.stderr.decode())
    return scratch.file("pub.pem", done.stdout)


def openssl_verifies_signature(scratch, der, digest, data, cryptoapi_signature):
    """OpenSSL's verification of a CryptoAPI RSA signature (little-endian) over data."""
    pub = public_key_pem(scratch, der)
    sig = scratch.file("sig.bin", bytes(reversed(cryptoapi_signature)))
    msg = scratch.file("msg.bin", data)
    done = openssl("dgst", "-" + digest, "-verify", pub, "-signature", sig, msg)
    return done.returncode == 0


def openssl_cms_verify(scratch, der_message, content=None):
    """The content of a CMS message that OpenSSL verifies (signer certificate
    taken from the message, chain not checked), or None when it does not."""
    msg = scratch.file("cms.der", der_message)
    out = os.path.join(scratch.dir, "cms.out")
    args = ["cms", "-verify", "-noverify", "-binary", "-inform", "DER", "-in", msg, "-out", out]
    if content is not None:
        args += ["-content", scratch.file("content.bin", content)]
    if openssl(*args).returncode != 0:
        return None
    with open(out, "rb") as f:
        return f.read()


def openssl_cms_print(scratch, der_message):
    msg = scratch.file("cms.der", der_message)
    return openssl("cms", "-cmsout", "-print", "-inform", "DER", "-in", msg).stdout.decode(errors="replace")


def cms_signature(scratch, der_message):
    """The signature value of a CMS message's only signer (the last OCTET STRING)."""
    msg = scratch.file("cms.der", der_message)
    lines = openssl("asn1parse", "-inform", "DER", "-in", msg).stdout.decode().splitlines()
    octets = [line for line in lines if "prim: OCTET STRING" in line and "[HEX DUMP]:" in line]
    return bytes.fromhex(octets[-1].split("[HEX DUMP]:")[1].strip())


def openssl_x509_text(scratch, der, *options):
    cert = scratch.file("cert.der", der)
    return openssl("x509", "-inform", "DER", "-in", cert, "-noout", *options).stdout.decode(errors="replace")


class PrefixTests(unittest.TestCase):
    """A test class whose setUpClass makes cls.prefix (a WinePrefix) and
    cls.scratch (a Scratch); both are removed after its tests."""

    @classmethod
    def tearDownClass(cls):
        cls.scratch.close()
        cls.prefix.close()

    def ask(self, *requests, env=None):
        return self.prefix.ask(list(requests), extra_env=env)


def tlv(data, at=0):
    """(tag, contents start, contents end) of the DER value at an offset."""
    tag, length, pos = data[at], data[at + 1], at + 2
    if length & 0x80:
        count = length & 0x7F
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    return tag, pos, pos + length


def der_element(tag, content):
    """DER of one tag and its content."""
    n = len(content)
    if n < 0x80:
        return bytes([tag, n]) + content
    size = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(size)]) + size + content


class Element:
    """One DER element of a certificate as a tree, to make altered copies: a
    primitive keeps its content, a constructed one its children; raw bytes,
    when set, are written as they are instead."""

    def __init__(self, tag, content=b"", children=None, raw=None):
        self.tag, self.content, self.children, self.raw = tag, content, children, raw
        self.indefinite = False

    @staticmethod
    def parse(data, walk_octets=False):
        """The elements of data; with walk_octets, an OCTET STRING holding
        exactly one DER element (an extension value) gets it as a child."""
        out, at = [], 0
        while at < len(data):
            tag, start, stop = tlv(data, at)
            if stop > len(data) or stop <= at:
                raise ValueError("not DER")
            content = data[start:stop]
            node = Element(tag, content)
            if tag & 0x20:
                node.children = Element.parse(content, walk_octets)
            elif tag == 0x04 and walk_octets:
                try:
                    inner = Element.parse(content, True)
                    if len(inner) == 1 and inner[0].encode() == content:
                        node.children = inner
                except (ValueError, IndexError):
                    pass
            out.append(node)
            at = stop
        return out

    def encode(self):
        if self.raw is not None:
            return self.raw
        if self.children is None:
            return der_element(self.tag, self.content)
        body = b"".join(child.encode() for child in self.children)
        return bytes([self.tag, 0x80]) + body + b"\0\0" if self.indefinite else der_element(self.tag, body)

    def copy(self):
        node = Element(self.tag, self.content, self.children and [c.copy() for c in self.children], self.raw)
        node.indefinite = self.indefinite
        return node


def certificate_parts(tree):
    """(TBSCertificate, its signature algorithm, subject public key info, index
    of the public key info among the TBSCertificate's children) of a parsed
    certificate."""
    tbs = tree.children[0]
    first = 1 if tbs.children[0].tag == 0xA0 else 0  # after the version, when there is one
    return tbs, tbs.children[first + 1], tbs.children[first + 5], first + 5


def oid_text(content):
    """Dotted text of an OBJECT IDENTIFIER's content."""
    arcs, value = [], 0
    for byte in content:
        value = value << 7 | byte & 0x7F
        if not byte & 0x80:
            arcs.append(value)
            value = 0
    first = min(arcs[0] // 40, 2)
    return ".".join(str(arc) for arc in [first, arcs[0] - 40 * first] + arcs[1:])


def emptied_bit_strings(der):
    """(copy, extension OID or None) for each BIT STRING of a certificate in
    document order, the last being the signature value: that BIT STRING
    emptied to its bare tag and a zero length, without its unused-bits octet,
    and every length around it written anew. The implicitly tagged ones count
    too: the issuer and subject unique identifiers ([1], [2]; an empty one is
    put after the public key info where the certificate has none) and the
    reasons ([1]) of each CRL distribution point. Extension values (OCTET
    STRINGs whose content is one DER element) are walked too."""
    tree = Element.parse(der, True)[0]
    tbs, _, _, key_info = certificate_parts(tree)
    present = {child.tag for child in tbs.children}
    for tag in (0x82, 0x81):
        if tag not in present:
            tbs.children.insert(key_info + 1, Element(tag, raw=b""))  # written only when emptied
    points = []  # the CRL distribution points

    def targets(node, oid):
        if node.tag == 0x03:
            yield node, oid
        children = node.children or []
        if node.tag == 0x30 and len(children) >= 2 and children[0].tag == 0x06 and children[-1].tag == 0x04:
            oid = oid_text(children[0].content)  # an extension
            if oid == "2.5.29.31" and children[-1].children:
                points.extend(children[-1].children[0].children or [])
        for child in children:
            if (node is tbs and child.tag in (0x81, 0x82)) or (child.tag == 0x81 and any(node is p for p in points)):
                yield child, oid
            else:
                yield from targets(child, oid)

    out = []
    for node, oid in list(targets(tree, None)):
        saved, node.raw = node.raw, bytes([node.tag, 0])
        out.append((tree.encode(), oid))
        node.raw = saved
    return out


class CertificateFields:
    """The parts of a parsed certificate that the altered copies change."""

    def __init__(self, tree):
        self.tbs, self.algorithm, self.key, at = certificate_parts(tree)
        self.issuer, self.subject = self.tbs.children[at - 3], self.tbs.children[at - 1]
        self.not_before, self.not_after = self.tbs.children[at - 2].children
        self.extensions = next((c.children[0].children for c in self.tbs.children if c.tag == 0xA3), None)

    def extension(self, oid):
        """The extension of an OID, added (not critical, empty) where the
        certificate lacks it."""
        if self.extensions is None:
            self.extensions = []
            self.tbs.children.append(Element(0xA3, children=[Element(0x30, children=self.extensions)]))
        found = [e for e in self.extensions if oid_text(e.children[0].content) == oid]
        if not found:
            found.append(Element(0x30, children=[Element(0x06, oid_content(oid)), Element(0x04)]))
            self.extensions.append(found[0])
        return found[0]


def oid_content(text):
    """The content of an OBJECT IDENTIFIER from its dotted text."""
    arcs = [int(arc) for arc in text.split(".")]
    out = b""
    for arc in [40 * arcs[0] + arcs[1]] + arcs[2:]:
        part = bytes([arc & 0x7F])
        while arc > 0x7F:
            arc >>= 7
            part = bytes([0x80 | arc & 0x7F]) + part
        out += part
    return out


def first_value(name):
    """The value of the first attribute of a Name."""
    return name.children[0].children[0].children[1]


def replaced(node, tag, content):
    node.tag, node.content, node.children = tag, content, None


def oid_changed(node, content):
    node.content = content(node.content)


def spliced(node, start, stop, *children):
    node.children[start:stop] = children


BMP_A = der_element(0x1E, b"A")  # a BMPString of one octet
# (form, change of CertificateFields) of the copies that break X.690's content rules.
CONTENT_RULE_BREAKS = [
    ("one-octet BMPString in the subject", lambda f: replaced(first_value(f.subject), 0x1E, b"A")),
    ("one-octet BMPString in the issuer", lambda f: replaced(first_value(f.issuer), 0x1E, b"A")),
    ("one-octet BMPString beside another value of an RDN", lambda f: f.subject.children[0].children.append(
        Element(0x30, raw=der_element(0x30, der_element(0x06, b"\x55\x04\x03") + BMP_A)))),
    ("empty OID as a name attribute type", lambda f: replaced(f.subject.children[0].children[0].children[0], 6, b"")),
    ("empty OID as the signature algorithm", lambda f: replaced(f.algorithm.children[0], 6, b"")),
    ("key algorithm OID with a subidentifier starting with 0x80",
     lambda f: oid_changed(f.key.children[0].children[0], lambda c: c[:1] + b"\x80" + c[1:])),
    ("issuer's attribute type OID whose last octet has the high bit", lambda f: oid_changed(
        f.issuer.children[0].children[0].children[0], lambda c: c[:-1] + bytes([c[-1] | 0x80]))),
    ("three-octet UniversalString in the subject", lambda f: replaced(first_value(f.subject), 0x1C, b"\0\0A")),
    ("two-octet BOOLEAN as the key algorithm's parameters",
     lambda f: spliced(f.key.children[0], 1, None, Element(0x01, b"\xff\xff"))),
    ("NULL with content as the signature algorithm's parameters",
     lambda f: spliced(f.algorithm, 1, None, Element(0x05, b"\0"))),
    ("empty INTEGER as the version", lambda f: replaced(f.tbs.children[0].children[0], 0x02, b"")),
]


def time_of(node):
    """The instant of a UTCTime or GeneralizedTime element in DER's form."""
    text = node.content.decode()
    return datetime.datetime.strptime(text, "%y%m%d%H%M%SZ" if node.tag == 0x17 else "%Y%m%d%H%M%SZ")


def retimed(node, tag, text):
    """The time element written as tag and the text text(its instant) makes."""
    replaced(node, tag, text(time_of(node)).encode())


def attribute(oid, value):
    """An AttributeTypeAndValue of a dotted OID and a value's DER."""
    return der_element(0x30, der_element(0x06, oid_content(oid)) + value)


def rdn(*attributes):
    return Element(0x31, raw=der_element(0x31, b"".join(attributes)))


def extension_value(fields, oid, value):
    """The value of the certificate's extension of the OID (added, not
    critical, last, where it has none)."""
    fields.extension(oid).children[-1] = Element(0x04, value)


def midnight_with_offset(day):
    """A day's midnight written with a zone offset of +23:59: the instant
    00:01 UTC of the day before, which the system's decoder reads as 23:59
    of the day, adding the offset where it should take it away."""
    return day.strftime("%y%m%d000000+2359")


def changed(der, change):
    """A copy of a certificate with change(CertificateFields) made."""
    tree = Element.parse(der)[0]
    change(CertificateFields(tree))
    return tree.encode()


def zone_offset_copy(der):
    """The certificate with its notAfter at 00:01 UTC yesterday, written as
    today's midnight with a zone offset of +23:59: the system's decoder,
    applying the offset with the wrong sign, reads it as valid until tonight."""
    today = datetime.datetime.now(datetime.timezone.utc)
    return changed(der, lambda f: retimed(f.not_after, 0x17, lambda _: midnight_with_offset(today)))


# A NUL inside a name value and an attribute after it: the known null-prefix spoof.
NUL_NAME = "Ivanov Ivan\0 (attacker)"
HIDDEN_ORG = attribute("2.5.4.10", der_element(0x0C, "Hidden Org".encode()))
NAME_WITH_NUL = der_element(0x30, der_element(0x31, attribute("2.5.4.3", der_element(0x16, NUL_NAME.encode()))) +
                            der_element(0x31, HIDDEN_ORG))
# (form, change of CertificateFields) of copies whose times are not in DER's
# form, or whose names hold a NUL character: the system's decoder reads them,
# but applies a zone offset with the wrong sign, takes a time without seconds,
# zone or both, and what it reads of a time up to its first unexpected
# character, and cuts a name at the NUL.
MISLEADING_FORMS = [
    ("notAfter at midnight with a zone offset of +23:59", lambda f: retimed(f.not_after, 0x17, midnight_with_offset)),
    ("notBefore at noon with a zone offset of -01:00",
     lambda f: retimed(f.not_before, 0x17, lambda t: t.strftime("%y%m%d120000-0100"))),
    ("notAfter without seconds", lambda f: retimed(f.not_after, 0x17, lambda t: t.strftime("%y%m%d%H%MZ"))),
    ("notAfter without a zone", lambda f: retimed(f.not_after, 0x17, lambda t: t.strftime("%y%m%d%H%M%S"))),
    ("notAfter without seconds or a zone", lambda f: retimed(f.not_after, 0x17, lambda t: t.strftime("%y%m%d%H%M"))),
    ("notBefore with one digit of seconds",
     lambda f: retimed(f.not_before, 0x17, lambda t: t.strftime("%y%m%d%H%M5Z"))),
    ("notAfter with text after its Z", lambda f: retimed(f.not_after, 0x17, lambda t: t.strftime("%y%m%d%H%M%SZ00"))),
    ("notAfter as a GeneralizedTime whose fraction ends in 0",
     lambda f: retimed(f.not_after, 0x18, lambda t: t.strftime("%Y%m%d%H%M%S.500Z"))),
    ("notAfter as a GeneralizedTime with a decimal comma",
     lambda f: retimed(f.not_after, 0x18, lambda t: t.strftime("%Y%m%d%H%M%S,125Z"))),
    ("notAfter as a GeneralizedTime at noon with a zone offset of +03:00",
     lambda f: retimed(f.not_after, 0x18, lambda t: t.strftime("%Y%m%d120000+0300"))),
    ("private key usage period with a zone offset", lambda f: extension_value(f, "2.5.29.16", der_element(
        0x30, der_element(0x80, b"20240305070809Z") + der_element(0x81, b"20340305100809+0300")))),
    ("NUL in the subject's first value, an attribute after it", lambda f: (
        replaced(first_value(f.subject), 0x16, NUL_NAME.encode()), f.subject.children.insert(1, rdn(HIDDEN_ORG)))),
    ("NUL in the issuer's first value, a BMPString",
     lambda f: replaced(first_value(f.issuer), 0x1E, NUL_NAME.encode("utf-16-be"))),
    ("NUL in a directory name of the alternative names", lambda f: extension_value(
        f, "2.5.29.17", der_element(0x30, der_element(0xA4, NAME_WITH_NUL)))),
    ("NUL in a DNS name of the alternative names", lambda f: extension_value(
        f, "2.5.29.17", der_element(0x30, der_element(0x82, b"kelvora.test\0.attacker.example")))),
    ("NUL in the URL of a CRL distribution point", lambda f: extension_value(
        f, "2.5.29.31", distribution_points(der_element(0x86, b"http://crl.kelvora.test/a.crl\0.attacker.example")))),
]


def hostile_certificates(der):
    """(name, bytes) of forms made from a certificate that reach the system's
    decoder unless the bytes are read whole as DER first: the bare
    TBSCertificate (the decoder takes it when the bytes are not a signed
    certificate) with an empty issuer or subject unique identifier; an
    algorithm identifier in the indefinite form whose parameters are a
    primitive of the indefinite length (NULL, OCTET STRING or [0]), as the
    TBSCertificate's signature algorithm or the key's, before an emptied
    public key; and the certificate and its signature algorithm in the
    indefinite form, with such parameters, before an emptied signature. And
    primitives that break X.690's content rules where the system's decoder
    takes them or hands them on (the certificate must have a version): a
    one-octet BMPString as a name value, also beside another value of its
    RDN; empty OBJECT IDENTIFIERs, one with a subidentifier starting with
    0x80 and one whose last octet promises more; a three-octet
    UniversalString, a two-octet BOOLEAN and a NULL with content as
    algorithm parameters, and an empty INTEGER as the version. And the
    MISLEADING_FORMS: times that are not in DER's form (zone offsets, no
    seconds or no zone, one digit of seconds, text after the Z, a fraction
    ending in 0 or after a comma, also in the private key usage period) and
    NUL characters in names (subject, issuer, a directory name, a DNS name,
    a distribution point's URL)."""
    tree = Element.parse(der)[0]
    out = []
    for tag, name in ((0x81, "issuer"), (0x82, "subject")):
        tbs, _, _, key_info = certificate_parts(tree.copy())
        tbs.children = [c for c in tbs.children if c.tag not in (0x81, 0x82)]
        tbs.children.insert(key_info + 1, Element(tag, raw=bytes([tag, 0])))
        out.append(("bare TBSCertificate, empty %s unique identifier" % name, tbs.encode()))
    for parameters in ("0580", "0480", "8080"):
        for place in ("signature", "key"):
            copy = tree.copy()
            tbs, signature, key, _ = certificate_parts(copy)
            algorithm = signature if place == "signature" else key.children[0]
            algorithm.indefinite = True
            algorithm.children[1:] = [Element(0, raw=bytes.fromhex(parameters + "0000"))]
            key.children[1].raw = b"\x03\x00"
            out.append(("%s algorithm parameters %s 80 00 00, emptied key" % (place, parameters[:2]), copy.encode()))
    copy = tree.copy()
    copy.indefinite = copy.children[1].indefinite = True
    copy.children[1].children[1:] = [Element(0, raw=bytes.fromhex("05800000"))]
    copy.children[2].raw = b"\x03\x00"
    out.append(("indefinite certificate, emptied signature", copy.encode()))
    out += [(form, changed(der, change)) for form, change in CONTENT_RULE_BREAKS + MISLEADING_FORMS]
    return out


CLIENT_AUTH = der_element(0x06, oid_content("1.3.6.1.5.5.7.3.2"))
DNS_NAME = der_element(0x82, b"example.org")
CRL_URL = der_element(0x86, b"http://crl.example.org/a.crl")


def named(value):
    """A Name of one attribute, the common name given as its value's DER."""
    return der_element(0x30, der_element(0x31, der_element(0x30, der_element(0x06, b"\x55\x04\x03") + value)))


def issuer_key_id(*issuer):
    """An authority key identifier with a key identifier, the given issuer
    general names and a serial number."""
    return der_element(0x30, der_element(0x80, b"\x01\x02\x03\x04") + der_element(0xA1, b"".join(issuer)) +
                       der_element(0x82, b"\x01"))


def after_registered_id(tag, text):
    """General names: a registeredID (1.2.3), then one name of the tag whose
    text hides two more, 12 and 16 bytes after the registeredID's start:
    where a decoder lands that steps over the registeredID by the size of
    what it decodes it to (in 32-bit and in 64-bit code)."""
    hidden = der_element(tag, b"--" + der_element(tag, text))
    return der_element(0x88, b"\x2a\x03") + der_element(tag, b"-" * 6 + hidden)


def distribution_points(*names):
    """CRL distribution points, each with a full name of the given general names."""
    return der_element(0x30, b"".join(der_element(0x30, der_element(0xA0, der_element(0xA0, n))) for n in names))


# (extension OID, form, value) of extension values that are DER element by
# element but that the system's decoder must not see.
UNREADABLE_EXTENSION_VALUES = [
    ("2.5.29.17", "directory name with a one-octet BMPString", der_element(0x30, der_element(0xA4, named(BMP_A)))),
    ("2.5.29.17", "primitive directory name with a one-octet BMPString",
     der_element(0x30, der_element(0x84, named(BMP_A)))),
    ("2.5.29.35", "issuer's directory name with a one-octet BMPString", issuer_key_id(der_element(0xA4, named(BMP_A)))),
    ("2.5.29.37", "empty OID after client authentication", der_element(0x30, CLIENT_AUTH + b"\x06\x00")),
    ("2.5.29.37", "indefinite length without an end", b"\x30\x80" + CLIENT_AUTH),
    ("2.5.29.37", "inner length past the value",
     der_element(0x30, CLIENT_AUTH + bytes.fromhex("0684000000082b060105"))),
    ("2.5.29.17", "registeredID before a DNS name", der_element(0x30, after_registered_id(0x82, b"hidden.example"))),
    ("2.5.29.31", "registeredID in a full name",
     distribution_points(after_registered_id(0x86, b"http://hidden.example.org/"), CRL_URL)),
    ("2.5.29.17", "an OCTET STRING for the sequence", der_element(0x04, DNS_NAME)),
    ("2.5.29.17", "a SET for the sequence", der_element(0x31, DNS_NAME)),
]
# The viewer's names of the extensions above, for those a copy adds.
EXTENSION_NAMES = {"2.5.29.17": "Дополнительное имя субъекта", "2.5.29.37": "Улучшенный ключ",
                   "2.5.29.31": "Точки распространения списков отзыва (CRL)",
                   "2.5.29.35": "Идентификатор ключа центра сертификатов"}


def unreadable_extension_values(der):
    """(name, copy, OID) for each of UNREADABLE_EXTENSION_VALUES: the
    certificate with that value for its extension of the OID, added (not
    critical, last) where it has none, every length around written anew.
    The certificate still reads; the viewer shows that extension's value as
    an empty text, and an enhanced key usage that does not read has no
    client authentication."""
    tree = Element.parse(der)[0]
    out = []
    for oid, form, value in UNREADABLE_EXTENSION_VALUES:
        copy = tree.copy()
        CertificateFields(copy).extension(oid).children[-1] = Element(0x04, value)
        out.append(("%s value: %s" % (oid, form), copy.encode(), oid))
    return out


def without_extension_value(rendered, oid):
    """A SerializeCertificate result with the value of its extension of the
    OID emptied; where it has none, with that extension added last, as
    unreadable_extension_values adds it."""
    out = json.loads(json.dumps(rendered))
    extensions = out["certificate"].setdefault("extensions", [])
    found = [e for e in extensions if e["oid"] == oid]
    if not found:
        found.append({"order": str(len(extensions) + 1), "oid": oid, "critical": "false",
                      "name": EXTENSION_NAMES[oid], "value": ""})
        extensions.append(found[0])
    found[0]["value"] = ""
    return out


def check_hostile_rows(test, ask, rows, sound_der):
    """Runs (name, (type, arguments), expected answer_of) rows in one host
    process through ask, each followed by a SerializeCertificate of a sound
    certificate: every row must give its answer, and every rendering must be
    the one a fresh process gives, as bytes that reach the decoder damage the
    heap before they end the host. ask raises unless the host ends by itself
    with status 0 after its input ends."""
    render = ("SerializeCertificate", {"cert": b64(sound_der)})
    (fresh,) = ask(render)
    answers = ask(*[request for _, row, _ in rows for request in (row, render)])
    for (name, _, expected), answer, rendered in zip(rows, answers[::2], answers[1::2]):
        with test.subTest(name):
            test.assertEqual(answer_of(answer), expected)
            test.assertEqual(answer_of(rendered), answer_of(fresh))


def with_extension_value(rendered, oid, value):
    """A SerializeCertificate result with the value text of its extension of
    the OID replaced; where it has none, with that extension added last."""
    out = without_extension_value(rendered, oid)
    next(e for e in out["certificate"]["extensions"] if e["oid"] == oid)["value"] = value
    return out


# Name values that are strings starting with "#", which the system's name
# text quotes: the viewer shows them as the strings they are.
MICROSOFT = "#0C094D6963726F736F6674"  # the hexadecimal TLV of a UTF8String "Microsoft"
SBERBANK = "#1E10" + "Сбербанк".encode("utf-16-be").hex().upper() + " (fake)"  # a BMPString's TLV and a tail
MICROSOFT_NAME = der_element(0x30, der_element(0x31, attribute("2.5.4.3", der_element(0x13, MICROSOFT.encode()))))
ORG = attribute("2.5.4.10", der_element(0x0C, b"Org"))


def renamed(part, value=None, org=False):
    """(rendering, maps) for a copy whose issuer or subject ("part") has value
    as its first value (if given) and, with org, O "Org" after its first
    attribute: rendering makes the SerializeCertificate result of the copy
    from the certificate's own, maps the changes of described. In a map, a
    later entry of the key O goes, as the first value of a key stays."""
    def rendering(rendered):
        out = json.loads(json.dumps(rendered))
        rdns = out["certificate"][part]["rdn"]
        if value is not None:
            rdns[0]["value"] = value
        if org:
            rdns.insert(1, {"oid": "2.5.4.10", "name": "O", "value": "Org"})
        return out

    def changed_map(key):
        def change(entries):
            (first, text), *rest = entries.items()
            if value is not None:
                text = value
            if org:
                rest = ([(key, "Org")] if key != first else []) + [(k, v) for k, v in rest if k != key]
            return dict([(first, text)] + rest)
        return change

    keys = {"subject": {"subject": "O", "raw_subject": "2.5.4.10"}, "issuer": {"issuer": "O"}}[part]
    return rendering, {name: changed_map(key) for name, key in keys.items()}


def described(description, der, **maps):
    """A certificate_description for the bytes der: the description of the
    certificate they were made from, its thumbprint der's, and the maps
    ("subject", "raw_subject", "issuer") changed by maps[key](map)."""
    out = json.loads(json.dumps(description))
    out["thumbprint"] = sha1_hex(der)
    for key, change in maps.items():
        out[key] = change(out[key])
    return out


def names_as_held(der):
    """(form, copy, rendering(rendered), description(description)) of copies
    of a certificate whose names the system's text shows in forms a viewer
    may take for something else: string values starting with "#" (subject,
    issuer, a directory name of the alternative names, the authority key
    identifier's issuer), and RDNs of two attributes, one of them holding
    " + ". rendering gives the SerializeCertificate result that the
    certificate's own result `rendered` becomes, description the
    certificate_description of the copy from the certificate's own."""
    forms = [
        ('PrintableString "%s" as the subject\'s first value' % MICROSOFT,
         lambda f: replaced(first_value(f.subject), 0x13, MICROSOFT.encode()), *renamed("subject", MICROSOFT)),
        ("UTF8String %r as the subject's first value" % SBERBANK,
         lambda f: replaced(first_value(f.subject), 0x0C, SBERBANK.encode()), *renamed("subject", SBERBANK)),
        ("PrintableString %r as the issuer's first value" % MICROSOFT,
         lambda f: replaced(first_value(f.issuer), 0x13, MICROSOFT.encode()), *renamed("issuer", MICROSOFT)),
        ("a directory name of the alternative names with %r" % MICROSOFT,
         lambda f: extension_value(f, "2.5.29.17", der_element(0x30, der_element(0xA4, MICROSOFT_NAME))),
         lambda r: with_extension_value(r, "2.5.29.17", "[1]Имя каталога: CN=%s " % MICROSOFT), {}),
        ("the authority key identifier's issuer with %r" % MICROSOFT,
         lambda f: extension_value(f, "2.5.29.35", der_element(0x30, der_element(0x80, b"\x01\x02\x03\x04") +
                                                               der_element(0xA1, der_element(0xA4, MICROSOFT_NAME)) +
                                                               der_element(0x82, b"\x01"))),
         lambda r: with_extension_value(
             r, "2.5.29.35",
             "Идентификатор ключа=01 02 03 04 Поставщик сертификата: CN=%s Серийный номер сертификата=01" % MICROSOFT),
         {}),
        ('the subject\'s first RDN with O "Org" after its value',
         lambda f: f.subject.children[0].children.append(Element(0x30, raw=ORG)), *renamed("subject", org=True)),
        ('the subject\'s first RDN: "Alice + Bob" and O "Org"',
         lambda f: (replaced(first_value(f.subject), 0x0C, b"Alice + Bob"),
                    f.subject.children[0].children.append(Element(0x30, raw=ORG))),
         *renamed("subject", "Alice + Bob", org=True)),
    ]
    out = []
    for form, change, rendering, maps in forms:
        encoded = changed(der, change)
        out.append((form, encoded, rendering, lambda d, der=encoded, maps=maps: described(d, der, **maps)))
    return out


def padded(der):
    """A certificate's bytes with seven zero bytes after its element, as a
    token may pad its value."""
    return der + bytes(7)


# --- a provider that answers the host's calls wrongly ---------------------------

FAULTS_VARIABLE = "KELVORA_GOST_CSP_FAULTS"
NTE_BAD_HASH = 0x80090002


class FaultRow:
    """One request asked while the test provider answers wrongly (faults: the
    lines of its faults file), then an honest request with the faults gone.
    expect and the honest expectation are an answer_of value or a test of
    (answer_of value, the honest answer of the same request asked before any
    fault). Without honest, the honest request is the row's own request and
    must get that honest answer again."""

    def __init__(self, name, faults, request, expect, honest=None):
        self.name, self.faults, self.request, self.expect, self.honest = name, faults, request, expect, honest


def same_as_honest(value, honest):
    """The honest answer again; that answer must be a success."""
    return value == honest and not (isinstance(honest, tuple) and honest[0] == "fail")


def meets(expectation, value, honest):
    return expectation(value, honest) if callable(expectation) else value == expectation


def run_fault_rows(start_host, faults_file, rows):
    """Runs the rows through hosts made by start_host() (a WatchedHost), one
    request at a time, writing each row's faults into faults_file. A row
    whose honest request is its own request first gets that request's honest
    answer (asked once, with no fault). A host that fails a row is ended and
    the next rows go on in a new one; the last must end by itself with status
    0 once its input ends. Returns (problems: (row name, text) pairs, the
    highest peak memory seen, in bytes)."""
    def write_faults(lines):
        with open(faults_file, "w") as f:
            f.write("".join(line + "\n" for line in lines))

    problems, peaks, honest = [], [], {}
    write_faults([])
    host = start_host()
    for row in rows:
        key = json.dumps(row.request, sort_keys=True)
        follow, follow_expect = (row.request, same_as_honest) if row.honest is None else row.honest
        try:
            if follow == row.request and key not in honest:
                honest[key] = answer_of(host.ask(*row.request))
            write_faults(row.faults)
            value = answer_of(host.ask(*row.request))
            if not meets(row.expect, value, honest.get(key)):
                problems.append((row.name, "answered %s" % json.dumps(value, ensure_ascii=False)[:300]))
            write_faults([])
            value = answer_of(host.ask(*follow))
            if not meets(follow_expect, value, honest.get(key)):
                problems.append((row.name, "then honestly answered %s" % json.dumps(value, ensure_ascii=False)[:300]))
        except HostFailure as e:
            problems.append((row.name, str(e)))
            peaks.append(host.highest)
            write_faults([])
            host = start_host()
    write_faults([])
    status = host.close()
    peaks.append(host.highest)
    if status != 0:
        problems.append(("the host's end", "exit status %s once its input ended" % status))
    if max(peaks) == 0:
        problems.append(("peak memory", "not measured: no Windows process of the host was found"))
    elif max(peaks) > host.bound:
        problems.append(("peak memory", "%d MiB, past the bound of %d MiB" % (max(peaks) >> 20, host.bound >> 20)))
    return problems, max(peaks)


def provider_fault_setup(gost):
    """Registers the test GOST provider (its first family as version 5.0) and
    makes what the fault rows use, through gost(*arguments), which runs its
    fixture and returns the output: certificates of the personal store
    (2012-256 with a PIN, 2001 on a reader, 2012-256 for Decrypt with a session
    key wrapped for it), and a certificate written nowhere yet for a
    container of its own."""
    gost("register", "--version1", "5.0")
    made = {name: gost("new-cert", "--alg", alg, "--container", "fault-" + name, *options).strip()
            for name, alg, options in (("g256", "2012-256", ["--pin", "1234"]), ("g2001", "2001", ["--reader"]),
                                       ("dec", "2012-256", []))}
    made["written"] = gost("new-cert", "--alg", "2012-256", "--container", "fault-written", "--no-store").strip()
    made["session"] = json.loads(gost("make-session-key", "--alg", "2012-256", "--container", "fault-dec",
                                      "--server-container", "fault-server"))
    return made


def raw_public_key(der):
    """The key bytes of a GOST certificate (the OCTET STRING in its BIT STRING)."""
    bits = certificate_parts(Element.parse(der)[0])[2].children[1].content
    _, start, end = tlv(bits, 1)
    return bits[start:end]


def in_band_failure(code, text):
    """The in-band answer of a request command's failure."""
    return {"valid": "0", "errorcode": "0x%08X" % (code & 0xFFFFFFFF), "error": text}


def failed_with(text):
    return lambda value, honest: value == ("fail", text)


def failed_with_code(code):
    """A failure carrying the system's text for the code (Wine may have none)."""
    return lambda value, honest: value[0] == "fail" and (
        value[1].endswith("Error code: 0x%08X" % code) or value[1] == "Unknown error")


def session_key_blob(value, honest):
    """A SIMPLEBLOB as long as the honest one (its UKM is new each time)."""
    return isinstance(value, str) and base64.b64decode(value)[:1] == b"\x01" and \
        len(value) == len(honest if isinstance(honest, str) else "")


def valid_request(value, honest):
    return isinstance(value, dict) and value.get("valid") == "1" and len(base64.b64decode(value["x509request"])) > 64


def without_readers(value, honest):
    return isinstance(honest, list) and value == [dict(entry, reader="") for entry in honest]


def provider_fault_rows(made):
    """The rows of a provider that answers the host's calls wrongly, for what
    provider_fault_setup made. Each hostile answer must be in-band or a
    failure, never a success with a bad output; sizes past 64 KiB must not be
    allocated, lists without an end must end, and the honest request after
    each row must get its honest answer in the same host."""
    g256 = {"thumbprint": made["g256"], "pin": "1234"}
    hashes = [b64(hashlib.sha256(bytes([n])).digest()) for n in range(3)]
    sign = ("SignHash", dict(g256, hash=hashes[0]))
    array = ("SignHashArray", dict(g256, hashes=[{"id": str(n), "hash": h} for n, h in enumerate(hashes)]))
    try_2001 = ("TryWithoutPin", {"thumbprint": made["g2001"]})
    cms = ("SignCms", {"data": b64(b"signed by a broken provider"), "detached": False, "thumbprint": made["g2001"]})
    providers = ("ProvidersList", {"algorithms": ["1.2.643.7.1.1.2.2"]})
    find = ("FindContainer", {"pkhash": b64(hashlib.sha1(raw_public_key(base64.b64decode(made["written"]))).digest())})
    listed = ("CertificatesList", {})
    write = ("WriteCertificate", {"container": "fault-written", "cert": made["written"], "install": "1"})
    decrypt = ("Decrypt", {"thumbprint": made["dec"], "encryptedKey": made["session"]["encryptedKey"],
                           "serverPublicKey": made["session"]["serverPublicKey"]})
    count = [0]

    def create(**changes):
        count[0] += 1
        return ("CreateRequest", request_args("fault-request-%d" % count[0], **changes))

    def request_row(name, faults, expect):
        return FaultRow(name, faults, create(), expect, honest=(create(), valid_request))

    too_long = "Invalid signature length: expected 64 bytes, got %d"
    own = in_band_failure(-1, "Ошибка создания запроса")
    return [
        # Each call is told the record's own size, whatever length came back.
        FaultRow("PP_ENUMALGS reports 64 KiB: ProvidersList", ["enum-algs-length 0x10000"], providers, same_as_honest),
        FaultRow("PP_ENUMALGS reports 64 KiB: FindContainer", ["enum-algs-length 0x10000"], find, same_as_honest),
        FaultRow("algorithm list without an end", ["enum-algs-endless 1"],
                 ("ProvidersList", {"algorithms": ["1.2.643.7.1.1.2.3"]}), same_as_honest),
        FaultRow("container list without an end: FindContainer", ["enum-containers-endless 1 80"], find,
                 same_as_honest),
        request_row("container list without an end: CreateRequest", ["enum-containers-endless 1 80"], valid_request),
        FaultRow("container list without an end: WriteCertificate", ["enum-containers-endless 1 80"],
                 ("WriteCertificate", {"container": "fault-missing", "cert": made["written"]}),
                 in_band_failure(-1, "Контейнер не найден")),
        # Sizes past the bound are not allocated.
        FaultRow("PP_NAME of 4 GiB: ProvidersList leaves that provider out", ["param-4-size 0xFFFFFFFF 81"],
                 providers, [{"type": "80", "name": "Kelvora Test GOST R 34.10-2012 (256) Provider"}]),
        FaultRow("PP_SMARTCARD_READER of 4 GiB: CertificatesList", ["param-43-size 0xFFFFFFFF"], listed,
                 without_readers),
        FaultRow("PP_UNIQUE_CONTAINER of 4 GiB: WriteCertificate install", ["param-36-size 0xFFFFFFFF"], write,
                 in_band_failure(-1, "")),
        FaultRow("PP_NAME of 4 GiB: WriteCertificate install", ["param-4-size 0xFFFFFFFF"], write,
                 in_band_failure(-1, "")),
        FaultRow("public-key blob of 4 GiB: FindContainer", ["export-6-size 0xFFFFFFFF"], find, ""),
        FaultRow("signature of 4 GiB: SignHash", ["signature-size 0xFFFFFFFF"], sign, failed_with(too_long % 0xFFFFFFFF)),
        FaultRow("signature of 4 GiB: SignHashArray", ["signature-size 0xFFFFFFFF"], array,
                 failed_with(too_long % 0xFFFFFFFF)),
        FaultRow("signature of 4 GiB: TryWithoutPin", ["signature-size 0xFFFFFFFF"], try_2001, {"valid": "false"}),
        request_row("signature of 4 GiB: CreateRequest", ["signature-size 0xFFFFFFFF"], own),
        request_row("parameter 109 of 4 GiB: CreateRequest", ["param-109-size 0xFFFFFFFF"], own),
        FaultRow("session-key blob of 4 GiB: Decrypt", ["export-1-size 0xFFFFFFFF"], decrypt,
                 failed_with("Invalid session key blob"), honest=(decrypt, session_key_blob)),
        # What a provider reports as written is taken only up to the buffer.
        FaultRow("signature reported as 2 GiB: SignHash", ["signature-written 0x7FFFFFF0"], sign, same_as_honest),
        FaultRow("signature reported as 2 GiB: SignHashArray", ["signature-written 0x7FFFFFF0"], array,
                 same_as_honest),
        request_row("signature reported as 2 GiB: CreateRequest", ["signature-written 0x7FFFFFF0"], valid_request),
        FaultRow("session-key blob reported as 2 GiB: Decrypt", ["export-1-written 0x7FFFFFF0"], decrypt,
                 session_key_blob, honest=(decrypt, session_key_blob)),
        # A signature must have its key's length; a session-key blob must not be empty.
        FaultRow("signature padded to twice its length: SignHash", ["signature-size double", "signature-written double"],
                 sign, failed_with(too_long % 128)),
        FaultRow("signature padded to twice its length: SignHashArray",
                 ["signature-size double", "signature-written double"], array, failed_with(too_long % 128)),
        FaultRow("signature padded to twice its length: SignCms",
                 ["signature-size double", "signature-written double"], cms, failed_with(too_long % 128)),
        FaultRow("signature padded to twice its length: TryWithoutPin",
                 ["signature-size double", "signature-written double"], try_2001, {"valid": "false"}),
        request_row("signature padded to twice its length: CreateRequest",
                    ["signature-size double", "signature-written double"], own),
        FaultRow("empty signature: SignHash", ["signature-written 0"], sign, failed_with(too_long % 0)),
        FaultRow("empty signature: SignHashArray", ["signature-written 0"], array, failed_with(too_long % 0)),
        FaultRow("empty signature: SignCms", ["signature-written 0"], cms, failed_with(too_long % 0)),
        request_row("empty signature: CreateRequest", ["signature-written 0"], own),
        FaultRow("empty session-key blob: Decrypt", ["export-1-written 0"], decrypt,
                 failed_with("Invalid session key blob"), honest=(decrypt, session_key_blob)),
        # A provider whose digest is longer than the hash value handed to it.
        FaultRow("hash of 64 bytes for a 32-byte algorithm: SignHash", ["hash-size 64"], sign,
                 failed_with_code(NTE_BAD_HASH)),
        FaultRow("hash of 64 bytes for a 32-byte algorithm: TryWithoutPin", ["hash-size 64"], try_2001,
                 {"valid": "false"}),
        FaultRow("hash of 4 GiB: SignHashArray", ["hash-size 0xFFFFFFFF"], array, failed_with_code(NTE_BAD_HASH)),
    ]
