#pragma once
// Well-formed UTF-8 as Unicode defines it: no overlong forms, no encoded
// surrogates, nothing above U+10FFFF, no stray or missing continuation bytes.
#include <cstddef>
#include <string>

namespace messages {

// The length (1 to 4) of the well-formed sequence at the start of the bytes,
// or 0 when they do not begin with one. Then `invalid` is the length of the
// maximal part of a sequence that begins there (at least 1): the bytes that
// one U+FFFD stands for.
std::size_t utf8_sequence(const unsigned char* bytes, std::size_t available, std::size_t& invalid);

bool is_well_formed_utf8(const char* data, std::size_t size);
inline bool is_well_formed_utf8(const std::string& text) { return is_well_formed_utf8(text.data(), text.size()); }

// The UTF-8 of U+FFFD, written in place of bytes that are not UTF-8.
constexpr const char* replacement_character = "\xEF\xBF\xBD";

}  // namespace messages
