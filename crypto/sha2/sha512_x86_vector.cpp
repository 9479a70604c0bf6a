// SHA-384/SHA-512 compression with every 64-bit value in a vector register.
// Meant for the i686 build, whose general registers are 32 bits wide: there a
// 64-bit add, rotate or XOR costs two or more instructions, while SSE2 does
// each in one. The message schedule runs two words per register (SSSE3). The
// SSSE3 version runs the rounds on the low 64-bit lane; the AVX2 version
// pairs the working variables (see compress_avx2_paired). The functions carry
// their own target attributes; the dispatcher checks the processor first.
#include "crypto/sha2/sha512_dispatch.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#include "crypto/cpu_features.h"
#include "crypto/sha2/sha512_constants.h"

#define KELVORA_SHA512_VECTOR_HELPER inline __attribute__((always_inline, target("sse2,ssse3")))

// 32-bit Windows keeps the stack only 4-byte aligned; realign on entry so
// spilled vector registers stay aligned.
#if defined(__i386__)
#define KELVORA_SHA512_ENTRY(isa) __attribute__((target(isa), force_align_arg_pointer))
#else
#define KELVORA_SHA512_ENTRY(isa) __attribute__((target(isa)))
#endif

namespace crypto::detail {

namespace {

KELVORA_SHA512_VECTOR_HELPER __m128i rotr_xor3(__m128i x, int a, int b, int c)
{
    const __m128i right = _mm_xor_si128(_mm_xor_si128(_mm_srli_epi64(x, a), _mm_srli_epi64(x, b)), _mm_srli_epi64(x, c));
    const __m128i left =
        _mm_xor_si128(_mm_xor_si128(_mm_slli_epi64(x, 64 - a), _mm_slli_epi64(x, 64 - b)), _mm_slli_epi64(x, 64 - c));
    return _mm_xor_si128(right, left);
}

KELVORA_SHA512_VECTOR_HELPER __m128i big_sigma0(__m128i x) { return rotr_xor3(x, 28, 34, 39); }
KELVORA_SHA512_VECTOR_HELPER __m128i big_sigma1(__m128i x) { return rotr_xor3(x, 14, 18, 41); }

KELVORA_SHA512_VECTOR_HELPER __m128i small_sigma0(__m128i x)
{
    const __m128i r = _mm_xor_si128(_mm_xor_si128(_mm_srli_epi64(x, 1), _mm_slli_epi64(x, 63)),
                                    _mm_xor_si128(_mm_srli_epi64(x, 8), _mm_slli_epi64(x, 56)));
    return _mm_xor_si128(r, _mm_srli_epi64(x, 7));
}

KELVORA_SHA512_VECTOR_HELPER __m128i small_sigma1(__m128i x)
{
    const __m128i r = _mm_xor_si128(_mm_xor_si128(_mm_srli_epi64(x, 19), _mm_slli_epi64(x, 45)),
                                    _mm_xor_si128(_mm_srli_epi64(x, 61), _mm_slli_epi64(x, 3)));
    return _mm_xor_si128(r, _mm_srli_epi64(x, 6));
}

// Words 2j, 2j+1 plus their round constants for j = 0..39 into wk.
KELVORA_SHA512_VECTOR_HELPER void schedule(std::uint64_t* wk, const std::uint8_t* block)
{
    // Reverses the bytes of each 64-bit lane.
    const __m128i swap = _mm_set_epi64x(0x08090a0b0c0d0e0fLL, 0x0001020304050607LL);
    __m128i x[8];  // ring: pair j at x[j mod 8]
    for (int j = 0; j < 8; ++j) {
        x[j] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * j)), swap);
        _mm_store_si128(reinterpret_cast<__m128i*>(wk + 2 * j),
                        _mm_add_epi64(x[j], _mm_load_si128(reinterpret_cast<const __m128i*>(sha512_round_constants + 2 * j))));
    }
    for (int j = 8; j < 40; ++j) {
        const __m128i w15 = _mm_alignr_epi8(x[(j + 1) & 7], x[j & 7], 8);       // words 2j-15, 2j-14
        const __m128i w7 = _mm_alignr_epi8(x[(j + 5) & 7], x[(j + 4) & 7], 8);  // words 2j-7, 2j-6
        x[j & 7] = _mm_add_epi64(_mm_add_epi64(x[j & 7], small_sigma0(w15)),
                                 _mm_add_epi64(w7, small_sigma1(x[(j + 7) & 7])));
        _mm_store_si128(reinterpret_cast<__m128i*>(wk + 2 * j),
                        _mm_add_epi64(x[j & 7], _mm_load_si128(reinterpret_cast<const __m128i*>(sha512_round_constants + 2 * j))));
    }
}

// One round on the low lanes; the caller rotates the roles of a..h. Maj
// reuses a ^ b of this round as b ^ c of the next one (bc in, ab out).
#define KELVORA_SHA512_VROUND(a, b, c, d, e, f, g, h, t, bc, ab)                                           \
    do {                                                                                                   \
        const __m128i ch = _mm_xor_si128(_mm_and_si128(e, f), _mm_andnot_si128(e, g));                    \
        h = _mm_add_epi64(_mm_add_epi64(h, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(wk + (t)))),   \
                          _mm_add_epi64(ch, big_sigma1(e)));                                               \
        d = _mm_add_epi64(d, h);                                                                           \
        ab = _mm_xor_si128(a, b);                                                                          \
        h = _mm_add_epi64(h, _mm_add_epi64(big_sigma0(a), _mm_xor_si128(_mm_and_si128(ab, bc), b)));       \
    } while (0)

#define KELVORA_SHA512_VEIGHT(t)                                         \
    KELVORA_SHA512_VROUND(a, b, c, d, e, f, g, h, (t) + 0, maj_x, maj_y); \
    KELVORA_SHA512_VROUND(h, a, b, c, d, e, f, g, (t) + 1, maj_y, maj_x); \
    KELVORA_SHA512_VROUND(g, h, a, b, c, d, e, f, (t) + 2, maj_x, maj_y); \
    KELVORA_SHA512_VROUND(f, g, h, a, b, c, d, e, (t) + 3, maj_y, maj_x); \
    KELVORA_SHA512_VROUND(e, f, g, h, a, b, c, d, (t) + 4, maj_x, maj_y); \
    KELVORA_SHA512_VROUND(d, e, f, g, h, a, b, c, (t) + 5, maj_y, maj_x); \
    KELVORA_SHA512_VROUND(c, d, e, f, g, h, a, b, (t) + 6, maj_x, maj_y); \
    KELVORA_SHA512_VROUND(b, c, d, e, f, g, h, a, (t) + 7, maj_y, maj_x)

KELVORA_SHA512_VECTOR_HELPER void compress_blocks(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count)
{
    alignas(16) std::uint64_t wk[80];
#define KELVORA_SHA512_LOAD(i) _mm_loadl_epi64(reinterpret_cast<const __m128i*>(state + (i)))
    __m128i a = KELVORA_SHA512_LOAD(0), b = KELVORA_SHA512_LOAD(1), c = KELVORA_SHA512_LOAD(2);
    __m128i d = KELVORA_SHA512_LOAD(3), e = KELVORA_SHA512_LOAD(4), f = KELVORA_SHA512_LOAD(5);
    __m128i g = KELVORA_SHA512_LOAD(6), h = KELVORA_SHA512_LOAD(7);
#undef KELVORA_SHA512_LOAD
    for (; count != 0; --count, blocks += 128) {
        schedule(wk, blocks);
        const __m128i a0 = a, b0 = b, c0 = c, d0 = d, e0 = e, f0 = f, g0 = g, h0 = h;
        __m128i maj_x = _mm_xor_si128(b, c), maj_y;
        for (int t = 0; t < 80; t += 8) {
            KELVORA_SHA512_VEIGHT(t);
        }
        a = _mm_add_epi64(a, a0);
        b = _mm_add_epi64(b, b0);
        c = _mm_add_epi64(c, c0);
        d = _mm_add_epi64(d, d0);
        e = _mm_add_epi64(e, e0);
        f = _mm_add_epi64(f, f0);
        g = _mm_add_epi64(g, g0);
        h = _mm_add_epi64(h, h0);
    }
    const __m128i* const out[8] = {&a, &b, &c, &d, &e, &f, &g, &h};
    for (int i = 0; i < 8; ++i) _mm_storel_epi64(reinterpret_cast<__m128i*>(state + i), *out[i]);
}

#undef KELVORA_SHA512_VEIGHT
#undef KELVORA_SHA512_VROUND

// AVX2 version with the eight working variables paired in four registers,
// (a, e), (b, f), (c, g) and (d, h), low lane first: one set of per-lane
// (variable) shifts gives Sigma0(a) and Sigma1(e) together, one AND-XOR step
// gives Maj(a, b, c) = c ^ ((a ^ c) & (b ^ c)) and Ch(e, f, g) = g ^ (e & (f ^ g))
// together, and nothing spills out of the eight vector registers of the
// i686 build.
#define KELVORA_SHA512_AVX2_HELPER inline __attribute__((always_inline, target("avx2")))

KELVORA_SHA512_AVX2_HELPER __m128i paired_sigma(__m128i x)
{
    // Lane 0 (a): rotations by 28, 34, 39; lane 1 (e): by 14, 18, 41.
    const __m128i r1 = _mm_set_epi64x(14, 28), l1 = _mm_set_epi64x(50, 36);
    const __m128i r2 = _mm_set_epi64x(18, 34), l2 = _mm_set_epi64x(46, 30);
    const __m128i r3 = _mm_set_epi64x(41, 39), l3 = _mm_set_epi64x(23, 25);
    // Two terms at a time, each pair pinned in a register (the empty asm
    // keeps the compiler from hoisting all six shifts, which needs more than
    // the eight registers of the i686 build and spills inside the round's
    // dependency chain).
    __m128i a = _mm_xor_si128(_mm_srlv_epi64(x, r1), _mm_sllv_epi64(x, l1));
    __asm__("" : "+x"(a));
    __m128i b = _mm_xor_si128(_mm_srlv_epi64(x, r2), _mm_sllv_epi64(x, l2));
    __asm__("" : "+x"(b));
    a = _mm_xor_si128(a, b);
    b = _mm_xor_si128(_mm_srlv_epi64(x, r3), _mm_sllv_epi64(x, l3));
    return _mm_xor_si128(a, b);
}

// One round: p1 = (a, e), p2 = (b, f), p3 = (c, g), p4 = (d, h); the new
// (a, e) replaces p4 and the caller rotates the roles.
#define KELVORA_SHA512_PROUND(p1, p2, p3, p4, t)                                                                \
    do {                                                                                                        \
        const __m128i x = _mm_xor_si128(p1, _mm_and_si128(p3, low_lane));                                       \
        const __m128i f = _mm_xor_si128(p3, _mm_and_si128(x, _mm_xor_si128(p2, p3)));                           \
        const __m128i u = _mm_add_epi64(paired_sigma(p1), f);   /* (T2, Sigma1(e) + Ch) */                      \
        const __m128i hk = _mm_add_epi64(p4, _mm_slli_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(wk + (t))), 8)); \
        const __m128i v = _mm_add_epi64(hk, u); /* lane 1: T1 */                                                \
        p4 = _mm_add_epi64(_mm_unpackhi_epi64(v, v), _mm_unpacklo_epi64(u, p4)); /* (T1 + T2, d + T1) */        \
    } while (0)

KELVORA_SHA512_ENTRY("avx2")
void compress_avx2_paired(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count)
{
    alignas(16) std::uint64_t wk[80];
    const __m128i low_lane = _mm_set_epi64x(0, -1);
    __m128i ae = _mm_set_epi64x(static_cast<long long>(state[4]), static_cast<long long>(state[0]));
    __m128i bf = _mm_set_epi64x(static_cast<long long>(state[5]), static_cast<long long>(state[1]));
    __m128i cg = _mm_set_epi64x(static_cast<long long>(state[6]), static_cast<long long>(state[2]));
    __m128i dh = _mm_set_epi64x(static_cast<long long>(state[7]), static_cast<long long>(state[3]));
    for (; count != 0; --count, blocks += 128) {
        schedule(wk, blocks);
        const __m128i ae0 = ae, bf0 = bf, cg0 = cg, dh0 = dh;
        for (int t = 0; t < 80; t += 4) {
            KELVORA_SHA512_PROUND(ae, bf, cg, dh, t + 0);
            KELVORA_SHA512_PROUND(dh, ae, bf, cg, t + 1);
            KELVORA_SHA512_PROUND(cg, dh, ae, bf, t + 2);
            KELVORA_SHA512_PROUND(bf, cg, dh, ae, t + 3);
        }
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

#undef KELVORA_SHA512_PROUND
#undef KELVORA_SHA512_AVX2_HELPER

KELVORA_SHA512_ENTRY("sse2,ssse3")
void compress_ssse3(std::uint64_t* state, const std::uint8_t* blocks, std::size_t count)
{
    compress_blocks(state, blocks, count);
}

}  // namespace

sha512_compress_fn sha512_compress_vector_ssse3()
{
    return (cpu_features_detected() & cpu_ssse3) != 0 ? compress_ssse3 : nullptr;
}

sha512_compress_fn sha512_compress_vector_avx2()
{
    return (cpu_features_detected() & cpu_avx2) != 0 ? compress_avx2_paired : nullptr;
}

}  // namespace crypto::detail

#undef KELVORA_SHA512_ENTRY
#undef KELVORA_SHA512_VECTOR_HELPER

#else  // not x86

namespace crypto::detail {

sha512_compress_fn sha512_compress_vector_ssse3()
{
    return nullptr;
}

sha512_compress_fn sha512_compress_vector_avx2()
{
    return nullptr;
}

}  // namespace crypto::detail

#endif
