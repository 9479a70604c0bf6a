#pragma once
// UTF-8 texts of the Windows API's wide (UTF-16) strings.
#include <string>

namespace crypto::csp {

// The UTF-8 text of a wide string up to its first NUL; empty for null.
std::string utf8_text(const wchar_t* text);
std::string utf8_text(const std::wstring& text);

}  // namespace crypto::csp
