#pragma once
#include <memory>
#include <string>

#include "crypto/pkcs11/cryptoki.h"
#include "crypto/signature_algorithm.h"

namespace crypto::pkcs11 {

// Signs hashes on the token that holds the certificate: logs in on the
// certificate's session with the PIN, finds the private key with the
// certificate's CKA_ID, signs, logs out, and returns the token's signature
// with its bytes reversed. A certificate that is not a token certificate with
// a valid session is refused with "Invalid pkcs#11 session".
class gost_3410 : public signature_algorithm {
public:
    using signature_algorithm::signature_algorithm;

    byte_vector sign_hash(const byte_vector& hash) override;
    // One login and key search for the whole set, signed in id order; the
    // first failure fails the call.
    signature_set sign_hashes(const hash_set& hashes) override;
    // The same, check told of each signature as soon as it is made.
    signature_set sign_hashes_checked(const hash_set& hashes, const signature_check& check) override;
    // Throws std::runtime_error "not implemented exception".
    bool verify(const byte_vector& hash, const byte_vector& signature) override;
    // A token key always needs its PIN: false, without touching the token.
    bool try_sign() override;

    // CKM_GOSTR3410, or the vendor's 512-bit mechanism for the 512-bit hash.
    CK_MECHANISM_TYPE mechanism() const;
};

class gost_3410_2001 final : public algorithm<gost_3410, signature_kind::gost_3410_2001> {
public:
    using algorithm<gost_3410, signature_kind::gost_3410_2001>::algorithm;
};

class gost_3410_2012_256 final : public algorithm<gost_3410, signature_kind::gost_3410_2012_256> {
public:
    using algorithm<gost_3410, signature_kind::gost_3410_2012_256>::algorithm;
};

class gost_3410_2012_512 final : public algorithm<gost_3410, signature_kind::gost_3410_2012_512> {
public:
    using algorithm<gost_3410, signature_kind::gost_3410_2012_512>::algorithm;
};

}  // namespace crypto::pkcs11
