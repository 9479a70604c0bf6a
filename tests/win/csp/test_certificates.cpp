#include "test_certificates.h"

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace csp_test {
namespace {

std::runtime_error failure(const char* what)
{
    char text[160];
    std::snprintf(text, sizeof(text), "%s failed: 0x%08lX", what, static_cast<unsigned long>(GetLastError()));
    return std::runtime_error(text);
}

// Names with dotted OIDs as keys, which CertStrToNameW does not take
// everywhere: "key=value" parts separated by ", ", no quoting, UTF-8 strings.
bytes encode_name_by_parts(const std::wstring& name);

bytes encode_name_text(const std::wstring& name)
{
    DWORD size = 0;
    if (!CertStrToNameW(X509_ASN_ENCODING, name.c_str(), CERT_X500_NAME_STR, nullptr, nullptr, &size, nullptr))
        return encode_name_by_parts(name);
    bytes out(size);
    if (!CertStrToNameW(X509_ASN_ENCODING, name.c_str(), CERT_X500_NAME_STR, nullptr, out.data(), &size, nullptr))
        throw failure("CertStrToNameW");
    out.resize(size);
    return out;
}

bytes encode(LPCSTR type, const void* value, const char* what)
{
    DWORD size = 0;
    if (!CryptEncodeObject(X509_ASN_ENCODING, type, value, nullptr, &size))
        throw failure(what);
    bytes out(size);
    if (!CryptEncodeObject(X509_ASN_ENCODING, type, value, out.data(), &size))
        throw failure(what);
    out.resize(size);
    return out;
}

bytes encode_with_placeholder_signature(const CERT_INFO& info)
{
    bytes to_be_signed = encode(X509_CERT_TO_BE_SIGNED, &info, "CryptEncodeObject(to be signed)");
    bytes signature(64, 0x5A);
    CERT_SIGNED_CONTENT_INFO signed_info{};
    signed_info.ToBeSigned = {static_cast<DWORD>(to_be_signed.size()), to_be_signed.data()};
    signed_info.SignatureAlgorithm = info.SignatureAlgorithm;
    signed_info.Signature.cbData = static_cast<DWORD>(signature.size());
    signed_info.Signature.pbData = signature.data();
    return encode(X509_CERT, &signed_info, "CryptEncodeObject(certificate)");
}

bytes sign_and_encode(HCRYPTPROV prov, DWORD key_spec, CERT_INFO& info, CRYPT_ALGORITHM_IDENTIFIER& algorithm)
{
    DWORD size = 0;
    if (!CryptSignAndEncodeCertificate(prov, key_spec, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info, &algorithm,
                                       nullptr, nullptr, &size))
        throw failure("CryptSignAndEncodeCertificate");
    bytes der(size);
    if (!CryptSignAndEncodeCertificate(prov, key_spec, X509_ASN_ENCODING, X509_CERT_TO_BE_SIGNED, &info, &algorithm,
                                       nullptr, der.data(), &size))
        throw failure("CryptSignAndEncodeCertificate");
    der.resize(size);
    return der;
}

std::string narrow(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    return out;
}

const char* short_name_oid(const std::string& key)
{
    static const std::pair<const char*, const char*> names[] = {
        {"CN", "2.5.4.3"}, {"OU", "2.5.4.11"}, {"O", "2.5.4.10"}, {"L", "2.5.4.7"},
        {"S", "2.5.4.8"},  {"C", "2.5.4.6"},   {"E", "1.2.840.113549.1.9.1"},
    };
    for (const auto& n : names)
        if (key == n.first)
            return n.second;
    return nullptr;
}

bytes encode_name_by_parts(const std::wstring& name)
{
    std::vector<std::string> keys;
    std::vector<std::wstring> values;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find(L", ", start);
        if (end == std::wstring::npos)
            end = name.size();
        const std::wstring part = name.substr(start, end - start);
        const std::size_t equals = part.find(L'=');
        if (equals == std::wstring::npos)
            throw std::runtime_error("bad name part");
        std::string key = narrow(part.substr(0, equals));
        if (const char* oid = short_name_oid(key))
            key = oid;
        keys.push_back(key);
        values.push_back(part.substr(equals + 1));
        start = end + 2;
    }
    std::vector<CERT_RDN_ATTR> attributes(keys.size());
    std::vector<CERT_RDN> rdns(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        attributes[i].pszObjId = const_cast<LPSTR>(keys[i].c_str());
        attributes[i].dwValueType = CERT_RDN_UTF8_STRING;
        // A UTF-8 string attribute takes its value as a wide text to encode.
        attributes[i].Value.cbData = static_cast<DWORD>(values[i].size() * sizeof(wchar_t));
        attributes[i].Value.pbData = reinterpret_cast<BYTE*>(&values[i][0]);
        rdns[i] = {1, &attributes[i]};
    }
    CERT_NAME_INFO info{static_cast<DWORD>(rdns.size()), rdns.data()};
    DWORD size = 0;
    if (!CryptEncodeObject(X509_ASN_ENCODING, X509_NAME, &info, nullptr,
                           &size))
        throw failure("CryptEncodeObject(name)");
    bytes out(size);
    if (!CryptEncodeObject(X509_ASN_ENCODING, X509_NAME, &info, out.data(), &size))
        throw failure("CryptEncodeObject(name)");
    out.resize(size);
    return out;
}

struct provider {
    HCRYPTPROV handle = 0;
    ~provider()
    {
        if (handle)
            CryptReleaseContext(handle, 0);
    }
};

struct key_handle {
    HCRYPTKEY handle = 0;
    ~key_handle()
    {
        if (handle)
            CryptDestroyKey(handle);
    }
};

// Opens (or creates) the container and makes sure it holds a key of key_spec.
void open_container(provider& prov, const certificate_spec& spec)
{
    if (!CryptAcquireContextW(&prov.handle, spec.container.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, 0)) {
        prov.handle = 0;
        if (!CryptAcquireContextW(&prov.handle, spec.container.c_str(), MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES,
                                  CRYPT_NEWKEYSET))
            throw failure("CryptAcquireContextW");
    }
    key_handle existing;
    if (CryptGetUserKey(prov.handle, spec.key_spec, &existing.handle))
        return;
    existing.handle = 0;
    key_handle generated;
    if (!CryptGenKey(prov.handle, spec.key_spec, (spec.key_bits << 16) | CRYPT_EXPORTABLE, &generated.handle))
        throw failure("CryptGenKey");
}

}  // namespace

bytes encode_name(const std::wstring& name)
{
    return encode_name_text(name);
}

FILETIME now_plus(long long seconds)
{
    SYSTEMTIME system{};
    GetSystemTime(&system);
    FILETIME now{};
    SystemTimeToFileTime(&system, &now);
    ULARGE_INTEGER value{};
    value.LowPart = now.dwLowDateTime;
    value.HighPart = now.dwHighDateTime;
    // Whole seconds, so that the time survives the encoding of the certificate.
    value.QuadPart = (value.QuadPart / 10000000ULL + static_cast<unsigned long long>(seconds)) * 10000000ULL;
    FILETIME out{};
    out.dwLowDateTime = value.LowPart;
    out.dwHighDateTime = value.HighPart;
    return out;
}

std::string hex(const bytes& data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (BYTE b : data) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

made_certificate make_certificate(const certificate_spec& spec)
{
    provider prov;
    open_container(prov, spec);

    DWORD size = 0;
    if (!CryptExportPublicKeyInfo(prov.handle, spec.key_spec, X509_ASN_ENCODING, nullptr, &size))
        throw failure("CryptExportPublicKeyInfo");
    bytes public_key(size);
    auto* key_info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(public_key.data());
    if (!CryptExportPublicKeyInfo(prov.handle, spec.key_spec, X509_ASN_ENCODING, key_info, &size))
        throw failure("CryptExportPublicKeyInfo");

    bytes serial = spec.serial;
    if (serial.empty()) {
        serial.resize(8);
        if (!CryptGenRandom(prov.handle, static_cast<DWORD>(serial.size()), serial.data()))
            throw failure("CryptGenRandom");
        serial.back() &= 0x7F;  // a positive number
        serial.back() |= 0x01;
    }
    bytes subject = encode_name(spec.subject);
    bytes issuer = encode_name(spec.issuer.empty() ? spec.subject : spec.issuer);

    CERT_INFO info{};
    info.dwVersion = CERT_V3;
    info.SerialNumber = {static_cast<DWORD>(serial.size()), serial.data()};
    info.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(spec.signature_oid.c_str());
    info.Issuer = {static_cast<DWORD>(issuer.size()), issuer.data()};
    info.Subject = {static_cast<DWORD>(subject.size()), subject.data()};
    info.NotBefore = now_plus(spec.not_before);
    info.NotAfter = now_plus(spec.not_after);
    info.SubjectPublicKeyInfo = *key_info;

    bytes usage;
    CERT_EXTENSION extension{};
    std::vector<LPSTR> usage_ids;
    for (const auto& id : spec.usages)
        usage_ids.push_back(const_cast<LPSTR>(id.c_str()));
    CERT_ENHKEY_USAGE usages{static_cast<DWORD>(usage_ids.size()), usage_ids.data()};
    if (!spec.no_usage_extension) {
        usage = encode(X509_ENHANCED_KEY_USAGE, &usages, "CryptEncodeObject(usage)");
        extension.pszObjId = const_cast<LPSTR>(szOID_ENHANCED_KEY_USAGE);
        extension.Value = {static_cast<DWORD>(usage.size()), usage.data()};
        info.cExtension = 1;
        info.rgExtension = &extension;
    }

    CRYPT_ALGORITHM_IDENTIFIER algorithm{};
    algorithm.pszObjId = info.SignatureAlgorithm.pszObjId;
    made_certificate made;
    if (!spec.der.empty())
        made.der = spec.der;
    else
        made.der = spec.placeholder_signature ? encode_with_placeholder_signature(info)
                                              : sign_and_encode(prov.handle, spec.key_spec, info, algorithm);
    made.not_before = info.NotBefore;
    made.not_after = info.NotAfter;

    BYTE sha1[20];
    DWORD sha1_size = sizeof(sha1);
    if (!CryptHashCertificate(0, CALG_SHA1, 0, made.der.data(), static_cast<DWORD>(made.der.size()), sha1,
                              &sha1_size))
        throw failure("CryptHashCertificate");
    made.thumbprint = hex(bytes(sha1, sha1 + sha1_size));

    if (!spec.add_to_store)
        return made;
    HCERTSTORE store = CertOpenSystemStoreW(0, L"MY");
    if (!store)
        throw failure("CertOpenSystemStoreW");
    PCCERT_CONTEXT added = nullptr;
    const BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, made.der.data(),
                                                     static_cast<DWORD>(made.der.size()),
                                                     CERT_STORE_ADD_REPLACE_EXISTING, &added);
    if (!ok) {
        CertCloseStore(store, 0);
        throw failure("CertAddEncodedCertificateToStore");
    }
    std::wstring container = spec.info_container.empty() ? spec.container : spec.info_container;
    std::wstring provider_name = spec.info_provider;
    if (spec.key_provider_info) {
        CRYPT_KEY_PROV_INFO prov_info{};
        prov_info.pwszContainerName = &container[0];
        prov_info.pwszProvName = provider_name.empty() ? nullptr : &provider_name[0];
        prov_info.dwProvType = spec.info_provider_type;
        prov_info.dwKeySpec = spec.info_key_spec < 0 ? spec.key_spec : static_cast<DWORD>(spec.info_key_spec);
        if (!CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &prov_info))
            throw failure("CertSetCertificateContextProperty");
    }
    // Writing the key-provider information may add a key-spec property of its
    // own; the test decides whether the certificate keeps one.
    CertSetCertificateContextProperty(added, CERT_KEY_SPEC_PROP_ID, 0, nullptr);
    if (spec.key_spec_property >= 0) {
        // Not every CryptoAPI lets a caller write this property.
        const DWORD value = static_cast<DWORD>(spec.key_spec_property);
        made.key_spec_property_written = CertSetCertificateContextProperty(added, CERT_KEY_SPEC_PROP_ID, 0, &value);
    }
    CertFreeCertificateContext(added);
    CertCloseStore(store, 0);
    return made;
}

void clear_personal_store()
{
    // The registry store itself: deletions through the system store's
    // collection are not written back by every CryptoAPI.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    if (!store)
        return;
    while (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr))
        CertDeleteCertificateFromStore(context);
    CertCloseStore(store, 0);
}

std::string expected_error_text(DWORD code)
{
    WCHAR* buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, code, 1033, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (!buffer)
        return "Unknown error";
    const int size = WideCharToMultiByte(CP_UTF8, 0, buffer, -1, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, buffer, -1, &text[0], size, nullptr, nullptr);
    LocalFree(buffer);
    char code_text[32];
    std::snprintf(code_text, sizeof(code_text), "Error code: 0x%08lX", static_cast<unsigned long>(code));
    return text + code_text;
}

}  // namespace csp_test
