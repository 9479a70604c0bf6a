#include "crypto/certificate_lookup.h"
#include "crypto/encoding/base64.h"
#include "crypto/secure_wipe.h"
#include "messages/commands.h"
#include "messages/request_arguments.h"

namespace messages {

// "SignHash": {"hash": base64, "thumbprint", "store_type", "pin",
// "encrypted_pin"} -> base64 signature, or "" when no certificate is found.
command_result sign_hash::execute(const json_tree& arguments) const
{
    const auto hash = crypto::base64_decode(arguments.get<std::string>("hash"));
    const std::string thumbprint = arguments.get<std::string>("thumbprint");
    const crypto::store_type kind = crypto::get_store_type(arguments);
    std::string pin = read_pin(arguments);
    const crypto::wipe_on_exit<std::string> wipe_pin(pin);  // when it does not reach a signer

    auto certificate = crypto::find_certificate_by_thumbprint(thumbprint, kind);
    if (!crypto::is_found(certificate))
        return std::string();
    const auto algorithm = crypto::require_signature_algorithm(std::move(certificate), std::move(pin));
    return crypto::base64_encode(algorithm->sign_hash(hash));
}

}  // namespace messages
