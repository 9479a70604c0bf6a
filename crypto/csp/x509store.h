#pragma once
#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

// The current user's personal certificate store. A store that does not open
// behaves as an empty one. A certificate whose bytes are not one sound DER
// element (crypto/util/der_check.h), with nothing after it, is neither
// listed nor found.
class x509store {
public:
    x509store();
    virtual ~x509store();
    x509store(const x509store&) = delete;
    x509store& operator=(const x509store&) = delete;

    // The certificates valid now, in the store's order.
    std::vector<certificate_ptr> list_certificates() const;
    // By hex SHA-1 thumbprint (any letter case, blanks between digits
    // allowed), whatever the certificate's validity; empty when none matches.
    certificate_ptr find_by_thumbprint(const std::string& thumbprint) const;

private:
    HCERTSTORE handle_;
};

}  // namespace crypto::csp
