#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <utility>
#include <vector>

#include <boost/property_tree/ptree.hpp>

namespace crypto::csp {

// An encoded certificate name as key/value texts (UTF-8), made from the
// system's text form of the name (CertNameToStrW), one entry for each
// attribute, each attribute of a multi-valued RDN too. Keys are unique: when a
// key repeats, its first value stays. Entries keep the order of the name text.
class distinguished_name {
public:
    // string_type: CERT_X500_NAME_STR (short names) or CERT_OID_NAME_STR (dotted OIDs).
    distinguished_name(const CERT_NAME_BLOB* name, DWORD string_type);

    // The value under key, or "" when there is none.
    std::string value(const std::string& key) const;
    const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }
    // One string child per entry, keys taken whole (dotted OIDs stay single keys).
    boost::property_tree::ptree to_ptree() const;

    // Splits a name text into entries (split_name_text): attributes at commas
    // and at the " + " inside an RDN, outside quotes; parts without "=" are
    // dropped, keys and values are trimmed of code units up to 32, values are
    // unquoted.
    void parse(const std::wstring& text);

private:
    std::vector<std::pair<std::string, std::string>> entries_;
};

}  // namespace crypto::csp
