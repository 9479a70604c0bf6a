#include "crypto/csp/distinguished_name.h"

#include <algorithm>
#include <memory>

#include "crypto/csp/wide_text.h"
#include "crypto/encoding/text.h"

namespace crypto::csp {
namespace {

bool is_blank(wchar_t c)
{
    return static_cast<unsigned>(c) <= 32;
}

std::wstring trim(const std::wstring& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_blank(text[begin]))
        ++begin;
    while (end > begin && is_blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// Drops each quotation mark; two in a row give one.
std::wstring unquote(const std::wstring& text)
{
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'"') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == L'"') {
            out += L'"';
            ++i;
        }
    }
    return out;
}

}  // namespace

distinguished_name::distinguished_name(const CERT_NAME_BLOB* name, DWORD string_type)
{
    if (!name || !name->pbData || !name->cbData)
        return;
    auto* blob = const_cast<CERT_NAME_BLOB*>(name);
    const DWORD size = CertNameToStrW(X509_ASN_ENCODING, blob, string_type, nullptr, 0);
    if (size == 0)
        return;
    std::wstring text(size, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, blob, string_type, &text[0], size);
    text.resize(std::wcslen(text.c_str()));
    parse(text);
}

void distinguished_name::parse(const std::wstring& text)
{
    static const wide_char delimiter[] = {u',', 0};
    wide_tokenizer tokens(reinterpret_cast<const wide_char*>(text.c_str()), delimiter, 1, u'"');
    while (const wide_char* token = tokens.next()) {
        const std::wstring part(reinterpret_cast<const wchar_t*>(token));
        const std::size_t equals = part.find(L'=');
        if (equals == std::wstring::npos)
            continue;
        const std::string key = utf8_text(trim(part.substr(0, equals)));
        const std::string value = utf8_text(unquote(trim(part.substr(equals + 1))));
        const bool present = std::any_of(entries_.begin(), entries_.end(),
                                         [&key](const auto& entry) { return entry.first == key; });
        if (!present)
            entries_.emplace_back(key, value);
    }
}

std::string distinguished_name::value(const std::string& key) const
{
    for (const auto& entry : entries_)
        if (entry.first == key)
            return entry.second;
    return {};
}

boost::property_tree::ptree distinguished_name::to_ptree() const
{
    boost::property_tree::ptree tree;
    for (const auto& entry : entries_)
        tree.push_back({entry.first, boost::property_tree::ptree(entry.second)});
    return tree;
}

}  // namespace crypto::csp
