#include "messages/json.h"

#include <istream>
#include <streambuf>

#include <boost/property_tree/json_parser.hpp>

namespace messages {
namespace {

using boost::property_tree::json_parser::json_parser_error;

// Reads the request text in place, without the copy a string stream would make.
class memory_buffer : public std::streambuf {
public:
    memory_buffer(const char* data, std::size_t length)
    {
        char* begin = const_cast<char*>(data);
        setg(begin, begin, begin + length);
    }
};

// The reader descends recursively; refuse nesting that could exhaust the stack
// before handing the text to it.
void check_depth(const char* data, std::size_t length)
{
    int depth = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (in_string) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '{' || c == '[') {
            if (++depth > max_json_depth)
                throw json_parser_error("nesting too deep", "", 0);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
}

bool representable(const json_tree& node)
{
    if (!node.empty() && !node.data().empty())
        return false;
    for (const auto& child : node)
        if (!representable(child.second))
            return false;
    return true;
}

void write_string(std::string& out, const std::string& text)
{
    static const char hex[] = "0123456789ABCDEF";
    out.push_back('"');
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out.push_back(hex[c >> 4]);
                out.push_back(hex[c & 0x0F]);
            } else {
                out.push_back(ch);
            }
        }
    }
    out.push_back('"');
}

void write_node(std::string& out, const json_tree& node)
{
    if (node.empty()) {
        write_string(out, node.data());
        return;
    }
    bool is_array = true;
    for (const auto& child : node)
        if (!child.first.empty()) {
            is_array = false;
            break;
        }
    out.push_back(is_array ? '[' : '{');
    bool first = true;
    for (const auto& child : node) {
        if (!first)
            out.push_back(',');
        first = false;
        if (!is_array) {
            write_string(out, child.first);
            out.push_back(':');
        }
        write_node(out, child.second);
    }
    out.push_back(is_array ? ']' : '}');
}

}  // namespace

json_tree from_json(const char* data, std::size_t length)
{
    check_depth(data, length);
    memory_buffer buffer(data, length);
    std::istream stream(&buffer);
    json_tree tree;
    boost::property_tree::read_json(stream, tree);
    return tree;
}

json_tree from_json(const std::string& text)
{
    return from_json(text.data(), text.size());
}

std::string to_json(const json_tree& tree)
{
    if (!tree.data().empty() || !representable(tree))
        throw json_parser_error("ptree contains data that cannot be represented in JSON format", "", 0);
    std::string out;
    write_node(out, tree);
    out.push_back('\n');
    return out;
}

}  // namespace messages
