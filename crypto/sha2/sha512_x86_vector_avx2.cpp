// SHA-384/SHA-512 compression with the working variables paired in vector
// registers, for the i686 build on processors with AVX2 (built and tested in
// the x86-64 build too).
//
// The eight variables sit in four registers, (a, e), (b, f), (c, g) and
// (d, h), low lane first. One set of per-lane (variable) shifts gives
// Sigma0(a) and Sigma1(e) together, one AND-XOR step gives
// Maj(a, b, c) = c ^ ((a ^ c) & (b ^ c)) and Ch(e, f, g) = g ^ (e & (f ^ g))
// together, and the VEX three-operand forms need no copies. A round is then
// about two dozen instructions on a chain of seven, with the message schedule
// (sha512_x86_vector_schedule.h) interleaved into the spare slots.
//
// The round is written in assembly: it needs the four pairs plus four
// temporaries, exactly the eight vector registers of the i686 build, and the
// compiler, given the same code as intrinsics, spills inside the dependency
// chain. The schedule is shared with the SSSE3 form in its legacy SSE
// encoding; mixing that with VEX costs nothing here, as nothing writes the
// upper halves of the 256-bit registers.
#include "crypto/sha2/sha512_dispatch.h"

#if defined(__x86_64__) || defined(__i386__)

#include "crypto/cpu_features.h"
#include "crypto/sha2/sha512_x86_vector_schedule.h"

namespace crypto::detail {

namespace {

using namespace sha512_vector;

// Shift counts per lane: (a, e) rotated right by (28, 14), (34, 18) and
// (39, 41) for Sigma0 and Sigma1, each as a right and a left shift.
alignas(16) const std::uint64_t sigma_shifts[6][2] = {
    {28, 14}, {36, 50}, {34, 18}, {30, 46}, {39, 41}, {25, 23},
};
alignas(16) const std::uint64_t low_lane[2] = {~0ull, 0};
alignas(16) const std::uint64_t high_lane[2] = {0, ~0ull};

// One round. x1 = (a, e), x2 = (b, f), x3 = (c, g), x4 = (d, h); `entry`
// is W[t] + K[t]. The new (a, e) = (T1 + T2, d + T1) replaces x4, and the
// caller rotates the roles.
//
// The constants are given as the 16-byte arrays themselves, so that each
// operand is addressed by its symbol and needs no register. Through a cast
// pointer an unoptimised build loads every address into a general register
// first, and the i686 build has too few for the eight of them beside the
// address of `entry`.
#define KELVORA_SHA512_PAIRED_ROUND(x1, x2, x3, x4, entry)                                                      \
    do {                                                                                                        \
        __m128i t0, t1, t2, t3;                                                                                 \
        __asm__("vpbroadcastq %[wk], %[t0]\n\t"           /* (W + K, W + K) */                                  \
                "vpaddq       %[p4], %[t0], %[t0]\n\t"    /* (d + W + K, h + W + K) */                          \
                "vpand        %[high], %[t0], %[t0]\n\t"  /* (0, h + W + K) */                                  \
                "vpand        %[low], %[p3], %[t1]\n\t"   /* (c, 0) */                                          \
                "vpxor        %[p1], %[t1], %[t1]\n\t"    /* (a ^ c, e) */                                      \
                "vpxor        %[p2], %[p3], %[t2]\n\t"    /* (b ^ c, f ^ g) */                                  \
                "vpand        %[t2], %[t1], %[t1]\n\t"                                                          \
                "vpxor        %[p3], %[t1], %[t1]\n\t"    /* (Maj, Ch) */                                       \
                "vpaddq       %[t1], %[t0], %[t0]\n\t"                                                          \
                "vpsrlvq      %[r1], %[p1], %[t1]\n\t"                                                          \
                "vpsllvq      %[l1], %[p1], %[t2]\n\t"                                                          \
                "vpxor        %[t2], %[t1], %[t1]\n\t"                                                          \
                "vpsrlvq      %[r2], %[p1], %[t2]\n\t"                                                          \
                "vpsllvq      %[l2], %[p1], %[t3]\n\t"                                                          \
                "vpxor        %[t3], %[t2], %[t2]\n\t"                                                          \
                "vpsrlvq      %[r3], %[p1], %[t3]\n\t"                                                          \
                "vpxor        %[t2], %[t1], %[t1]\n\t"                                                          \
                "vpsllvq      %[l3], %[p1], %[t2]\n\t"                                                          \
                "vpxor        %[t2], %[t3], %[t3]\n\t"                                                          \
                "vpxor        %[t3], %[t1], %[t1]\n\t"    /* (Sigma0(a), Sigma1(e)) */                          \
                "vpaddq       %[t0], %[t1], %[t1]\n\t"    /* (T2, T1) */                                        \
                "vpunpckhqdq  %[t1], %[t1], %[t0]\n\t"    /* (T1, T1) */                                        \
                "vpunpcklqdq  %[p4], %[t1], %[p4]\n\t"    /* (T2, d) */                                         \
                "vpaddq       %[t0], %[p4], %[p4]"                                                              \
                : [p4] "+x"(x4), [t0] "=&x"(t0), [t1] "=&x"(t1), [t2] "=&x"(t2), [t3] "=&x"(t3)                 \
                : [p1] "x"(x1), [p2] "x"(x2), [p3] "x"(x3), [wk] "m"(entry),                                    \
                  [low] "m"(low_lane), [high] "m"(high_lane), [r1] "m"(sigma_shifts[0]),                        \
                  [l1] "m"(sigma_shifts[1]), [r2] "m"(sigma_shifts[2]), [l2] "m"(sigma_shifts[3]),              \
                  [r3] "m"(sigma_shifts[4]), [l3] "m"(sigma_shifts[5]));                                        \
    } while (0)

// Stores schedule pair j, W[2j] + K[2j] and W[2j+1] + K[2j+1].
#define KELVORA_SHA512_STORE_PAIR(j, pair) _mm_store_si128(reinterpret_cast<__m128i*>(wk + 2 * (j)), (pair))

// Rounds t to t+3, and schedule pairs j and j+1 produced by `step`
// (expand_pair or load_pair with its arguments but the pair).
#define KELVORA_SHA512_FOUR_ROUNDS(t, j, step, ...)                         \
    do {                                                                    \
        KELVORA_SHA512_PAIRED_ROUND(ae, bf, cg, dh, wk[t]);                 \
        KELVORA_SHA512_PAIRED_ROUND(dh, ae, bf, cg, wk[(t) + 1]);           \
        KELVORA_SHA512_STORE_PAIR(j, step(__VA_ARGS__, j));                 \
        KELVORA_SHA512_PAIRED_ROUND(cg, dh, ae, bf, wk[(t) + 2]);           \
        KELVORA_SHA512_PAIRED_ROUND(bf, cg, dh, ae, wk[(t) + 3]);           \
        KELVORA_SHA512_STORE_PAIR((j) + 1, step(__VA_ARGS__, (j) + 1));     \
    } while (0)

KELVORA_SHA512_ENTRY("avx2")
void compress_paired(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count)
{
    // The first block's words are loaded before the loop: nothing to read
    // without one.
    if (count == 0) return;
    alignas(16) std::uint64_t w[80];
    alignas(16) std::uint64_t wk[80];
    for (int j = 0; j < 8; ++j) KELVORA_SHA512_STORE_PAIR(j, load_pair(w, blocks, j));

    __m128i ae = _mm_set_epi64x(static_cast<long long>(state[4]), static_cast<long long>(state[0]));
    __m128i bf = _mm_set_epi64x(static_cast<long long>(state[5]), static_cast<long long>(state[1]));
    __m128i cg = _mm_set_epi64x(static_cast<long long>(state[6]), static_cast<long long>(state[2]));
    __m128i dh = _mm_set_epi64x(static_cast<long long>(state[7]), static_cast<long long>(state[3]));
    for (; count != 0; --count, blocks += 128) {
        // The last sixteen rounds load the next block, or this one again
        // after the last block (the words are then not used).
        const std::uint8_t* const next = count > 1 ? blocks + 128 : blocks;
        const __m128i ae0 = ae, bf0 = bf, cg0 = cg, dh0 = dh;
        // Rounds 0 to 63 expand the words of rounds 16 to 79; the last
        // sixteen load the next block's first words.
        for (int t = 0; t < 64; t += 4) KELVORA_SHA512_FOUR_ROUNDS(t, t / 2 + 8, expand_pair, w);
        for (int t = 64; t < 80; t += 4) KELVORA_SHA512_FOUR_ROUNDS(t, t / 2 - 32, load_pair, w, next);
        ae = _mm_add_epi64(ae, ae0);
        bf = _mm_add_epi64(bf, bf0);
        cg = _mm_add_epi64(cg, cg0);
        dh = _mm_add_epi64(dh, dh0);
    }
    alignas(16) std::uint64_t out[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(out + 0), ae);
    _mm_store_si128(reinterpret_cast<__m128i*>(out + 2), bf);
    _mm_store_si128(reinterpret_cast<__m128i*>(out + 4), cg);
    _mm_store_si128(reinterpret_cast<__m128i*>(out + 6), dh);
    for (int i = 0; i < 4; ++i) {
        state[i] = out[2 * i];
        state[4 + i] = out[2 * i + 1];
    }
}

#undef KELVORA_SHA512_FOUR_ROUNDS
#undef KELVORA_SHA512_STORE_PAIR
#undef KELVORA_SHA512_PAIRED_ROUND

}  // namespace

sha512_compress_fn sha512_compress_vector_avx2()
{
    return (cpu_features_detected() & cpu_avx2) != 0 ? compress_paired : nullptr;
}

}  // namespace crypto::detail

#else  // not x86

namespace crypto::detail {

sha512_compress_fn sha512_compress_vector_avx2()
{
    return nullptr;
}

}  // namespace crypto::detail

#endif
