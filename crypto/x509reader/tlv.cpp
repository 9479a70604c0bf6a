#include "crypto/x509reader/tlv.h"

namespace crypto::x509reader {

bool read_tlv_head(const std::uint8_t* data, std::size_t size, tlv_head& head)
{
    if (!data || size < 2)
        return false;
    const std::uint8_t first = data[1];
    std::size_t head_size = 2;
    std::uint32_t length = first;
    if (first == 0x80) {
        head = tlv_head{data[0], head_size, 0, true};
        return true;
    }
    if (first & 0x80) {
        // More than four length bytes cannot be held and never occur in a
        // certificate.
        const std::uint32_t length_bytes = first & 0x7F;
        if (length_bytes > 4 || size - head_size < length_bytes)
            return false;
        length = 0;
        for (std::uint32_t i = 0; i < length_bytes; ++i)
            length = length << 8 | data[head_size + i];
        head_size += length_bytes;
    }
    if (size - head_size < length)
        return false;
    head = tlv_head{data[0], head_size, length, false};
    return true;
}

bool read_tlv(const std::uint8_t* data, std::size_t size, tlv_record& record)
{
    tlv_head head;
    // The indefinite form, which DER does not allow, is unreadable here.
    if (!read_tlv_head(data, size, head) || head.indefinite)
        return false;
    record.tag = head.tag;
    record.length = head.length;
    record.length_bytes = static_cast<std::uint32_t>(head.head_size - 2);
    record.content.assign(data + head.head_size, data + head.head_size + head.length);
    record.size = head.head_size + head.length;
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
