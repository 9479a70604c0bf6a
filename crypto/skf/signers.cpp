#include "crypto/skf/signers.h"

#include <stdexcept>
#include <utility>

#include "crypto/skf/backend.h"
#include "crypto/skf/signing_session.h"

namespace crypto::skf {

byte_vector rsa::sign_hash(const byte_vector& hash)
{
    const certificate_ptr held = certificate();
    const signing_session session(require_skf_certificate(held), pin());
    auto signature = session.sign(hash);
    if (signature.empty())
        throw std::runtime_error("Cannot sign hash");
    return signature;
}

signature_set rsa::sign_hashes(const hash_set& hashes)
{
    return sign_hashes_checked(hashes, {});
}

signature_set rsa::sign_hashes_checked(const hash_set& hashes, const signature_check& check)
{
    const certificate_ptr held = certificate();
    const signing_session session(require_skf_certificate(held), pin());
    if (hashes.empty())
        throw std::runtime_error("Generic SKF error");
    signature_set signatures;
    for (const auto& entry : hashes) {
        auto signature = session.sign(entry.second);
        if (signature.empty())
            throw std::runtime_error("Cannot sign hashes");
        if (check)
            check(entry.first, signature);
        signatures.emplace(entry.first, std::move(signature));
    }
    return signatures;
}

bool rsa::verify(const byte_vector&, const byte_vector&)
{
    throw std::runtime_error("not implemented");
}

bool rsa::try_sign()
{
    return false;
}

std::shared_ptr<signature_algorithm> make_signature_algorithm(signature_kind kind, certificate_ptr certificate,
                                                              std::string pin)
{
    switch (kind) {
    case signature_kind::rsa_sha256:
        return std::make_shared<rsa_sha256>(std::move(certificate), std::move(pin));
    case signature_kind::rsa_sha384:
        return std::make_shared<rsa_sha384>(std::move(certificate), std::move(pin));
    case signature_kind::rsa_sha512:
        return std::make_shared<rsa_sha512>(std::move(certificate), std::move(pin));
    default:
        return {};
    }
}

}  // namespace crypto::skf
