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

// sigma0(x) = ROTR1(x) ^ ROTR8(x) ^ SHR7(x); the byte rotation is one shuffle.
KELVORA_SHA512_SCHEDULE_HELPER __m128i small_sigma0(__m128i x)
{
    const __m128i rotr8 = _mm_set_epi8(8, 15, 14, 13, 12, 11, 10, 9, 0, 7, 6, 5, 4, 3, 2, 1);
    const __m128i r1 = _mm_xor_si128(_mm_srli_epi64(x, 1), _mm_slli_epi64(x, 63));
    return _mm_xor_si128(_mm_xor_si128(r1, _mm_shuffle_epi8(x, rotr8)), _mm_srli_epi64(x, 7));
}

// sigma1(x) = ROTR19(x) ^ ROTR61(x) ^ SHR6(x).
KELVORA_SHA512_SCHEDULE_HELPER __m128i small_sigma1(__m128i x)
{
    const __m128i r = _mm_xor_si128(_mm_xor_si128(_mm_srli_epi64(x, 19), _mm_slli_epi64(x, 45)),
                                    _mm_xor_si128(_mm_srli_epi64(x, 61), _mm_slli_epi64(x, 3)));
    return _mm_xor_si128(r, _mm_srli_epi64(x, 6));
}

KELVORA_SHA512_SCHEDULE_HELPER __m128i plus_constants(__m128i x, int j)
{
    return _mm_add_epi64(x, _mm_load_si128(reinterpret_cast<const __m128i*>(sha512_round_constants + 2 * j)));
}

// Words 2j and 2j+1 (j < 8) of `block`, read big-endian and stored in
// w[2j..2j+1]; returns them plus their round constants.
KELVORA_SHA512_SCHEDULE_HELPER __m128i load_pair(std::uint64_t* w, const std::uint8_t* block, int j)
{
    const __m128i swap = _mm_set_epi8(8, 9, 10, 11, 12, 13, 14, 15, 0, 1, 2, 3, 4, 5, 6, 7);
    const __m128i x = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * j)), swap);
    _mm_store_si128(reinterpret_cast<__m128i*>(w + 2 * j), x);
    return plus_constants(x, j);
}

// Words 2j and 2j+1 (8 <= j < 40) from the earlier words in w, stored
// there too; returns them plus their round constants. The words at odd
// offsets are read with unaligned loads: they were stored several rounds
// earlier, so the loads find them in the cache rather than waiting on the
// stores.
KELVORA_SHA512_SCHEDULE_HELPER __m128i expand_pair(std::uint64_t* w, int j)
{
    const __m128i w16 = _mm_load_si128(reinterpret_cast<const __m128i*>(w + 2 * j - 16));
    const __m128i w15 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 2 * j - 15));
    const __m128i w7 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 2 * j - 7));
    const __m128i w2 = _mm_load_si128(reinterpret_cast<const __m128i*>(w + 2 * j - 2));
    const __m128i x = _mm_add_epi64(_mm_add_epi64(w16, small_sigma0(w15)), _mm_add_epi64(w7, small_sigma1(w2)));
    _mm_store_si128(reinterpret_cast<__m128i*>(w + 2 * j), x);
    return plus_constants(x, j);
}

// The pair of words that rounds 2j-16 and 2j-15 prepare: j < 40 expands
// words of this block, later ones load the next block (`next`).
KELVORA_SHA512_SCHEDULE_HELPER __m128i pair_ahead(std::uint64_t* w, const std::uint8_t* next, int j)
{
    return j < 40 ? expand_pair(w, j) : load_pair(w, next, j - 40);
}

}  // namespace crypto::detail::sha512_vector

#endif
