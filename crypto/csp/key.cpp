#include "crypto/csp/key.h"

#include <utility>

#include "crypto/csp/context.h"
#include "crypto/csp/key_blobs.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/util/der_check.h"

namespace crypto::csp {
namespace {

constexpr ALG_ID calg_pro_export = 0x661F;

}  // namespace

key::key(const context& owner, const std::shared_ptr<x509certificate>& certificate) : context_(&owner)
{
    if (!certificate || !certificate->context())
        return;
    // Key bits the import cannot read safely are not imported: the handle stays 0.
    CERT_PUBLIC_KEY_INFO& info = certificate->context()->pCertInfo->SubjectPublicKeyInfo;
    if (util::der::check_public_key(info.Algorithm.pszObjId, info.PublicKey.pbData, info.PublicKey.cbData) ==
        util::der::check_result::sound)
        CryptImportPublicKeyInfo(owner.handle(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &info, &handle_);
}

key::key(const context& owner) : context_(&owner)
{
    if (!CryptGetUserKey(owner.handle(), AT_KEYEXCHANGE, &handle_)) {
        handle_ = 0;
        if (!CryptGetUserKey(owner.handle(), AT_SIGNATURE, &handle_))
            handle_ = 0;
    }
}

key::key(key&& other) noexcept : context_(other.context_), handle_(std::exchange(other.handle_, 0)) {}

key::~key()
{
    if (handle_)
        CryptDestroyKey(handle_);
}

void key::set_export_algorithm()
{
    const ALG_ID algorithm = calg_pro_export;
    if (!CryptSetKeyParam(handle_, KP_ALGID, reinterpret_cast<const BYTE*>(&algorithm), 0))
        throw win32_exception();
}

key key::import(const byte_vector& blob, DWORD flags) const
{
    HCRYPTKEY imported = 0;
    if (!CryptImportKey(context_->handle(), blob.data(), static_cast<DWORD>(blob.size()), handle_, flags, &imported))
        throw win32_exception();
    return key(*context_, imported);
}

key key::import_public_key(const ephemeral_key_info& info) const
{
    return import(make_public_key_blob(info), 0);
}

key key::import_session_key(const session_key_info& info) const
{
    return import(make_session_key_blob(info), CRYPT_EXPORTABLE);
}

key key::import_blob(const byte_vector& blob) const
{
    return import(blob, 0);
}

}  // namespace crypto::csp
