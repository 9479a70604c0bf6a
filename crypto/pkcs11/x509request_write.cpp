// Writing an issued certificate onto the token beside its key pair.
#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "crypto/csp/x509certificate.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/x509request.h"

namespace crypto::pkcs11 {
namespace {

struct certificate_context_deleter {
    void operator()(const CERT_CONTEXT* context) const { CertFreeCertificateContext(context); }
};
using certificate_context = std::unique_ptr<const CERT_CONTEXT, certificate_context_deleter>;

std::int32_t last_error()
{
    return static_cast<std::int32_t>(GetLastError());
}

// The certificate's bytes from base64 (with or without headers) or as they are.
bool decode_certificate_text(const char* text, byte_vector& der)
{
    DWORD size = 0;
    if (!CryptStringToBinaryA(text, 0, CRYPT_STRING_ANY, nullptr, &size, nullptr, nullptr))
        return false;
    der.assign(size, 0);
    if (!CryptStringToBinaryA(text, 0, CRYPT_STRING_ANY, der.data(), &size, nullptr, nullptr))
        return false;
    der.resize(size < der.size() ? size : der.size());
    return true;
}

}  // namespace

bool x509request::write_certificate(const char* name, const char* certificate, std::int32_t* error_code)
{
    std::int32_t code = -1;
    const bool written = [&] {
        if (!name || !certificate || !session::is_valid(session_))
            return false;
        byte_vector der;
        if (!decode_certificate_text(certificate, der)) {
            code = last_error();
            return false;
        }
        const certificate_context context(
            csp::create_certificate_context(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
        if (!context) {
            code = last_error();
            return false;
        }
        const CERT_INFO& info = *context->pCertInfo;
        CK_OBJECT_CLASS object_class = CKO_CERTIFICATE;
        CK_CERTIFICATE_TYPE certificate_type = CKC_X_509;
        CK_BBOOL on_token = CK_TRUE;
        CK_ULONG category = 1;  // token user
        const auto name_length = static_cast<CK_ULONG>(std::char_traits<char>::length(name));
        // Cryptoki's attributes hold non-const pointers; the module only reads them.
        CK_ATTRIBUTE attributes[] = {
            {CKA_CLASS, &object_class, sizeof(object_class)},
            {CKA_CERTIFICATE_TYPE, &certificate_type, sizeof(certificate_type)},
            {CKA_TOKEN, &on_token, sizeof(on_token)},
            {CKA_ID, const_cast<char*>(name), name_length},
            {CKA_LABEL, const_cast<char*>(name), name_length},
            {CKA_VALUE, context->pbCertEncoded, context->cbCertEncoded},
            // As the certificate decoder holds it: least significant byte first.
            {CKA_SERIAL_NUMBER, info.SerialNumber.pbData, info.SerialNumber.cbData},
            {CKA_SUBJECT, info.Subject.pbData, info.Subject.cbData},
            {CKA_CERTIFICATE_CATEGORY, &category, sizeof(category)},
        };
        CK_OBJECT_HANDLE object = 0;
        const CK_RV rv = session_->functions()->C_CreateObject(
            session_->handle(), attributes, static_cast<CK_ULONG>(std::size(attributes)), &object);
        if (rv != CKR_OK) {
            code = static_cast<std::int32_t>(rv);
            return false;
        }
        return true;
    }();
    if (error_code)
        *error_code = code;
    return written;
}

}  // namespace crypto::pkcs11
