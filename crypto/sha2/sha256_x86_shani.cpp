// SHA-256 compression with the x86 SHA extensions. The functions carry their
// own target attribute, so this file builds without global -m flags and the
// code only runs after the dispatcher has checked the processor.
#include "crypto/sha2/sha256_constants.h"
#include "crypto/sha2/sha256_dispatch.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "crypto/cpu_features.h"

// 32-bit Windows keeps the stack only 4-byte aligned; realign on entry so
// spilled vector registers stay aligned.
#if defined(__i386__)
#define KELVORA_SHANI_FUNCTION __attribute__((target("sha,sse4.1"), force_align_arg_pointer))
#else
#define KELVORA_SHANI_FUNCTION __attribute__((target("sha,sse4.1")))
#endif

namespace crypto::detail {

namespace {

// Four rounds (group g of 16) with the message schedule for later groups
// interleaved. msg[] is a ring of four schedule vectors (words 4g..4g+3);
// the state is kept as ABEF and CDGH, as SHA256RNDS2 expects.
#define KELVORA_SHA256_GROUP(g)                                                              \
    do {                                                                                     \
        if ((g) < 4) {                                                                       \
            msg[(g) & 3] = _mm_shuffle_epi8(                                                 \
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * (g))), swap); \
        }                                                                                    \
        __m128i wk = _mm_add_epi32(                                                          \
            msg[(g) & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(sha256_round_constants + 4 * (g)))); \
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);                                        \
        if ((g) >= 3 && (g) <= 14) {                                                         \
            const __m128i w7 = _mm_alignr_epi8(msg[(g) & 3], msg[((g) - 1) & 3], 4);         \
            msg[((g) + 1) & 3] = _mm_add_epi32(msg[((g) + 1) & 3], w7);                      \
            msg[((g) + 1) & 3] = _mm_sha256msg2_epu32(msg[((g) + 1) & 3], msg[(g) & 3]);     \
        }                                                                                    \
        wk = _mm_shuffle_epi32(wk, 0x0E);                                                    \
        abef = _mm_sha256rnds2_epu32(abef, cdgh, wk);                                        \
        if ((g) >= 1 && (g) <= 12) {                                                         \
            msg[((g) - 1) & 3] = _mm_sha256msg1_epu32(msg[((g) - 1) & 3], msg[(g) & 3]);     \
        }                                                                                    \
    } while (0)

KELVORA_SHANI_FUNCTION
void compress(std::uint32_t* h, const std::uint8_t* blocks, std::size_t count)
{
    // Reverses the bytes of each 32-bit lane.
    const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    const __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h));
    const __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    __m128i msg[4];

    // The chaining values each block starts from, kept for the final
    // additions. Volatile so that they stay in memory: short of vector
    // registers in the i686 build, the compiler otherwise spills the running
    // state itself, which puts a store and a reload on the chain from one
    // block to the next.
    volatile __m128i saved[2];
    for (; count != 0; --count, blocks += 64) {
        saved[0] = abef;
        saved[1] = cdgh;

        KELVORA_SHA256_GROUP(0);
        KELVORA_SHA256_GROUP(1);
        KELVORA_SHA256_GROUP(2);
        KELVORA_SHA256_GROUP(3);
        KELVORA_SHA256_GROUP(4);
        KELVORA_SHA256_GROUP(5);
        KELVORA_SHA256_GROUP(6);
        KELVORA_SHA256_GROUP(7);
        KELVORA_SHA256_GROUP(8);
        KELVORA_SHA256_GROUP(9);
        KELVORA_SHA256_GROUP(10);
        KELVORA_SHA256_GROUP(11);
        KELVORA_SHA256_GROUP(12);
        KELVORA_SHA256_GROUP(13);
        KELVORA_SHA256_GROUP(14);
        KELVORA_SHA256_GROUP(15);

        abef = _mm_add_epi32(abef, saved[0]);
        cdgh = _mm_add_epi32(cdgh, saved[1]);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(h + 4), _mm_alignr_epi8(dchg, feba, 8));
}

#undef KELVORA_SHA256_GROUP

}  // namespace

sha256_compress_fn sha256_compress_shani()
{
    return (cpu_features_detected() & cpu_sha) != 0 ? compress : nullptr;
}

}  // namespace crypto::detail

#undef KELVORA_SHANI_FUNCTION

#else  // not x86

namespace crypto::detail {

sha256_compress_fn sha256_compress_shani()
{
    return nullptr;
}

}  // namespace crypto::detail

#endif
