#pragma once
#include <cstddef>
#include <string>

#include "crypto/byte_vector.h"

namespace crypto {

// Standard alphabet with "=" padding, no line breaks.
std::string base64_encode(const byte_vector& data);
std::string base64_encode(const void* data, std::size_t length);

// Trailing "=" are cut; an "=" inside the text counts as zero bits. A character
// outside the alphabet, or a cut length of 1 modulo 4, throws
// boost::archive::iterators::dataflow_exception
// ("attempt to decode a value not in base64 char set").
byte_vector base64_decode(const std::string& text);

}  // namespace crypto
