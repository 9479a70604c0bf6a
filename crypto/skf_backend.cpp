#include "crypto/certificate_lookup.h"
#include "crypto/skf/backend.h"

// The SKF device back end behind the certificate lookup (crypto/skf).

namespace crypto {

std::vector<certificate_ptr> list_skf_certificates()
{
    return skf::list_certificates();
}

certificate_ptr find_skf_certificate(const std::string& thumbprint)
{
    return skf::find_certificate(thumbprint);
}

std::shared_ptr<signature_algorithm> make_skf_signature_algorithm(signature_kind kind, certificate_ptr certificate,
                                                                  std::string pin)
{
    return skf::make_signature_algorithm(kind, std::move(certificate), std::move(pin));
}

}  // namespace crypto
