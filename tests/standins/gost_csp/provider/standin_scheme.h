#pragma once
// The stand-in's deterministic "cryptography". It is NOT GOST R 34.10 and not
// secure: every value is a GOST R 34.11-2012 (512) digest of labelled inputs,
// so that the provider can check its own signatures and key wraps. A public
// key is derived from the private key; signatures and key agreement are
// computed from public keys only, which lets a verifier (or the other party
// of an agreement) work without any private key.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/gost_families.h"

namespace gost_standin {

using bytes = std::vector<std::uint8_t>;

bytes derive_public_key(const key_family& family, const bytes& private_key);
bytes make_signature(const key_family& family, const bytes& public_key, const bytes& hash_value);

// Symmetric in its two arguments: both parties derive the same 32-byte key.
bytes agree(const bytes& public_a, const bytes& public_b);

// Session-key wrapping under an agreement key and an 8-byte UKM.
struct wrapped_key {
    bytes encrypted;  // 32 bytes
    bytes mac;        // 4 bytes
};
wrapped_key wrap_session_key(const bytes& agreement, const bytes& ukm, const bytes& session_key,
                             const bytes& parameters);
// False when the MAC does not match.
bool unwrap_session_key(const bytes& agreement, const bytes& ukm, const wrapped_key& wrapped,
                        const bytes& parameters, bytes& session_key);

// XORs data with a key stream of the session key (the same call decrypts).
void apply_key_stream(const bytes& session_key, std::uint8_t* data, std::size_t length);

// The hash algorithm's digest of data through the project's GOST hashes.
bytes digest(std::uint32_t hash_alg, const bytes& data);

}  // namespace gost_standin
