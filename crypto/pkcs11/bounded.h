#pragma once
// A module writes lists and values into buffers that we size; what it reports
// back is used only as far as the buffer we gave it reaches.
#include <cstddef>

#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

// The number of entries (or bytes) of a buffer of capacity that a module
// reported as written: never more than the buffer holds.
inline std::size_t written_part(CK_ULONG reported, std::size_t capacity)
{
    return static_cast<std::size_t>(reported) < capacity ? static_cast<std::size_t>(reported) : capacity;
}

}  // namespace crypto::pkcs11
