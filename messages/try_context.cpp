#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "messages/commands.h"

namespace messages {

// "TryWithoutPin": {"thumbprint", "store_type"} -> {"valid": "true"|"false"},
// whether the key signs without asking for a PIN (never shows a dialog).
command_result try_context::execute(const json_tree& arguments) const
{
    const std::string thumbprint = arguments.get<std::string>("thumbprint");
    auto certificate = crypto::find_certificate_by_thumbprint(thumbprint, crypto::get_store_type(arguments));
    if (!crypto::is_found(certificate))
        throw std::invalid_argument("Certificate not found");
    const auto algorithm = crypto::require_signature_algorithm(std::move(certificate), std::string());
    json_tree answer;
    answer.put("valid", std::string(algorithm->try_sign() ? "true" : "false"));
    return answer;
}

}  // namespace messages
