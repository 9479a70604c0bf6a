#include "crypto/encoding/base64.h"

#include "crypto/cpu_features.h"
#include "crypto/encoding/base64_groups.h"

#include <algorithm>
#include <vector>

#include <boost/archive/iterators/dataflow_exception.hpp>

#include "crypto/buffer_sizes.h"

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

namespace {

// The text up to its last character that is not "=" (the whole text when it
// holds nothing else); one character over a whole group cannot make a byte.
std::size_t cut_length(const std::string& text)
{
    std::size_t length = text.size();
    const std::size_t last = text.find_last_not_of('=');
    if (last != std::string::npos)
        length = last + 1;
    if (length % 4 == 1)
        throw_bad_character();
    return length;
}

std::size_t decoded_size(std::size_t cut)
{
    return (cut / 4) * 3 + (cut % 4 == 0 ? 0 : cut % 4 - 1);
}

// A short last group of 2 or 3 characters: its unused low bits are dropped unchecked.
std::uint8_t* decode_tail(const unsigned char* in, std::size_t length, std::uint8_t* o)
{
    if (length >= 2) {
        const std::uint32_t a = sextet(in[0]);
        const std::uint32_t b = sextet(in[1]);
        *o++ = static_cast<std::uint8_t>(a << 2 | b >> 4);
        if (length == 3)
            *o++ = static_cast<std::uint8_t>(b << 4 | sextet(in[2]) >> 2);
    }
    return o;
}

}  // namespace

namespace detail {

// Same result as Boost's transform_width 6-to-8 over binary_from_base64, made
// by a table loop: the iterators are several times slower.
std::uint8_t* base64_decode_groups_portable(const unsigned char* in, std::size_t length, std::uint8_t* o)
{
    for (std::size_t i = 0; i < length; i += 4) {
        const std::uint32_t group = groups.at[0][in[i]] | groups.at[1][in[i + 1]] | groups.at[2][in[i + 2]] |
                                    groups.at[3][in[i + 3]];
        if (group & bad_character_bit)
            throw_bad_character();
        *o++ = static_cast<std::uint8_t>(group >> 16);
        *o++ = static_cast<std::uint8_t>(group >> 8);
        *o++ = static_cast<std::uint8_t>(group);
    }
    return o;
}

base64_group_decoder base64_group_decoder_selected()
{
    if (base64_decode_groups_avx2 && cpu_may_use(cpu_avx2))
        return base64_decode_groups_avx2;
    if (base64_decode_groups_ssse3 && cpu_may_use(cpu_ssse3))
        return base64_decode_groups_ssse3;
    return base64_decode_groups_portable;
}

}  // namespace detail

std::size_t base64_decoded_size(const std::string& text)
{
    return decoded_size(cut_length(text));
}

byte_vector base64_decode(const std::string& text)
{
    const std::size_t length = cut_length(text);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    byte_vector out(decoded_size(length));
    const std::size_t whole = length / 4 * 4;
    decode_tail(in + whole, length - whole, detail::base64_group_decoder_selected()(in, whole, out.data()));
    return out;
}

void base64_decode_each(const std::string& text, const std::function<void(const std::uint8_t*, std::size_t)>& sink)
{
    const std::size_t length = cut_length(text);
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    constexpr std::size_t piece_chars = buffer_sizes::base64_piece_bytes / 3 * 4;
    std::vector<std::uint8_t> piece(piece_chars / 4 * 3 + 2);
    const std::size_t whole = length / 4 * 4;
    const detail::base64_group_decoder decode_groups = detail::base64_group_decoder_selected();
    for (std::size_t offset = 0; offset < whole; offset += piece_chars) {
        const std::size_t n = std::min(piece_chars, whole - offset);
        const std::uint8_t* end = decode_groups(in + offset, n, piece.data());
        sink(piece.data(), static_cast<std::size_t>(end - piece.data()));
    }
    if (length > whole) {
        const std::uint8_t* end = decode_tail(in + whole, length - whole, piece.data());
        sink(piece.data(), static_cast<std::size_t>(end - piece.data()));
    }
}

}  // namespace crypto
