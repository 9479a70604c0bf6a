#pragma once
#include <cstddef>
#include <cstdint>

#include "crypto/byte_vector.h"

namespace crypto::x509reader {

// One DER tag-length-value triple: a one-byte tag, the content length, how
// many bytes the long form of the length took (0 for the short form), and a
// copy of the content.
struct tlv_record {
    std::uint8_t tag = 0;
    std::uint32_t length = 0;
    std::uint32_t length_bytes = 0;
    byte_vector content;
    // Bytes the whole triple takes in its input (head and content).
    std::size_t size = 0;
};

// Reads the triple at the start of data. The long form of the length is read
// as X.690 has it: the low seven bits of the first length byte count the
// length bytes that follow (one to four here). False, and record left as it
// was, when the input ends before the head or the content, for the
// indefinite form, and for a length of more than four bytes: such a
// structure is unreadable.
bool read_tlv(const std::uint8_t* data, std::size_t size, tlv_record& record);
bool read_tlv(const byte_vector& data, tlv_record& record);

// The triples that follow one another in data, in order; reading stops at the
// first unreadable one.
class tlv_sequence {
public:
    tlv_sequence(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit tlv_sequence(const byte_vector& data) : data_(data.data()), size_(data.size()) {}
    bool next(tlv_record& record);
    bool at_end() const { return position_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

}  // namespace crypto::x509reader
