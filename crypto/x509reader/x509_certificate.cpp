#include "crypto/x509reader/x509_certificate.h"

#include <cstring>
#include <utility>

#include "crypto/csp/x509certificate.h"

namespace crypto::x509reader {

X509Certificate::~X509Certificate()
{
    if (context_)
        CertFreeCertificateContext(context_);
}

void X509Certificate::set_encoded(byte_vector bytes)
{
    encoded_ = std::move(bytes);
    encoded_length_ = static_cast<std::uint32_t>(encoded_.size());
}

bool X509Certificate::create_context()
{
    if (context_) {
        CertFreeCertificateContext(context_);
        context_ = nullptr;
        info_ = nullptr;
    }
    if (encoded_.empty() || encoded_.size() != encoded_length_)
        return false;
    context_ = csp::create_certificate_context(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, encoded_.data(),
                                               encoded_length_);
    if (context_)
        info_ = context_->pCertInfo;
    return info_ != nullptr;
}

std::unique_ptr<char[]> X509Certificate::to_json() const
{
    if (!info_)
        return nullptr;
    certificate_view view;
    view.version_field = info_->dwVersion;
    view.serial_number = serial_number_text(info_->SerialNumber.pbData, info_->SerialNumber.cbData);
    view.issuer = parse_rdn_list(&info_->Issuer);
    view.not_before = format_date_ru(&info_->NotBefore);
    view.not_after = format_date_ru(&info_->NotAfter);
    view.subject = parse_rdn_list(&info_->Subject);

    const CERT_PUBLIC_KEY_INFO& key = info_->SubjectPublicKeyInfo;
    view.key_algorithm_oid = key.Algorithm.pszObjId ? key.Algorithm.pszObjId : "";
    view.key_parameters = tlv_lower_text(key.Algorithm.Parameters.pbData, key.Algorithm.Parameters.cbData);
    view.key_value = key_value_text(key.PublicKey.pbData, key.PublicKey.cbData);
    view.key_unused_bits = key.PublicKey.cUnusedBits;

    for (DWORD i = 0; i < info_->cExtension; ++i) {
        const CERT_EXTENSION& extension = info_->rgExtension[i];
        extension_view item;
        item.oid = extension.pszObjId ? extension.pszObjId : "";
        item.critical = extension.fCritical != FALSE;
        item.text = extension_text(item.oid, extension.Value.pbData, extension.Value.cbData);
        view.extensions.push_back(std::move(item));
    }

    // The signature is read from the encoded certificate itself.
    signature_part signature;
    if (read_signature(encoded_.data(), encoded_length_, signature)) {
        view.has_signature = true;
        view.signature_oid = signature.oid;
        view.signature_value = signature_value_text(signature.reversed);
    }

    const std::string text = certificate_json(view);
    std::unique_ptr<char[]> result(new char[text.size() + 1]);
    std::memcpy(result.get(), text.c_str(), text.size() + 1);
    return result;
}

}  // namespace crypto::x509reader
