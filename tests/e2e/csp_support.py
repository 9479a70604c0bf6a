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
        if len(answers) != len(requests):
            raise RuntimeError("host answered %d of %d requests" % (len(answers), len(requests)))
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


def emptied_bit_strings(der):
    """(copy, inside an extension value) for each BIT STRING of a certificate
    in document order (the last is the signature value): that BIT STRING
    emptied to 03 00, without its unused-bits octet, and every length around
    it written anew. Extension values (OCTET STRINGs whose content is one DER
    element) are walked too."""
    def parse(data, in_extension):
        nodes, at = [], 0
        while at < len(data):
            tag, start, stop = tlv(data, at)
            if stop > len(data) or stop <= at:
                raise ValueError("not DER")
            content = data[start:stop]
            children = None
            if tag & 0x20:
                children = parse(content, in_extension)
            elif tag == 0x04:
                try:
                    inner = parse(content, True)
                    if len(inner) == 1 and encode(inner, None) == content:
                        children = inner
                except (ValueError, IndexError):
                    pass
            nodes.append([tag, content, children, in_extension])
            at = stop
        return nodes

    def encode(nodes, target):
        out = b""
        for node in nodes:
            tag, content, children, _ = node
            if node is target:
                out += b"\x03\x00"
            elif children is not None:
                out += der_element(tag, encode(children, target))
            else:
                out += der_element(tag, content)
        return out

    def bit_strings(nodes):
        for node in nodes:
            if node[0] == 0x03:
                yield node
            if node[2] is not None:
                yield from bit_strings(node[2])

    tree = parse(der, False)
    return [(encode(tree, node), node[3]) for node in bit_strings(tree)]
