#pragma once
// Checks certificate bytes before the CryptoAPI decoder sees them. The
// system's decoder copies from a BIT STRING without its unused-bits octet as
// if that octet were there, reading and writing past its buffers; and it
// follows forms that DER does not have (indefinite lengths, elements it
// takes whole without reading them), where a looser check and the decoder
// part ways. So the check reads the first element of the bytes completely,
// as DER, and refuses whatever it cannot read that way. Certificates from a
// page, a token or a device, and the extension values the viewer decodes,
// are checked here first.
#include <cstddef>
#include <cstdint>

namespace crypto::util::der {

enum class check_result {
    sound,
    // The input, or an enclosing element, ends before an element does.
    ends_early,
    // Anything else that is not DER, or a BIT STRING the decoder cannot take.
    refused,
};

// Reads the first element of data, and inside it every element of the
// constructed form, at most 64 levels deep: one-byte tags, definite lengths
// of at most four bytes, each element exactly within its parent. Every BIT
// STRING must be primitive and hold its unused-bits octet (0 to 7). Bytes
// after the first element are not read, as the decoder does not read them.

// A certificate, signed or not (the decoder takes the bytes as a bare
// TBSCertificate when they do not read as a signed one): the issuer and
// subject unique identifiers ([1] and [2]) among the children of the first
// element and of its first child are BIT STRINGs too.
check_result check_certificate(const std::uint8_t* data, std::size_t size);

// An extension value of the given OID (null for none): for CRL distribution
// points the reasons ([1]) of each distribution point are BIT STRINGs too.
check_result check_extension(const char* oid, const std::uint8_t* data, std::size_t size);

}  // namespace crypto::util::der
