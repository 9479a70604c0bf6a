#include "crypto/certificate_lookup.h"
#include "crypto/csp/x509certificate.h"
#include "messages/commands.h"

namespace messages {

// "FindCertificate": {"thumbprint", "store_type"} -> the certificate's
// description, or the empty tree when none is found.
command_result find_certificate::execute(const json_tree& arguments) const
{
    const std::string thumbprint = arguments.get<std::string>("thumbprint");
    const auto certificate = crypto::find_certificate_by_thumbprint(thumbprint, crypto::get_store_type(arguments));
    if (!crypto::is_found(certificate))
        return json_tree();
    return certificate->to_ptree();
}

}  // namespace messages
