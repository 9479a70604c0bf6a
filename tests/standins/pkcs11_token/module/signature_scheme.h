#pragma once
// The stand-in's deterministic "signatures" (test code, not GOST R 34.10):
// block k = SHA-256("kelvora-pkcs11-standin" || mechanism as 4 bytes, big
// endian || k as one byte || the key's CKA_ID || the data), and a signature
// is blocks 0 and 1 (64 bytes) or blocks 0 to 3 (128 bytes for the 512-bit
// mechanisms 0xD4321006 and 0xD4321009). Anyone can recompute it, so a test
// sees exactly which key, mechanism and data were used, and in which byte
// order the system returned it. A generated key pair's public value is made
// the same way from the generation mechanism, its CKA_ID and no data: 64
// bytes for 0x1200, 128 for 0xD4321005.
#include <cstddef>

#include "description.h"

namespace pkcs11_standin {

constexpr CK_MECHANISM_TYPE gost_2012_512_key_pair_gen = 0xD4321005UL;
constexpr CK_MECHANISM_TYPE gost_2012_512_sign = 0xD4321006UL;
constexpr CK_MECHANISM_TYPE gost_2012_256_with_hash = 0xD4321008UL;
constexpr CK_MECHANISM_TYPE gost_2012_512_with_hash = 0xD4321009UL;

bool is_signing_mechanism(CK_MECHANISM_TYPE mechanism);
// The data length the mechanism signs (a hash), or 0 for any length.
std::size_t signed_data_length(CK_MECHANISM_TYPE mechanism);
std::size_t signature_length(CK_MECHANISM_TYPE mechanism);
bytes standin_signature(CK_MECHANISM_TYPE mechanism, const bytes& key_id, const bytes& data);

bool is_key_pair_mechanism(CK_MECHANISM_TYPE mechanism);
bytes standin_public_key(CK_MECHANISM_TYPE mechanism, const bytes& key_id);

}  // namespace pkcs11_standin
