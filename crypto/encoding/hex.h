#pragma once
#include <cstdint>
#include <string>

#include "crypto/byte_vector.h"

namespace crypto {

// Upper-case, high nibble first, no separators.
std::string hex_encode(const byte_vector& data);
// Pairs of characters up to the terminator; an odd last character is ignored.
// No validation: a character that is not a hex digit counts with its own code.
byte_vector hex_decode(const char* text);
// "0x" and eight upper-case hex digits; negative values as 32-bit two's complement.
std::string format_hex32(std::int32_t value);

}  // namespace crypto
