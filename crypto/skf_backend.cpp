#include "crypto/certificate_lookup.h"

// The SKF device back end of this build: no SKF library is wired in yet, so no
// device holds a certificate and no device signer exists.

namespace crypto {

std::vector<certificate_ptr> list_skf_certificates()
{
    return {};
}

certificate_ptr find_skf_certificate(const std::string&)
{
    return {};
}

std::shared_ptr<signature_algorithm> make_skf_signature_algorithm(signature_kind, certificate_ptr, std::string)
{
    return {};
}

}  // namespace crypto
