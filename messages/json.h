#pragma once
#include <cstddef>
#include <string>

#include <boost/property_tree/ptree.hpp>

namespace messages {

// Requests, arguments and answers are property trees: arrays are children with
// empty keys and every leaf value is text.
using json_tree = boost::property_tree::ptree;

// Parses a JSON text (Boost's JSON reader: escapes resolved, numbers and
// literals kept as their text). Text that is malformed, not well-formed UTF-8,
// too deeply nested or of too many values throws
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
// Most values (strings, numbers, literals, objects and arrays, at any depth;
// object keys not counted) that from_json accepts. Each value is a tree node
// of its own, 180 to 250 bytes in the 32-bit build: at this limit the tree of
// any request the host accepts (64 MiB) stays near 500 MiB, leaving the
// 32-bit process room for the command that reads it. SignHashArray takes the
// most values per byte: three per hash (the entry's object, its "id" and its
// "hash"), so one request holds at most 699,048 hashes (about 46 MiB of text)
// beside its "thumbprint" and two more keys; a longer one is not JSON and gets
// no answer. bench/json_memory_bench.cpp prints the figures.
constexpr std::size_t max_json_values = 2 * 1024 * 1024;
// The number of values of a text as from_json counts them: the nodes of the
// tree it makes, the root included (for well-formed text).
std::size_t count_json_values(const char* data, std::size_t length);

}  // namespace messages
