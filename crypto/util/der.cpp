#include "crypto/util/der.h"

#include <algorithm>
#include <cstring>

namespace crypto {
namespace util {
namespace der {
namespace {

void put_base128(byte_vector& out, unsigned long long value)
{
    std::uint8_t digits[10];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<std::uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value);
    while (count > 1) out.push_back(static_cast<std::uint8_t>(digits[--count] | 0x80));
    out.push_back(digits[0]);
}

}  // namespace

void put_length(byte_vector& out, std::size_t length)
{
    if (length < 0x80) {
        out.push_back(static_cast<std::uint8_t>(length));
        return;
    }
    std::uint8_t digits[sizeof(std::size_t)];
    std::size_t count = 0;
    for (std::size_t rest = length; rest; rest >>= 8) digits[count++] = static_cast<std::uint8_t>(rest & 0xFF);
    out.push_back(static_cast<std::uint8_t>(0x80 | count));
    while (count) out.push_back(digits[--count]);
}

byte_vector tlv(std::uint8_t tag, const byte_vector& contents)
{
    byte_vector out;
    out.reserve(contents.size() + 6);
    out.push_back(tag);
    put_length(out, contents.size());
    out.insert(out.end(), contents.begin(), contents.end());
    return out;
}

byte_vector concat(const std::vector<byte_vector>& parts)
{
    byte_vector out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

byte_vector sequence_of(const std::vector<byte_vector>& items) { return tlv(sequence, concat(items)); }

byte_vector set_of(std::vector<byte_vector> items)
{
    std::sort(items.begin(), items.end(), [](const byte_vector& a, const byte_vector& b) {
        const std::size_t common = std::min(a.size(), b.size());
        const int order = common ? std::memcmp(a.data(), b.data(), common) : 0;
        return order < 0 || (order == 0 && a.size() < b.size());
    });
    return tlv(set, concat(items));
}

byte_vector integer(std::int32_t value)
{
    const auto bits_of = static_cast<std::uint32_t>(value);
    std::uint8_t bytes[4] = {static_cast<std::uint8_t>(bits_of >> 24), static_cast<std::uint8_t>(bits_of >> 16),
                             static_cast<std::uint8_t>(bits_of >> 8), static_cast<std::uint8_t>(bits_of)};
    std::size_t first = 0;
    // Drop leading bytes that only repeat the sign of the next one.
    while (first < 3 && ((bytes[first] == 0x00 && !(bytes[first + 1] & 0x80)) ||
                         (bytes[first] == 0xFF && (bytes[first + 1] & 0x80))))
        ++first;
    return tlv(integer_tag, byte_vector(bytes + first, bytes + 4));
}

bool object_id(const char* dotted, byte_vector& out)
{
    if (!dotted) return false;
    std::vector<unsigned long long> arcs;
    const char* p = dotted;
    while (true) {
        if (*p < '0' || *p > '9') return false;
        unsigned long long arc = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            arc = arc * 10 + static_cast<unsigned>(*p - '0');
            if (arc > 0xFFFFFFFFull) return false;
        }
        arcs.push_back(arc);
        if (!*p) break;
        if (*p != '.') return false;
        ++p;
    }
    if (arcs.size() < 2 || arcs[0] > 2 || (arcs[0] < 2 && arcs[1] > 39)) return false;
    byte_vector contents;
    put_base128(contents, arcs[0] * 40 + arcs[1]);
    for (std::size_t i = 2; i < arcs.size(); ++i) put_base128(contents, arcs[i]);
    out = tlv(object_identifier, contents);
    return true;
}

byte_vector bmp(const wide_char* text, std::size_t units)
{
    byte_vector contents;
    contents.reserve(units * 2);
    for (std::size_t i = 0; i < units; ++i) {
        contents.push_back(static_cast<std::uint8_t>(text[i] >> 8));
        contents.push_back(static_cast<std::uint8_t>(text[i] & 0xFF));
    }
    return tlv(bmp_string, contents);
}

byte_vector bits(const byte_vector& data, std::uint8_t unused_bits)
{
    byte_vector contents;
    contents.reserve(data.size() + 1);
    contents.push_back(unused_bits);
    contents.insert(contents.end(), data.begin(), data.end());
    return tlv(bit_string, contents);
}

}  // namespace der
}  // namespace util
}  // namespace crypto
