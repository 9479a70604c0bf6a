#include "crypto/csp/win32_exception.h"

#include <windows.h>

#include <memory>

#include "crypto/encoding/hex.h"
#include "crypto/encoding/text.h"

namespace crypto::csp {
namespace {

struct local_free {
    void operator()(WCHAR* buffer) const { LocalFree(buffer); }
};

}  // namespace

std::string system_error_text(std::uint32_t code)
{
    constexpr DWORD english_us = 1033;
    WCHAR* buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
                   nullptr, code, english_us, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    if (!buffer)
        return "Unknown error";
    const std::unique_ptr<WCHAR, local_free> owned(buffer);
    const std::unique_ptr<char[]> text(wide_to_utf8(reinterpret_cast<const wide_char*>(buffer), 0));
    std::string message = text ? text.get() : "";
    message += "Error code: ";
    message += format_hex32(static_cast<std::int32_t>(code));
    return message;
}

win32_exception::win32_exception() : win32_exception(static_cast<std::uint32_t>(GetLastError())) {}

win32_exception::win32_exception(std::uint32_t code) : message_(system_error_text(code)), code_(code) {}

const char* win32_exception::what() const noexcept
{
    return message_.c_str();
}

}  // namespace crypto::csp
