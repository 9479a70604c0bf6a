#include <memory>
#include <string>

#include "crypto/x509reader/display_names.h"
#include "crypto/x509reader/text_forms.h"
#include "crypto/x509reader/tlv.h"

namespace crypto::x509reader {
namespace {

std::string to_utf8(const wide_char* begin, const wide_char* end)
{
    if (begin == end)
        return {};
    const std::unique_ptr<char[]> text(wide_to_utf8(begin, static_cast<std::size_t>(end - begin)));
    return text ? std::string(text.get()) : std::string();
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A value written as a quote, "#" and hexadecimal digits: the TLV those digits
// encode. Content with a byte below 0x10 is a BMPString (UTF-16 big-endian),
// other content is taken as text. An unreadable TLV gives the empty text.
bool decode_hex_value(const std::string& raw, std::string& value)
{
    if (raw.size() < 2 || raw[0] != '"' || raw[1] != '#')
        return false;
    if (raw.size() == 2 || hex_digit(raw[2]) < 0)
        return false;  // no digit follows: the raw value stands
    byte_vector bytes;
    std::size_t i = 2;
    for (; i + 1 < raw.size(); i += 2) {
        const int high = hex_digit(raw[i]);
        const int low = hex_digit(raw[i + 1]);
        if (high < 0 || low < 0)
            break;
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    value.clear();
    tlv_record record;
    if (!read_tlv(bytes, record))
        return true;
    bool utf16 = false;
    for (const std::uint8_t byte : record.content)
        utf16 |= byte < 0x10;
    if (utf16) {
        const std::unique_ptr<char[]> text(utf16be_to_utf8(record.content.data(), record.content.size() / 2));
        if (text)
            value = text.get();
    } else {
        value.assign(record.content.begin(), record.content.end());
    }
    return true;
}

// Drops each single quote character; two in a row give one.
std::string unquote(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '"')
            out += text[i];
        else if (i + 1 < text.size() && text[i + 1] == '"')
            out += text[++i];
    }
    return out;
}

}  // namespace

rdn_list parse_rdn_text(const wide_char* text)
{
    rdn_list list;
    if (!text)
        return list;
    static const wide_char delimiter[] = {u',', 0};
    wide_tokenizer tokens(text, delimiter, 1, u'"');
    while (const wide_char* token = tokens.next()) {
        const wide_char* end = token;
        while (*end)
            ++end;
        const wide_char* equals = token;
        while (equals != end && *equals != u'=')
            ++equals;
        if (equals == end)
            continue;
        const wide_char* key_begin = token;
        const wide_char* key_end = equals;
        while (key_begin != key_end && *key_begin <= 0x20)
            ++key_begin;
        while (key_end != key_begin && key_end[-1] <= 0x20)
            --key_end;
        const wide_char* value_begin = equals + 1;
        while (value_begin != end && *value_begin < u'!')
            ++value_begin;
        rdn_entry entry;
        entry.oid = to_utf8(key_begin, key_end);
        const std::string raw = to_utf8(value_begin, end);
        std::string value;
        entry.value = unquote(decode_hex_value(raw, value) ? value : raw);
        list.push_back(std::move(entry));
    }
    return list;
}

std::string rdn_list_to_text(const rdn_list& list)
{
    std::string text;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i != 0)
            text += ' ';
        text += display_name(oid_display_names, list[i].oid);
        text += '=';
        text += list[i].value;
    }
    return text;
}

}  // namespace crypto::x509reader
