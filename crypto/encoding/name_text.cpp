#include "crypto/encoding/name_text.h"

#include <memory>
#include <unordered_set>

namespace crypto {
namespace {

using wide_string = std::basic_string<wide_char>;

constexpr wide_char quote = u'"';

bool is_blank(wide_char c)
{
    return static_cast<unsigned>(c) <= 32;
}

wide_string trim(const wide_char* begin, const wide_char* end)
{
    while (begin < end && is_blank(*begin))
        ++begin;
    while (end > begin && is_blank(end[-1]))
        --end;
    return wide_string(begin, end);
}

// Drops each quotation mark; two in a row give one.
wide_string unquote(const wide_string& text)
{
    wide_string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != quote) {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == quote) {
            out += quote;
            ++i;
        }
    }
    return out;
}

std::string to_utf8(const wide_string& text)
{
    const std::unique_ptr<char[]> utf8(wide_to_utf8(text.c_str(), 0));
    return utf8 ? std::string(utf8.get()) : std::string();
}

// One attribute text: key before the first "=", value after it.
void visit_attribute(const wide_char* begin, const wide_char* end,
                     const std::function<void(const name_text_attribute&)>& visit)
{
    const wide_char* equals = begin;
    while (equals != end && *equals != u'=')
        ++equals;
    if (equals != end)
        visit({begin, equals, equals + 1, end});
}

}  // namespace

void for_each_name_attribute(const wide_char* text, const std::function<void(const name_text_attribute&)>& visit)
{
    static const wide_char delimiter[] = {u',', 0};
    wide_tokenizer tokens(text, delimiter, 1, quote);
    while (const wide_char* token = tokens.next()) {
        // Quotes are read as the tokenizer reads them: a doubled one is an
        // escaped quotation mark, a single one opens or closes.
        const wide_char* start = token;
        bool inside = false;
        const wide_char* p = token;
        for (; *p; ++p) {
            if (*p == quote) {
                if (p[1] == quote)
                    ++p;
                else
                    inside = !inside;
            } else if (!inside && p[0] == u' ' && p[1] == u'+' && p[2] == u' ') {
                visit_attribute(start, p, visit);
                p += 2;
                start = p + 1;
            }
        }
        visit_attribute(start, p, visit);
    }
}

std::vector<std::pair<std::string, std::string>> split_name_text(const wide_char* text)
{
    std::vector<std::pair<std::string, std::string>> entries;
    // The first value of a key stays: keys seen so far, found in constant time.
    std::unordered_set<std::string> keys;
    for_each_name_attribute(text, [&](const name_text_attribute& attribute) {
        std::string key = to_utf8(trim(attribute.key_begin, attribute.key_end));
        if (keys.count(key))
            return;
        std::string value = to_utf8(unquote(trim(attribute.value_begin, attribute.value_end)));
        keys.insert(key);
        entries.emplace_back(std::move(key), std::move(value));
    });
    return entries;
}

}  // namespace crypto
