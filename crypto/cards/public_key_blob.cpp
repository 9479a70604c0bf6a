#include "crypto/cards/container_search.h"

namespace crypto::cards {

byte_vector public_key_from_blob(const byte_vector& blob)
{
    constexpr std::size_t bit_length_offset = 12;
    constexpr std::size_t parameters_offset = 16;
    if (blob.size() < parameters_offset + 2)
        return {};
    const std::uint32_t bits = static_cast<std::uint32_t>(blob[bit_length_offset]) |
                               static_cast<std::uint32_t>(blob[bit_length_offset + 1]) << 8 |
                               static_cast<std::uint32_t>(blob[bit_length_offset + 2]) << 16 |
                               static_cast<std::uint32_t>(blob[bit_length_offset + 3]) << 24;
    const std::size_t start = parameters_offset + 2 + blob[parameters_offset + 1];
    const std::size_t size = bits / 8;
    if (start > blob.size() || blob.size() - start < size)
        return {};
    return byte_vector(blob.begin() + static_cast<std::ptrdiff_t>(start),
                       blob.begin() + static_cast<std::ptrdiff_t>(start + size));
}

}  // namespace crypto::cards
