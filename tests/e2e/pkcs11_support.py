"""Shared pieces of the PKCS#11 end-to-end tests: token descriptions for the
stand-in module (tests/standins/pkcs11_token, installed beside the host under
the three vendor module names), its call log, test certificates, and the
stand-in's signature scheme."""
import base64
import hashlib
import json
import os
import shutil
import tempfile

from csp_support import WinePrefix
from e2e_support import BUILD_DIR

FIXTURE = os.path.join(BUILD_DIR, "pkcs11_token_fixture.exe")
AX_CLIENT = os.path.join(BUILD_DIR, "pkcs11_ax_client.exe")
STANDIN_VARIABLE = "KELVORA_PKCS11_STANDIN"

RUTOKEN, JACARTA, ESMART = "rtPKCS11ECP.dll", "jcPKCS11-2.dll", "isbc_pkcs11_main.dll"
CKM_GOSTR3410 = 0x1201
GOST_2012_512_SIGN = 0xD4321006

CLIENT_AUTH = "1.3.6.1.5.5.7.3.2"


def certificate(der, key_id, label="certificate"):
    return {"class": "certificate", "value": base64.b64encode(der).decode(), "id": key_id, "label": label}


def private_key(key_id):
    return {"class": "private_key", "id": key_id}


def slot(reader, objects, pin="12345678", **extra):
    node = {"description": reader, "pin": pin, "objects": objects}
    node.update(extra)
    return node


def standin_signature(mechanism, key_id, data):
    """What the stand-in token returns for a signature (its own byte order)."""
    size = 128 if mechanism in (0xD4321006, 0xD4321009) else 64
    out = b""
    block = 0
    while len(out) < size:
        out += hashlib.sha256(b"kelvora-pkcs11-standin" + mechanism.to_bytes(4, "big") + bytes([block]) +
                              key_id.encode() + data).digest()
        block += 1
    return out[:size]


class Tokens:
    """A fresh Wine prefix and a description file for the stand-in; the host
    sees the description through the environment."""

    def __init__(self):
        self.prefix = WinePrefix()
        self.dir = tempfile.mkdtemp(prefix="pkcs11-e2e.")
        self.description_path = os.path.join(self.dir, "tokens.json")
        self.log_path = os.path.join(self.dir, "calls.log")
        self.store_path = os.path.join(self.dir, "objects.txt")

    def close(self):
        self.prefix.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def install(self, modules):
        """modules: module file name -> {"slots": [...], "fail": ..., ...}.
        The tokens start without the objects earlier processes made."""
        with open(self.description_path, "w") as f:
            json.dump({"log": self.log_path, "store": self.store_path, "modules": modules}, f)
        open(self.store_path, "w").close()
        self.clear_log()

    def make_certs(self, specs, timeout=600):
        """(thumbprint, DER bytes) per certificate spec (see the stand-in's README)."""
        done = self.prefix.run([FIXTURE, "make-certs"], json.dumps(specs).encode(), timeout=timeout)
        if done.returncode != 0:
            raise RuntimeError("pkcs11_token_fixture: " + done.stderr.decode(errors="replace"))
        out = []
        for line in done.stdout.decode().splitlines():
            if line.strip():
                thumb, der = line.split()
                out.append((thumb, base64.b64decode(der)))
        return out

    def clear_log(self):
        open(self.log_path, "w").close()

    def log(self, containing=""):
        with open(self.log_path, "rb") as f:
            lines = f.read().decode("latin-1").splitlines()
        return [line for line in lines if containing in line]

    def env(self):
        return {STANDIN_VARIABLE: self.description_path}

    def ask(self, *requests, env=None):
        """Runs the requests in one host process."""
        return self.prefix.ask(list(requests), extra_env=dict(self.env(), **(env or {})))

    def run_ax_client(self, mode, request):
        done = self.prefix.run([AX_CLIENT, mode, json.dumps(request)], extra_env=self.env())
        if done.returncode != 0:
            raise RuntimeError("pkcs11_ax_client: " + done.stderr.decode(errors="replace"))
        return done.stdout.decode("utf-8")
