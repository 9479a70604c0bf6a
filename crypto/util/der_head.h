#pragma once
// Reads the head of one BER/DER element: the tag-and-length part in front of
// its content. The certificate check and the viewer's TLV reader build on it.
#include <cstddef>
#include <cstdint>

namespace crypto::util::der {

// A one-byte tag, how many bytes the head takes and the content length. The
// indefinite form (length byte 0x80) is reported as such, with length 0.
struct head {
    std::uint8_t tag = 0;
    std::size_t size = 0;
    std::uint32_t length = 0;
    bool indefinite = false;
};

// The head at the start of data. The long form of the length is read as
// X.690 has it: the low seven bits of the first length byte count the length
// bytes that follow (one to four here). False when the input ends before the
// head or before the content it announces, and for more than four length
// bytes, which cannot be held and never occur in a certificate.
bool read_head(const std::uint8_t* data, std::size_t size, head& out);

}  // namespace crypto::util::der
