#include "messages/commands.h"

namespace messages {

command_result version::execute(const json_tree&) const
{
    return std::string(product_version);
}

}  // namespace messages
