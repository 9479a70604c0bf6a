// SHA-384/SHA-512 compression for x86-64 processors with AVX2 and BMI2.
// The message schedule of two blocks is computed side by side in 256-bit
// registers (one block per 128-bit lane) while the first block's rounds run
// in general registers with BMI2 rotates; the second block's rounds then use
// the stored schedule. The functions carry their own target attribute, so the
// file builds without global -m flags; the dispatcher checks the processor.
#include "crypto/sha2/sha512_dispatch.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "crypto/sha2/big_endian.h"
#include "crypto/sha2/sha512_constants.h"
#include "crypto/cpu_features.h"

#define KELVORA_AVX2_FUNCTION __attribute__((target("avx2,bmi,bmi2")))

namespace crypto::detail {

namespace {

inline std::uint64_t big_sigma0(std::uint64_t x) { return rotr64(x, 28) ^ rotr64(x, 34) ^ rotr64(x, 39); }
inline std::uint64_t big_sigma1(std::uint64_t x) { return rotr64(x, 14) ^ rotr64(x, 18) ^ rotr64(x, 41); }
inline std::uint64_t choose(std::uint64_t e, std::uint64_t f, std::uint64_t g) { return g ^ (e & (f ^ g)); }

template <int n>
KELVORA_AVX2_FUNCTION inline __m256i rotr_lanes(__m256i x)
{
    return _mm256_or_si256(_mm256_srli_epi64(x, n), _mm256_slli_epi64(x, 64 - n));
}

KELVORA_AVX2_FUNCTION inline __m256i small_sigma0(__m256i x)
{
    return _mm256_xor_si256(_mm256_xor_si256(rotr_lanes<1>(x), rotr_lanes<8>(x)), _mm256_srli_epi64(x, 7));
}

KELVORA_AVX2_FUNCTION inline __m256i small_sigma1(__m256i x)
{
    return _mm256_xor_si256(_mm256_xor_si256(rotr_lanes<19>(x), rotr_lanes<61>(x)), _mm256_srli_epi64(x, 6));
}

// x[] holds words 2j..2j+1 of both blocks for the last eight j (ring indexed
// by j mod 8). Computes pair j (8 <= j < 40) in place of pair j - 8 and
// stores it plus the round constants into wk.
#define KELVORA_SHA512_SCHEDULE(j)                                                              \
    do {                                                                                        \
        const __m256i w15 = _mm256_alignr_epi8(x[((j) + 1) & 7], x[(j) & 7], 8);                \
        const __m256i w7 = _mm256_alignr_epi8(x[((j) + 5) & 7], x[((j) + 4) & 7], 8);           \
        x[(j) & 7] = _mm256_add_epi64(_mm256_add_epi64(x[(j) & 7], small_sigma0(w15)),          \
                                      _mm256_add_epi64(w7, small_sigma1(x[((j) + 7) & 7])));    \
        _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 4 * (j)),                            \
                           _mm256_add_epi64(x[(j) & 7], constant_pair(j)));                     \
    } while (0)

// One round; the caller rotates the roles of a..h instead of moving values.
// Maj reuses a ^ b of this round as b ^ c of the next one (bc in, ab out).
#define KELVORA_SHA512_ROUND(a, b, c, d, e, f, g, h, kw, bc, ab) \
    do {                                                         \
        h += (kw);                                               \
        h += choose(e, f, g);                                    \
        h += big_sigma1(e);                                      \
        d += h;                                                  \
        ab = (a) ^ (b);                                          \
        h += big_sigma0(a);                                      \
        h += ((ab) & (bc)) ^ (b);                                \
    } while (0)

// Rounds i and i + 1 of a sixteen-round section whose schedule words start
// at p (two words of this block every four entries).
#define KELVORA_SHA512_TWO(p, i, a, b, c, d, e, f, g, h)                         \
    KELVORA_SHA512_ROUND(a, b, c, d, e, f, g, h, (p)[2 * (i)], maj_x, maj_y);     \
    KELVORA_SHA512_ROUND(h, a, b, c, d, e, f, g, (p)[2 * (i) + 1], maj_y, maj_x)

// Sixteen rounds reading the schedule from p, optionally interleaved with
// the eight schedule steps for pairs j .. j + 7.
#define KELVORA_SHA512_SIXTEEN(p, schedule, j)                           \
    do {                                                                 \
        if (schedule) KELVORA_SHA512_SCHEDULE((j) + 0);                  \
        KELVORA_SHA512_TWO(p, 0, a, b, c, d, e, f, g, h);                \
        if (schedule) KELVORA_SHA512_SCHEDULE((j) + 1);                  \
        KELVORA_SHA512_TWO(p, 2, g, h, a, b, c, d, e, f);                \
        if (schedule) KELVORA_SHA512_SCHEDULE((j) + 2);                  \
        KELVORA_SHA512_TWO(p, 4, e, f, g, h, a, b, c, d);                \
        if (schedule) KELVORA_SHA512_SCHEDULE((j) + 3);                  \
        KELVORA_SHA512_TWO(p, 6, c, d, e, f, g, h, a, b);                \
        if (schedule) KELVORA_SHA512_SCHEDULE((j) + 4);                  \
        KELVORA_SHA512_TWO(p, 8, a, b, c, d, e, f, g, h);                \
        if (schedule) KELVORA_SHA512_SCHEDULE((j) + 5);                  \
        KELVORA_SHA512_TWO(p, 10, g, h, a, b, c, d, e, f);               \
        if (schedule) KELVORA_SHA512_SCHEDULE((j) + 6);                  \
        KELVORA_SHA512_TWO(p, 12, e, f, g, h, a, b, c, d);               \
        if (schedule) KELVORA_SHA512_SCHEDULE((j) + 7);                  \
        KELVORA_SHA512_TWO(p, 14, c, d, e, f, g, h, a, b);               \
    } while (0)

KELVORA_AVX2_FUNCTION inline __m256i constant_pair(int j)
{
    return _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(sha512_round_constants + 2 * j)));
}

KELVORA_AVX2_FUNCTION
void compress(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count)
{
    // Reverses the bytes of each 64-bit lane.
    const __m256i swap = _mm256_set_epi64x(0x08090a0b0c0d0e0fLL, 0x0001020304050607LL,
                                           0x08090a0b0c0d0e0fLL, 0x0001020304050607LL);
    // Words 2j, 2j+1 plus constants: first block at wk[4j], second at wk[4j + 2].
    alignas(32) std::uint64_t wk[4 * 40];

    while (count != 0) {
        const std::uint8_t* first = blocks;
        // An odd last block fills both lanes; its second copy is not used.
        const std::uint8_t* second = count >= 2 ? blocks + 128 : blocks;
        const std::size_t taken = count >= 2 ? 2 : 1;

        __m256i x[8];
        for (int j = 0; j < 8; ++j) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 16 * j));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * j));
            x[j] = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1), swap);
            _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 4 * j), _mm256_add_epi64(x[j], constant_pair(j)));
        }

        std::uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
        std::uint64_t maj_x = b ^ c, maj_y = 0;
        KELVORA_SHA512_SIXTEEN(wk + 0, true, 8);
        KELVORA_SHA512_SIXTEEN(wk + 32, true, 16);
        KELVORA_SHA512_SIXTEEN(wk + 64, true, 24);
        KELVORA_SHA512_SIXTEEN(wk + 96, true, 32);
        KELVORA_SHA512_SIXTEEN(wk + 128, false, 0);
        a = state[0] += a;
        b = state[1] += b;
        c = state[2] += c;
        d = state[3] += d;
        e = state[4] += e;
        f = state[5] += f;
        g = state[6] += g;
        h = state[7] += h;

        if (taken == 2) {
            maj_x = b ^ c;
            for (int section = 0; section < 5; ++section) KELVORA_SHA512_SIXTEEN(wk + 2 + 32 * section, false, 0);
            state[0] += a;
            state[1] += b;
            state[2] += c;
            state[3] += d;
            state[4] += e;
            state[5] += f;
            state[6] += g;
            state[7] += h;
        }
        blocks += 128 * taken;
        count -= taken;
    }
}

#undef KELVORA_SHA512_SIXTEEN
#undef KELVORA_SHA512_TWO
#undef KELVORA_SHA512_ROUND
#undef KELVORA_SHA512_SCHEDULE

}  // namespace

sha512_compress_fn sha512_compress_avx2()
{
    return (cpu_features_detected() & cpu_avx2) != 0 ? compress : nullptr;
}

}  // namespace crypto::detail

#undef KELVORA_AVX2_FUNCTION

#else  // not x86-64

namespace crypto::detail {

sha512_compress_fn sha512_compress_avx2()
{
    return nullptr;
}

}  // namespace crypto::detail

#endif
