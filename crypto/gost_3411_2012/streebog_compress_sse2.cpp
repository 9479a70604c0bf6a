// g_N with the 8 x 256 lookup table and the 64-bit XORs in SSE2 registers,
// two output words per register. The i686 build gains most: there each
// 64-bit XOR of the portable code is two 32-bit ones and the 16 words of
// data and key do not fit in its eight general registers. Two table indexes
// at a time come out of the vector registers with PEXTRW.
// The functions carry their own target attributes; the dispatcher checks the
// processor first.
#include "crypto/gost_3411_2012/streebog_compress.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "crypto/cpu_features.h"
#include "crypto/gost_3411_2012/streebog_constants.h"
#include "crypto/gost_3411_2012/streebog_tables.h"

#define KELVORA_STREEBOG_SSE2_HELPER inline __attribute__((always_inline, target("sse2")))
#if defined(__i386__)
#define KELVORA_STREEBOG_SSE2_ENTRY(isa) __attribute__((target(isa), force_align_arg_pointer))
#else
#define KELVORA_STREEBOG_SSE2_ENTRY(isa) __attribute__((target(isa)))
#endif

namespace crypto::detail {

namespace {

using lps_table = std::uint64_t[8][256];

// A 512-bit value as four registers, words 2i and 2i + 1 in register i.
struct value512 {
    __m128i v[4];
};

KELVORA_STREEBOG_SSE2_HELPER value512 load512(const void* p)
{
    const auto* q = static_cast<const __m128i*>(p);
    return {{_mm_loadu_si128(q), _mm_loadu_si128(q + 1), _mm_loadu_si128(q + 2), _mm_loadu_si128(q + 3)}};
}

KELVORA_STREEBOG_SSE2_HELPER void store512(void* p, const value512& x)
{
    auto* q = static_cast<__m128i*>(p);
    for (int i = 0; i < 4; ++i) _mm_storeu_si128(q + i, x.v[i]);
}

KELVORA_STREEBOG_SSE2_HELPER value512 xor512(const value512& a, const value512& b)
{
    return {{_mm_xor_si128(a.v[0], b.v[0]), _mm_xor_si128(a.v[1], b.v[1]), _mm_xor_si128(a.v[2], b.v[2]),
             _mm_xor_si128(a.v[3], b.v[3])}};
}

// Entry T[k][x] into the low or the high half of a register.
#define KELVORA_SB_LOW(k, byte) _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&t[k][byte]))
#define KELVORA_SB_HIGH(r, k, byte) \
    _mm_castpd_si128(_mm_loadh_pd(_mm_castsi128_pd(r), reinterpret_cast<const double*>(&t[k][byte])))

// The contribution of input word k to output words 2i and 2i + 1: bytes 2i
// and 2i + 1 of word k are its 16-bit lane 4(k mod 2) + i of register k / 2.
template <int k, int i>
KELVORA_STREEBOG_SSE2_HELPER __m128i term(const lps_table& t, const value512& x)
{
    const unsigned pair = static_cast<unsigned>(_mm_extract_epi16(x.v[k >> 1], (k & 1) * 4 + i));
    return KELVORA_SB_HIGH(KELVORA_SB_LOW(k, pair & 0xFFu), k, pair >> 8);
}

#define KELVORA_SB_TERM(x, k, i) term<k, i>(t, x)

// Output words 2i and 2i + 1 of LPS(x): word j is the XOR over k of
// T[k][byte j of word k].
#define KELVORA_SB_LPS_PAIR(x, i)                                                                        \
    _mm_xor_si128(_mm_xor_si128(_mm_xor_si128(KELVORA_SB_TERM(x, 0, i), KELVORA_SB_TERM(x, 1, i)),      \
                                _mm_xor_si128(KELVORA_SB_TERM(x, 2, i), KELVORA_SB_TERM(x, 3, i))),     \
                  _mm_xor_si128(_mm_xor_si128(KELVORA_SB_TERM(x, 4, i), KELVORA_SB_TERM(x, 5, i)),      \
                                _mm_xor_si128(KELVORA_SB_TERM(x, 6, i), KELVORA_SB_TERM(x, 7, i))))

KELVORA_STREEBOG_SSE2_HELPER value512 lps(const lps_table& t, const value512& x)
{
    return {{KELVORA_SB_LPS_PAIR(x, 0), KELVORA_SB_LPS_PAIR(x, 1), KELVORA_SB_LPS_PAIR(x, 2),
             KELVORA_SB_LPS_PAIR(x, 3)}};
}

#undef KELVORA_SB_LPS_PAIR
#undef KELVORA_SB_TERM
#undef KELVORA_SB_HIGH
#undef KELVORA_SB_LOW

// h = E(LPS(h ^ N), m) ^ h ^ m.
KELVORA_STREEBOG_SSE2_HELPER void compress(const lps_table& t, value512& h, const value512& n, const value512& m)
{
    value512 key = lps(t, xor512(h, n));
    value512 data = m;
    for (int r = 0; r < 12; ++r) {
        const value512 next_key = lps(t, xor512(key, load512(streebog_c[r])));
        data = lps(t, xor512(data, key));
        key = next_key;
    }
    h = xor512(h, xor512(xor512(data, key), m));
}

KELVORA_STREEBOG_SSE2_HELPER
void blocks_vector(std::uint64_t* h, std::uint64_t* n, std::uint64_t* sigma, const std::uint8_t* blocks,
                 std::size_t count)
{
    const lps_table& t = streebog_shared_tables().lps;
    value512 hv = load512(h);
    for (; count != 0; --count, blocks += 64) {
        const value512 m = load512(blocks);
        compress(t, hv, load512(n), m);
        streebog_add_small(n, 512);
        std::uint64_t words[8];
        for (int i = 0; i < 8; ++i) words[i] = streebog_load64(blocks + 8 * i);
        streebog_add512(sigma, words);
    }
    store512(h, hv);
}

KELVORA_STREEBOG_SSE2_ENTRY("sse2")
void blocks_sse2(std::uint64_t* h, std::uint64_t* n, std::uint64_t* sigma, const std::uint8_t* blocks,
                 std::size_t count)
{
    blocks_vector(h, n, sigma, blocks, count);
}

// The same code in the VEX encoding: three-operand forms, fewer copies.
KELVORA_STREEBOG_SSE2_ENTRY("avx2")
void blocks_avx2(std::uint64_t* h, std::uint64_t* n, std::uint64_t* sigma, const std::uint8_t* blocks,
                 std::size_t count)
{
    blocks_vector(h, n, sigma, blocks, count);
}

}  // namespace

streebog_blocks_fn streebog_blocks_sse2()
{
    return (cpu_features_detected() & cpu_ssse3) != 0 ? blocks_sse2 : nullptr;
}

streebog_blocks_fn streebog_blocks_sse2_vex()
{
    return (cpu_features_detected() & cpu_avx2) != 0 ? blocks_avx2 : nullptr;
}

}  // namespace crypto::detail

#undef KELVORA_STREEBOG_SSE2_ENTRY
#undef KELVORA_STREEBOG_SSE2_HELPER

#else

namespace crypto::detail {

streebog_blocks_fn streebog_blocks_sse2()
{
    return nullptr;
}

streebog_blocks_fn streebog_blocks_sse2_vex()
{
    return nullptr;
}

}  // namespace crypto::detail

#endif
