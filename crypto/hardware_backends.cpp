#include "crypto/certificate_lookup.h"

// The token back ends of this build. No PKCS#11 module or SKF library is
// wired in yet, so no token or device holds a certificate and no hardware
// signer exists; the commands answer for the CryptoAPI store alone.

namespace crypto {

std::vector<certificate_ptr> list_pkcs11_certificates()
{
    return {};
}

certificate_ptr find_pkcs11_certificate(const std::string&)
{
    return {};
}

std::vector<certificate_ptr> list_skf_certificates()
{
    return {};
}

certificate_ptr find_skf_certificate(const std::string&)
{
    return {};
}

std::shared_ptr<signature_algorithm> make_hardware_signature_algorithm(signature_kind, certificate_ptr, std::string)
{
    return {};
}

}  // namespace crypto
