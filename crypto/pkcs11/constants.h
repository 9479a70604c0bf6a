#pragma once
// Mechanisms and attributes of the token vendors' GOST R 34.10-2012 support,
// beside the standard CKM_GOSTR3410 (0x1201) of the Cryptoki header.
#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

// 512-bit GOST R 34.10-2012 key-pair generation.
constexpr CK_MECHANISM_TYPE mechanism_gost_3410_12_512_key_pair_gen = 0xD4321005UL;
// Signing a GOST R 34.11-2012 512-bit hash with a 512-bit key.
constexpr CK_MECHANISM_TYPE mechanism_gost_3410_12_512 = 0xD4321006UL;
// Signing with GOST R 34.11-2012 hashing on the token, 256 and 512 bits. The
// 256-bit one in a token's mechanism list marks support of the 2012 algorithms.
constexpr CK_MECHANISM_TYPE mechanism_gost_3410_12_256_with_3411_12 = 0xD4321008UL;
constexpr CK_MECHANISM_TYPE mechanism_gost_3410_12_512_with_3411_12 = 0xD4321009UL;

// The GOST R 34.10 and GOST R 34.11 parameter sets of a key.
constexpr CK_ATTRIBUTE_TYPE attribute_gost_3410_params = 0x250UL;
constexpr CK_ATTRIBUTE_TYPE attribute_gost_3411_params = 0x251UL;

}  // namespace crypto::pkcs11
