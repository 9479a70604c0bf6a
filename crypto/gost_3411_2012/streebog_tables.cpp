#include "crypto/gost_3411_2012/streebog_tables.h"

#include "crypto/gost_3411_2012/streebog_constants.h"

namespace crypto::detail {

namespace {

// Bit t of input byte i of a word is bit 8i + t, which selects row
// A[63 - 8i - t].
std::uint64_t l_of_byte(int byte_index, unsigned value)
{
    std::uint64_t out = 0;
    for (int t = 0; t < 8; ++t) {
        if ((value >> t) & 1u) out ^= streebog_a[63 - 8 * byte_index - t];
    }
    return out;
}

// The 8x8 bit matrix that takes input byte i of a word to its share of output
// byte j, laid out for the GF(2) affine instruction: byte 7 - s of the result
// is the mask of input bits that feed output bit s.
std::uint64_t byte_matrix(int j, int i)
{
    std::uint64_t matrix = 0;
    for (int s = 0; s < 8; ++s) {
        unsigned row = 0;
        for (int t = 0; t < 8; ++t) {
            if ((l_of_byte(i, 1u << t) >> (8 * j + s)) & 1u) row |= 1u << t;
        }
        matrix |= std::uint64_t{row} << (8 * (7 - s));
    }
    return matrix;
}

struct table_builder {
    streebog_tables tables;

    table_builder() : tables{}
    {
        for (int k = 0; k < 8; ++k) {
            for (unsigned x = 0; x < 256; ++x) tables.lps[k][x] = l_of_byte(k, streebog_pi[x]);
        }
        // Even r: lane j takes the matrix for input byte j ^ r. Odd r: the
        // vector code applies these before swapping neighbouring lanes, so
        // lane j holds the matrix that lane j ^ 1 needs.
        for (int r = 0; r < 8; ++r) {
            for (int j = 0; j < 8; ++j) {
                const int out = (r & 1) ? (j ^ 1) : j;
                tables.gf2_matrix[r][j] = byte_matrix(out, out ^ r);
            }
        }
    }
};

}  // namespace

const streebog_tables& streebog_shared_tables()
{
    // A function-local static is built exactly once even when several threads
    // arrive together; it has a trivial destructor and stays valid until the
    // process ends.
    static const table_builder built;
    return built.tables;
}

}  // namespace crypto::detail
