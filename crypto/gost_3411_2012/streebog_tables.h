#pragma once
// Internal: the process-wide lookup tables of GOST R 34.11-2012.
#include <cstdint>

namespace crypto::detail {

struct streebog_tables {
    // lps[k][x]: the linear transformation L applied to the 64-bit word that
    // holds pi(x) in byte k (k = 0 least significant) and zero elsewhere. One
    // output word of LPS is the XOR of eight entries, one per input word.
    std::uint64_t lps[8][256];

    // L split into 8x8 bit matrices for the GF(2) affine instruction of the
    // vector path: gf2_matrix[r][j] maps input byte j ^ r of a word to its
    // contribution to output byte j (odd r: see streebog_compress_avx512.cpp
    // for the lane order those rows are stored in).
    std::uint64_t gf2_matrix[8][8];
};

// The tables, built on the first call in a thread-safe way and kept, never
// freed, until the process ends.
const streebog_tables& streebog_shared_tables();

}  // namespace crypto::detail
