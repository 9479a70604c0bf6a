#include "messages/json.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include <boost/property_tree/json_parser.hpp>

#include "crypto/buffer_sizes.h"
#include "crypto/secure_wipe.h"
#include "messages/utf8.h"

namespace messages {
namespace {

using boost::property_tree::json_parser::json_parser_error;

namespace detail = boost::property_tree::json_parser::detail;

// Strings at least this long are handled apart, so that a large document
// (a base64 text of many megabytes) is neither held twice while its value
// grows nor walked character by character.
constexpr std::size_t large_string = crypto::buffer_sizes::large_json_string;

// One large string literal: its index among all strings of the text (keys
// included, in document order) and its content between the quotes. A plain
// one (printable ASCII, no escapes) reads as exactly its bytes, so the reader
// is made to step over it and the callbacks copy it in one piece; any other
// gets its room reserved before the reader fills it.
struct large_literal {
    std::size_t index;
    const char* begin;
    const char* end;
    bool plain;
    bool key;
};
using large_literals = std::vector<large_literal>;

// The quote that ends a string whose content starts at p, or null. Each byte
// is looked at a bounded number of times however many escapes the string
// holds: the quote found last is kept until an escape steps past it.
const char* find_closing_quote(const char* p, const char* end)
{
    const char* quote = nullptr;
    for (;;) {
        if (!quote || quote < p) {
            quote = static_cast<const char*>(std::memchr(p, '"', static_cast<std::size_t>(end - p)));
            if (!quote)
                return nullptr;
        }
        const auto* backslash = static_cast<const char*>(std::memchr(p, '\\', static_cast<std::size_t>(quote - p)));
        if (!backslash)
            return quote;
        p = backslash + 2;  // the escaped character, a quote included, is content
        if (p >= end)
            return nullptr;
    }
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Printable ASCII without escapes: read as exactly its bytes.
bool is_plain(const char* begin, const char* end)
{
    bool plain = true;
    for (const char* p = begin; p != end; ++p) {
        const auto b = static_cast<unsigned char>(*p);
        plain &= b >= 0x20 && b <= 0x7E && b != '\\';
    }
    return plain;
}

// What the pass before the reader finds: the large strings, and how many tree
// nodes the text makes (one per value: string, number, literal, object or
// array; keys are part of their member's node).
struct scan_result {
    large_literals large;
    std::size_t values = 0;
};

// One pass over the text before the reader sees it. The reader descends
// recursively, so nesting that could exhaust the stack is refused here.
scan_result scan(const char* data, std::size_t length)
{
    scan_result found;
    large_literals& large = found.large;
    std::size_t& values = found.values;
    std::size_t strings = 0;
    bool value_may_start = true;  // after '[', ',', ':' and at the start
    int depth = 0;
    const char* const end = data + length;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = data[i];
        if (c == '"') {
            const char* content = data + i + 1;
            const char* close = find_closing_quote(content, end);
            if (!close)
                break;  // unterminated: the reader reports it
            const char* after = close + 1;
            while (after < end && is_blank(*after))
                ++after;
            const bool key = after < end && *after == ':';
            if (!key)
                ++values;
            const auto size = static_cast<std::size_t>(close - content);
            if (size >= large_string)
                large.push_back({strings, content, close, is_plain(content, close), key});
            ++strings;
            value_may_start = false;
            i = static_cast<std::size_t>(close - data);
        } else if (c == '{' || c == '[') {
            if (++depth > max_json_depth)
                throw json_parser_error("nesting too deep", "", 0);
            ++values;
            value_may_start = true;
        } else if (c == '}' || c == ']') {
            --depth;
            value_may_start = false;
        } else if (c == ',' || c == ':') {
            value_may_start = true;
        } else if (!is_blank(c)) {
            // The first character of a number or literal.
            if (value_may_start)
                ++values;
            value_may_start = false;
        }
    }
    return found;
}

// Walks the text for the reader, jumping over the content of plain large
// strings: the reader sees them as "" and the callbacks fill in the value.
class skipping_iterator {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    skipping_iterator() = default;
    skipping_iterator(const char* position, const large_literals* large) : position_(position), large_(large)
    {
        skip_to_plain();
    }

    reference operator*() const { return *position_; }
    skipping_iterator& operator++()
    {
        ++position_;
        if (next_ < large_->size() && position_ == (*large_)[next_].begin) {
            position_ = (*large_)[next_].end;
            ++next_;
            skip_to_plain();
        }
        return *this;
    }
    skipping_iterator operator++(int)
    {
        skipping_iterator old = *this;
        ++*this;
        return old;
    }
    friend bool operator!=(const skipping_iterator& a, const skipping_iterator& b) { return a.position_ != b.position_; }
    friend bool operator==(const skipping_iterator& a, const char* end) { return a.position_ == end; }
    friend bool operator!=(const skipping_iterator& a, const char* end) { return a.position_ != end; }

private:
    void skip_to_plain()
    {
        while (next_ < large_->size() && !(*large_)[next_].plain)
            ++next_;
    }

    const char* position_ = nullptr;
    const large_literals* large_ = nullptr;
    std::size_t next_ = 0;
};

// Boost's tree-building callbacks, taking the large strings noted by scan().
// One of them, the adopted one, is left empty here: it takes over the
// request's own buffer once the reader is done with it.
class large_string_callbacks : public detail::standard_callbacks<json_tree> {
public:
    large_string_callbacks(const large_literals& large, const large_literal* adopted)
        : large_(large), adopted_(adopted)
    {
    }

    void on_begin_string()
    {
        standard_callbacks::on_begin_string();
        if (next_ < large_.size() && large_[next_].index == index_) {
            const large_literal& literal = large_[next_++];
            if (&literal == adopted_)
                adopted_value_ = &current_value();
            else if (literal.plain)
                current_value().assign(literal.begin, literal.end);
            else
                current_value().reserve(static_cast<std::size_t>(literal.end - literal.begin));
        }
        ++index_;
    }

    // Text is added in place, never through a temporary copy, and a value
    // that outgrows its buffer moves to a new one after which the old one is
    // zeroed: a request's values (PINs among them) leave no copies in freed
    // memory.
    template <class Range>
    void on_code_units(const Range& units)
    {
        std::string& value = current_value();
        make_room(value, static_cast<std::size_t>(std::distance(units.begin(), units.end())));
        for (const char c : units)
            value.push_back(c);
    }
    void on_code_unit(char c)
    {
        make_room(current_value(), 1);
        current_value().push_back(c);
    }
    void on_digit(char c) { on_code_unit(c); }

    std::string* adopted_value() const { return adopted_value_; }

private:
    static void make_room(std::string& value, std::size_t extra)
    {
        if (value.capacity() - value.size() >= extra)
            return;
        std::string larger;
        larger.reserve(std::max(2 * value.capacity(), value.size() + extra));
        larger.assign(value.data(), value.size());
        crypto::secure_wipe(value);
        value.swap(larger);
    }

    const large_literals& large_;
    const large_literal* adopted_;
    std::string* adopted_value_ = nullptr;
    std::size_t next_ = 0;
    std::size_t index_ = 0;
};

json_tree parse(const char* data, std::size_t length, std::string* buffer)
{
    // JSON text is UTF-8: anything else is not JSON, and would otherwise be
    // echoed into answers.
    if (!is_well_formed_utf8(data, length))
        throw json_parser_error("invalid UTF-8", "", 0);
    const scan_result found = scan(data, length);
    // Every value becomes a tree node of its own: a text of more values than
    // the tree may hold is refused before the reader builds any of them.
    if (found.values > max_json_values)
        throw json_parser_error("too many values", "", 0);
    const large_literals& large = found.large;
    // With the request's buffer to spare, its largest plain value (the
    // document of a large request) moves into the tree instead of being
    // copied: the request is then held once, not twice.
    const large_literal* adopted = nullptr;
    if (buffer)
        for (const auto& literal : large)
            if (literal.plain && !literal.key && (!adopted || literal.end - literal.begin > adopted->end - adopted->begin))
                adopted = &literal;

    // Boost's JSON reader over the bytes in place (much faster than through a
    // stream), stepping over the plain large strings.
    large_string_callbacks callbacks(large, adopted);
    detail::encoding<char> encoding;
    detail::read_json_internal(skipping_iterator(data, &large), data + length, encoding, callbacks, std::string());

    // The adopted value is filled while it is still in the callbacks' tree:
    // for a document that is one string, that value is the root's own, which
    // moves with the tree below.
    if (std::string* value = callbacks.adopted_value()) {
        const auto offset = static_cast<std::size_t>(adopted->begin - data);
        const auto size = static_cast<std::size_t>(adopted->end - adopted->begin);
        std::memmove(&(*buffer)[0], buffer->data() + offset, size);
        buffer->resize(size);
        value->swap(*buffer);
        buffer->clear();
    }
    json_tree tree;
    tree.swap(callbacks.output());
    return tree;
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
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        const auto c = bytes[i];
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
            } else if (c < 0x80) {
                out.push_back(ch);
            } else {
                // Bytes that do not form UTF-8 (a token's binary identifier, a
                // module's text in another code page) become U+FFFD, one for
                // each maximal part of a sequence: the answer stays valid text.
                std::size_t invalid = 0;
                const std::size_t length = utf8_sequence(bytes + i, text.size() - i, invalid);
                if (length) {
                    out.append(text, i, length);
                    i += length - 1;
                } else {
                    out += replacement_character;
                    i += invalid - 1;
                }
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

std::size_t count_json_values(const char* data, std::size_t length)
{
    return scan(data, length).values;
}

json_tree from_json(const char* data, std::size_t length)
{
    return parse(data, length, nullptr);
}

json_tree from_json(const std::string& text)
{
    return parse(text.data(), text.size(), nullptr);
}

json_tree from_json(std::string&& text)
{
    json_tree tree = parse(text.data(), text.size(), &text);
    // The request text may hold a PIN: zeroed before its buffer is freed.
    crypto::secure_wipe(text);
    std::string().swap(text);
    return tree;
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
