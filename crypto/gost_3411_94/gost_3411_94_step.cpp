// The step function of GOST R 34.11-94: key generation, four GOST 28147-89
// encryptions in simple mode, and the psi mixing. Every 256-bit value is
// little-endian: its 64-bit parts h1..h4 and its 16-bit words are numbered
// from the least significant end.
#include "crypto/gost_3411_94/gost_3411_94_step.h"

namespace crypto::detail {

namespace {

// id-GostR3411-94-CryptoProParamSet (RFC 4357): box K1 substitutes the least
// significant nibble of the round input, K8 the most significant.
constexpr std::uint8_t sbox[8][16] = {
    {10, 4, 5, 6, 8, 1, 3, 7, 13, 12, 14, 0, 9, 2, 11, 15},
    {5, 15, 4, 0, 2, 13, 11, 9, 1, 7, 6, 3, 12, 14, 10, 8},
    {7, 15, 12, 14, 9, 4, 1, 0, 3, 11, 5, 2, 6, 10, 8, 13},
    {4, 10, 7, 12, 0, 15, 2, 8, 14, 1, 6, 5, 13, 11, 9, 3},
    {7, 6, 4, 11, 9, 12, 2, 10, 1, 8, 0, 14, 15, 13, 3, 5},
    {7, 6, 2, 4, 13, 9, 15, 0, 10, 1, 5, 11, 8, 14, 12, 3},
    {13, 14, 4, 1, 7, 0, 5, 10, 3, 12, 8, 15, 6, 2, 9, 11},
    {1, 3, 10, 9, 5, 11, 4, 15, 8, 6, 7, 14, 13, 0, 2, 12},
};

// For each byte of the round input, both box outputs in their nibble
// positions, already rotated left by 11: a round is four lookups and three
// XORs.
struct round_tables {
    std::uint32_t t[4][256];
};

constexpr round_tables make_round_tables()
{
    round_tables r{};
    for (int b = 0; b < 4; ++b) {
        for (unsigned x = 0; x < 256; ++x) {
            const std::uint32_t v = (std::uint32_t{sbox[2 * b][x & 15u]} << (8 * b)) |
                                    (std::uint32_t{sbox[2 * b + 1][x >> 4]} << (8 * b + 4));
            r.t[b][x] = (v << 11) | (v >> 21);
        }
    }
    return r;
}

constexpr round_tables tables = make_round_tables();

inline std::uint32_t f(std::uint32_t x)
{
    return tables.t[0][x & 0xFFu] ^ tables.t[1][(x >> 8) & 0xFFu] ^ tables.t[2][(x >> 16) & 0xFFu] ^
           tables.t[3][x >> 24];
}

// The key transformation P: key word k takes byte k of each 64-bit part of w,
// the least significant part supplying its lowest byte.
inline void make_key(std::uint32_t* key, const std::uint64_t* w)
{
    for (int k = 0; k < 8; ++k) {
        const int shift = 8 * k;
        key[k] = static_cast<std::uint32_t>((w[0] >> shift) & 0xFFu) |
                 static_cast<std::uint32_t>(((w[1] >> shift) & 0xFFu) << 8) |
                 static_cast<std::uint32_t>(((w[2] >> shift) & 0xFFu) << 16) |
                 static_cast<std::uint32_t>(((w[3] >> shift) & 0xFFu) << 24);
    }
}

// C3 of the standard, least significant word first; C2 and C4 are zero.
constexpr std::uint64_t c3[4] = {0xff00ff00ff00ff00ull, 0x00ff00ff00ff00ffull, 0xff0000ff00ffff00ull,
                                 0xff00ffff000000ffull};

// The four keys K1..K4 from H (u) and M (v). A(y4|y3|y2|y1) = (y1^y2)|y4|y3|y2.
void generate_keys(std::uint32_t (*keys)[8], const std::uint64_t* h, const std::uint64_t* m)
{
    std::uint64_t u[4] = {h[0], h[1], h[2], h[3]};
    std::uint64_t v[4] = {m[0], m[1], m[2], m[3]};
    std::uint64_t w[4];
    for (int i = 0; i < 4; ++i) w[i] = u[i] ^ v[i];
    make_key(keys[0], w);
    for (int j = 1; j < 4; ++j) {
        const std::uint64_t u0 = u[0];
        u[0] = u[1];
        u[1] = u[2];
        u[2] = u[3];
        u[3] = u0 ^ u[0];
        if (j == 2) {
            for (int i = 0; i < 4; ++i) u[i] ^= c3[i];
        }
        // A applied twice.
        const std::uint64_t v0 = v[0], v1 = v[1];
        v[0] = v[2];
        v[1] = v[3];
        v[2] = v0 ^ v1;
        v[3] = v1 ^ v[0];
        for (int i = 0; i < 4; ++i) w[i] = u[i] ^ v[i];
        make_key(keys[j], w);
    }
}

// Two rounds of all four encryptions side by side: the four are independent,
// so the processor overlaps their lookups.
#define KELVORA_GOST94_ROUNDS(ka, kb)                 \
    do {                                              \
        b0 ^= f(a0 + keys[0][ka]);                    \
        b1 ^= f(a1 + keys[1][ka]);                    \
        b2 ^= f(a2 + keys[2][ka]);                    \
        b3 ^= f(a3 + keys[3][ka]);                    \
        a0 ^= f(b0 + keys[0][kb]);                    \
        a1 ^= f(b1 + keys[1][kb]);                    \
        a2 ^= f(b2 + keys[2][kb]);                    \
        a3 ^= f(b3 + keys[3][kb]);                    \
    } while (0)

// s_i = E(K_i, h_i) with GOST 28147-89 in simple mode: 32 rounds with key
// words 0..7 three times and 7..0 once; the low word of a block enters the
// first round.
void encrypt4(std::uint64_t* s, std::uint32_t (*keys)[8], const std::uint64_t* h)
{
    std::uint32_t a0 = static_cast<std::uint32_t>(h[0]), b0 = static_cast<std::uint32_t>(h[0] >> 32);
    std::uint32_t a1 = static_cast<std::uint32_t>(h[1]), b1 = static_cast<std::uint32_t>(h[1] >> 32);
    std::uint32_t a2 = static_cast<std::uint32_t>(h[2]), b2 = static_cast<std::uint32_t>(h[2] >> 32);
    std::uint32_t a3 = static_cast<std::uint32_t>(h[3]), b3 = static_cast<std::uint32_t>(h[3] >> 32);
    for (int pass = 0; pass < 3; ++pass) {
        KELVORA_GOST94_ROUNDS(0, 1);
        KELVORA_GOST94_ROUNDS(2, 3);
        KELVORA_GOST94_ROUNDS(4, 5);
        KELVORA_GOST94_ROUNDS(6, 7);
    }
    KELVORA_GOST94_ROUNDS(7, 6);
    KELVORA_GOST94_ROUNDS(5, 4);
    KELVORA_GOST94_ROUNDS(3, 2);
    KELVORA_GOST94_ROUNDS(1, 0);
    // The last round does not swap the halves.
    s[0] = b0 | (std::uint64_t{a0} << 32);
    s[1] = b1 | (std::uint64_t{a1} << 32);
    s[2] = b2 | (std::uint64_t{a2} << 32);
    s[3] = b3 | (std::uint64_t{a3} << 32);
}

#undef KELVORA_GOST94_ROUNDS

// psi(y16|..|y1) = (y1^y2^y3^y4^y13^y16)|y16|..|y2: psi^n of a value is the
// window [n, n + 16) of the sequence its words start and this recurrence
// continues.
inline std::uint32_t psi_next(const std::uint32_t* y)
{
    return y[0] ^ y[1] ^ y[2] ^ y[3] ^ y[12] ^ y[15];
}

// psi^61 with each output word written out as the XOR of the input words the
// recurrence above makes it from: a shallow tree instead of a chain of 61
// dependent steps.
inline void psi61(std::uint32_t* z, const std::uint32_t* y)
{
    z[0] = y[1] ^ y[3] ^ y[7] ^ y[10] ^ y[11] ^ y[13] ^ y[14] ^ y[15];
    z[1] = y[0] ^ y[1] ^ y[3] ^ y[4] ^ y[8] ^ y[11] ^ y[14];
    z[2] = y[1] ^ y[2] ^ y[4] ^ y[5] ^ y[9] ^ y[12] ^ y[15];
    z[3] = y[0] ^ y[1] ^ y[5] ^ y[6] ^ y[10] ^ y[12] ^ y[13] ^ y[15];
    z[4] = y[0] ^ y[3] ^ y[6] ^ y[7] ^ y[11] ^ y[12] ^ y[13] ^ y[14] ^ y[15];
    z[5] = y[0] ^ y[2] ^ y[3] ^ y[4] ^ y[7] ^ y[8] ^ y[13] ^ y[14];
    z[6] = y[1] ^ y[3] ^ y[4] ^ y[5] ^ y[8] ^ y[9] ^ y[14] ^ y[15];
    z[7] = y[0] ^ y[1] ^ y[3] ^ y[4] ^ y[5] ^ y[6] ^ y[9] ^ y[10] ^ y[12];
    z[8] = y[1] ^ y[2] ^ y[4] ^ y[5] ^ y[6] ^ y[7] ^ y[10] ^ y[11] ^ y[13];
    z[9] = y[2] ^ y[3] ^ y[5] ^ y[6] ^ y[7] ^ y[8] ^ y[11] ^ y[12] ^ y[14];
    z[10] = y[3] ^ y[4] ^ y[6] ^ y[7] ^ y[8] ^ y[9] ^ y[12] ^ y[13] ^ y[15];
    z[11] = y[0] ^ y[1] ^ y[2] ^ y[3] ^ y[4] ^ y[5] ^ y[7] ^ y[8] ^ y[9] ^ y[10] ^ y[12] ^ y[13] ^ y[14] ^ y[15];
    z[12] = y[0] ^ y[4] ^ y[5] ^ y[6] ^ y[8] ^ y[9] ^ y[10] ^ y[11] ^ y[12] ^ y[13] ^ y[14];
    z[13] = y[1] ^ y[5] ^ y[6] ^ y[7] ^ y[9] ^ y[10] ^ y[11] ^ y[12] ^ y[13] ^ y[14] ^ y[15];
    z[14] = y[0] ^ y[1] ^ y[3] ^ y[6] ^ y[7] ^ y[8] ^ y[10] ^ y[11] ^ y[13] ^ y[14];
    z[15] = y[1] ^ y[2] ^ y[4] ^ y[7] ^ y[8] ^ y[9] ^ y[11] ^ y[12] ^ y[14] ^ y[15];
}

// The sixteen 16-bit words of a 256-bit value, least significant first.
inline void to_words16(std::uint32_t* out, const std::uint64_t* v)
{
    for (int i = 0; i < 16; ++i) out[i] = static_cast<std::uint32_t>(v[i / 4] >> (16 * (i % 4))) & 0xFFFFu;
}

}  // namespace

void gost_3411_94_step(std::uint32_t* h32, const std::uint32_t* m32)
{
    std::uint64_t h[4], m[4];
    for (int i = 0; i < 4; ++i) {
        h[i] = h32[2 * i] | (std::uint64_t{h32[2 * i + 1]} << 32);
        m[i] = m32[2 * i] | (std::uint64_t{m32[2 * i + 1]} << 32);
    }

    std::uint32_t keys[4][8];
    generate_keys(keys, h, m);
    std::uint64_t s[4];
    encrypt4(s, keys, h);

    // H' = psi^61(H ^ psi(M ^ psi^12(S)))
    std::uint32_t hw[16], mw[16], seq[16 + 12];
    to_words16(hw, h);
    to_words16(mw, m);
    to_words16(seq, s);
    for (int j = 0; j < 12; ++j) seq[16 + j] = psi_next(seq + j);
    std::uint32_t x[17];
    for (int i = 0; i < 16; ++i) x[i] = seq[12 + i] ^ mw[i];
    x[16] = psi_next(x);
    std::uint32_t y[16], z[16];
    for (int i = 0; i < 16; ++i) y[i] = x[1 + i] ^ hw[i];
    psi61(z, y);

    for (int i = 0; i < 8; ++i) h32[i] = z[2 * i] | (z[2 * i + 1] << 16);
}

}  // namespace crypto::detail
