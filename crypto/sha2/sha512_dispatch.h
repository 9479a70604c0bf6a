#pragma once
// Internal: the SHA-384/SHA-512 compression functions and the choice between them.
#include <cstddef>
#include <cstdint>

namespace crypto::detail {

// Compresses `count` consecutive 128-byte blocks into the chaining words h[0..7].
using sha512_compress_fn = void (*)(std::uint64_t* h, const std::uint8_t* blocks, std::size_t count);

// Plain C++, for every processor.
void sha512_compress_portable(std::uint64_t* h, const std::uint8_t* blocks, std::size_t count);

// The x86-64 version with an AVX2 message schedule and BMI2 rounds, or
// nullptr when this build or this processor has none.
sha512_compress_fn sha512_compress_avx2();

// The versions with every 64-bit value in a vector register, or nullptr
// when this processor has none: SSSE3 with the rounds on the low lanes and
// the working variables in a memory frame (sha512_x86_vector_ssse3.cpp), and
// AVX2 with the working variables paired (sha512_x86_vector_avx2.cpp). The
// i686 build uses them; the x86-64 build keeps its 64-bit general registers
// and the AVX2 version above.
sha512_compress_fn sha512_compress_vector_ssse3();
sha512_compress_fn sha512_compress_vector_avx2();

// The function that digests started from now on use: the fastest one the
// processor has and the switch of cpu_features.h leaves on, the portable one
// otherwise.
sha512_compress_fn sha512_compress_selected();


}  // namespace crypto::detail
