#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
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

// The length base64_decode would give (throws as it does for a cut length of
// 1 modulo 4).
std::size_t base64_decoded_size(const std::string& text);

// The same bytes as base64_decode, handed to sink piece by piece in order,
// without holding the whole result. A bad character throws when its piece is
// reached, after the earlier pieces were handed over.
void base64_decode_each(const std::string& text, const std::function<void(const std::uint8_t*, std::size_t)>& sink);

}  // namespace crypto
