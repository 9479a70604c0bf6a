"""Shared pieces of the PKCS#11 end-to-end tests: token descriptions for the
stand-in module (tests/standins/pkcs11_token, installed beside the host under
the three vendor module names), its call log, test certificates, and the
stand-in's signature scheme."""
import base64
import hashlib
import json
import os
import shutil
import subprocess
import tempfile

from csp_support import WINE_RUN, WinePrefix
from e2e_support import BUILD_DIR, HOST_EXE, ask_measured, kelvora_client

FIXTURE = os.path.join(BUILD_DIR, "pkcs11_token_fixture.exe")
AX_CLIENT = os.path.join(BUILD_DIR, "pkcs11_ax_client.exe")
CONTROL = os.path.join(BUILD_DIR, "kelvora_ax.dll")
STANDIN_MODULE = os.path.join(BUILD_DIR, "kelvora_test_pkcs11_token.dll")
STANDIN_VARIABLE = "KELVORA_PKCS11_STANDIN"

RUTOKEN, JACARTA, ESMART = "rtPKCS11ECP.dll", "jcPKCS11-2.dll", "isbc_pkcs11_main.dll"
CKM_GOSTR3410 = 0x1201
GOST_2012_512_SIGN = 0xD4321006

CLIENT_AUTH = "1.3.6.1.5.5.7.3.2"

# The entries of CK_FUNCTION_LIST that the host calls.
CALLED_ENTRIES = ["C_Initialize", "C_Finalize", "C_GetSlotList", "C_GetSlotInfo", "C_GetTokenInfo",
                  "C_GetMechanismList", "C_OpenSession", "C_CloseSession", "C_GetSessionInfo", "C_Login", "C_Logout",
                  "C_GetAttributeValue", "C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal", "C_SignInit",
                  "C_Sign", "C_GenerateKeyPair", "C_CreateObject"]
# Function lists of a module that must count as not loaded: an entry the host
# calls left NULL, a version other than 2, a list cut short after C_Initialize.
SHORT_LISTS = [{"null": [name]} for name in CALLED_ENTRIES] + [
    {"version": "3.0"}, {"version": "1.0"}, {"end_after": "C_Initialize"}]
# A count or size that a module reports as 0xFFFFFFFF: the pad_query amount
# that makes the true one (true_size) that.
ALL_ONES = 0xFFFFFFFF


def padded_to_all_ones(true_size):
    return ALL_ONES - true_size


# The most the x86_64 host may take (VmHWM, MiB) while it answers a module,
# device or reader that reports sizes and counts beyond any real one; it
# takes about 20 MiB for a plain request.
PEAK_BOUND_MIB = 128


def large_public_key_info(size):
    """A GOST R 34.10-2012 (256) SubjectPublicKeyInfo whose key is size zero
    bytes, for certificates of about that size."""
    def tlv(tag, content):
        n = len(content)
        head = bytes([n]) if n < 128 else bytes([0x80 | ((n.bit_length() + 7) // 8)]) + n.to_bytes(
            (n.bit_length() + 7) // 8, "big")
        return bytes([tag]) + head + content
    algorithm = tlv(0x30, bytes.fromhex("06082A85030701010101") + tlv(
        0x30, bytes.fromhex("06072A850302022301" "06082A85030701010202")))
    return tlv(0x30, algorithm + tlv(0x03, b"\x00" + tlv(0x04, bytes(size)))).hex()


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

    def ask_measured(self, *requests, env=None):
        """As ask, one request at a time; also the host's peak memory in MiB."""
        return ask_measured(list(requests), dict(self.prefix.env, **self.env(), **(env or {})))

    def run_placed(self, placement, programs, args, input_bytes=b"", path_entry=None):
        """Runs copies of programs (files of the build; the first is started
        with args) from a folder of their own, with the stand-in module under
        the names placement gives: "program" beside them, "current" in the
        folder that is the current directory, "path" in a folder on PATH (or
        path_entry in its place), "system" in the prefix's system folder.
        Returns the finished process."""
        work = tempfile.mkdtemp(dir=self.dir)
        folders = {place: os.path.join(work, place) for place in ("program", "current", "path")}
        folders["system"] = os.path.join(self.prefix.path, "drive_c", "windows", "system32")
        placed = []
        try:
            for folder in folders.values():
                os.makedirs(folder, exist_ok=True)
            for program in programs:
                shutil.copy(program, folders["program"])
            for place, names in placement.items():
                for name in names:
                    placed.append(os.path.join(folders[place], name))
                    shutil.copyfile(STANDIN_MODULE, placed[-1])
            path = path_entry or "Z:" + folders["path"].replace("/", "\\")
            env = dict(self.prefix.env, **self.env(), WINEPATH=path)
            started = os.path.join(folders["program"], os.path.basename(programs[0]))
            return subprocess.run([WINE_RUN, started, *args], input=input_bytes, stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, env=env, cwd=folders["current"], timeout=600)
        finally:
            for path in placed:
                os.remove(path)
            shutil.rmtree(work, ignore_errors=True)

    def ask_placed(self, placement, *requests, path_entry=None):
        """The answers of a copy of the host, placed as run_placed places it;
        it must answer each request and exit 0 by itself."""
        texts = [json.dumps({"type": kind, "id": str(n), "arguments": arguments})
                 for n, (kind, arguments) in enumerate(requests)]
        done = self.run_placed(placement, [HOST_EXE], [], b"".join(kelvora_client.frame(t) for t in texts),
                               path_entry)
        answers = [json.loads(t) for t in kelvora_client.HostRun(done.stdout, done.returncode).texts()]
        if len(answers) != len(requests) or done.returncode != 0:
            raise RuntimeError("host answered %d of %d requests, exit status %d" % (len(answers), len(requests),
                                                                                   done.returncode))
        return answers

    def ax_placed(self, placement, mode, request):
        """The control's answer text through a copy of its test client placed
        beside a copy of it, as run_placed places them."""
        done = self.run_placed(placement, [AX_CLIENT, CONTROL], [mode, json.dumps(request)])
        if done.returncode != 0:
            raise RuntimeError("pkcs11_ax_client exit status %d" % done.returncode)
        return done.stdout.decode("utf-8")
