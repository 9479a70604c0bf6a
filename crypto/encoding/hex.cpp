#include "crypto/encoding/hex.h"

#include <cstring>
#include <iomanip>
#include <sstream>

namespace crypto {

std::string hex_encode(const byte_vector& data) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text(data.size() * 2, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        text[2 * i] = digits[data[i] >> 4];
        text[2 * i + 1] = digits[data[i] & 0x0F];
    }
    return text;
}

namespace {

// Digit value; any other character counts with its own code (no validation).
unsigned nibble(char c) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    return u;
}

}  // namespace

byte_vector hex_decode(const char* text) {
    const std::size_t n = text ? std::strlen(text) : 0;
    byte_vector out(n / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>((nibble(text[2 * i]) << 4) + nibble(text[2 * i + 1]));
    return out;
}

std::string format_hex32(std::int32_t value) {
    std::ostringstream stream;
    stream << "0x" << std::hex << std::uppercase << std::setfill('0') << std::setw(8)
           << static_cast<std::uint32_t>(value);
    return stream.str();
}

}  // namespace crypto
