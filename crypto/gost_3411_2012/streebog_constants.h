#pragma once
// Internal: the constants of GOST R 34.11-2012.
#include <cstdint>

namespace crypto::detail {

// The byte substitution pi.
extern const std::uint8_t streebog_pi[256];

// Rows of the matrix A of the linear transformation l, in the standard's
// order: input bit 63 (the most significant) selects row 0, bit 0 row 63.
extern const std::uint64_t streebog_a[64];

// The iteration constants C1..C12, each least significant word first.
extern const std::uint64_t streebog_c[12][8];

}  // namespace crypto::detail
