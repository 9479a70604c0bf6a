// g_N with the 8 x 256 lookup table: each output word of LPS is the XOR of
// eight table entries, entry k chosen by one byte of input word k (the
// transposition P is in that choice of bytes).
#include "crypto/gost_3411_2012/streebog_compress.h"
#include "crypto/gost_3411_2012/streebog_constants.h"
#include "crypto/gost_3411_2012/streebog_tables.h"

namespace crypto::detail {

namespace {

using lps_table = std::uint64_t[8][256];

// Byte i of word w.
#define KELVORA_SB_BYTE(w, i) static_cast<std::uint8_t>((w) >> (8 * (i)))

// Output word i of LPS(x0..x7).
#define KELVORA_SB_LPS_WORD(x, i)                                                        \
    (t[0][KELVORA_SB_BYTE(x##0, i)] ^ t[1][KELVORA_SB_BYTE(x##1, i)] ^                   \
     t[2][KELVORA_SB_BYTE(x##2, i)] ^ t[3][KELVORA_SB_BYTE(x##3, i)] ^                   \
     t[4][KELVORA_SB_BYTE(x##4, i)] ^ t[5][KELVORA_SB_BYTE(x##5, i)] ^                   \
     t[6][KELVORA_SB_BYTE(x##6, i)] ^ t[7][KELVORA_SB_BYTE(x##7, i)])

// out0..out7 = LPS(x0..x7)
#define KELVORA_SB_LPS(out, x)                 \
    do {                                       \
        out##0 = KELVORA_SB_LPS_WORD(x, 0);    \
        out##1 = KELVORA_SB_LPS_WORD(x, 1);    \
        out##2 = KELVORA_SB_LPS_WORD(x, 2);    \
        out##3 = KELVORA_SB_LPS_WORD(x, 3);    \
        out##4 = KELVORA_SB_LPS_WORD(x, 4);    \
        out##5 = KELVORA_SB_LPS_WORD(x, 5);    \
        out##6 = KELVORA_SB_LPS_WORD(x, 6);    \
        out##7 = KELVORA_SB_LPS_WORD(x, 7);    \
    } while (0)

// x = a ^ b, b being eight words named b0..b7 or an array.
#define KELVORA_SB_XOR(x, a, b0, b1, b2, b3, b4, b5, b6, b7) \
    do {                                                      \
        x##0 = a##0 ^ (b0);                                   \
        x##1 = a##1 ^ (b1);                                   \
        x##2 = a##2 ^ (b2);                                   \
        x##3 = a##3 ^ (b3);                                   \
        x##4 = a##4 ^ (b4);                                   \
        x##5 = a##5 ^ (b5);                                   \
        x##6 = a##6 ^ (b6);                                   \
        x##7 = a##7 ^ (b7);                                   \
    } while (0)

// One of the twelve rounds of E: the data takes the current key, then the key
// moves on with its iteration constant C[r].
#define KELVORA_SB_ROUND(r)                                                              \
    do {                                                                                 \
        KELVORA_SB_XOR(x, d, k0, k1, k2, k3, k4, k5, k6, k7);                            \
        KELVORA_SB_LPS(d, x);                                                            \
        const std::uint64_t* c = streebog_c[r];                                          \
        KELVORA_SB_XOR(x, k, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);            \
        KELVORA_SB_LPS(k, x);                                                            \
    } while (0)

// h = E(LPS(h ^ N), m) ^ h ^ m, every 512-bit value in eight local words so
// the compiler keeps them in registers.
void compress(const lps_table& t, std::uint64_t* h, const std::uint64_t* n, const std::uint64_t* m)
{
    std::uint64_t x0, x1, x2, x3, x4, x5, x6, x7;  // LPS input
    std::uint64_t k0, k1, k2, k3, k4, k5, k6, k7;  // key
    std::uint64_t d0, d1, d2, d3, d4, d5, d6, d7;  // data
    x0 = h[0] ^ n[0];
    x1 = h[1] ^ n[1];
    x2 = h[2] ^ n[2];
    x3 = h[3] ^ n[3];
    x4 = h[4] ^ n[4];
    x5 = h[5] ^ n[5];
    x6 = h[6] ^ n[6];
    x7 = h[7] ^ n[7];
    KELVORA_SB_LPS(k, x);
    d0 = m[0];
    d1 = m[1];
    d2 = m[2];
    d3 = m[3];
    d4 = m[4];
    d5 = m[5];
    d6 = m[6];
    d7 = m[7];
    KELVORA_SB_ROUND(0);
    KELVORA_SB_ROUND(1);
    KELVORA_SB_ROUND(2);
    KELVORA_SB_ROUND(3);
    KELVORA_SB_ROUND(4);
    KELVORA_SB_ROUND(5);
    KELVORA_SB_ROUND(6);
    KELVORA_SB_ROUND(7);
    KELVORA_SB_ROUND(8);
    KELVORA_SB_ROUND(9);
    KELVORA_SB_ROUND(10);
    KELVORA_SB_ROUND(11);
    h[0] ^= d0 ^ k0 ^ m[0];
    h[1] ^= d1 ^ k1 ^ m[1];
    h[2] ^= d2 ^ k2 ^ m[2];
    h[3] ^= d3 ^ k3 ^ m[3];
    h[4] ^= d4 ^ k4 ^ m[4];
    h[5] ^= d5 ^ k5 ^ m[5];
    h[6] ^= d6 ^ k6 ^ m[6];
    h[7] ^= d7 ^ k7 ^ m[7];
}

#undef KELVORA_SB_ROUND
#undef KELVORA_SB_XOR
#undef KELVORA_SB_LPS
#undef KELVORA_SB_LPS_WORD
#undef KELVORA_SB_BYTE

}  // namespace

void streebog_blocks_portable(std::uint64_t* h, std::uint64_t* n, std::uint64_t* sigma,
                              const std::uint8_t* blocks, std::size_t count)
{
    const lps_table& t = streebog_shared_tables().lps;
    for (; count != 0; --count, blocks += 64) {
        std::uint64_t m[8];
        for (int i = 0; i < 8; ++i) m[i] = streebog_load64(blocks + 8 * i);
        compress(t, h, n, m);
        streebog_add_small(n, 512);
        streebog_add512(sigma, m);
    }
}

void streebog_g(std::uint64_t* h, const std::uint64_t* n, const std::uint64_t* m)
{
    compress(streebog_shared_tables().lps, h, n, m);
}

}  // namespace crypto::detail
