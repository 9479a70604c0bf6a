#include "messages/request_arguments.h"

#include "crypto/pin_protection.h"
#include "crypto/secure_wipe.h"

namespace messages {

std::string read_pin(const json_tree& arguments)
{
    std::string pin = arguments.get<std::string>("pin", std::string());
    const auto encrypted = arguments.get_child_optional("encrypted_pin");
    if (encrypted && !encrypted->data().empty()) {
        std::string decrypted = crypto::decrypt_pin_text(encrypted->data());
        crypto::secure_wipe(pin);
        pin.swap(decrypted);
    }
    return pin;
}

bool read_bool(const json_tree& arguments, const std::string& key)
{
    const json_tree& node = arguments.get_child(key);
    if (const auto value = node.get_value_optional<bool>())
        return *value;
    // Spelled out: the tree's own message names the type as the compiler's
    // type_info does, which is not "bool" with every compiler.
    throw boost::property_tree::ptree_bad_data("conversion of data to type \"bool\" failed", node.data());
}

boost::optional<bool> read_optional_bool(const json_tree& arguments, const std::string& key)
{
    const auto node = arguments.get_child_optional(key);
    if (!node)
        return boost::none;
    return node->get_value_optional<bool>();
}

}  // namespace messages
