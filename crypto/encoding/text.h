#pragma once
#include <cstddef>

namespace crypto {

// A 16-bit code unit on every platform (wchar_t is 32 bits on Linux).
using wide_char = char16_t;

// The helpers below return new NUL-terminated arrays (free with delete[]) and
// null for "no text". They never read past their input, convert a surrogate
// pair as one code point and write U+FFFD for what cannot be converted.
wide_char* utf8_to_wide(const char* text);
// count 0 means: up to the terminator.
char* wide_to_utf8(const wide_char* text, std::size_t count);
// count code units (2 * count bytes) stored big-endian, as in an ASN.1
// BMPString; a null pointer or a count of 0 gives null.
char* utf16be_to_utf8(const unsigned char* data, std::size_t count);
char* duplicate_string(const char* text);
// "2024-03-05 07:08:09+03:00" -> "20240305070809+03:00"; malformed input or a
// field out of range gives null (the ranges are listed in compact_time.cpp).
char* to_compact_time(const char* text);

// Splits a wide text at a delimiter, keeping delimiters between quote
// characters inside the token. The quotes stay in the tokens.
class wide_tokenizer {
public:
    wide_tokenizer(const wide_char* text, const wide_char* delimiter, std::size_t skip, wide_char quote);
    ~wide_tokenizer();
    wide_tokenizer(const wide_tokenizer&) = delete;
    wide_tokenizer& operator=(const wide_tokenizer&) = delete;
    // The next token (inside the tokenizer's own copy), or null when none is left.
    const wide_char* next();

private:
    wide_char* text_;
    const wide_char* delimiter_;
    std::size_t skip_;
    wide_char quote_;
    wide_char* token_ = nullptr;
    bool inside_quotes_ = false;
    wide_char* position_ = nullptr;
};

}  // namespace crypto
