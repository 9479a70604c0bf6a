#include "crypto/certificate_lookup.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/encoding/base64.h"
#include "messages/commands.h"

namespace messages {

// "CertificateToBase64": {"thumbprint", "store_type"} -> base64 DER, or ""
// when no certificate is found.
command_result certificate_to_base64::execute(const json_tree& arguments) const
{
    const std::string thumbprint = arguments.get<std::string>("thumbprint");
    const auto certificate = crypto::find_certificate_by_thumbprint(thumbprint, crypto::get_store_type(arguments));
    if (!crypto::is_found(certificate))
        return std::string();
    return crypto::base64_encode(certificate->encoded());
}

}  // namespace messages
