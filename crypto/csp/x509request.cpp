#include "crypto/csp/x509request.h"

#include <cstdio>
#include <cstring>

#include "crypto/csp/context.h"
#include "crypto/csp/provider_sizes.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/encoding/text.h"

namespace crypto::csp {
namespace {

constexpr DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// Parameters the family-1 providers are asked before a key is made.
constexpr DWORD param_version5_check = 109;
constexpr DWORD param_pin_check = 8;
constexpr DWORD wrong_pin = 0x8010006B;  // SCARD_W_WRONG_CHV
constexpr int pin_check_calls = 3;
// The longest container name the search reads.
constexpr DWORD max_container_name = provider_size_limit;
// The code of the command's own checks, also for a provider's answer that
// they refuse.
constexpr std::int32_t own_check = -1;

struct provider_types {
    std::int32_t family;
    DWORD by_standard[3];
};
const provider_types families[] = {{1, {75, 80, 81}}, {2, {2, 77, 78}}};

std::int32_t family_of_type(DWORD type)
{
    for (const auto& f : families)
        for (DWORD t : f.by_standard)
            if (t == type) return f.family;
    return 0;
}

void set_code(std::int32_t* code, std::int32_t value)
{
    if (code) *code = value;
}

std::int32_t last_error() { return static_cast<std::int32_t>(GetLastError()); }

// Owners of the CryptoAPI handles of one operation.
class provider_handle {
public:
    ~provider_handle()
    {
        if (handle_) CryptReleaseContext(handle_, 0);
    }
    HCRYPTPROV* out() { return &handle_; }
    HCRYPTPROV get() const { return handle_; }

private:
    HCRYPTPROV handle_ = 0;
};

class key_handle {
public:
    ~key_handle()
    {
        if (handle_) CryptDestroyKey(handle_);
    }
    HCRYPTKEY* out() { return &handle_; }
    HCRYPTKEY get() const { return handle_; }

private:
    HCRYPTKEY handle_ = 0;
};

struct certificate_deleter {
    void operator()(PCCERT_CONTEXT context) const { CertFreeCertificateContext(context); }
};
using certificate_handle = std::unique_ptr<const CERT_CONTEXT, certificate_deleter>;

struct store_deleter {
    void operator()(HCERTSTORE store) const { CertCloseStore(store, 0); }
};
using store_handle = std::unique_ptr<void, store_deleter>;

// CryptStringToBinaryA with CRYPT_STRING_ANY: size first, then the bytes in
// the detected format. False with GetLastError left by the failing call.
bool decode_text(const char* text, std::vector<BYTE>& out)
{
    DWORD size = 0, format = 0;
    if (!CryptStringToBinaryA(text, 0, CRYPT_STRING_ANY, nullptr, &size, nullptr, &format)) return false;
    out.assign(size ? size : 1, 0);
    if (!CryptStringToBinaryA(text, 0, format, out.data(), &size, nullptr, nullptr)) return false;
    out.resize(size);
    return true;
}

// A provider parameter as an 8-bit text turned into UTF-16 (ANSI code page)
// into wide: empty when it cannot be read. False when its size is past the
// provider limit.
bool get_text_param(HCRYPTPROV provider, DWORD param, std::wstring& wide)
{
    wide.clear();
    std::string narrow;
    if (read_param_text(provider, param, narrow) == sized_read::oversized) return false;
    const int units = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, nullptr, 0);
    if (units <= 0) return true;
    wide.assign(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, &wide[0], units);
    wide.resize(static_cast<std::size_t>(units - 1));
    return true;
}

bool equal_ignoring_ascii_case(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
        if (!x) return true;
    }
}

// The family-1 check before a key is made: parameter 109 read on version 5,
// else parameter 8 set, up to three times while the PIN is wrong.
bool family1_provider_check(HCRYPTPROV provider, const cryptoProviderData* data, std::int32_t* code)
{
    if (data && data->version_major == 5) {
        byte_vector value;
        const sized_read outcome = read_sized(
            [provider](BYTE* buffer, DWORD* length) {
                return CryptGetProvParam(provider, param_version5_check, buffer, length, 0) != FALSE;
            },
            value);
        if (outcome == sized_read::done) return true;
        set_code(code, outcome == sized_read::oversized ? own_check : last_error());
        return false;
    }
    for (int call = 1;; ++call) {
        if (CryptSetProvParam(provider, param_pin_check, nullptr, 0)) return true;
        const DWORD error = GetLastError();
        if (error == static_cast<DWORD>(NTE_BAD_TYPE)) return true;
        if (error != wrong_pin || call == pin_check_calls) {
            set_code(code, static_cast<std::int32_t>(error));
            return false;
        }
    }
}

util::public_key_info to_public_key_info(const CERT_PUBLIC_KEY_INFO& info)
{
    util::public_key_info out;
    out.algorithm = info.Algorithm.pszObjId ? info.Algorithm.pszObjId : "";
    out.parameters.assign(info.Algorithm.Parameters.pbData,
                          info.Algorithm.Parameters.pbData + info.Algorithm.Parameters.cbData);
    out.key.assign(info.PublicKey.pbData, info.PublicKey.pbData + info.PublicKey.cbData);
    out.unused_bits = static_cast<std::uint8_t>(info.PublicKey.cUnusedBits);
    return out;
}

}  // namespace

bool x509request::enumerate_providers()
{
    for (DWORD index = 0; index < max_providers; ++index) {
        DWORD type = 0, size = 0;
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &size)) break;
        if (size > provider_size_limit) continue;
        // The type is taken from the call that reads the name: Wine's size
        // query leaves it unwritten.
        std::unique_ptr<wchar_t[]> name(new wchar_t[size / sizeof(wchar_t) + 1]());
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, name.get(), &size)) continue;
        const std::int32_t family = family_of_type(type);
        if (!family) continue;
        provider_handle provider;
        if (!CryptAcquireContextW(provider.out(), nullptr, name.get(), type, CRYPT_VERIFYCONTEXT)) continue;
        DWORD version = 0, version_size = sizeof version;
        if (!CryptGetProvParam(provider.get(), PP_VERSION, reinterpret_cast<BYTE*>(&version), &version_size, 0))
            continue;
        auto record = std::make_shared<cryptoProviderData>();
        record->type = type;
        record->name = std::move(name);
        record->version_minor = static_cast<std::int32_t>(version & 0xFF);
        record->version_major = static_cast<std::int32_t>((version >> 8) & 0xFF);
        if (family == 2 && record->version_major == 4 && record->version_minor == 1) record->version_minor = 2;
        record->family = family;
        if (!providers_) providers_.reset(new std::vector<std::shared_ptr<cryptoProviderData>>);
        providers_->push_back(std::move(record));
    }
    return providers_ != nullptr;
}

const wchar_t* x509request::get_provider_name(DWORD type) const
{
    if (providers_)
        for (const auto& p : *providers_)
            if (p->type == type) return p->name.get();
    return nullptr;
}

std::int32_t x509request::get_provider_family(DWORD type) const
{
    if (providers_)
        for (const auto& p : *providers_)
            if (p->type == type) return p->family;
    return 0;
}

const cryptoProviderData* x509request::first_of_family(std::int32_t family) const
{
    if (providers_)
        for (const auto& p : *providers_)
            if (p->family == family) return p.get();
    return nullptr;
}

std::int32_t x509request::get_provider_type(std::int32_t family, std::int32_t standard) const
{
    if (!providers_) return -1;
    if (family != 1 && family != 2) {
        if (!first_of_family(1)) return -1;
        family = 1;
    }
    if (standard < 0 || standard > 2) return -1;
    return static_cast<std::int32_t>(families[family - 1].by_standard[standard]);
}

bool container_exists(DWORD type, const char* name)
{
    if (!name) return false;
    provider_handle provider;
    if (!CryptAcquireContextW(provider.out(), nullptr, nullptr, type, CRYPT_VERIFYCONTEXT)) return false;
    std::vector<BYTE> buffer(1024);
    DWORD flags = CRYPT_FIRST;
    // A list without an end is searched no further than its first
    // max_provider_containers names.
    for (std::size_t names = 0; names < max_provider_containers;) {
        // The length is reset before every call, and the buffer grows for a
        // longer name, so no name ends the walk early or is read cut.
        DWORD length = static_cast<DWORD>(buffer.size() - 1);
        if (!CryptGetProvParam(provider.get(), PP_ENUMCONTAINERS, buffer.data(), &length, flags)) {
            if (GetLastError() != ERROR_MORE_DATA || length < buffer.size() || length > max_container_name)
                return false;
            buffer.assign(static_cast<std::size_t>(length) + 1, 0);
            continue;  // the same name again, with room for it
        }
        buffer[length < buffer.size() ? length : buffer.size() - 1] = 0;
        if (equal_ignoring_ascii_case(reinterpret_cast<const char*>(buffer.data()), name)) return true;
        flags = CRYPT_NEXT;
        ++names;
    }
    return false;
}

util::blob_ptr x509request::create_request(const wchar_t* provider_name, std::int32_t family, std::int32_t standard,
                                           const char* subject, const std::vector<std::string>* enhanced_key_usage,
                                           bool exportable, const char* start_date, const char* expiration_date,
                                           const char* period, const char* policy_level, const char* template_oid,
                                           const std::int32_t* identification_kind,
                                           const util::subject_alt_name* alt_name, const char* container_path,
                                           const char* signing_tool, std::int32_t* code) const
{
    if (!subject || !enhanced_key_usage || !provider_name) {
        set_code(code, 0);
        return nullptr;
    }
    const cryptoProviderData* own_family = first_of_family(family);
    char default_tool[256];
    std::snprintf(default_tool, sizeof default_tool, "\"%s\" (версия %d.%d)",
                  family == 2 ? "ViPNet CSP" : "КриптоПро CSP", own_family ? own_family->version_major : 5,
                  own_family ? own_family->version_minor : 0);

    const std::unique_ptr<wide_char[]> path(utf8_to_wide(container_path));
    const std::int32_t type = get_provider_type(family, standard);

    provider_handle provider;
    if (!CryptAcquireContextW(provider.out(), reinterpret_cast<const wchar_t*>(path.get()), provider_name,
                              static_cast<DWORD>(type), CRYPT_NEWKEYSET)) {
        set_code(code, last_error());
        return nullptr;
    }
    if (family == 1 && !family1_provider_check(provider.get(), first_of_family(1), code)) return nullptr;

    key_handle key;
    if (!CryptGenKey(provider.get(), AT_KEYEXCHANGE, exportable ? CRYPT_EXPORTABLE : 0, key.out())) {
        set_code(code, last_error());
        return nullptr;
    }
    DWORD info_size = 0;
    if (!CryptExportPublicKeyInfo(provider.get(), AT_KEYEXCHANGE, encoding, nullptr, &info_size)) {
        set_code(code, last_error());
        return nullptr;
    }
    if (info_size < sizeof(CERT_PUBLIC_KEY_INFO) || info_size > provider_size_limit) {
        set_code(code, own_check);
        return nullptr;
    }
    std::vector<BYTE> info_buffer(info_size);
    auto* info = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info_buffer.data());
    if (!CryptExportPublicKeyInfo(provider.get(), AT_KEYEXCHANGE, encoding, info, &info_size)) {
        set_code(code, last_error());
        return nullptr;
    }
    const util::public_key_info public_key = to_public_key_info(*info);

    const auto name = util::encode_subject(subject, code);
    if (!name) return nullptr;
    const auto csp = util::encode_enrollment_csp_provider(reinterpret_cast<const wide_char*>(provider_name), code);
    if (!csp) return nullptr;
    const auto eku = util::encode_enhanced_key_usage(enhanced_key_usage, code);
    if (!eku) return nullptr;
    const auto usage = util::encode_key_usage(code);
    if (!usage) return nullptr;
    const auto key_id = util::encode_subject_key_id(&public_key, code);
    if (!key_id) return nullptr;
    const auto tool = util::encode_signing_tool(signing_tool ? signing_tool : default_tool, code);

    const auto certificate_template = util::encode_certificate_template(template_oid, code);
    const auto policies = util::encode_policies(policy_level, code);
    const auto kind = util::encode_integer(identification_kind, code);
    const auto names = util::encode_subject_alt_name(alt_name, code);
    const auto extensions = util::encode_extensions(usage.get(), eku.get(), key_id.get(), tool.get(),
                                                    certificate_template.get(), policies.get(), kind.get(),
                                                    names.get(), code);
    if (!extensions) return nullptr;
    const auto validity = util::encode_validity_attributes(start_date, expiration_date, period, code);
    if (validity.failed) return nullptr;
    const auto request_info = util::encode_request_info(name.get(), csp.get(), extensions.get(), &public_key,
                                                        validity.slots.get(), validity.count, code);
    if (!request_info) return nullptr;

    CRYPT_ALGORITHM_IDENTIFIER algorithm{};
    algorithm.pszObjId = const_cast<LPSTR>(util::signature_algorithm_oid(standard));
    byte_vector signature;
    const sized_read signed_info = read_sized(
        [&](BYTE* buffer, DWORD* length) {
            return CryptSignCertificate(provider.get(), AT_KEYEXCHANGE, encoding, request_info->data.get(),
                                        request_info->length, &algorithm, nullptr, buffer, length) != FALSE;
        },
        signature);
    if (signed_info == sized_read::failed) {
        set_code(code, last_error());
        return nullptr;
    }
    // The new key is of the standard's own length: 64 bytes of signature,
    // 128 for the 512-bit keys.
    if (signed_info == sized_read::oversized || signature.size() != (standard == 2 ? 128u : 64u)) {
        set_code(code, own_check);
        return nullptr;
    }
    const util::encoded_blob signature_blob(signature);
    return util::encode_signed_request(standard, request_info.get(), &signature_blob, code);
}

bool x509request::write_certificate(std::int32_t family, const char* certificate, const char* container,
                                    bool install, std::int32_t* code) const
{
    set_code(code, -1);
    if (!certificate || !container) return false;
    const std::unique_ptr<wide_char[]> name(utf8_to_wide(container));
    const std::int32_t type = get_provider_type(family, detect_certificate_standard(certificate));

    std::vector<BYTE> bytes;
    if (!decode_text(certificate, bytes)) {
        set_code(code, last_error());
        return false;
    }
    const certificate_handle context(
        create_certificate_context(X509_ASN_ENCODING, bytes.data(), static_cast<DWORD>(bytes.size())));
    if (!context) {
        set_code(code, last_error());
        return false;
    }
    provider_handle provider;
    if (!CryptAcquireContextW(provider.out(), reinterpret_cast<const wchar_t*>(name.get()), nullptr,
                              static_cast<DWORD>(type), 0)) {
        set_code(code, last_error());
        return false;
    }
    key_handle key;
    CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, key.out());
    if (!CryptSetKeyParam(key.get(), KP_CERTIFICATE, context->pbCertEncoded, 0)) {
        set_code(code, last_error());
        return false;
    }
    // A certificate that cannot be installed is reported, although it stays
    // written on the container's key.
    if (install && !add_certificate_to_store(provider.get(), context.get())) {
        set_code(code, last_error());
        return false;
    }
    return true;
}

std::int32_t detect_certificate_standard(const char* certificate)
{
    if (!certificate) return -1;
    std::vector<BYTE> bytes;
    if (!decode_text(certificate, bytes)) return -1;
    const certificate_handle context(
        create_certificate_context(encoding, bytes.data(), static_cast<DWORD>(bytes.size())));
    if (!context) return -1;
    const char* oid = context->pCertInfo->SignatureAlgorithm.pszObjId;
    if (!oid) return -1;
    for (int standard = 0; standard < 3; ++standard)
        if (std::strcmp(oid, util::signature_algorithm_oid(standard)) == 0) return standard;
    return -1;
}

bool add_certificate_to_store(HCRYPTPROV provider, PCCERT_CONTEXT certificate)
{
    DWORD error = 0;
    {
        const store_handle store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
        if (!store) return false;
        std::wstring container, provider_name;
        // A name whose size is past the provider limit is refused by the
        // command's own check, and nothing is installed.
        if (!get_text_param(provider, PP_UNIQUE_CONTAINER, container) ||
            !get_text_param(provider, PP_NAME, provider_name)) {
            error = static_cast<DWORD>(own_check);
        } else {
            DWORD type = 0, size = sizeof type;
            CryptGetProvParam(provider, PP_PROVTYPE, reinterpret_cast<BYTE*>(&type), &size, 0);

            CRYPT_KEY_PROV_INFO info{};
            info.pwszContainerName = &container[0];
            info.pwszProvName = &provider_name[0];
            info.dwProvType = type;
            info.dwFlags = CERT_SET_KEY_CONTEXT_PROP_ID;
            info.dwKeySpec = AT_KEYEXCHANGE;
            if (CertSetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, 5, &info) &&
                CertAddCertificateContextToStore(store.get(), certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
                return true;
            error = GetLastError();
        }
    }
    // The code of the failing step, not of closing the store.
    SetLastError(error);
    return false;
}

}  // namespace crypto::csp
