#pragma once
// Internal: the GOST R 34.11-2012 compression function g_N, its block loops
// and the choice between them.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace crypto::detail {

// Compresses `count` consecutive 64-byte blocks: for each, h = g_N(h, m),
// then N += 512 and sigma += m (mod 2^512). All values are eight 64-bit
// words, least significant first.
using streebog_blocks_fn = void (*)(std::uint64_t* h, std::uint64_t* n, std::uint64_t* sigma,
                                    const std::uint8_t* blocks, std::size_t count);

// Table lookups in plain C++, for every processor.
void streebog_blocks_portable(std::uint64_t* h, std::uint64_t* n, std::uint64_t* sigma,
                              const std::uint8_t* blocks, std::size_t count);

// The AVX-512 (VBMI) and GFNI version, or nullptr when this build or this
// processor has none.
streebog_blocks_fn streebog_blocks_avx512();

// The table version with its XORs in SSE2 registers, or nullptr when this
// build or this processor has none (SSE2 counts with SSSE3 and SSE4.1 in the
// cpu_ssse3 feature).
streebog_blocks_fn streebog_blocks_sse2();
// The same in the VEX encoding, for processors with AVX2.
streebog_blocks_fn streebog_blocks_sse2_vex();

// The block loop that update() uses: the fastest one the processor offers
// and the switch of cpu_features.h leaves on, the portable one otherwise.
streebog_blocks_fn streebog_blocks_selected();

// One compression h = g_N(h, m) with an explicit N (zero for g_0), without
// touching any counter. Used by the finishing steps.
void streebog_g(std::uint64_t* h, const std::uint64_t* n, const std::uint64_t* m);

// a += b modulo 2^512.
inline void streebog_add512(std::uint64_t* a, const std::uint64_t* b)
{
    std::uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        const std::uint64_t sum = a[i] + b[i];
        const std::uint64_t out = sum + carry;
        carry = static_cast<std::uint64_t>(sum < a[i]) | static_cast<std::uint64_t>(out < sum);
        a[i] = out;
    }
}

// a += value modulo 2^512, for the bit counter N.
inline void streebog_add_small(std::uint64_t* a, std::uint64_t value)
{
    for (int i = 0; i < 8 && value != 0; ++i) {
        a[i] += value;
        value = a[i] < value ? 1 : 0;
    }
}

// Little-endian 64-bit load from any address.
inline std::uint64_t streebog_load64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

}  // namespace crypto::detail
