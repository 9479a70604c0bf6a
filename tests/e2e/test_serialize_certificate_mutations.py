"""A few thousand mutated certificates (bit flips, truncations, changed length
bytes) through SerializeCertificate in one host process under wine64: every
answer is valid UTF-8 JSON of the command's two forms, and the host keeps
answering to the end; and every BIT STRING emptied in turn, the forms that
walked around a looser check in front of the system's decoder, and extension
values that decoder must not see."""
import base64
import copy as copy_module
import json
import random
import unittest

from csp_support import (b64, check_hostile_rows, emptied_bit_strings, hostile_certificates, names_as_held, padded,
                         result, unreadable_extension_values, without_extension_value)
from e2e_support import run_requests
from viewer_certificates import Certificates

READ_ERROR = "Ошибка чтения сертификата"

COUNT_PER_CERTIFICATE = 1000


def length_offsets(der):
    """Offsets of the length bytes of the DER triples in der (walked loosely)."""
    offsets, stack = [], [(0, len(der))]
    while stack:
        at, end = stack.pop()
        while at + 2 <= end:
            offsets.append(at + 1)
            first = der[at + 1]
            head, length = 2, first
            if first & 0x80:
                n = first & 0x7F
                head += n
                length = int.from_bytes(der[at + 2:at + 2 + n], "big")
            if at + head + length > end:
                break
            if der[at] & 0x20:  # constructed: walk inside
                stack.append((at + head, at + head + length))
            at += head + length
    return offsets


def ask(*requests):
    """(type, arguments) pairs through one host process, which must answer
    each and end with status 0; the answers in order."""
    run = run_requests([json.dumps({"type": kind, "id": str(n), "arguments": arguments})
                        for n, (kind, arguments) in enumerate(requests)])
    answers = [json.loads(text) for text in run.texts()]
    if run.status != 0 or len(answers) != len(requests):
        raise AssertionError("host answered %d of %d, status %d" % (len(answers), len(requests), run.status))
    return answers


def mutations(der, count, rng):
    lengths = length_offsets(der)
    out = []
    for i in range(count):
        data = bytearray(der)
        kind = i % 4
        if kind == 0:  # flip one to four bits
            for _ in range(rng.randint(1, 4)):
                pos = rng.randrange(len(data))
                data[pos] ^= 1 << rng.randrange(8)
        elif kind == 1:  # cut short
            data = data[:rng.randrange(len(data))]
        elif kind == 2:  # a changed length byte
            pos = rng.choice(lengths)
            data[pos] = rng.choice([0x00, 0x01, 0x7F, 0x80, 0x81, 0x82, 0x84, 0x85, 0x89, 0xFF,
                                    (data[pos] + 1) & 0xFF, (data[pos] - 1) & 0xFF])
        else:  # a changed length byte and a bit flip in the same certificate
            data[rng.choice(lengths)] ^= 1 << rng.randrange(8)
            data[rng.randrange(len(data))] ^= 1 << rng.randrange(8)
        out.append(bytes(data))
    return out


class MutatedCertificates(unittest.TestCase):
    def test_every_answer_is_json_and_the_host_keeps_answering(self):
        certs = Certificates()
        try:
            rng = random.Random(20240305)
            inputs = []
            for name in ("full", "second", "gost512"):
                inputs += mutations(certs.der[name], COUNT_PER_CERTIFICATE, rng)
        finally:
            certs.close()
        requests = [json.dumps({"type": "SerializeCertificate", "id": str(n),
                                "arguments": {"cert": base64.b64encode(d).decode()}}) for n, d in enumerate(inputs)]
        requests.append(json.dumps({"type": "Version", "id": "last"}))
        run = run_requests(requests)
        self.assertEqual(run.status, 0)
        frames = run.frames()
        self.assertEqual(len(frames), len(requests))
        rendered = 0
        for n, frame in enumerate(frames[:-1]):
            answer = json.loads(frame.decode("utf-8"))  # strict: valid UTF-8 only
            self.assertEqual((answer["response"], answer["id"]), ("success", str(n)))
            result = answer["result"]
            if "certificate" in result:
                rendered += 1
                self.assertEqual(list(result), ["certificate"])
            else:
                self.assertEqual(result, {"valid": "false", "error": "Ошибка чтения сертификата"}, n)
        self.assertEqual(json.loads(frames[-1]), {"response": "success", "id": "last", "result": "2.1.0102"})
        # Many mutations still decode (a flipped bit inside a value): those render.
        self.assertGreater(rendered, len(inputs) // 10)
        print("%d mutated certificates, %d rendered" % (len(inputs), rendered))

    def test_each_bit_string_emptied_in_turn_and_forms_that_walk_around_a_loose_check(self):
        # A BIT STRING without its unused-bits octet, or bytes that are not
        # DER throughout, never reach the system's decoder: in the
        # certificate's own structure the certificate cannot be read; inside
        # an extension value only that extension's text is lost. After each,
        # the same process renders a sound certificate as a fresh one does.
        certs = Certificates()
        try:
            der = {name: certs.der[name] for name in ("full", "second", "gost512")}
        finally:
            certs.close()
        rendered = dict(zip(der, ask(*[("SerializeCertificate", {"cert": b64(d)}) for d in der.values()])))
        rows, in_extensions = [], set()
        for name, cert in der.items():
            for n, (copy, oid) in enumerate(emptied_bit_strings(cert)):
                expected = {"valid": "false", "error": READ_ERROR}
                if oid:
                    in_extensions.add((name, oid))
                    expected = copy_module.deepcopy(result(rendered[name]))
                    for extension in expected["certificate"]["extensions"]:
                        if extension["oid"] == oid:
                            extension["value"] = ""
                rows.append(("%s, BIT STRING %d emptied" % (name, n), ("SerializeCertificate", {"cert": b64(copy)}),
                             expected))
            rows += [("%s, %s" % (name, form), ("SerializeCertificate", {"cert": b64(copy)}),
                      {"valid": "false", "error": READ_ERROR}) for form, copy in hostile_certificates(cert)]
            # Extension values the decoder must not see: only that value is
            # lost (the extension is added last where the certificate lacks it).
            rows += [("%s, %s" % (name, form), ("SerializeCertificate", {"cert": b64(copy)}),
                      without_extension_value(result(rendered[name]), oid))
                     for form, copy, oid in unreadable_extension_values(cert)]
            # Names as the certificate holds them, and bytes after its element
            # that are no part of it.
            rows += [("%s, %s" % (name, form), ("SerializeCertificate", {"cert": b64(copy)}),
                      rendering(result(rendered[name]))) for form, copy, rendering, _ in names_as_held(cert)]
            rows += [("%s, seven zero bytes after the element" % name,
                      ("SerializeCertificate", {"cert": b64(padded(cert))}), result(rendered[name]))]
        # The key usages, and the reasons of a CRL distribution point.
        self.assertEqual(in_extensions, {("full", "2.5.29.15"), ("full", "2.5.29.31"), ("second", "2.5.29.15"),
                                         ("gost512", "2.5.29.15")})
        check_hostile_rows(self, ask, rows, der["full"])


if __name__ == "__main__":
    unittest.main()
