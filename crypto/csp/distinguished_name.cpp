#include "crypto/csp/distinguished_name.h"

#include "crypto/encoding/name_text.h"

namespace crypto::csp {

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
    entries_ = split_name_text(reinterpret_cast<const wide_char*>(text.c_str()));
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
