// Conversions between UTF-8 and UTF-16 code units. Well-formed input converts
// exactly, a surrogate pair as one code point. Whatever cannot be converted
// (a byte that starts no sequence, a sequence cut short or ill-formed, an
// unpaired surrogate) becomes U+FFFD, one for each maximal ill-formed part,
// as Unicode recommends. No input is read past its terminator or its count.
#include <cstdint>
#include <cstring>

#include "crypto/encoding/text.h"

namespace crypto {
namespace {

constexpr char32_t replacement = 0xFFFD;

bool in_range(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// Decodes the sequence at s (which ends at a NUL byte) into cp and returns the
// number of bytes it used, at least 1. An ill-formed part gives U+FFFD and the
// length of that part; the byte that broke it is left for the next call.
std::size_t decode_utf8(const unsigned char* s, char32_t& cp) {
    const unsigned char lead = s[0];
    if (lead < 0x80) {
        cp = lead;
        return 1;
    }
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (in_range(lead, 0xC2, 0xDF)) {
        length = 2;
        cp = lead & 0x1F;
    } else if (in_range(lead, 0xE0, 0xEF)) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;       // no overlong forms
        else if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (in_range(lead, 0xF0, 0xF4)) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0) low = 0x90;        // no overlong forms
        else if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
        cp = replacement;  // a stray continuation byte, C0, C1 or F5..FF
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        // A NUL terminator is never a continuation byte, so this stops there.
        if (!in_range(s[i], i == 1 ? low : 0x80, i == 1 ? high : 0xBF)) {
            cp = replacement;
            return i;
        }
        cp = cp << 6 | (s[i] & 0x3F);
    }
    return length;
}

bool is_high_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

char* put_utf8(char* out, char32_t cp) {
    if (cp < 0x80) {
        *out++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *out++ = static_cast<char>(0xC0 | cp >> 6);
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *out++ = static_cast<char>(0xE0 | cp >> 12);
        *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *out++ = static_cast<char>(0xF0 | cp >> 18);
        *out++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

// Encodes count code units given by unit(i). Each unit needs at most three
// bytes and a pair needs four, so 3 * count + 1 bytes always suffice.
template <class Unit>
char* utf16_to_utf8(std::size_t count, Unit unit) {
    char* const result = new char[3 * count + 1];
    char* out = result;
    for (std::size_t i = 0; i < count; ++i) {
        char32_t u = unit(i);
        if (is_high_surrogate(u) && i + 1 < count && is_low_surrogate(unit(i + 1))) {
            u = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (is_high_surrogate(u) || is_low_surrogate(u)) {
            u = replacement;
        }
        out = put_utf8(out, u);
    }
    *out = '\0';
    return result;
}

}  // namespace

wide_char* utf8_to_wide(const char* text) {
    if (!text) return nullptr;
    const auto* in = reinterpret_cast<const unsigned char*>(text);
    // Every sequence of n bytes gives at most n code units.
    wide_char* const result = new wide_char[std::strlen(text) + 1];
    wide_char* out = result;
    while (*in) {
        char32_t cp;
        in += decode_utf8(in, cp);
        if (cp >= 0x10000) {
            *out++ = static_cast<wide_char>(0xD800 + ((cp - 0x10000) >> 10));
            *out++ = static_cast<wide_char>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            *out++ = static_cast<wide_char>(cp);
        }
    }
    *out = 0;
    return result;
}

char* wide_to_utf8(const wide_char* text, std::size_t count) {
    if (!text) return nullptr;
    if (count == 0) {
        while (text[count]) ++count;
    }
    return utf16_to_utf8(count, [text](std::size_t i) { return static_cast<char32_t>(text[i]); });
}

char* utf16be_to_utf8(const unsigned char* data, std::size_t count) {
    if (!data || count == 0) return nullptr;
    return utf16_to_utf8(count, [data](std::size_t i) { return static_cast<char32_t>(data[2 * i] << 8 | data[2 * i + 1]); });
}

char* duplicate_string(const char* text) {
    if (!text) return nullptr;
    const std::size_t size = std::strlen(text) + 1;
    char* const copy = new char[size];
    std::memcpy(copy, text, size);
    return copy;
}

}  // namespace crypto
