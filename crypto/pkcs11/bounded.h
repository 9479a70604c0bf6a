#pragma once
// A module writes lists and values into buffers that we size; what it reports
// back is used only as far as the buffer we gave it reaches. A count or size
// it reports is bounded before a buffer of it is made: a larger one gets a
// buffer of the bound, which a working module never needs.
#include <cstddef>

#include "crypto/pkcs11/cryptoki.h"
#include "crypto/util/written_part.h"

namespace crypto::pkcs11 {

// The most a token may answer for a generated public key's value and its
// parameter set.
constexpr CK_ULONG public_value_capacity = 1024;
constexpr CK_ULONG parameters_capacity = 64;
// The most any attribute read from a token object may take (a certificate,
// a key value, an identifier): none comes near it, and a larger size that a
// module reports is a failed read rather than an allocation of that size.
constexpr CK_ULONG attribute_size_limit = 64 * 1024;
// The most slots one slot list, and mechanisms one mechanism list, are read
// with, and the most bytes a token's signature may take.
constexpr CK_ULONG slot_list_capacity = 256;
constexpr CK_ULONG mechanism_list_capacity = 1024;
constexpr CK_ULONG signature_size_limit = 8 * 1024;

using util::keep_written;
using util::written_part;

// The size of the buffer made for a count or size a module asked for.
inline std::size_t bounded_size(CK_ULONG reported, CK_ULONG limit)
{
    return static_cast<std::size_t>(reported < limit ? reported : limit);
}

}  // namespace crypto::pkcs11
