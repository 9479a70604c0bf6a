#include "crypto/csp/x509store.h"

#include "crypto/csp/store_names.h"

namespace crypto::csp {

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
        if (!certificate->is_outside_validity())
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
    return std::make_shared<x509certificate>(found);
}

}  // namespace crypto::csp
