// SHA-384/SHA-512 compression with every 64-bit value in a vector register,
// for the i686 build on processors with SSSE3 but no AVX2 (built and tested
// in the x86-64 build too). In the i686 build a 64-bit add, rotate or XOR
// costs two or more general-register instructions, while SSE2 does each in
// one.
//
// The rounds run on the low lane. Only a and e, which every round reads
// right after computing them, and the b ^ c that Maj reuses, stay in
// registers; every new a and e is also written to a frame in memory, where the
// later rounds read b, d, f, g and h as memory operands (the a written by
// round t is b for round t + 2 and d for round t + 4). That leaves
// four of the eight vector registers of the i686 build for the round's
// temporaries and, between rounds, for the message schedule
// (sha512_x86_vector_schedule.h), which is interleaved into the spare slots;
// nothing spills.
//
// The round is written in assembly: with intrinsics the compiler keeps all
// eight working variables in registers and spills inside the dependency
// chain.
#include "crypto/sha2/sha512_dispatch.h"

#if defined(__x86_64__) || defined(__i386__)

#include "crypto/cpu_features.h"
#include "crypto/sha2/sha512_x86_vector_schedule.h"

namespace crypto::detail {

namespace {

using namespace sha512_vector;

// What round t of a block reads from memory, in the low lanes: slot t + 4
// receives its new a and e, so it finds a, b, c and d in slots t + 3, t + 2,
// t + 1 and t (e to h likewise). W[t] + K[t] and W[t+1] + K[t+1] for an even
// t share slot t, as the schedule produces them. One pointer then reaches
// every operand of the round at a fixed offset.
struct round_slot {
    __m128i a;
    __m128i e;
    __m128i wk;
};
static_assert(sizeof(round_slot) == 48, "the round's offsets assume 48-byte slots");

// Assembly text for (acc >> s1) ^ (acc >> (s1 + s2)) ^ (acc >> (s1 + s2 +
// s3)) into acc, `shift` being psrlq, or the same with left shifts (psllq):
// each shift continues from the one before. Clobbers `tmp`.
#define KELVORA_SHA512_SHIFT_CHAIN(shift, acc, tmp, s1, s2, s3)                                                 \
    shift "   $" #s1 ", %[" #acc "]\n\t"                                                                        \
    "movdqa  %[" #acc "], %[" #tmp "]\n\t"                                                                      \
    shift "   $" #s2 ", %[" #tmp "]\n\t"                                                                        \
    "pxor    %[" #tmp "], %[" #acc "]\n\t"                                                                      \
    shift "   $" #s3 ", %[" #tmp "]\n\t"                                                                        \
    "pxor    %[" #tmp "], %[" #acc "]\n\t"

// Assembly text for ROTR(x, n1) ^ ROTR(x, n2) ^ ROTR(x, n3) into `sum`,
// with n1 < n2 < n3: the right shifts from a copy by r1 = n1, r2 = n2 - n1
// and r3 = n3 - n2, the left shifts in x by l1 = 64 - n3, l2 = n3 - n2 and
// l3 = n2 - n1. Two chains of dependent shifts joined at the end: depth
// five, three fewer copies than shifting x afresh for each term. Clobbers x
// and `tmp`.
#define KELVORA_SHA512_ROTATIONS(x, sum, tmp, r1, r2, r3, l1, l2, l3)                                           \
    "movdqa  %[" #x "], %[" #sum "]\n\t"                                                                        \
    KELVORA_SHA512_SHIFT_CHAIN("psrlq", sum, tmp, r1, r2, r3)                                                   \
    KELVORA_SHA512_SHIFT_CHAIN("psllq", x, tmp, l1, l2, l3)                                                     \
    "pxor    %[" #x "], %[" #sum "]\n\t"

// Round t on the low lanes, with `s` pointing at slot t: d at offset 0, h
// at 16, W[t] + K[t] at `wk_offset` (32 for an even t, -8 for an odd one;
// eight bytes, so no alignment needed), g at 64 (slot t + 1), b and f at 96
// and 112 (slot t + 2); the new a and e go to 192 and 208 (slot t + 4).
// `carry_in` holds b ^ c and is consumed; `carry_out` receives a ^ b, the
// next round's b ^ c. Ch(e, f, g) = g ^ (e & (f ^ g)), Maj(a, b, c) =
// b ^ ((a ^ b) & (b ^ c)). The old a and e may be clobbered: the frame holds
// them. The frame is memory the compiler does not see through the operands,
// hence the memory clobber.
#define KELVORA_SHA512_LOW_ROUND(t, wk_offset, carry_in, carry_out)                                             \
    do {                                                                                                        \
        __m128i t0, t1, t2;                                                                                     \
        __asm__ volatile("movq    " #wk_offset "(%[s]), %[t0]\n\t"                  /* W + K */                 \
                         "paddq   16(%[s]), %[t0]\n\t"                              /* h + W + K */             \
                         "movdqa  112(%[s]), %[t1]\n\t"                             /* f */                     \
                         "pxor    64(%[s]), %[t1]\n\t"                              /* f ^ g */                 \
                         "pand    %[e], %[t1]\n\t"                                                              \
                         "pxor    64(%[s]), %[t1]\n\t"                              /* Ch(e, f, g) */           \
                         "paddq   %[t1], %[t0]\n\t"                                                             \
                         KELVORA_SHA512_ROTATIONS(e, t1, t2, 14, 4, 23, 23, 23, 4)  /* Sigma1(e) */             \
                         "paddq   %[t1], %[t0]\n\t"                                 /* T1 */                    \
                         "movdqa  0(%[s]), %[e]\n\t"                                /* d */                     \
                         "paddq   %[t0], %[e]\n\t"                                  /* the new e = d + T1 */    \
                         "movdqa  %[e], 208(%[s])\n\t"                                                          \
                         "movdqa  %[a], %[ab]\n\t"                                                              \
                         "pxor    96(%[s]), %[ab]\n\t"                              /* a ^ b */                 \
                         "pand    %[ab], %[bc]\n\t"                                                             \
                         "pxor    96(%[s]), %[bc]\n\t"                              /* Maj(a, b, c) */          \
                         "paddq   %[bc], %[t0]\n\t"                                                             \
                         KELVORA_SHA512_ROTATIONS(a, t1, t2, 28, 6, 5, 25, 5, 6)    /* Sigma0(a) */             \
                         "paddq   %[t1], %[t0]\n\t"                                                             \
                         "movdqa  %[t0], %[a]\n\t"                                  /* the new a = T1 + T2 */   \
                         "movdqa  %[t0], 192(%[s])"                                                             \
                         : [a] "+x"(a), [e] "+x"(e), [bc] "+x"(carry_in), [ab] "=x"(carry_out),                 \
                           [t0] "=x"(t0), [t1] "=x"(t1), [t2] "=x"(t2)                                          \
                         : [s] "r"(slots + (t))                                                                 \
                         : "memory");                                                                           \
    } while (0)

// Stores schedule pair j, the inputs of rounds 2j and 2j+1, in slot 2j:
// the first round reads it at offset 32 from its slot, the second at offset
// -8 from its own.
#define KELVORA_SHA512_STORE_PAIR(j, pair) (slots[2 * (j)].wk = (pair))

// Rounds t to t+3, and schedule pairs j and j+1 produced by `step`
// (expand_pair or load_pair with its arguments but the pair).
#define KELVORA_SHA512_FOUR_ROUNDS(t, j, step, ...)                        \
    do {                                                                   \
        KELVORA_SHA512_LOW_ROUND(t, 32, maj_x, maj_y);                     \
        KELVORA_SHA512_LOW_ROUND((t) + 1, -8, maj_y, maj_x);               \
        KELVORA_SHA512_STORE_PAIR(j, step(__VA_ARGS__, j));                \
        KELVORA_SHA512_LOW_ROUND((t) + 2, 32, maj_x, maj_y);               \
        KELVORA_SHA512_LOW_ROUND((t) + 3, -8, maj_y, maj_x);               \
        KELVORA_SHA512_STORE_PAIR((j) + 1, step(__VA_ARGS__, (j) + 1));    \
    } while (0)

KELVORA_SHA512_ENTRY("sse2,ssse3")
void compress_low_lane(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count)
{
    // The first block's words are loaded before the loop: nothing to read
    // without one.
    if (count == 0) return;
    alignas(16) std::uint64_t w[80];
    alignas(16) round_slot slots[84];
    for (int j = 0; j < 8; ++j) KELVORA_SHA512_STORE_PAIR(j, load_pair(w, blocks, j));

    for (; count != 0; --count, blocks += 128) {
        // The last sixteen rounds load the next block, or this one again
        // after the last block (the words are then not used).
        const std::uint8_t* const next = count > 1 ? blocks + 128 : blocks;
        for (int i = 0; i < 4; ++i) {
            slots[3 - i].a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(state + i));
            slots[3 - i].e = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(state + 4 + i));
        }
        __m128i a = slots[3].a, e = slots[3].e;
        __m128i maj_x = _mm_xor_si128(slots[2].a, slots[1].a), maj_y;
        // Rounds 0 to 63 expand the words of rounds 16 to 79; the last
        // sixteen load the next block's first words.
        for (int t = 0; t < 64; t += 4) KELVORA_SHA512_FOUR_ROUNDS(t, t / 2 + 8, expand_pair, w);
        for (int t = 64; t < 80; t += 4) KELVORA_SHA512_FOUR_ROUNDS(t, t / 2 - 32, load_pair, w, next);
        for (int i = 0; i < 4; ++i) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(state + i),
                             _mm_add_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(state + i)),
                                           slots[83 - i].a));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(state + 4 + i),
                             _mm_add_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(state + 4 + i)),
                                           slots[83 - i].e));
        }
    }
}

#undef KELVORA_SHA512_FOUR_ROUNDS
#undef KELVORA_SHA512_STORE_PAIR
#undef KELVORA_SHA512_LOW_ROUND
#undef KELVORA_SHA512_ROTATIONS
#undef KELVORA_SHA512_SHIFT_CHAIN

}  // namespace

sha512_compress_fn sha512_compress_vector_ssse3()
{
    return (cpu_features_detected() & cpu_ssse3) != 0 ? compress_low_lane : nullptr;
}

}  // namespace crypto::detail

#else  // not x86

namespace crypto::detail {

sha512_compress_fn sha512_compress_vector_ssse3()
{
    return nullptr;
}

}  // namespace crypto::detail

#endif
