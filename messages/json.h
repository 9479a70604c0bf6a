#pragma once
#include <string>

#include <boost/property_tree/ptree.hpp>

namespace messages {

// Requests, arguments and answers are property trees: arrays are children with
// empty keys and every leaf value is text.
using json_tree = boost::property_tree::ptree;

// Parses a JSON text (Boost's JSON reader: escapes resolved, numbers and
// literals kept as their text). Text that is malformed, not well-formed UTF-8
// or too deeply nested throws
// boost::property_tree::json_parser::json_parser_error.
json_tree from_json(const char* data, std::size_t length);
json_tree from_json(const std::string& text);
// The same, consuming the text: its buffer may become the tree's largest value
// (the document of a large request is then not copied). The text is left empty.
json_tree from_json(std::string&& text);

// Compact JSON followed by one line feed. Leaves are strings; a node whose
// children all have empty keys is an array. Escapes '"', '\\' and '/', the
// named control characters and \u00XX for the other bytes below 0x20; bytes
// that are not UTF-8 are written as U+FFFD, so the text is always valid
// UTF-8. Throws
// json_parser_error when the tree cannot be represented as JSON.
std::string to_json(const json_tree& tree);

// Deepest nesting of objects and arrays that from_json accepts.
constexpr int max_json_depth = 200;

}  // namespace messages
