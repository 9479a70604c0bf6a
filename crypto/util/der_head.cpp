#include "crypto/util/der_head.h"

namespace crypto::util::der {

bool read_head(const std::uint8_t* data, std::size_t size, head& out)
{
    if (!data || size < 2)
        return false;
    const std::uint8_t first = data[1];
    if (first == 0x80) {
        out = head{data[0], 2, 0, true};
        return true;
    }
    std::size_t head_size = 2;
    std::uint32_t length = first;
    if (first & 0x80) {
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
    out = head{data[0], head_size, length, false};
    return true;
}

}  // namespace crypto::util::der
