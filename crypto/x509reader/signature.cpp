#include <algorithm>

#include "crypto/x509reader/text_forms.h"
#include "crypto/x509reader/tlv.h"

namespace crypto::x509reader {

bool read_signature(const std::uint8_t* data, std::size_t size, signature_part& signature)
{
    // Certificate ::= SEQUENCE { tbsCertificate, signatureAlgorithm, signatureValue }
    tlv_record outer, signed_part, algorithm, value;
    if (!read_tlv(data, size, outer))
        return false;
    tlv_sequence elements(outer.content);
    if (!elements.next(signed_part) || outer.length <= signed_part.size)
        return false;
    if (!elements.next(algorithm) || elements.at_end() || !elements.next(value))
        return false;
    tlv_record oid;
    tlv_sequence algorithm_parts(algorithm.content);
    signature.oid = algorithm_parts.next(oid) ? oid_to_text(oid.content) : std::string();
    // The content starts with the unused-bits count; at most the last 64
    // bytes are shown, last byte first.
    const byte_vector& content = value.content;
    const std::size_t taken = std::min<std::size_t>(content.size(), 64);
    signature.reversed.assign(content.rbegin(), content.rbegin() + static_cast<std::ptrdiff_t>(taken));
    return true;
}

}  // namespace crypto::x509reader
