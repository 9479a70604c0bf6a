#include "crypto/encoding/name_text.h"

#include <algorithm>
#include <memory>

namespace crypto {
namespace {

using wide_string = std::basic_string<wide_char>;

bool is_blank(wide_char c)
{
    return static_cast<unsigned>(c) <= 32;
}

wide_string trim(const wide_string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_blank(text[begin]))
        ++begin;
    while (end > begin && is_blank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// Drops each quotation mark; two in a row give one.
wide_string unquote(const wide_string& text)
{
    wide_string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'"') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == u'"') {
            out += u'"';
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

}  // namespace

std::vector<std::pair<std::string, std::string>> split_name_text(const wide_char* text)
{
    std::vector<std::pair<std::string, std::string>> entries;
    static const wide_char delimiter[] = {u',', 0};
    wide_tokenizer tokens(text, delimiter, 1, u'"');
    while (const wide_char* token = tokens.next()) {
        const wide_string part(token);
        const std::size_t equals = part.find(u'=');
        if (equals == wide_string::npos)
            continue;
        std::string key = to_utf8(trim(part.substr(0, equals)));
        std::string value = to_utf8(unquote(trim(part.substr(equals + 1))));
        const bool present = std::any_of(entries.begin(), entries.end(),
                                         [&key](const auto& entry) { return entry.first == key; });
        if (!present)
            entries.emplace_back(std::move(key), std::move(value));
    }
    return entries;
}

}  // namespace crypto
