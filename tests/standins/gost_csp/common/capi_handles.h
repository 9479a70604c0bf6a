#pragma once
// Owners of CryptoAPI and registry handles for the fixture tool and the tests,
// and the error type they throw with the failing call's last error.
#include <windows.h>
#include <wincrypt.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace gost_standin {

class capi_error : public std::runtime_error {
public:
    capi_error(const std::string& what, DWORD code)
        : std::runtime_error(what + " failed, error 0x" + hex32(code)), code_(code)
    {
    }
    DWORD code() const { return code_; }

    static std::string hex32(DWORD value)
    {
        char text[9];
        static const char digits[] = "0123456789ABCDEF";
        for (int i = 7; i >= 0; --i, value >>= 4) text[i] = digits[value & 15];
        text[8] = 0;
        return text;
    }

private:
    DWORD code_;
};

// Throws capi_error with GetLastError() when ok is false.
inline void check(BOOL ok, const char* what)
{
    if (!ok) throw capi_error(what, GetLastError());
}

template <typename Handle, typename Traits>
class unique_handle {
public:
    unique_handle() = default;
    explicit unique_handle(Handle h) : handle_(h) {}
    ~unique_handle() { reset(); }
    unique_handle(unique_handle&& other) noexcept : handle_(std::exchange(other.handle_, Handle{})) {}
    unique_handle& operator=(unique_handle&& other) noexcept
    {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;

    Handle get() const { return handle_; }
    Handle* out()
    {
        reset();
        return &handle_;
    }
    explicit operator bool() const { return handle_ != Handle{}; }
    void reset()
    {
        if (handle_ != Handle{}) Traits::close(handle_);
        handle_ = Handle{};
    }

private:
    Handle handle_{};
};

struct provider_traits {
    static void close(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
};
struct key_traits {
    static void close(HCRYPTKEY h) { CryptDestroyKey(h); }
};
struct hash_traits {
    static void close(HCRYPTHASH h) { CryptDestroyHash(h); }
};
struct store_traits {
    static void close(HCERTSTORE h) { CertCloseStore(h, 0); }
};
struct certificate_traits {
    static void close(PCCERT_CONTEXT h) { CertFreeCertificateContext(h); }
};
struct registry_traits {
    static void close(HKEY h) { RegCloseKey(h); }
};

using provider_handle = unique_handle<HCRYPTPROV, provider_traits>;
using key_handle = unique_handle<HCRYPTKEY, key_traits>;
using hash_handle = unique_handle<HCRYPTHASH, hash_traits>;
using store_handle = unique_handle<HCERTSTORE, store_traits>;
using certificate_handle = unique_handle<PCCERT_CONTEXT, certificate_traits>;
using registry_handle = unique_handle<HKEY, registry_traits>;

inline std::wstring widen(const std::string& text)
{
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n);
    return out;
}

inline std::string narrow(const std::wstring& text)
{
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

// CryptExportKey into a new buffer.
inline std::vector<std::uint8_t> export_key(HCRYPTKEY key, HCRYPTKEY wrap, DWORD type)
{
    DWORD size = 0;
    check(CryptExportKey(key, wrap, type, 0, nullptr, &size), "CryptExportKey (size)");
    std::vector<std::uint8_t> out(size);
    check(CryptExportKey(key, wrap, type, 0, out.data(), &size), "CryptExportKey");
    out.resize(size);
    return out;
}

}  // namespace gost_standin
