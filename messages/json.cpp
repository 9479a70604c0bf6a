#include "messages/json.h"

#include <utility>
#include <vector>

#include <boost/property_tree/json_parser.hpp>

namespace messages {
namespace {

using boost::property_tree::json_parser::json_parser_error;

namespace detail = boost::property_tree::json_parser::detail;

// Strings at least this long get their exact room before the reader fills
// them, so a large document is never held twice while its value grows.
constexpr std::size_t large_string = 64 * 1024;

// Where the large strings are: (index among all strings, length of the text).
using string_sizes = std::vector<std::pair<std::size_t, std::size_t>>;

// One pass over the text before the reader sees it. The reader descends
// recursively, so nesting that could exhaust the stack is refused here; and
// the lengths of large strings are noted for the callbacks below.
string_sizes scan(const char* data, std::size_t length)
{
    string_sizes large;
    std::size_t strings = 0;
    int depth = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (c == '"') {
            const std::size_t start = ++i;
            while (i < length && data[i] != '"')
                i += data[i] == '\\' ? 2 : 1;
            if (i - start >= large_string)
                large.emplace_back(strings, i - start);
            ++strings;
        } else if (c == '{' || c == '[') {
            if (++depth > max_json_depth)
                throw json_parser_error("nesting too deep", "", 0);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return large;
}

// Boost's tree-building callbacks, reserving the room noted by scan().
class sized_callbacks : public detail::standard_callbacks<json_tree> {
public:
    explicit sized_callbacks(const string_sizes& large) : large_(large) {}

    void on_begin_string()
    {
        standard_callbacks::on_begin_string();
        if (next_ < large_.size() && large_[next_].first == index_)
            current_value().reserve(large_[next_++].second);
        ++index_;
    }

private:
    const string_sizes& large_;
    std::size_t next_ = 0;
    std::size_t index_ = 0;
};

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
    const string_sizes large = scan(data, length);
    // Boost's JSON reader over the bytes in place (pointer iterators are much
    // faster than a stream's).
    sized_callbacks callbacks(large);
    detail::encoding<char> encoding;
    detail::read_json_internal(data, data + length, encoding, callbacks, std::string());
    json_tree tree;
    tree.swap(callbacks.output());
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
