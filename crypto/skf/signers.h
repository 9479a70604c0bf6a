#pragma once
#include <memory>
#include <string>

#include "crypto/signature_algorithm.h"

namespace crypto::skf {

// The SKF back end's RSA signer: every call connects to the certificate's
// device, opens its application, verifies the PIN, opens its container, signs
// the PKCS#1 DigestInfo of each hash and closes the container, the
// application and the device again. Signatures come back with their bytes in
// the reverse of the library's order. Only certificates of the SKF back end
// can be signed with ("Invalid SKF session" for any other).
class rsa : public signature_algorithm {
public:
    using signature_algorithm::signature_algorithm;

    byte_vector sign_hash(const byte_vector& hash) override;
    // One device session for the whole set, entries signed in id order; any
    // failure fails the whole call.
    signature_set sign_hashes(const hash_set& hashes) override;
    // The same, check told of each signature as soon as it is made.
    signature_set sign_hashes_checked(const hash_set& hashes, const signature_check& check) override;
    // Throws std::runtime_error "not implemented".
    bool verify(const byte_vector& hash, const byte_vector& signature) override;
    // False: the device needs its PIN.
    bool try_sign() override;
};

class rsa_sha256 final : public algorithm<rsa, signature_kind::rsa_sha256> {
public:
    using algorithm<rsa, signature_kind::rsa_sha256>::algorithm;
};

class rsa_sha384 final : public algorithm<rsa, signature_kind::rsa_sha384> {
public:
    using algorithm<rsa, signature_kind::rsa_sha384>::algorithm;
};

class rsa_sha512 final : public algorithm<rsa, signature_kind::rsa_sha512> {
public:
    using algorithm<rsa, signature_kind::rsa_sha512>::algorithm;
};

}  // namespace crypto::skf
