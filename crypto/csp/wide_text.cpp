#include "crypto/csp/wide_text.h"

#include <memory>

#include "crypto/encoding/text.h"

namespace crypto::csp {

static_assert(sizeof(wchar_t) == sizeof(wide_char), "Windows wide strings are UTF-16");

std::string utf8_text(const wchar_t* text)
{
    if (!text)
        return {};
    const std::unique_ptr<char[]> utf8(wide_to_utf8(reinterpret_cast<const wide_char*>(text), 0));
    return utf8 ? std::string(utf8.get()) : std::string();
}

std::string utf8_text(const std::wstring& text)
{
    return utf8_text(text.c_str());
}

}  // namespace crypto::csp
