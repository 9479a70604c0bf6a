#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "messages/base_message.h"

namespace messages {

using command_row = std::pair<std::string, std::unique_ptr<base_message>>;

// A new object for every command, in registration order, keyed by its wire
// name (compared byte for byte).
std::vector<command_row> make_commands();

}  // namespace messages
