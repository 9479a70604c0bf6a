#include "crypto/csp/context.h"

#include <algorithm>
#include <utility>

#include "crypto/csp/win32_exception.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::csp {
namespace {

constexpr const wchar_t* aes_provider_name = L"Microsoft Enhanced RSA and AES Cryptographic Provider";

}  // namespace

context::~context()
{
    if (handle_)
        CryptReleaseContext(handle_, 0);
}

sized_read read_param_text(HCRYPTPROV provider, DWORD param, std::string& text)
{
    text.clear();
    const auto call = [provider, param](BYTE* data, DWORD* length) {
        return CryptGetProvParam(provider, param, data, length, 0) != FALSE;
    };
    DWORD size = 0;
    if (!call(nullptr, &size) || size == 0)
        return sized_read::failed;
    byte_vector buffer;
    const sized_read outcome = read_announced(call, size, buffer);
    text.assign(buffer.begin(), std::find(buffer.begin(), buffer.end(), 0));
    return outcome;
}

std::string context::get_param_string(DWORD param) const
{
    std::string text;
    read_param_text(handle_, param, text);
    return text;
}

verify_context::verify_context(verify_context&& other) noexcept : context(std::exchange(other.handle_, 0)) {}

verify_context& verify_context::operator=(verify_context&& other) noexcept
{
    if (this != &other) {
        if (handle_)
            CryptReleaseContext(handle_, 0);
        handle_ = std::exchange(other.handle_, 0);
    }
    return *this;
}

crypt_context::crypt_context(const std::shared_ptr<x509certificate>& certificate, const std::string& pin, bool silent)
{
    if (!certificate)
        return;
    DWORD error = 0;
    const auto info = certificate->key_provider_info(&error);
    if (info.empty()) {
        open_error_ = error;
        return;
    }
    silent_ = silent;
    const auto* prov = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(info.data());
    const wchar_t* provider = prov->pwszProvName;
    DWORD type = prov->dwProvType;
    if (type == PROV_RSA_FULL) {
        provider = aes_provider_name;
        type = PROV_RSA_AES;
    }
    if (!CryptAcquireContextW(&handle_, prov->pwszContainerName, provider, type, silent ? CRYPT_SILENT : 0)) {
        open_error_ = static_cast<std::uint32_t>(GetLastError());
        handle_ = 0;
        return;
    }
    if (!pin.empty()) {
        // The result is not checked: a wrong PIN shows up at the first use of the key.
        const auto* bytes = reinterpret_cast<const BYTE*>(pin.c_str());
        CryptSetProvParam(handle_, PP_KEYEXCHANGE_PIN, bytes, 0);
        CryptSetProvParam(handle_, PP_SIGNATURE_PIN, bytes, 0);
    }
}

void crypt_context::require_handle() const
{
    if (handle_)
        return;
    if (open_error_)
        throw win32_exception(open_error_);
    throw win32_exception();
}

}  // namespace crypto::csp
