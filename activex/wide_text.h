#pragma once
// Text conversions at the COM boundary, where strings are UTF-16 (BSTR).
#include <cstddef>
#include <string>

namespace activex {

// UTF-16 code units to UTF-8: a surrogate pair becomes one four-byte
// sequence, an unpaired surrogate U+FFFD, so the result is always valid
// UTF-8. Embedded NUL units are kept. Never fails except for lack of memory.
std::string utf16_to_utf8(const char16_t* text, std::size_t count);

// Well-formed UTF-8 to UTF-16 (code points above U+FFFF as surrogate pairs).
// Text that is not well-formed UTF-8 (stray or missing continuation bytes,
// overlong forms, encoded surrogates, values above U+10FFFF) throws
// std::range_error("bad conversion").
std::u16string utf8_to_utf16(const std::string& text);

}  // namespace activex
