"""The test SKF library as the end-to-end tests and the 32-bit stage use it:
where it is installed, how its devices are described, and how to read back
what it signed. Its "signature" is the PKCS#1 type-1 block of what it was
given, XORed with a key stream of the container's path."""
import base64
import hashlib
import struct

LIBRARY_DIR = ("Program Files", "Kelvora", "skf")
LIBRARY_NAME = "skf.dll"
DESCRIPTION_VARIABLE = "KELVORA_SKF_STANDIN"
DIGEST_INFO_PREFIX = {
    32: bytes.fromhex("3031300d060960864801650304020105000420"),
    48: bytes.fromhex("3041300d060960864801650304020205000430"),
    64: bytes.fromhex("3051300d060960864801650304020305000440"),
}


def signed_data(path, signature):
    """What the test library signed, from a signature as the host returns it
    (reversed); None when the bytes are no type-1 block of that container."""
    block = bytearray(reversed(signature))
    stream = b""
    counter = 0
    while len(stream) < len(block):
        stream += hashlib.sha256(path.encode() + struct.pack(">I", counter)).digest()
        counter += 1
    block = bytes(b ^ s for b, s in zip(block, stream))
    if block[:2] != b"\x00\x01":
        return None
    rest = block[2:].lstrip(b"\xff")
    if len(block) - len(rest) < 10 or not rest.startswith(b"\x00"):
        return None
    return rest[1:]


def digest_info(hash_bytes):
    return DIGEST_INFO_PREFIX[len(hash_bytes)] + hash_bytes


def container_lines(name, der, extra=""):
    return "container %s\n%scertificate %s\n" % (name, extra, base64.b64encode(der).decode())
