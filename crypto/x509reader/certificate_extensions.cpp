// The viewer's texts that the CryptoAPI decodes: dates, names and the
// extensions that are not read by the viewer's own TLV reader.
#include <memory>
#include <string>
#include <vector>

#include "crypto/csp/wide_text.h"
#include "crypto/util/der_check.h"
#include "crypto/x509reader/display_names.h"
#include "crypto/x509reader/x509_certificate.h"

namespace crypto::x509reader {
namespace {

constexpr DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The value of the extension oid decoded as structure_type, in a buffer of
// the size the decoder asks for; empty when decoding fails, and for a value
// the decoder cannot take safely.
std::vector<BYTE> decode(const char* oid, LPCSTR structure_type, const BYTE* value, DWORD length)
{
    if (util::der::check_extension(oid, value, length) != util::der::check_result::sound)
        return {};
    DWORD size = 0;
    if (!value || !length || !CryptDecodeObject(encoding, structure_type, value, length, 0, nullptr, &size) || !size)
        return {};
    // Room for the structure as a whole object, whatever alignment it needs.
    std::vector<BYTE> buffer(size + sizeof(void*));
    if (!CryptDecodeObject(encoding, structure_type, value, length, 0, buffer.data(), &size))
        return {};
    return buffer;
}

// The value of the extension oid decoded as the structure of that OID.
std::vector<BYTE> decode(const char* oid, const BYTE* value, DWORD length)
{
    return decode(oid, oid, value, length);
}

// A DNS name in the system's ANSI code page, as the name has always been shown.
std::string ansi(LPCWSTR text)
{
    if (!text || !*text)
        return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size) - 1);
    return out;
}

std::string key_usage(const BYTE* value, DWORD length)
{
    const auto buffer = decode("2.5.29.15", value, length);
    if (buffer.empty())
        return {};
    const auto* bits = reinterpret_cast<const CRYPT_BIT_BLOB*>(buffer.data());
    return key_usage_text(bits->pbData, bits->cbData);
}

std::string enhanced_key_usage(const BYTE* value, DWORD length)
{
    const auto buffer = decode("2.5.29.37", value, length);
    if (buffer.empty())
        return {};
    const auto* usage = reinterpret_cast<const CERT_ENHKEY_USAGE*>(buffer.data());
    std::string text;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        const std::string oid = usage->rgpszUsageIdentifier[i] ? usage->rgpszUsageIdentifier[i] : "";
        text += display_name(oid_display_names, oid) + " (" + oid + ") ";
    }
    return text;
}

std::string authority_key_id(const BYTE* value, DWORD length)
{
    const auto buffer = decode("2.5.29.35", value, length);
    if (buffer.empty())
        return {};
    const auto* id = reinterpret_cast<const CERT_AUTHORITY_KEY_ID2_INFO*>(buffer.data());
    std::string text = "Идентификатор ключа=" + byte_list_text(id->KeyId.pbData, id->KeyId.cbData) + " ";
    const CERT_ALT_NAME_INFO& issuer = id->AuthorityCertIssuer;
    if (issuer.cAltEntry > 0 && issuer.rgAltEntry[0].dwAltNameChoice == CERT_ALT_NAME_DIRECTORY_NAME)
        text += "Поставщик сертификата: " + rdn_list_to_text(parse_rdn_list(&issuer.rgAltEntry[0].DirectoryName)) + " ";
    const CRYPT_INTEGER_BLOB& serial = id->AuthorityCertSerialNumber;
    if (serial.cbData > 0)
        text += "Серийный номер сертификата=" + authority_serial_text(serial.pbData, serial.cbData);
    return text;
}

std::string crl_distribution_points(const BYTE* value, DWORD length)
{
    const auto buffer = decode("2.5.29.31", value, length);
    if (buffer.empty())
        return {};
    const auto* points = reinterpret_cast<const CRL_DIST_POINTS_INFO*>(buffer.data());
    std::string text;
    for (DWORD i = 0; i < points->cDistPoint; ++i) {
        const CRL_DIST_POINT_NAME& name = points->rgDistPoint[i].DistPointName;
        if (name.dwDistPointNameChoice != CRL_DIST_POINT_FULL_NAME || name.FullName.cAltEntry == 0)
            continue;
        const CERT_ALT_NAME_ENTRY& entry = name.FullName.rgAltEntry[0];
        if (entry.dwAltNameChoice == CERT_ALT_NAME_URL)
            text += "[" + std::to_string(i + 1) + "]URL=" + csp::utf8_text(entry.pwszURL) + " ";
    }
    return text;
}

// Two FILETIME pointers, as the externally registered decoder of the private
// key usage period writes them.
struct usage_period {
    FILETIME* start;
    FILETIME* end;
};

std::string private_key_usage_period(const BYTE* value, DWORD length)
{
    const auto buffer = decode("2.5.29.16", "{E36FC6F5-4880-4CB7-BA51-1FCD92CA1453}", value, length);
    if (buffer.size() < sizeof(usage_period))
        return {};
    const auto* period = reinterpret_cast<const usage_period*>(buffer.data());
    return "Действителен с " + format_date_ru(period->start) + " по " + format_date_ru(period->end);
}

std::string certificate_policies(const BYTE* value, DWORD length)
{
    const auto buffer = decode("2.5.29.32", value, length);
    if (buffer.empty())
        return {};
    const auto* policies = reinterpret_cast<const CERT_POLICIES_INFO*>(buffer.data());
    std::string text;
    for (DWORD i = 0; i < policies->cPolicyInfo; ++i) {
        const char* oid = policies->rgPolicyInfo[i].pszPolicyIdentifier;
        text += "[" + std::to_string(i + 1) + "]Идентификатор политики=" +
                display_name(oid_display_names, oid ? oid : "") + " ";
    }
    return text;
}

std::string identification_kind(const BYTE* value, DWORD length)
{
    const auto buffer = decode("1.2.643.100.114", X509_INTEGER, value, length);
    if (buffer.size() >= sizeof(int)) {
        const std::string text = identification_kind_text(*reinterpret_cast<const int*>(buffer.data()));
        if (!text.empty())
            return text;
    }
    return tlv_string_text(byte_vector(value, value + length));
}

std::string subject_alt_name(const BYTE* value, DWORD length)
{
    const auto buffer = decode("2.5.29.17", value, length);
    if (buffer.empty())
        return {};
    const auto* names = reinterpret_cast<const CERT_ALT_NAME_INFO*>(buffer.data());
    std::string text;
    for (DWORD i = 0; i < names->cAltEntry; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        const std::string number = "[" + std::to_string(i + 1) + "]";
        if (entry.dwAltNameChoice == CERT_ALT_NAME_DIRECTORY_NAME)
            text += number + "Имя каталога: " + rdn_list_to_text(parse_rdn_list(&entry.DirectoryName)) + " ";
        else if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME)
            text += number + "DNS имя: " + ansi(entry.pwszDNSName) + " ";
    }
    return text;
}

}  // namespace

std::string format_date_ru(const FILETIME* time)
{
    SYSTEMTIME fields;
    if (!time || !FileTimeToSystemTime(time, &fields))
        return {};
    return format_date_ru(fields.wYear, fields.wMonth, fields.wDay, fields.wHour, fields.wMinute, fields.wSecond);
}

rdn_list parse_rdn_list(const CERT_NAME_BLOB* name)
{
    if (!name || !name->pbData || !name->cbData)
        return {};
    auto* blob = const_cast<CERT_NAME_BLOB*>(name);
    const DWORD size = CertNameToStrW(X509_ASN_ENCODING, blob, CERT_OID_NAME_STR, nullptr, 0);
    if (size <= 1)
        return {};
    std::vector<std::uint8_t> tags;
    if (!name_value_tags(name->pbData, name->cbData, tags))
        return {};
    std::vector<WCHAR> text(size, 0);
    CertNameToStrW(X509_ASN_ENCODING, blob, CERT_OID_NAME_STR, text.data(), size);
    text.back() = 0;
    return parse_rdn_text(reinterpret_cast<const wide_char*>(text.data()), tags);
}

std::string extension_text(const std::string& oid, const BYTE* value, DWORD length)
{
    if (!value || !length)
        return {};
    const byte_vector bytes(value, value + length);
    if (oid == "2.5.29.15")
        return key_usage(value, length);
    if (oid == "2.5.29.37")
        return enhanced_key_usage(value, length);
    if (oid == "2.5.29.14")
        return subject_key_id_text(bytes);
    if (oid == "2.5.29.35")
        return authority_key_id(value, length);
    if (oid == "2.5.29.31")
        return crl_distribution_points(value, length);
    if (oid == "1.3.6.1.5.5.7.1.1")
        return authority_info_access_text(bytes);
    if (oid == "2.5.29.16")
        return private_key_usage_period(value, length);
    if (oid == "2.5.29.32")
        return certificate_policies(value, length);
    if (oid == "1.2.643.100.111")
        return tlv_string_text(bytes);
    if (oid == "1.2.643.100.112")
        return issuer_tools_text(bytes);
    if (oid == "1.2.643.100.114")
        return identification_kind(value, length);
    if (oid == "1.2.643.2.2.49.2")
        return restricted_use_text(bytes);
    if (oid == "1.3.6.1.4.1.311.21.7")
        return certificate_template_text(bytes);
    if (oid == "2.5.29.17")
        return subject_alt_name(value, length);
    return tlv_lower_text(value, length);
}

}  // namespace crypto::x509reader
