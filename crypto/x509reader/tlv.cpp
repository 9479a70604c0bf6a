#include "crypto/x509reader/tlv.h"

namespace crypto::x509reader {

bool read_tlv(const std::uint8_t* data, std::size_t size, tlv_record& record)
{
    if (!data || size < 2)
        return false;
    const std::uint8_t first = data[1];
    std::size_t head = 2;
    std::uint32_t length = first;
    std::uint32_t length_bytes = 0;
    if (first & 0x80) {
        length_bytes = first & 0x7F;
        // 0 is the indefinite form, which DER does not allow; more than four
        // bytes cannot be held and never occur in a certificate.
        if (length_bytes == 0 || length_bytes > 4 || size - head < length_bytes)
            return false;
        length = 0;
        for (std::uint32_t i = 0; i < length_bytes; ++i)
            length = length << 8 | data[head + i];
        head += length_bytes;
    }
    if (size - head < length)
        return false;
    record.tag = data[0];
    record.length = length;
    record.length_bytes = length_bytes;
    record.content.assign(data + head, data + head + length);
    record.size = head + length;
    return true;
}

bool read_tlv(const byte_vector& data, tlv_record& record)
{
    return read_tlv(data.data(), data.size(), record);
}

bool tlv_sequence::next(tlv_record& record)
{
    if (position_ >= size_ || !read_tlv(data_ + position_, size_ - position_, record))
        return false;
    position_ += record.size;
    return true;
}

}  // namespace crypto::x509reader
