#include "crypto/csp/cms_signer.h"

#include <stdexcept>
#include <utility>

#include "crypto/csp/win32_exception.h"
#include "crypto/signature_algorithm.h"

namespace crypto::csp {

cms_signer::cms_signer(certificate_ptr certificate) : certificate_(std::move(certificate)) {}

byte_vector cms_signer::sign(const byte_vector& data, bool detached) const
{
    const std::string signature_oid = certificate_ ? certificate_->signature_oid() : std::string();
    const signature_kind_info* kind = find_signature_kind(signature_oid);
    if (!kind)
        throw std::invalid_argument("Unsupported signature algorithm: " + signature_oid);

    PCCERT_CONTEXT signer_context = certificate_->context();
    CRYPT_SIGN_MESSAGE_PARA para{};
    // The structure without its optional CMS fields; its size differs between
    // 32- and 64-bit builds.
    para.cbSize = sizeof(para);
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = signer_context;
    para.HashAlgorithm.pszObjId = const_cast<char*>(kind->digest_oid);
    para.cMsgCert = 1;
    para.rgpMsgCert = &signer_context;

    static const BYTE no_data = 0;
    const BYTE* blocks[1] = {data.empty() ? &no_data : data.data()};
    DWORD lengths[1] = {static_cast<DWORD>(data.size())};
    DWORD size = 0;
    if (!CryptSignMessage(&para, detached, 1, blocks, lengths, nullptr, &size))
        throw win32_exception();
    byte_vector message(size, 0);
    if (!CryptSignMessage(&para, detached, 1, blocks, lengths, message.data(), &size))
        throw win32_exception();
    message.resize(size);
    return message;
}

}  // namespace crypto::csp
