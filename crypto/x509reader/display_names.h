#pragma once
#include <string>

namespace crypto::x509reader {

// One row of a display-name table; a table ends with a row whose OID is null.
struct oid_name {
    const char* oid;
    const char* text;
};

// Extensions, signature and key algorithms, and everything else a
// certificate names by OID (name attributes, key usages, policies, access
// methods, application OIDs).
extern const oid_name extension_names[];
extern const oid_name algorithm_names[];
extern const oid_name oid_display_names[];

// The text of the first row whose OID equals oid exactly; the OID itself
// when no row does.
std::string display_name(const oid_name* table, const std::string& oid);

}  // namespace crypto::x509reader
