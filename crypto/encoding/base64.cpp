#include "crypto/encoding/base64.h"

#include <boost/archive/iterators/dataflow_exception.hpp>

namespace crypto {
namespace {

using boost::archive::iterators::dataflow_exception;

// The standard alphabet of RFC 4648.
constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The 6-bit value of each character as Boost's binary_from_base64 gives it:
// -1 for characters outside the alphabet (every byte of 0x80 and above among
// them), and 0 for "=", so an "=" inside the text decodes as zero bits. Built
// at compile time, so it is ready for callers during static initialisation.
struct decode_table {
    signed char value[256];
};

constexpr decode_table make_decode_table() {
    decode_table t{};
    for (auto& v : t.value) v = -1;
    for (int i = 0; i < 64; ++i) t.value[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    t.value[static_cast<unsigned char>('=')] = 0;
    return t;
}

constexpr decode_table table = make_decode_table();

// The same values pre-shifted to their place in a 24-bit group, one table per
// position; a character outside the alphabet sets bit 24, so one test per
// group finds it.
constexpr std::uint32_t bad_character_bit = 1u << 24;
struct group_tables {
    std::uint32_t at[4][256];
};

constexpr group_tables make_group_tables()
{
    group_tables t{};
    for (int position = 0; position < 4; ++position)
        for (int c = 0; c < 256; ++c) {
            const int v = table.value[c];
            t.at[position][c] = v < 0 ? bad_character_bit : static_cast<std::uint32_t>(v) << (18 - 6 * position);
        }
    return t;
}

constexpr group_tables groups = make_group_tables();

[[noreturn]] void throw_bad_character() {
    throw dataflow_exception(dataflow_exception::invalid_base64_character);
}

inline std::uint32_t sextet(unsigned char c) {
    const signed char v = table.value[c];
    if (v < 0) throw_bad_character();
    return static_cast<std::uint32_t>(v);
}

// The same characters as Boost's base64_from_binary over transform_width
// 8-to-6 followed by the padding, made by a table loop for speed on large
// documents.
std::string encode(const std::uint8_t* in, std::size_t n) {
    std::string text((n + 2) / 3 * 4, '=');
    char* out = &text[0];
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t group = std::uint32_t{in[i]} << 16 | std::uint32_t{in[i + 1]} << 8 | in[i + 2];
        *out++ = alphabet[group >> 18];
        *out++ = alphabet[group >> 12 & 0x3F];
        *out++ = alphabet[group >> 6 & 0x3F];
        *out++ = alphabet[group & 0x3F];
    }
    // The last group is completed with zero bits; "=" fills the rest.
    if (n - i == 1) {
        *out++ = alphabet[in[i] >> 2];
        *out++ = alphabet[(in[i] & 0x03) << 4];
    } else if (n - i == 2) {
        *out++ = alphabet[in[i] >> 2];
        *out++ = alphabet[(in[i] & 0x03) << 4 | in[i + 1] >> 4];
        *out++ = alphabet[(in[i + 1] & 0x0F) << 2];
    }
    return text;
}

}  // namespace

std::string base64_encode(const byte_vector& data) { return encode(data.data(), data.size()); }

std::string base64_encode(const void* data, std::size_t length) {
    return encode(static_cast<const std::uint8_t*>(data), length);
}

byte_vector base64_decode(const std::string& text) {
    // Cut the trailing "=" characters, unless the text holds nothing else.
    std::size_t length = text.size();
    const std::size_t last = text.find_last_not_of('=');
    if (last != std::string::npos) length = last + 1;

    // One character over a whole group cannot make a byte.
    if (length % 4 == 1) throw_bad_character();

    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    // Same result as Boost's transform_width 6-to-8 over binary_from_base64 on
    // the cut text, made by a table loop: the iterators are several times slower.
    byte_vector out((length / 4) * 3 + (length % 4 == 0 ? 0 : length % 4 - 1));
    std::uint8_t* o = out.data();

    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
        const std::uint32_t group = groups.at[0][in[i]] | groups.at[1][in[i + 1]] | groups.at[2][in[i + 2]] |
                                    groups.at[3][in[i + 3]];
        if (group & bad_character_bit)
            throw_bad_character();
        *o++ = static_cast<std::uint8_t>(group >> 16);
        *o++ = static_cast<std::uint8_t>(group >> 8);
        *o++ = static_cast<std::uint8_t>(group);
    }
    // A short last group: its unused low bits are dropped unchecked.
    if (length - i >= 2) {
        const std::uint32_t a = sextet(in[i]);
        const std::uint32_t b = sextet(in[i + 1]);
        *o++ = static_cast<std::uint8_t>(a << 2 | b >> 4);
        if (length - i == 3) *o++ = static_cast<std::uint8_t>(b << 4 | sextet(in[i + 2]) >> 2);
    }
    return out;
}

}  // namespace crypto
