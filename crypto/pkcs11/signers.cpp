#include "crypto/pkcs11/signers.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/pkcs11/constants.h"
#include "crypto/pkcs11/object_finder.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/x509certificate.h"

namespace crypto::pkcs11 {
namespace {

constexpr std::uint32_t gost_3411_12_512_alg_id = 0x8022;

// The token session of a certificate found on a token, or none.
std::shared_ptr<session> certificate_session(const certificate_ptr& certificate)
{
    const auto* token_certificate = dynamic_cast<const x509certificate*>(certificate.get());
    if (!token_certificate || !session::is_valid(token_certificate->token_session()))
        throw std::runtime_error("Invalid pkcs#11 session");
    return token_certificate->token_session();
}

// The private key whose CKA_ID is the certificate's.
token_object find_private_key(const std::shared_ptr<session>& token_session, const std::string& key_id)
{
    byte_vector id(key_id.begin(), key_id.end());
    attribute_template criteria = pkcs11_private_key_template();
    criteria.push_back({CKA_ID, id.data(), static_cast<CK_ULONG>(id.size())});
    token_object key;
    {
        object_finder finder(token_session, criteria);
        key = finder.next();
    }
    if (!key)
        throw std::runtime_error("Private key not found");
    return key;
}

byte_vector reversed(byte_vector bytes)
{
    std::reverse(bytes.begin(), bytes.end());
    return bytes;
}

}  // namespace

CK_MECHANISM_TYPE gost_3410::mechanism() const
{
    return hash_alg_id() == gost_3411_12_512_alg_id ? mechanism_gost_3410_12_512 : CKM_GOSTR3410;
}

byte_vector gost_3410::sign_hash(const byte_vector& hash)
{
    const auto token_session = certificate_session(certificate());
    token_session->login(pin());
    const token_object key = find_private_key(token_session, certificate()->container());
    const CK_MECHANISM how{mechanism(), nullptr, 0};
    byte_vector signature = token_session->sign(key, hash, how);
    token_session->logout();
    return reversed(std::move(signature));
}

signature_set gost_3410::sign_hashes(const hash_set& hashes)
{
    return sign_hashes_checked(hashes, {});
}

signature_set gost_3410::sign_hashes_checked(const hash_set& hashes, const signature_check& check)
{
    const auto token_session = certificate_session(certificate());
    token_session->login(pin());
    const token_object key = find_private_key(token_session, certificate()->container());
    const CK_MECHANISM how{mechanism(), nullptr, 0};
    signature_set signatures;
    for (const auto& [id, hash] : hashes) {
        byte_vector signature = reversed(token_session->sign(key, hash, how));
        if (check)
            check(id, signature);
        signatures.emplace(id, std::move(signature));
    }
    token_session->logout();
    return signatures;
}

bool gost_3410::verify(const byte_vector&, const byte_vector&)
{
    throw std::runtime_error("not implemented exception");
}

bool gost_3410::try_sign()
{
    return false;
}

}  // namespace crypto::pkcs11
