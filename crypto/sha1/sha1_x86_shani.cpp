// SHA-1 compression with the x86 SHA extensions. The functions carry their
// own target attribute, so this file builds without global -m flags and the
// code only runs after the dispatcher has checked the processor.
#include "crypto/sha1/sha1_dispatch.h"

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

// Four rounds (group g of 20) with the message schedule for later groups
// interleaved. msg[] is a ring of four schedule vectors (words 4g..4g+3);
// e_cur carries E for this group, e_next receives ABCD for the next one.
#define KELVORA_SHA1_GROUP(g, e_cur, e_next)                                          \
    do {                                                                                \
        if ((g) < 4) {                                                                  \
            msg[(g) & 3] = _mm_shuffle_epi8(                                           \
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * (g))), swap); \
        }                                                                               \
        if ((g) == 0) {                                                                 \
            e_cur = _mm_add_epi32(e_cur, msg[0]);                                       \
        } else {                                                                        \
            e_cur = _mm_sha1nexte_epu32(e_cur, msg[(g) & 3]);                           \
        }                                                                               \
        e_next = abcd;                                                                  \
        if ((g) >= 3 && (g) <= 18) {                                                    \
            msg[((g) + 1) & 3] = _mm_sha1msg2_epu32(msg[((g) + 1) & 3], msg[(g) & 3]);  \
        }                                                                               \
        abcd = _mm_sha1rnds4_epu32(abcd, e_cur, (g) / 5);                               \
        if ((g) >= 1 && (g) <= 16) {                                                    \
            msg[((g) - 1) & 3] = _mm_sha1msg1_epu32(msg[((g) - 1) & 3], msg[(g) & 3]);  \
        }                                                                               \
        if ((g) >= 2 && (g) <= 17) {                                                    \
            msg[((g) - 2) & 3] = _mm_xor_si128(msg[((g) - 2) & 3], msg[(g) & 3]);       \
        }                                                                               \
    } while (0)

KELVORA_SHANI_FUNCTION
void compress(std::uint32_t* h, const std::uint8_t* blocks, std::size_t count)
{
    // Words reversed byte-wise within each 32-bit lane and lanes reversed.
    const __m128i swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);

    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(h)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(h[4]), 0, 0, 0);
    __m128i e1 = _mm_setzero_si128();
    __m128i msg[4];

    // The chaining values each block starts from, kept for the final
    // additions. Volatile so that they stay in memory: short of vector
    // registers in the i686 build, the compiler otherwise spills the running
    // state itself, which puts a store and a reload on the chain from one
    // block to the next.
    volatile __m128i saved[2];
    for (; count != 0; --count, blocks += 64) {
        saved[0] = abcd;
        saved[1] = e0;

        KELVORA_SHA1_GROUP(0, e0, e1);
        KELVORA_SHA1_GROUP(1, e1, e0);
        KELVORA_SHA1_GROUP(2, e0, e1);
        KELVORA_SHA1_GROUP(3, e1, e0);
        KELVORA_SHA1_GROUP(4, e0, e1);
        KELVORA_SHA1_GROUP(5, e1, e0);
        KELVORA_SHA1_GROUP(6, e0, e1);
        KELVORA_SHA1_GROUP(7, e1, e0);
        KELVORA_SHA1_GROUP(8, e0, e1);
        KELVORA_SHA1_GROUP(9, e1, e0);
        KELVORA_SHA1_GROUP(10, e0, e1);
        KELVORA_SHA1_GROUP(11, e1, e0);
        KELVORA_SHA1_GROUP(12, e0, e1);
        KELVORA_SHA1_GROUP(13, e1, e0);
        KELVORA_SHA1_GROUP(14, e0, e1);
        KELVORA_SHA1_GROUP(15, e1, e0);
        KELVORA_SHA1_GROUP(16, e0, e1);
        KELVORA_SHA1_GROUP(17, e1, e0);
        KELVORA_SHA1_GROUP(18, e0, e1);
        KELVORA_SHA1_GROUP(19, e1, e0);

        e0 = _mm_sha1nexte_epu32(e0, saved[1]);
        abcd = _mm_add_epi32(abcd, saved[0]);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(h), _mm_shuffle_epi32(abcd, 0x1B));
    h[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

#undef KELVORA_SHA1_GROUP

}  // namespace

sha1_compress_fn sha1_compress_shani()
{
    return (cpu_features_detected() & cpu_sha) != 0 ? compress : nullptr;
}

}  // namespace crypto::detail

#undef KELVORA_SHANI_FUNCTION

#else  // not x86

namespace crypto::detail {

sha1_compress_fn sha1_compress_shani()
{
    return nullptr;
}

}  // namespace crypto::detail

#endif
