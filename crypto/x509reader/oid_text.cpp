#include <cstdint>
#include <string>

#include "crypto/x509reader/text_forms.h"

namespace crypto::x509reader {

std::string oid_to_text(const std::uint8_t* data, std::size_t size)
{
    if (!data || size == 0)
        return {};
    std::string text;
    std::uint64_t value = 0;
    bool first = true;
    bool pending = false;
    for (std::size_t i = 0; i < size; ++i) {
        if (value > (UINT64_MAX >> 7))
            return {};  // the arc would not fit 64 bits
        value = value << 7 | (data[i] & 0x7F);
        pending = true;
        if (data[i] & 0x80)
            continue;
        if (first) {
            // The first subidentifier holds the first two arcs.
            const std::uint64_t top = value < 40 ? 0 : value < 80 ? 1 : 2;
            text = std::to_string(top) + "." + std::to_string(value - 40 * top);
            first = false;
        } else {
            text += "." + std::to_string(value);
        }
        value = 0;
        pending = false;
    }
    return pending ? std::string() : text;
}

std::string oid_to_text(const byte_vector& content)
{
    return oid_to_text(content.data(), content.size());
}

}  // namespace crypto::x509reader
