#pragma once
#include <string>

#include <boost/optional.hpp>

#include "messages/json.h"

namespace messages {

// The PIN of a request: "pin" (empty when absent), replaced by the
// decryption of "encrypted_pin" when that is present and not empty, also when
// the decryption gives the empty text.
std::string read_pin(const json_tree& arguments);

// A Boolean key: a decimal 0 or 1, or the lower-case words true and false,
// with blanks around. A missing key throws ptree_bad_path; any other text
// throws ptree_bad_data ("conversion of data to type \"bool\" failed").
bool read_bool(const json_tree& arguments, const std::string& key);
// The same, but a missing key or a text that is not a Boolean gives none.
boost::optional<bool> read_optional_bool(const json_tree& arguments, const std::string& key);

}  // namespace messages
