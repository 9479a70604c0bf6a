#include "crypto/pin_protection.h"
#include "crypto/secure_wipe.h"
#include "messages/commands.h"

namespace messages {

// "TryDecryptPin": {"encrypted_pin": text} -> {"valid": "true"|"false"}.
// The PIN itself never goes into the answer.
command_result decrypt_pin::execute(const json_tree& arguments) const
{
    std::string pin = crypto::decrypt_pin_text(arguments.get_child("encrypted_pin").data());
    const crypto::wipe_on_exit<std::string> wipe_pin(pin);
    json_tree result;
    result.put("valid", pin.empty() ? "false" : "true");
    return result;
}

}  // namespace messages
