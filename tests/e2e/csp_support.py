"""Shared pieces of the certificate and signing end-to-end tests: a Wine
prefix of their own, the test tool that makes certificates in it, requests
to the built host, and OpenSSL checks on the Linux side."""
import base64
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from e2e_support import BUILD_DIR, HOST_EXE, kelvora_client

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


def hostile_certificates(der):
    """(name, bytes) of forms made from a certificate that reach the system's
    decoder unless the bytes are read whole as DER first: the bare
    TBSCertificate (the decoder takes it when the bytes are not a signed
    certificate) with an empty issuer or subject unique identifier; an
    algorithm identifier in the indefinite form whose parameters are a
    primitive of the indefinite length (NULL, OCTET STRING or [0]), as the
    TBSCertificate's signature algorithm or the key's, before an emptied
    public key; and the certificate and its signature algorithm in the
    indefinite form, with such parameters, before an emptied signature."""
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
