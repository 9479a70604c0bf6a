#include "crypto/csp/signers.h"

#include <cstring>
#include <utility>

#include "crypto/csp/context.h"
#include "crypto/csp/hash_handle.h"
#include "crypto/csp/key.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/util/der_check.h"
#include "crypto/util/der_head.h"

namespace crypto::csp {
namespace {

constexpr const char* rsa_key_oid = "1.2.840.113549.1.1.1";

// GOST R 34.10 public-key OIDs, and the key-agreement OIDs that a
// key-exchange key's certificate may carry, with their signature lengths.
struct gost_key {
    const char* oid;
    std::size_t signature_size;
};
const gost_key gost_keys[] = {
    {"1.2.643.2.2.19", 64},     {"1.2.643.2.2.98", 64},      // GOST R 34.10-2001
    {"1.2.643.7.1.1.1.1", 64},  {"1.2.643.7.1.1.6.1", 64},   // GOST R 34.10-2012, 256 bits
    {"1.2.643.7.1.1.1.2", 128}, {"1.2.643.7.1.1.6.2", 128},  // GOST R 34.10-2012, 512 bits
};

// The length of the modulus of RSAPublicKey bits (leading zero octets not
// counted); 0 when the bits do not read as such.
std::size_t rsa_modulus_size(const CRYPT_BIT_BLOB& bits)
{
    if (util::der::check_public_key(rsa_key_oid, bits.pbData, bits.cbData) != util::der::check_result::sound)
        return 0;
    util::der::head outer, modulus;
    if (!util::der::read_head(bits.pbData, bits.cbData, outer))
        return 0;
    const std::uint8_t* inside = bits.pbData + outer.size;
    if (!util::der::read_head(inside, outer.length, modulus) || modulus.tag != 0x02)
        return 0;
    const std::uint8_t* digit = inside + modulus.size;
    std::size_t size = modulus.length;
    for (; size > 0 && *digit == 0; ++digit)
        --size;
    return size;
}

}  // namespace

std::size_t signature_size(const x509certificate& certificate)
{
    if (!certificate.context())
        return 0;
    const CERT_PUBLIC_KEY_INFO& key = certificate.context()->pCertInfo->SubjectPublicKeyInfo;
    const char* key_oid = key.Algorithm.pszObjId ? key.Algorithm.pszObjId : "";
    if (std::strcmp(key_oid, rsa_key_oid) == 0)
        return rsa_modulus_size(key.PublicKey);
    for (const auto& row : gost_keys)
        if (std::strcmp(key_oid, row.oid) == 0)
            return row.signature_size;
    const signature_kind_info* kind = find_signature_kind(certificate.signature_oid());
    if (!kind || !kind->gost)
        return 0;
    return kind->kind == signature_kind::gost_3410_2012_512 ? 128 : 64;
}

byte_vector signer::sign_hash(const byte_vector& hash)
{
    check_hash(hash);
    const crypt_context container(certificate(), pin(), false);
    container.require_handle();
    const auto handle = hash_handle::make(container.handle(), hash_alg_id(), hash);
    if (!handle)
        throw win32_exception();
    return handle.sign(certificate()->key_spec(), signature_size(*certificate()));
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
    const std::size_t size = signature_size(*certificate());
    for (const auto& entry : hashes) {
        const auto handle = hash_handle::make(container.handle(), alg_id, entry.second);
        if (!handle)
            throw win32_exception();
        signatures.emplace(entry.first, handle.sign(spec, size));
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
        return handle.can_sign(certificate()->key_spec(), signature_size(*certificate()));
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
