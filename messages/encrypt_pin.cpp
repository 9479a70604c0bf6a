#include "crypto/pin_protection.h"
#include "messages/commands.h"

namespace messages {

// "EncryptPin": {"pincode": PIN} -> the encrypted PIN text a page may keep.
command_result encrypt_pin::execute(const json_tree& arguments) const
{
    return crypto::encrypt_pin_text(arguments.get_child("pincode").data());
}

}  // namespace messages
