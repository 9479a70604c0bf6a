#include "crypto/csp/context.h"

#include <algorithm>
#include <utility>
#include <vector>

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

std::string context::get_param_string(DWORD param) const
{
    std::string text;
    read_param_string(param, text);
    return text;
}

sized_read context::read_param_string(DWORD param, std::string& text) const
{
    text.clear();
    DWORD size = 0;
    if (!CryptGetProvParam(handle_, param, nullptr, &size, 0) || size == 0)
        return sized_read::failed;
    if (size > provider_size_limit)
        return sized_read::oversized;
    std::vector<char> buffer(size, '\0');
    DWORD length = size;
    if (!CryptGetProvParam(handle_, param, reinterpret_cast<BYTE*>(buffer.data()), &length, 0))
        return sized_read::failed;
    const char* begin = buffer.data();
    const char* end = begin + written_part(length, buffer.size());
    text.assign(begin, std::find(begin, end, '\0'));
    return sized_read::done;
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
