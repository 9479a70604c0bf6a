// The subject text of a request: "key=value,key=value", values optionally
// between double quotes.
#include <cstring>

#include "crypto/util/request_encoders.h"

namespace crypto {
namespace util {
namespace {

bool is_blank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Blanks (bytes up to 0x20) dropped at the end, then at the start.
std::string trim(const std::string& text)
{
    std::size_t end = text.size();
    while (end > 0 && is_blank(text[end - 1])) --end;
    std::size_t begin = 0;
    while (begin < end && is_blank(text[begin])) ++begin;
    return text.substr(begin, end - begin);
}

// A single double quote is dropped, a doubled one stands for one.
std::string unquote(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '"') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '"') {
            out += '"';
            ++i;
        }
    }
    return out;
}

}  // namespace

rdnValue::~rdnValue()
{
    delete[] key;
    delete[] value;
}

text_tokenizer::text_tokenizer(const char* text) : text_(text ? text : ""), valid_(text != nullptr) {}

const char* text_tokenizer::next()
{
    if (!valid_) return nullptr;
    if (!started_) {
        started_ = true;
        position_ = 0;
        if (text_.empty()) return text_.c_str();  // an empty text is one empty token
    } else if (position_ >= text_.size() || text_[position_] == '\0') {
        return nullptr;
    }
    char* data = &text_[0];
    const std::size_t token = position_;
    std::size_t p = token;
    for (; data[p]; ++p) {
        if (data[p] == '"') {
            if (data[p + 1] == '"')
                ++p;  // a doubled quote is an escaped quote character
            else
                inside_quotes_ = !inside_quotes_;
            continue;
        }
        if (!inside_quotes_ && data[p] == ',') {
            data[p] = '\0';
            position_ = p + 1;
            return data + token;
        }
    }
    position_ = p;  // the rest of the text is the last token
    return data + token;
}

rdn_list parse_subject_text(const char* text)
{
    rdn_list list;
    if (!text) return list;
    text_tokenizer tokens(text);
    for (const char* token = tokens.next(); token; token = tokens.next()) {
        const char* equals = std::strchr(token, '=');
        if (!equals) continue;
        const std::string key = trim(std::string(token, equals));
        const std::string value = unquote(trim(std::string(equals + 1)));

        auto entry = std::make_shared<rdnValue>();
        entry->key = duplicate_string(key.c_str());
        wide_char* wide = utf8_to_wide(value.c_str());
        std::size_t units = 0;
        if (wide)
            while (wide[units]) ++units;
        entry->value = wide;
        entry->value_length = static_cast<std::uint32_t>(units * 2);
        list.push_back(std::move(entry));
    }
    return list;
}

}  // namespace util
}  // namespace crypto
