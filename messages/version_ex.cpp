#include "messages/commands.h"

namespace messages {

command_result version_ex::execute(const json_tree&) const
{
    json_tree result;
    result.put("version", product_version);
    result.put("system", "windows");
    return result;
}

}  // namespace messages
