#include "crypto/csp/x509certificate.h"
#include "crypto/encoding/base64.h"
#include "messages/commands.h"

namespace messages {

// "CertificateFromBase64": {"data": base64 DER} -> the certificate's
// description, or the empty tree when the bytes are not a certificate.
command_result certificate_from_base64::execute(const json_tree& arguments) const
{
    const auto der = crypto::base64_decode(arguments.get<std::string>("data"));
    const auto certificate = crypto::csp::make_certificate(der);
    if (!certificate->context())
        return json_tree();
    return certificate->to_ptree();
}

}  // namespace messages
