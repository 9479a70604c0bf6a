#pragma once
#include <string>
#include <vector>

#include "messages/json.h"

namespace messages {

// The value texts of the children of the node at path ('.'-separated), in
// document order. A missing node throws ptree_bad_path ("No such node (path)").
std::vector<std::string> get_string_array(const json_tree& arguments, const std::string& path);

}  // namespace messages
