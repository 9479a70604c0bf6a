#pragma once
// The test library's "RSA signature": the PKCS#1 v1.5 signature block of the
// data (00 01 FF..FF 00 data, modulus bytes long) XORed with a key stream of
// the container's path. Anyone can undo it, so a test reads back exactly the
// data that was signed and which container signed it. NOT a signature.
#include <string>

#include "description.h"

namespace skf_standin {

// Empty when data does not fit into the block (modulus - 11 bytes at most).
bytes scheme_sign(const std::string& container_path, std::uint32_t modulus, const bytes& data);

// SHA-256(path || counter as 4 bytes big-endian) for counter 0, 1, ...,
// concatenated and cut to length.
bytes key_stream(const std::string& container_path, std::size_t length);

}  // namespace skf_standin
