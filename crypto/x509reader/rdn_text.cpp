#include <memory>
#include <string>

#include "crypto/encoding/name_text.h"
#include "crypto/util/der_content.h"
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

bool read_value_tags(const std::uint8_t* name, std::size_t size, std::vector<std::uint8_t>& tags)
{
    tlv_record outer;
    if (!name || !read_tlv(name, size, outer) || outer.tag != 0x30 || outer.size != size)
        return false;
    tlv_sequence rdns(outer.content);
    tlv_record rdn, attribute, type, value;
    while (rdns.next(rdn)) {
        if (rdn.tag != 0x31)
            return false;
        tlv_sequence attributes(rdn.content);
        while (attributes.next(attribute)) {
            tlv_sequence parts(attribute.content);
            if (attribute.tag != 0x30 || !parts.next(type) || type.tag != 0x06 || !parts.next(value) ||
                !parts.at_end())
                return false;
            tags.push_back(value.tag);
        }
        if (!attributes.at_end())
            return false;
    }
    return rdns.at_end();
}

}  // namespace

bool name_value_tags(const std::uint8_t* name, std::size_t size, std::vector<std::uint8_t>& tags)
{
    tags.clear();
    const bool read = read_value_tags(name, size, tags);
    if (!read)
        tags.clear();
    return read;
}

rdn_list parse_rdn_text(const wide_char* text, const std::vector<std::uint8_t>& value_tags)
{
    rdn_list list;
    if (!text)
        return list;
    std::size_t index = 0;
    for_each_name_attribute(text, [&](const name_text_attribute& attribute) {
        const std::size_t position = index++;
        if (position >= value_tags.size())
            return;
        const wide_char* key_begin = attribute.key_begin;
        const wide_char* key_end = attribute.key_end;
        while (key_begin != key_end && *key_begin <= 0x20)
            ++key_begin;
        while (key_end != key_begin && key_end[-1] <= 0x20)
            --key_end;
        const wide_char* value_begin = attribute.value_begin;
        while (value_begin != attribute.value_end && *value_begin < u'!')
            ++value_begin;
        rdn_entry entry;
        entry.oid = to_utf8(key_begin, key_end);
        const std::string raw = to_utf8(value_begin, attribute.value_end);
        // A value held as a string is that string, whatever it starts with;
        // only a value of another type is written as "#" and hexadecimal.
        std::string value;
        const bool hexadecimal =
            !util::der::is_string_type(value_tags[position]) && decode_hex_value(raw, value);
        entry.value = unquote(hexadecimal ? value : raw);
        list.push_back(std::move(entry));
    });
    // Attributes the text and the encoded name do not agree on are not shown.
    if (index != value_tags.size())
        list.clear();
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
