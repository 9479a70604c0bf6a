#include "crypto/certificate_lookup.h"

// The PKCS#11 token back end of this build: no module is wired in yet, so no
// token holds a certificate and no token signer exists.

namespace crypto {

std::vector<certificate_ptr> list_pkcs11_certificates()
{
    return {};
}

certificate_ptr find_pkcs11_certificate(const std::string&)
{
    return {};
}

std::shared_ptr<signature_algorithm> make_pkcs11_signature_algorithm(signature_kind, certificate_ptr, std::string)
{
    return {};
}

}  // namespace crypto
