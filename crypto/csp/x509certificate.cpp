#include "crypto/csp/x509certificate.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <boost/format.hpp>

#include "crypto/csp/context.h"
#include "crypto/csp/distinguished_name.h"
#include "crypto/csp/wide_text.h"
#include "crypto/encoding/hex.h"
#include "crypto/encoding/text.h"
#include "crypto/sha1/sha1.h"
#include "crypto/util/der_check.h"
#include "crypto/util/der_head.h"

namespace crypto::csp {
namespace {

constexpr DWORD any_encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
constexpr const char* client_auth_oid = "1.3.6.1.5.5.7.3.2";

std::string format_file_time(const FILETIME& time)
{
    SYSTEMTIME system{};
    FileTimeToSystemTime(&time, &system);
    return format_system_time(system);
}

}  // namespace

x509certificate::x509certificate(PCCERT_CONTEXT context) : context_(context) {}

x509certificate::~x509certificate()
{
    if (context_)
        CertFreeCertificateContext(context_);
}

bool x509certificate::is_hardware() const
{
    return false;
}

const char* x509certificate::carrier_type() const
{
    return "csp";
}

std::vector<BYTE> x509certificate::key_provider_info(DWORD* error) const
{
    if (error)
        *error = 0;
    if (!context_)
        return {};
    DWORD size = 0;
    if (CertGetCertificateContextProperty(context_, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) && size) {
        std::vector<BYTE> buffer(size, 0);
        if (CertGetCertificateContextProperty(context_, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
            return buffer;
    }
    if (error)
        *error = GetLastError();
    return {};
}

std::string x509certificate::container() const
{
    const auto info = key_provider_info();
    if (info.empty())
        return {};
    return utf8_text(reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data())->pwszContainerName);
}

std::string x509certificate::reader() const
{
    const auto info = key_provider_info();
    if (info.empty())
        return {};
    const auto* prov = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
    const wchar_t* provider = prov->pwszProvName && *prov->pwszProvName ? prov->pwszProvName : nullptr;
    HCRYPTPROV handle = 0;
    if (!CryptAcquireContextW(&handle, prov->pwszContainerName, provider, prov->dwProvType,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT))
        return {};
    const verify_context opened(handle);
    return opened.get_param_string(PP_SMARTCARD_READER);
}

bool x509certificate::has_private_key() const
{
    DWORD size = 0;
    return context_ && CertGetCertificateContextProperty(context_, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
}

std::uint32_t x509certificate::key_spec() const
{
    if (!context_)
        return 0;
    DWORD spec = 0;
    DWORD size = sizeof(spec);
    if (CertGetCertificateContextProperty(context_, CERT_KEY_SPEC_PROP_ID, &spec, &size))
        return spec;
    const auto info = key_provider_info();
    if (info.empty())
        return 0;
    return reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data())->dwKeySpec;
}

bool x509certificate::has_client_auth_usage() const
{
    if (!context_ || !context_->pCertInfo)
        return false;
    // The usage is read from the first extension of its OID, as the system
    // reads it; a value it cannot read safely means no usage.
    const CERT_INFO& info = *context_->pCertInfo;
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_ENHANCED_KEY_USAGE, info.cExtension, info.rgExtension);
    if (!extension || util::der::check_extension(szOID_ENHANCED_KEY_USAGE, extension->Value.pbData,
                                                 extension->Value.cbData) != util::der::check_result::sound)
        return false;
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(context_, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) || size == 0)
        return false;
    std::vector<BYTE> buffer(size, 0);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!CertGetEnhancedKeyUsage(context_, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size))
        return false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
        if (usage->rgpszUsageIdentifier[i] && std::strcmp(usage->rgpszUsageIdentifier[i], client_auth_oid) == 0)
            return true;
    return false;
}

std::string x509certificate::serial_number() const
{
    if (!context_ || !context_->pCertInfo)
        return {};
    const CRYPT_INTEGER_BLOB& serial = context_->pCertInfo->SerialNumber;
    if (!serial.pbData)
        return {};
    byte_vector bytes(serial.pbData, serial.pbData + serial.cbData);
    std::reverse(bytes.begin(), bytes.end());
    return hex_encode(bytes);
}

bool x509certificate::is_outside_validity() const
{
    SYSTEMTIME system{};
    GetSystemTime(&system);
    FILETIME now{};
    SystemTimeToFileTime(&system, &now);
    return is_outside_validity_at(now);
}

bool x509certificate::is_outside_validity_at(const FILETIME& now) const
{
    if (!context_ || !context_->pCertInfo)
        return false;
    return CompareFileTime(&now, &context_->pCertInfo->NotAfter) != -1 ||
           CompareFileTime(&now, &context_->pCertInfo->NotBefore) != 1;
}

std::string x509certificate::thumbprint() const
{
    if (!context_ || !context_->pbCertEncoded)
        return {};
    if (context_->cbCertEncoded == 0)
        throw std::runtime_error("Fatal error!");
    sha1 digest;
    digest.init();
    digest.update(context_->pbCertEncoded, context_->cbCertEncoded);
    return hex_encode(digest.final());
}

byte_vector x509certificate::encoded() const
{
    if (!context_ || !context_->pbCertEncoded)
        return {};
    return byte_vector(context_->pbCertEncoded, context_->pbCertEncoded + context_->cbCertEncoded);
}

std::string x509certificate::signature_oid() const
{
    if (!context_ || !context_->pCertInfo || !context_->pCertInfo->SignatureAlgorithm.pszObjId)
        return {};
    return context_->pCertInfo->SignatureAlgorithm.pszObjId;
}

boost::property_tree::ptree x509certificate::to_ptree() const
{
    const CERT_INFO* info = context_->pCertInfo;
    boost::property_tree::ptree tree;
    tree.put("thumbprint", thumbprint());
    tree.put("serial", serial_number());
    tree.add_child("subject", distinguished_name(&info->Subject, CERT_X500_NAME_STR).to_ptree());
    tree.add_child("raw_subject", distinguished_name(&info->Subject, CERT_OID_NAME_STR).to_ptree());
    tree.add_child("issuer", distinguished_name(&info->Issuer, CERT_X500_NAME_STR).to_ptree());
    tree.put("validFrom", format_file_time(info->NotBefore));
    tree.put("validTo", format_file_time(info->NotAfter));
    tree.put("algorithm", signature_oid());
    tree.put("container", container());
    tree.put("hardware", std::string(is_hardware() ? "true" : "false"));
    tree.put("reader", reader());
    tree.put("carrier_type", std::string(carrier_type()));
    return tree;
}

std::string format_system_time(const SYSTEMTIME& time)
{
    return (boost::format("%d-%02d-%02dT%02d:%02d:%02d") % time.wYear % time.wMonth % time.wDay % time.wHour %
            time.wMinute % time.wSecond)
        .str();
}

PCCERT_CONTEXT create_certificate_context(DWORD encoding, const BYTE* data, DWORD size)
{
    // Refused bytes fail as the decoder fails such input: cut short, or corrupt.
    switch (util::der::check_certificate(data, size)) {
    case util::der::check_result::sound: {
        // The certificate is its first element: bytes after it (a token or a
        // device may pad its value) are not part of it, of its thumbprint or
        // of what is handed on.
        util::der::head element;
        util::der::read_head(data, size, element);
        return CertCreateCertificateContext(encoding, data, static_cast<DWORD>(element.size + element.length));
    }
    case util::der::check_result::ends_early:
        SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_EOD));
        return nullptr;
    case util::der::check_result::refused:
        break;
    }
    SetLastError(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    return nullptr;
}

certificate_ptr make_certificate(const byte_vector& der)
{
    if (der.empty())
        return std::make_shared<x509certificate>(nullptr);
    return std::make_shared<x509certificate>(
        create_certificate_context(any_encoding, der.data(), static_cast<DWORD>(der.size())));
}

}  // namespace crypto::csp
