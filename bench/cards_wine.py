#!/usr/bin/env python3
"""FindContainer over 1,000 containers of the stand-in GOST provider and 100
public keys on stand-in tokens, and SmartcardList over 8 stand-in readers
(4 tokens, 4 probed cards), through one kelvora_messaging process under
wine64. Prints milliseconds per request; the host's start and the first
request of each row (module loading) are not counted. The stand-in provider
reads its whole state file at every CryptAcquireContext, so the CryptoAPI
scan grows with the square of the container count here; the 100-container
row shows the linear cost."""
import base64
import hashlib
import json
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
os.environ.setdefault("KELVORA_BUILD_DIR", os.path.join(ROOT, "build", "win64"))
os.environ.setdefault("KELVORA_SOURCE_DIR", ROOT)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from cards_support import ATR, Cards, container_line, public_key_blob  # noqa: E402
from pkcs11_support import RUTOKEN, slot  # noqa: E402

CONTAINERS, TOKEN_KEYS, SLOTS = 1000, 100, 4


def key(n):
    return hashlib.sha512(b"bench key %d" % n).digest()


def b64_sha1(data):
    return base64.b64encode(hashlib.sha1(data).digest()).decode()


def timed(session, kind, arguments, count):
    first = session.ask(kind, arguments)
    if first["response"] != "success" or first.get("result") == "":
        raise SystemExit("%s: unexpected answer %s" % (kind, first))
    start = time.perf_counter()
    for _ in range(count):
        session.ask(kind, arguments)
    return (time.perf_counter() - start) / count


def main():
    cards = Cards(gost=True)
    try:
        per_slot = TOKEN_KEYS // SLOTS
        modules = {RUTOKEN: {"slots": [
            slot("Bench Token %d" % s, [{"class": "public_key", "id": "k%d" % n,
                                          "value": base64.b64encode(key(10000 + n)).decode()}
                                         for n in range(s * per_slot, (s + 1) * per_slot)],
                 token={"serial": "B%07d" % s}) for s in range(SLOTS)]}}
        with open(cards.description_path, "w") as f:  # no call log: it would be timed too
            json.dump({"modules": modules}, f)
        script = [{"command": "00CA018A04", "reply": "102700009000"}, {"command": "00CA018108", "reply": "785634129000"}]
        readers = [{"name": "Bench Token %d" % s, "atr": ATR[4]} for s in range(SLOTS)]
        readers += [{"name": "Bench Rutoken S %d" % s, "atr": ATR[3], "script": script} for s in range(4)]
        cards.set_readers(readers)
        token_hit = {"pkhash": b64_sha1(key(10000 + TOKEN_KEYS - 1))}

        session = cards.session()
        print(f"{'SmartcardList, 8 readers (4 tokens, 4 probed)':58s} "
              f"{timed(session, 'SmartcardList', {}, 20) * 1000:9.1f} ms per request")
        print(f"{'FindContainer, 100 token keys, no container':58s} "
              f"{timed(session, 'FindContainer', token_hit, 5) * 1000:9.1f} ms per request")
        for containers, count in ((100, 3), (CONTAINERS, 1)):
            cards.set_containers([container_line("bench-container-%04d" % n, [(1, 0xAA46, bytes(32),
                                                                              public_key_blob(key(n)))])
                                  for n in range(containers)])
            hit = {"pkhash": b64_sha1(key(containers - 1))}
            label = "FindContainer, %d containers x 2 providers + 100 keys" % containers
            print(f"{label:58s} {timed(session, 'FindContainer', hit, count) * 1000:9.1f} ms per request")
        session.close()
    finally:
        cards.close()


if __name__ == "__main__":
    main()
