#include "messages/get_string_array.h"

namespace messages {

std::vector<std::string> get_string_array(const json_tree& arguments, const std::string& path)
{
    std::vector<std::string> values;
    for (const auto& child : arguments.get_child(path))
        values.push_back(child.second.data());
    return values;
}

}  // namespace messages
