// g_N on one 512-bit vector register, for x86 processors with AVX-512
// (F, BW, VBMI) and GFNI, in both builds (the i686 build has eight vector
// registers, so some constants are read from memory there). The functions carry their own target attribute, so
// this file builds without global -m flags and its code only runs after
// streebog_blocks_avx512() has checked the processor.
//
// LPS(x) without lookup tables:
//  - S: two 128-entry byte permutations (VPERMI2B) cover pi; the top bit of
//    each input byte chooses between them.
//  - P: the register holds word w in lane w. Read the other way round (lane j
//    = byte j of every word) the same register is P(S(x)), so P costs
//    nothing here.
//  - L: in that transposed view, output lane j is the XOR over input lanes i
//    of M(j, i) applied to each byte of lane i, M(j, i) being the 8x8 bit
//    matrix from input byte i to output byte j of l. GF2P8AFFINEQB applies
//    one such matrix per lane. Lanes are brought together as j ^ r for
//    r = 0..7: r = 2, 4, 6 are 128-bit block swaps; the odd r share one
//    final swap of neighbouring lanes, so their matrices are stored for the
//    swapped lane (see streebog_tables.cpp).
//  - A byte permutation takes the transposed result back to lane = word.
#include "crypto/gost_3411_2012/streebog_compress.h"

#if defined(__x86_64__) || defined(__i386__)
#define KELVORA_STREEBOG_AVX512 1
#endif

#if KELVORA_STREEBOG_AVX512

#include <immintrin.h>

#include "crypto/cpu_features.h"
#include "crypto/gost_3411_2012/streebog_constants.h"
#include "crypto/gost_3411_2012/streebog_tables.h"

#define KELVORA_STREEBOG_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi,gfni")))
// 32-bit Windows keeps the stack only 4-byte aligned; realign on entry.
#if defined(__i386__)
#define KELVORA_STREEBOG_ENTRY __attribute__((target("avx512f,avx512bw,avx512vbmi,gfni"), force_align_arg_pointer))
#else
#define KELVORA_STREEBOG_ENTRY KELVORA_STREEBOG_TARGET
#endif

// GCC 12's AVX-512 headers start several intrinsics from a deliberately
// undefined register and then warn about it where they are inlined: as
// "may be used" at -O2 and -O3, as "is used" at -Og, -Os and -Oz.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace crypto::detail {

namespace {

struct lps_constants {
    __m512i pi[4];        // pi in four 64-byte quarters
    __m512i transpose;    // byte 8j + w <- byte 8w + j
    __m512i matrix[8];    // see streebog_tables.h
};

KELVORA_STREEBOG_TARGET inline __m512i lps(__m512i x, const lps_constants& k)
{
    const __m512i low = _mm512_permutex2var_epi8(k.pi[0], x, k.pi[1]);
    const __m512i high = _mm512_permutex2var_epi8(k.pi[2], x, k.pi[3]);
    const __m512i s = _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high);

    const __m512i s2 = _mm512_shuffle_i64x2(s, s, 0xB1);  // lane j <- lane j ^ 2
    const __m512i s4 = _mm512_shuffle_i64x2(s, s, 0x4E);  // lane j <- lane j ^ 4
    const __m512i s6 = _mm512_shuffle_i64x2(s, s, 0x1B);  // lane j <- lane j ^ 6
    const __m512i even = _mm512_ternarylogic_epi64(_mm512_gf2p8affine_epi64_epi8(s, k.matrix[0], 0),
                                                   _mm512_gf2p8affine_epi64_epi8(s2, k.matrix[2], 0),
                                                   _mm512_gf2p8affine_epi64_epi8(s4, k.matrix[4], 0), 0x96);
    __m512i odd = _mm512_ternarylogic_epi64(_mm512_gf2p8affine_epi64_epi8(s, k.matrix[1], 0),
                                            _mm512_gf2p8affine_epi64_epi8(s2, k.matrix[3], 0),
                                            _mm512_gf2p8affine_epi64_epi8(s4, k.matrix[5], 0), 0x96);
    odd = _mm512_xor_si512(odd, _mm512_gf2p8affine_epi64_epi8(s6, k.matrix[7], 0));
    const __m512i l = _mm512_ternarylogic_epi64(even, _mm512_gf2p8affine_epi64_epi8(s6, k.matrix[6], 0),
                                                _mm512_shuffle_epi32(odd, _MM_PERM_BADC), 0x96);
    return _mm512_permutexvar_epi8(k.transpose, l);
}

// One round of E. The key's next value is started first: it is the longer
// dependency chain, and issuing it first keeps it from waiting behind the
// data path.
#define KELVORA_STREEBOG_ROUND(i)                                                   \
    do {                                                                            \
        const __m512i next_key = lps(_mm512_xor_si512(key, c[i]), k);               \
        data = lps(_mm512_xor_si512(data, key), k);                                 \
        key = next_key;                                                             \
    } while (0)

KELVORA_STREEBOG_ENTRY void blocks_avx512(std::uint64_t* h, std::uint64_t* n, std::uint64_t* sigma,
                                           const std::uint8_t* blocks, std::size_t count)
{
    const streebog_tables& tables = streebog_shared_tables();
    lps_constants k;
    for (int q = 0; q < 4; ++q) k.pi[q] = _mm512_loadu_si512(streebog_pi + 64 * q);
    alignas(64) std::uint8_t transpose[64];
    for (int j = 0; j < 8; ++j) {
        for (int w = 0; w < 8; ++w) transpose[8 * w + j] = static_cast<std::uint8_t>(8 * j + w);
    }
    k.transpose = _mm512_load_si512(transpose);
    for (int r = 0; r < 8; ++r) k.matrix[r] = _mm512_loadu_si512(tables.gf2_matrix[r]);
    __m512i c[12];
    for (int i = 0; i < 12; ++i) c[i] = _mm512_loadu_si512(streebog_c[i]);

    __m512i hv = _mm512_loadu_si512(h);
    __m512i nv = _mm512_loadu_si512(n);
    std::uint64_t n0 = n[0];
#if defined(__x86_64__)
    unsigned long long s[8];
    for (int i = 0; i < 8; ++i) s[i] = sigma[i];
#endif

    for (; count != 0; --count, blocks += 64) {
        const __m512i m = _mm512_loadu_si512(blocks);
        __m512i key = lps(_mm512_xor_si512(hv, nv), k);
        __m512i data = m;
        KELVORA_STREEBOG_ROUND(0);
        KELVORA_STREEBOG_ROUND(1);
        KELVORA_STREEBOG_ROUND(2);
        KELVORA_STREEBOG_ROUND(3);
        KELVORA_STREEBOG_ROUND(4);
        KELVORA_STREEBOG_ROUND(5);
        KELVORA_STREEBOG_ROUND(6);
        KELVORA_STREEBOG_ROUND(7);
        KELVORA_STREEBOG_ROUND(8);
        KELVORA_STREEBOG_ROUND(9);
        KELVORA_STREEBOG_ROUND(10);
        KELVORA_STREEBOG_ROUND(11);
        hv = _mm512_ternarylogic_epi64(hv, _mm512_xor_si512(data, key), m, 0x96);

        // N += 512: only the low word changes unless it wraps.
        n0 += 512;
        if (n0 < 512) {
            _mm512_storeu_si512(n, nv);
            n[0] = n0;
            streebog_add_small(n + 1, 1);
            nv = _mm512_loadu_si512(n);
        } else {
            nv = _mm512_mask_set1_epi64(nv, 1, static_cast<long long>(n0));
        }

        // sigma += m, in general-purpose registers alongside the vector work.
#if defined(__x86_64__)
        unsigned char carry = 0;
        for (int i = 0; i < 8; ++i) carry = _addcarry_u64(carry, s[i], streebog_load64(blocks + 8 * i), &s[i]);
#else
        std::uint64_t words[8];
        for (int i = 0; i < 8; ++i) words[i] = streebog_load64(blocks + 8 * i);
        streebog_add512(sigma, words);
#endif
    }

    _mm512_storeu_si512(h, hv);
    _mm512_storeu_si512(n, nv);
#if defined(__x86_64__)
    for (int i = 0; i < 8; ++i) sigma[i] = s[i];
#endif
}

#undef KELVORA_STREEBOG_ROUND
#undef KELVORA_STREEBOG_ENTRY

}  // namespace

streebog_blocks_fn streebog_blocks_avx512()
{
    const std::uint32_t needed = cpu_avx512 | cpu_gfni;
    return (cpu_features_detected() & needed) == needed ? blocks_avx512 : nullptr;
}

}  // namespace crypto::detail

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#else

namespace crypto::detail {

streebog_blocks_fn streebog_blocks_avx512()
{
    return nullptr;
}

}  // namespace crypto::detail

#endif
