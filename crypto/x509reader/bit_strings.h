#pragma once
// Checks the BIT STRINGs of DER bytes before the CryptoAPI decoder sees them.
// A BIT STRING starts with its count of unused bits (0 to 7); the system's
// decoder copies from an empty one as if that octet were there, reading and
// writing past its buffers. Certificates from a page, a token or a device,
// and the extension values the viewer decodes, are checked here first.
#include <cstddef>
#include <cstdint>

namespace crypto::x509reader {

// Each check is true unless the first DER element of data holds, at any
// depth, a BIT STRING that is empty, whose unused-bits octet is above 7 or
// that has the indefinite length, or nests deeper than any certificate does.
// What does not read as BER (a length past its parent, more than four length
// bytes) is skipped up to the end of the nearest enclosing element of known
// length, as the decoder can read no further into it either.

// A certificate: also its implicitly tagged issuer and subject unique
// identifiers ([1] and [2] of the TBSCertificate).
bool certificate_bit_strings_sound(const std::uint8_t* data, std::size_t size);

// An extension value of the given OID: also the reasons ([1]) of each CRL
// distribution point.
bool extension_bit_strings_sound(const char* oid, const std::uint8_t* data, std::size_t size);

}  // namespace crypto::x509reader
