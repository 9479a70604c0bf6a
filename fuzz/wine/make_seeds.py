#!/usr/bin/env python3
"""Writes the seed certificates of the Wine certificate fuzzer into
fuzz/corpus/wine_certificate/ (they are kept in the tree; run this only to
make them anew, with new keys; names as arguments make only those).

Between them they carry every extension the viewer decodes (key usage,
extended key usage, key identifiers, the authority key identifier with the
issuer's directory name and serial, CRL distribution points, authority
information access, policies, the private key usage period, alternative names
with a directory name and DNS names, the Russian extensions and name
attributes), RSA and GOST R 34.10-2012 keys: the certificates of the viewer's
end-to-end tests (tests/e2e/viewer_certificates.py) but the one with a
20,000-byte name, and a small one whose alternative name holds one name of
every kind."""
import os
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
source = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, os.path.join(source, "tests", "e2e"))
import viewer_certificates  # noqa: E402

out = os.path.join(source, "fuzz", "corpus", "wine_certificate")
os.makedirs(out, exist_ok=True)

certificates = viewer_certificates.Certificates()
try:
    for name in ("full", "second", "bare", "gost256", "gost512"):
        if len(sys.argv) > 1 and name not in sys.argv[1:]:
            continue
        with open(os.path.join(out, name + ".der"), "wb") as f:
            f.write(certificates.der[name])
finally:
    certificates.close()

# The kinds of general name the system's decoder reads but the directory name
# (the "full" certificate has one): e-mail address, URI, IPv4 and IPv6
# addresses, registered ID and DNS name. (It does not read an other name: one
# would make the whole value fail to decode.)
with tempfile.TemporaryDirectory() as work:
    if len(sys.argv) > 1 and "alt_names" not in sys.argv[1:]:
        sys.exit(0)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:512", "-nodes", "-keyout", os.path.join(work, "key.pem"),
                    "-subj", "/CN=Kelvora names/O=Kelvora", "-days", "1", "-set_serial", "0x0a0b",
                    "-addext", "subjectAltName=email:a@kelvora.test,URI:http://kelvora.test/,IP:192.0.2.1,"
                               "IP:2001:db8::1,RID:1.2.643.100.5,DNS:kelvora.test",
                    "-addext", "extendedKeyUsage=clientAuth",
                    "-outform", "DER", "-out", os.path.join(out, "alt_names.der")],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
