#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "crypto/byte_vector.h"
#include "crypto/hash_algorithm.h"

namespace crypto {

namespace csp {
class x509certificate;
}

using certificate_ptr = std::shared_ptr<csp::x509certificate>;

// The six signature algorithms the system signs with, named by the OID of a
// certificate's own signature (the issuer's algorithm).
enum class signature_kind {
    gost_3410_2001,
    gost_3410_2012_256,
    gost_3410_2012_512,
    rsa_sha256,
    rsa_sha384,
    rsa_sha512,
};

struct signature_kind_info {
    signature_kind kind;
    const char* signature_oid;  // the certificate's signature algorithm
    const char* hash_oid;       // what create_hash hands the hash factory
    const char* digest_oid;     // the digest algorithm of a CMS message
    std::uint32_t hash_alg_id;  // CryptoAPI ALG_ID of the hash
    bool gost;
};

// The row whose signature OID equals oid exactly, or null.
const signature_kind_info* find_signature_kind(const std::string& signature_oid);
const signature_kind_info& signature_kind_row(signature_kind kind);

// Hash id -> hash bytes and hash id -> signature bytes, ordered by id bytes.
using hash_set = std::map<std::string, byte_vector>;
using signature_set = std::map<std::string, byte_vector>;
// Told of each signature of a set in id order; an exception it throws ends
// the signing of the set there, with that exception.
using signature_check = std::function<void(const std::string& id, const byte_vector& signature)>;

// A signer bound to one certificate and one PIN. Leaves exist per algorithm
// and back end; make_signature_algorithm picks one for a certificate.
class signature_algorithm {
public:
    signature_algorithm(certificate_ptr certificate, std::string pin);
    virtual ~signature_algorithm();
    signature_algorithm(const signature_algorithm&) = delete;
    signature_algorithm& operator=(const signature_algorithm&) = delete;

    // A fresh, uninitialised hash object of the algorithm's digest.
    virtual std::shared_ptr<hash_algorithm> create_hash() const = 0;
    virtual byte_vector sign_hash(const byte_vector& hash) = 0;
    virtual signature_set sign_hashes(const hash_set& hashes) = 0;
    // sign_hashes, with check told of each signature. Here after the whole
    // set is signed; the token back ends, whose signatures may be of any
    // size, tell it of each one as it is made, so a failing check stops them
    // before the rest is signed.
    virtual signature_set sign_hashes_checked(const hash_set& hashes, const signature_check& check);
    virtual bool verify(const byte_vector& hash, const byte_vector& signature) = 0;
    // Whether the key signs without asking for a PIN.
    virtual bool try_sign() = 0;
    virtual std::uint32_t hash_alg_id() const = 0;

    const certificate_ptr& certificate() const { return certificate_; }
    const std::string& pin() const { return pin_; }

protected:
    // Refuses a hash that a provider must not see: an empty one, or one whose
    // length is not the digest size of the algorithm (so that no provider
    // reads past the caller's bytes or signs a cut-off value).
    void check_hash(const byte_vector& hash) const;

private:
    certificate_ptr certificate_;
    std::string pin_;
};

// create_hash and hash_alg_id of one algorithm, the same in every back end.
template <class Backend, signature_kind Kind>
class algorithm : public Backend {
public:
    using Backend::Backend;

    std::shared_ptr<hash_algorithm> create_hash() const override
    {
        return make_hash_algorithm_from_oid(signature_kind_row(Kind).hash_oid);
    }
    std::uint32_t hash_alg_id() const override { return signature_kind_row(Kind).hash_alg_id; }
};

}  // namespace crypto
