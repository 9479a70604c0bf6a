#include "crypto/csp/signers.h"

#include <utility>

#include "crypto/csp/context.h"
#include "crypto/csp/hash_handle.h"
#include "crypto/csp/key.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

byte_vector signer::sign_hash(const byte_vector& hash)
{
    check_hash(hash);
    const crypt_context container(certificate(), pin(), false);
    container.require_handle();
    const auto handle = hash_handle::make(container.handle(), hash_alg_id(), hash);
    if (!handle)
        throw win32_exception();
    return handle.sign(certificate()->key_spec());
}

signature_set signer::sign_hashes(const hash_set& hashes)
{
    for (const auto& entry : hashes)
        check_hash(entry.second);
    signature_set signatures;
    const crypt_context container(certificate(), pin(), false);
    container.require_handle();
    const std::uint32_t alg_id = hash_alg_id();
    const std::uint32_t spec = certificate()->key_spec();
    for (const auto& entry : hashes) {
        const auto handle = hash_handle::make(container.handle(), alg_id, entry.second);
        if (!handle)
            throw win32_exception();
        signatures.emplace(entry.first, handle.sign(spec));
    }
    return signatures;
}

bool signer::verify(const byte_vector& hash, const byte_vector& signature)
{
    check_hash(hash);
    const crypt_context container(certificate(), std::string(), true);
    container.require_handle();
    const auto handle = hash_handle::make(container.handle(), hash_alg_id(), hash);
    if (!handle)
        throw win32_exception();
    const key public_key(container, certificate());
    if (!public_key.handle())
        throw win32_exception();
    return CryptVerifySignatureW(handle.handle(), signature.data(), static_cast<DWORD>(signature.size()),
                                 public_key.handle(), nullptr, 0) == TRUE;
}

bool signer::try_sign()
{
    const crypt_context container(certificate(), pin(), true);
    if (!container.handle())
        return false;
    try {
        const auto digest = make_hash_algorithm_from_alg_id(hash_alg_id());
        if (!digest)
            return false;
        const std::uint8_t probe[4] = {0, 0, 0, 0};
        digest->init();
        digest->update(probe, sizeof(probe));
        const auto handle = hash_handle::make(container.handle(), hash_alg_id(), digest->final());
        if (!handle)
            return false;
        return handle.can_sign(certificate()->key_spec());
    } catch (const win32_exception&) {
        return false;
    }
}

std::shared_ptr<signature_algorithm> make_csp_signature_algorithm(signature_kind kind, certificate_ptr certificate,
                                                                  std::string pin)
{
    switch (kind) {
    case signature_kind::gost_3410_2001:
        return std::make_shared<gost_3410_2001>(std::move(certificate), std::move(pin));
    case signature_kind::gost_3410_2012_256:
        return std::make_shared<gost_3410_2012_256>(std::move(certificate), std::move(pin));
    case signature_kind::gost_3410_2012_512:
        return std::make_shared<gost_3410_2012_512>(std::move(certificate), std::move(pin));
    case signature_kind::rsa_sha256:
        return std::make_shared<rsa_sha256>(std::move(certificate), std::move(pin));
    case signature_kind::rsa_sha384:
        return std::make_shared<rsa_sha384>(std::move(certificate), std::move(pin));
    case signature_kind::rsa_sha512:
        return std::make_shared<rsa_sha512>(std::move(certificate), std::move(pin));
    }
    return {};
}

}  // namespace crypto::csp
