#pragma once
// One request of IPlugin::SendMessage, from UTF-8 request text to UTF-8
// answer text, against a table of commands.
#include <stdexcept>
#include <string>
#include <unordered_map>

#include "messages/base_message.h"

namespace activex {

// Wire name (exact, case-sensitive) to command object.
using command_map = std::unordered_map<std::string, const messages::base_message*>;

// A request that names no registered command or carries no id.
class invalid_message : public std::runtime_error {
public:
    invalid_message() : std::runtime_error("Invalid message") {}
};

// Parses the request, runs its command and returns the answer as compact JSON
// followed by one line feed, keys in the order response, result or error, id.
// A command that throws (or whose result cannot be put into the answer) gives
// a "fail" answer. Failures of the request itself are thrown: the JSON
// parser's errors, invalid_message for an empty or absent "type" or "id" or an
// unregistered "type" (nothing runs then), and the writer's errors for an
// answer that cannot be written as JSON.
std::string answer_request(const command_map& commands, const std::string& request);

}  // namespace activex
