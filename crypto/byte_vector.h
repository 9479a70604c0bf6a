#pragma once
#include <cstdint>
#include <vector>

namespace crypto {
// The system's type for every binary value: hashes, signatures, keys, DER data.
using byte_vector = std::vector<std::uint8_t>;
}  // namespace crypto
