#include "crypto/x509reader/tlv.h"

#include "crypto/util/der_head.h"

namespace crypto::x509reader {

bool read_tlv(const std::uint8_t* data, std::size_t size, tlv_record& record)
{
    util::der::head head;
    // The indefinite form, which DER does not allow, is unreadable here.
    if (!util::der::read_head(data, size, head) || head.indefinite)
        return false;
    record.tag = head.tag;
    record.length = head.length;
    record.length_bytes = static_cast<std::uint32_t>(head.size - 2);
    record.content.assign(data + head.size, data + head.size + head.length);
    record.size = head.size + head.length;
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
