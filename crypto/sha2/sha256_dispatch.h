#pragma once
// Internal: the SHA-256 compression functions and the choice between them.
#include <cstddef>
#include <cstdint>

namespace crypto::detail {

// Compresses `count` consecutive 64-byte blocks into the chaining words h[0..7].
using sha256_compress_fn = void (*)(std::uint32_t* h, const std::uint8_t* blocks, std::size_t count);

// Plain C++, for every processor.
void sha256_compress_portable(std::uint32_t* h, const std::uint8_t* blocks, std::size_t count);

// The x86 SHA-extension version, or nullptr when this build or this
// processor has none.
sha256_compress_fn sha256_compress_shani();

// The function that digests started from now on use: the SHA-extension one
// when available and not switched off (cpu_features.h), the portable one otherwise.
sha256_compress_fn sha256_compress_selected();


}  // namespace crypto::detail
