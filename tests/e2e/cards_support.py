"""Shared pieces of the smart-card and key-container tests: a Wine prefix with
the stand-in GOST provider registered, the stand-in PC/SC service
(tests/standins/winscard) loaded in place of Wine's, the stand-in token
modules, and one host process that is asked one request at a time, so that a
test may change the readers between requests."""
import json
import os
import struct
import subprocess

from e2e_support import BUILD_DIR, HOST_EXE, kelvora_client
from pkcs11_support import AX_CLIENT, Tokens

WINSCARD_STANDIN = os.path.join(BUILD_DIR, "winscard.dll")
WINSCARD_VARIABLE = "KELVORA_WINSCARD_STANDIN"
OVERRIDES = "mscoree,mshtml=;winscard=n"


def atr(text):
    """ATR bytes as hex from the table form "3b,d5,...": """
    return "".join(text.split(","))


ATR = {
    1: atr("3b,d5,18,00,81,31,fe,7d,80,73,c8,21,10,f4"),
    3: atr("3B,6F,00,FF,00,56,72,75,54,6F,6B,6E,73,30,20,00,00,90,00"),
    4: atr("3B,8B,01,52,75,74,6F,6B,65,6E,20,44,53,20,C1"),
    "4m": atr("3B,1A,96,72,75,74,6F,6B,65,6E,6D"),
    5: atr("3B,8B,01,52,75,74,6F,6B,65,6E,6C,69,74,65,C2"),
    6: atr("3b,dc,18,ff,81,11,fe,80,73,c8,21,13,66,01,06,01,30,80,01,8d"),
    7: atr("3b,dc,18,ff,81,91,fe,1f,c3,80,73,c8,21,13,66,01,06,11,59,00,01,28"),
    8: atr("3b,be,96,00,00,42,06,21,00,00,00,00,00,00,00,00,00,90,00"),
    9: atr("3b,be,18,00,00,42,06,11,00,00,00,00,00,00,00,00,00,90,00"),
    10: atr("3b,7c,95,00,00,45,53,4d,41,52,54,47,4f,53,54,31,30"),
    12: atr("3B,9E,96,00,80,31,C0,65,4D,53,00,45,53,72,F7,41,81,07"),
}


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Session:
    """One running host; ask() writes one request and waits for its answer."""

    def __init__(self, env):
        self.proc = subprocess.Popen(kelvora_client.host_command(HOST_EXE), stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
        self.count = 0

    def ask(self, kind, arguments=None):
        self.count += 1
        request = {"type": kind, "id": str(self.count)}
        if arguments is not None:
            request["arguments"] = arguments
        self.proc.stdin.write(kelvora_client.frame(json.dumps(request)))
        self.proc.stdin.flush()
        header = self.proc.stdout.read(4)
        if len(header) != 4:
            raise RuntimeError("the host ended without answering " + json.dumps(request))
        (length,) = struct.unpack("<I", header)
        answer = json.loads(self.proc.stdout.read(length).decode("utf-8"))
        if answer["id"] != str(self.count):
            raise RuntimeError("answer out of order")
        return answer

    def close(self):
        self.proc.stdin.close()
        status = self.proc.wait(timeout=120)
        self.proc.stdout.close()
        return status


class Cards(Tokens):
    """Tokens (the PKCS#11 stand-in and a fresh prefix) plus readers for the
    PC/SC stand-in and a container file for the GOST stand-in provider."""

    def __init__(self, gost=False):
        super().__init__()
        self.readers_path = os.path.join(self.dir, "readers.json")
        self.pcsc_log_path = os.path.join(self.dir, "pcsc.log")
        self.containers_path = os.path.join(self.dir, "containers.txt")
        self.set_readers([])
        self.install({})
        if gost:
            self.prefix.gost("register")

    def set_readers(self, readers, **service):
        with open(self.readers_path, "w") as f:
            json.dump(dict(service, log=self.pcsc_log_path, readers=readers), f, ensure_ascii=False)

    def set_containers(self, lines):
        with open(self.containers_path, "w") as f:
            f.write("".join(line + "\n" for line in lines))

    def pcsc_log(self, containing=""):
        if not os.path.exists(self.pcsc_log_path):
            return []
        with open(self.pcsc_log_path, "rb") as f:
            lines = f.read().decode("utf-8").splitlines()
        return [line for line in lines if containing in line]

    def clear_pcsc_log(self):
        open(self.pcsc_log_path, "w").close()

    def env(self):
        return dict(super().env(), WINEDLLOVERRIDES=OVERRIDES, **{
            WINSCARD_VARIABLE: self.readers_path, "KELVORA_GOST_CSP_STATE": windows_path(self.containers_path)})

    def session(self):
        return Session(dict(self.prefix.env, **self.env()))

    def ax(self, kind, arguments):
        """The control's answer to one request (the JSON text it returns)."""
        return self.run_ax_client("exit", {"type": kind, "id": "ax", "arguments": arguments})


def container_line(name, keys, reader=""):
    """A container of the GOST stand-in's state file; keys: (spec, alg,
    private key bytes, exported PUBLICKEYBLOB bytes or None)."""
    def hexed(data):
        return data.hex() if data else "-"
    parts = ["container", hexed(name.encode()), hexed(reader.encode()), "-"]
    for spec, alg, private, blob in keys:
        key = "%d:%d:%s:-" % (spec, alg, hexed(private))
        if blob is not None:
            key += ":" + hexed(blob)
        parts.append(key)
    return " ".join(parts)


def public_key_blob(key, alg=0x2E49, parameters=bytes.fromhex("300f06082a85030701010201" "0603") + b"\x2a\x85\x03",
                    bit_length=None):
    """A GOST PUBLICKEYBLOB: header, "MAG1", BitLen, DER parameters, the key."""
    bits = len(key) * 8 if bit_length is None else bit_length
    return (bytes([6, 0x20, 0, 0]) + struct.pack("<I", alg) + b"MAG1" + struct.pack("<I", bits) + parameters + key)
