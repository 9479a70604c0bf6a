#pragma once
#include <cstddef>

namespace crypto {
// Fills the buffer from the operating system's cryptographic random source;
// throws std::runtime_error when the source fails.
void random_bytes(void* buffer, std::size_t length);
}  // namespace crypto
