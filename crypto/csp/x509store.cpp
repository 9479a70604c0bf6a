#include "crypto/csp/x509store.h"

#include "crypto/csp/store_names.h"
#include "crypto/util/der_check.h"
#include "crypto/util/der_head.h"

namespace crypto::csp {
namespace {

// The store's certificates are used only when their bytes read as those of a
// page or a token must: DER throughout (a time with a zone offset would be
// applied with the wrong sign, a name cut at a NUL), and nothing after the
// certificate's element, which its thumbprint, a lookup and a CMS message
// would take in.
bool readable(PCCERT_CONTEXT context)
{
    if (!context || !context->pbCertEncoded ||
        util::der::check_certificate(context->pbCertEncoded, context->cbCertEncoded) != util::der::check_result::sound)
        return false;
    util::der::head element;
    return util::der::read_head(context->pbCertEncoded, context->cbCertEncoded, element) &&
           element.size + element.length == context->cbCertEncoded;
}

}  // namespace

x509store::x509store() : handle_(CertOpenSystemStoreA(0, store_name(personal_store_kind))) {}

x509store::~x509store()
{
    if (handle_)
        CertCloseStore(handle_, 0);
}

std::vector<certificate_ptr> x509store::list_certificates() const
{
    std::vector<certificate_ptr> certificates;
    if (!handle_)
        return certificates;
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(handle_, nullptr); context;
         context = CertEnumCertificatesInStore(handle_, context)) {
        PCCERT_CONTEXT duplicate = CertDuplicateCertificateContext(context);
        if (!duplicate)
            continue;
        auto certificate = std::make_shared<x509certificate>(duplicate);
        if (readable(duplicate) && !certificate->is_outside_validity())
            certificates.push_back(std::move(certificate));
    }
    return certificates;
}

certificate_ptr x509store::find_by_thumbprint(const std::string& thumbprint) const
{
    if (!handle_)
        return {};
    const auto length = static_cast<DWORD>(thumbprint.size());
    DWORD size = 0;
    if (!CryptStringToBinaryA(thumbprint.c_str(), length, CRYPT_STRING_HEX, nullptr, &size, nullptr, nullptr))
        return {};
    std::vector<BYTE> hash(size, 0);
    if (!CryptStringToBinaryA(thumbprint.c_str(), length, CRYPT_STRING_HEX, hash.data(), &size, nullptr, nullptr) ||
        size == 0)
        return {};
    CRYPT_HASH_BLOB blob{size, hash.data()};
    PCCERT_CONTEXT found = CertFindCertificateInStore(handle_, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                      CERT_FIND_SHA1_HASH, &blob, nullptr);
    if (!found)
        return {};
    auto certificate = std::make_shared<x509certificate>(found);
    if (!readable(found))
        return {};
    return certificate;
}

}  // namespace crypto::csp
