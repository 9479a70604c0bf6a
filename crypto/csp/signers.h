#pragma once
#include <cstddef>
#include <memory>
#include <string>

#include "crypto/signature_algorithm.h"

namespace crypto::csp {

class x509certificate;

// The length every signature made with the certificate's key must have: 64
// bytes for GOST R 34.10-2001 and 2012 256-bit keys, 128 for 2012 512-bit
// keys, the modulus length for an RSA key. A key of another algorithm is
// taken to sign as the certificate's own signature algorithm (GOST) does;
// 0, which no signature has, when that is RSA or unknown.
std::size_t signature_size(const x509certificate& certificate);

// The CryptoAPI back end: signs in the certificate's key container, opened
// through its key-provider information for each call.
class signer : public signature_algorithm {
public:
    using signature_algorithm::signature_algorithm;

    byte_vector sign_hash(const byte_vector& hash) override;
    // All hashes are signed in one opening of the container; any failure
    // fails the whole call.
    signature_set sign_hashes(const hash_set& hashes) override;
    bool verify(const byte_vector& hash, const byte_vector& signature) override;
    // Signs a probe hash with the container opened silently; CryptoAPI
    // failures (a PIN would be needed, no key, ...) answer false.
    bool try_sign() override;
};

class gost_3410 : public signer {
public:
    using signer::signer;
};

class rsa : public signer {
public:
    using signer::signer;
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

// The CryptoAPI leaf of kind.
std::shared_ptr<signature_algorithm> make_csp_signature_algorithm(signature_kind kind, certificate_ptr certificate,
                                                                  std::string pin);

}  // namespace crypto::csp
