#pragma once
// Internal: the SHA-384/SHA-512 message schedule shared by the
// vector-register compression functions (sha512_x86_vector_ssse3.cpp,
// sha512_x86_vector_avx2.cpp), two words per register.
//
// The schedule is produced a pair of words at a time so that the rounds can
// interleave it: the rounds of those functions form one long dependency chain
// and leave execution units idle, which the independent schedule work fills.
// While rounds t and t+1 of a block run, words t+16 and t+17 are computed;
// during the last sixteen rounds the first sixteen words of the next block
// are loaded. Each pair is also stored, plus its round constants, for the
// rounds to read back from memory.
#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include <cstdint>

#include "crypto/sha2/sha512_constants.h"

// 32-bit Windows keeps the stack only 4-byte aligned; realign on entry so
// the 16-byte aligned frames and spills stay aligned.
#if defined(__i386__)
#define KELVORA_SHA512_ENTRY(isa) __attribute__((target(isa), force_align_arg_pointer))
#else
#define KELVORA_SHA512_ENTRY(isa) __attribute__((target(isa)))
#endif

#define KELVORA_SHA512_SCHEDULE_HELPER inline __attribute__((always_inline, target("sse2,ssse3")))

namespace crypto::detail::sha512_vector {

// Byte order of a 64-bit lane reversed, and rotated right by 8 bits.
alignas(16) inline constexpr std::uint8_t byte_swap[16] = {7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8};
alignas(16) inline constexpr std::uint8_t rotate_right_8[16] = {1, 2, 3, 4, 5, 6, 7, 0, 9, 10, 11, 12, 13, 14, 15, 8};

KELVORA_SHA512_SCHEDULE_HELPER __m128i plus_constants(__m128i x, int j)
{
    return _mm_add_epi64(x, _mm_load_si128(reinterpret_cast<const __m128i*>(sha512_round_constants + 2 * j)));
}

// Words 2j and 2j+1 (j < 8) of `block`, read big-endian and stored in
// w[2j..2j+1]; returns them plus their round constants.
KELVORA_SHA512_SCHEDULE_HELPER __m128i load_pair(std::uint64_t* w, const std::uint8_t* block, int j)
{
    const __m128i x = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * j)),
                                       _mm_load_si128(reinterpret_cast<const __m128i*>(byte_swap)));
    _mm_store_si128(reinterpret_cast<__m128i*>(w + 2 * j), x);
    return plus_constants(x, j);
}

// Words 2j and 2j+1 (8 <= j < 40) from the earlier words in w, stored
// there too; returns them plus their round constants:
//   W[i] = sigma1(W[i-2]) + W[i-7] + sigma0(W[i-15]) + W[i-16]
//   sigma0(x) = ROTR1(x) ^ ROTR8(x) ^ SHR7(x)    (ROTR8 is a byte shuffle)
//   sigma1(x) = ROTR19(x) ^ ROTR61(x) ^ SHR6(x)
// Written in assembly so that it needs only four vector registers, the ones
// the rounds leave free; the compiler hoists every shift and spills. The
// words at odd offsets are read with unaligned loads: they were stored
// several rounds earlier, so the loads find them in the cache rather than
// waiting on the stores.
KELVORA_SHA512_SCHEDULE_HELPER __m128i expand_pair(std::uint64_t* w, int j)
{
    __m128i x, t1, t2, t3;
    __asm__ volatile(
        "movdqu  -120(%[w]), %[t1]\n\t"  /* W[i-15], W[i-14] */
        "movdqa  %[t1], %[t2]\n\t"
        "psrlq   $1, %[t2]\n\t"
        "movdqa  %[t1], %[t3]\n\t"
        "psrlq   $7, %[t3]\n\t"
        "pxor    %[t3], %[t2]\n\t"
        "movdqa  %[t1], %[t3]\n\t"
        "psllq   $63, %[t3]\n\t"
        "pxor    %[t3], %[t2]\n\t"
        "pshufb  %[rot8], %[t1]\n\t"
        "pxor    %[t1], %[t2]\n\t"       /* sigma0 */
        "movdqa  -128(%[w]), %[x]\n\t"   /* W[i-16], W[i-15] */
        "paddq   %[t2], %[x]\n\t"
        "movdqu  -56(%[w]), %[t1]\n\t"   /* W[i-7], W[i-6] */
        "paddq   %[t1], %[x]\n\t"
        "movdqa  -16(%[w]), %[t1]\n\t"   /* W[i-2], W[i-1] */
        "movdqa  %[t1], %[t2]\n\t"
        "psrlq   $6, %[t2]\n\t"
        "movdqa  %[t1], %[t3]\n\t"
        "psrlq   $19, %[t3]\n\t"
        "pxor    %[t3], %[t2]\n\t"
        "psrlq   $42, %[t3]\n\t"         /* >> 61 */
        "pxor    %[t3], %[t2]\n\t"
        "psllq   $3, %[t1]\n\t"
        "pxor    %[t1], %[t2]\n\t"
        "psllq   $42, %[t1]\n\t"         /* << 45 */
        "pxor    %[t1], %[t2]\n\t"       /* sigma1 */
        "paddq   %[t2], %[x]\n\t"
        "movdqa  %[x], (%[w])\n\t"
        "paddq   %[k], %[x]"
        : [x] "=x"(x), [t1] "=x"(t1), [t2] "=x"(t2), [t3] "=x"(t3)
        : [w] "r"(w + 2 * j), [k] "m"(*reinterpret_cast<const __m128i*>(sha512_round_constants + 2 * j)),
          [rot8] "m"(*reinterpret_cast<const __m128i*>(rotate_right_8))
        : "memory");
    return x;
}

}  // namespace crypto::detail::sha512_vector

#endif
