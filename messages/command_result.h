#pragma once
#include <cstdint>
#include <string>

#include <boost/variant.hpp>

#include "messages/json.h"

namespace messages {

// What a command returns: nothing (no "result" key), a text, an unsigned
// number (written as its decimal text) or a JSON subtree.
using command_result = boost::variant<boost::blank, std::string, std::uint32_t, json_tree>;

// Stores the result under "result" of an answer tree.
void put_result(const command_result& result, json_tree& answer);

// Answer trees with the keys in the order the native-messaging host writes them.
json_tree make_success_answer(const command_result& result, const std::string& id);
json_tree make_failure_answer(const std::string& error, const std::string& id);

}  // namespace messages
