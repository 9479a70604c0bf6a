#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "crypto/csp/cms_signer.h"
#include "crypto/encoding/base64.h"
#include "messages/commands.h"
#include "messages/request_arguments.h"

namespace messages {

// "SignCms": {"data": base64, "detached": Boolean, "thumbprint"} -> base64 CMS
// SignedData made with a certificate of the user's CryptoAPI store.
command_result sign_cms::execute(const json_tree& arguments) const
{
    const auto data = crypto::base64_decode(arguments.get<std::string>("data"));
    const bool detached = read_bool(arguments, "detached");
    const std::string thumbprint = arguments.get<std::string>("thumbprint");

    auto certificate = crypto::find_certificate_by_thumbprint(thumbprint, crypto::csp_store);
    if (!crypto::is_found(certificate))
        throw std::invalid_argument("Certificate not found");
    const crypto::csp::cms_signer signer(std::move(certificate));
    return crypto::base64_encode(signer.sign(data, detached));
}

}  // namespace messages
