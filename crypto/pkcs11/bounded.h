#pragma once
// A module writes lists and values into buffers that we size; what it reports
// back is used only as far as the buffer we gave it reaches.
#include <cstddef>

#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

// The most a token may answer for a generated public key's value and its
// parameter set.
constexpr CK_ULONG public_value_capacity = 1024;
constexpr CK_ULONG parameters_capacity = 64;
// The most any attribute read from a token object may take (a certificate,
// a key value, an identifier): none comes near it, and a larger size that a
// module reports is a failed read rather than an allocation of that size.
constexpr CK_ULONG attribute_size_limit = 64 * 1024;

// The number of entries (or bytes) of a buffer of capacity that a module
// reported as written: never more than the buffer holds.
inline std::size_t written_part(CK_ULONG reported, std::size_t capacity)
{
    return static_cast<std::size_t>(reported) < capacity ? static_cast<std::size_t>(reported) : capacity;
}

}  // namespace crypto::pkcs11
