#pragma once
#include "crypto/byte_vector.h"

namespace crypto::skf {

// The PKCS#1 (EMSA-PKCS1-v1_5) DigestInfo of a hash, the algorithm chosen by
// the hash length alone: 32 bytes SHA-256, 48 SHA-384, 64 SHA-512. Any other
// length gives an empty result.
byte_vector make_digest_info(const byte_vector& hash);

}  // namespace crypto::skf
