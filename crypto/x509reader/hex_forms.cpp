#include <string>

#include "crypto/x509reader/text_forms.h"
#include "crypto/x509reader/tlv.h"

namespace crypto::x509reader {
namespace {

void put_byte(std::string& text, std::uint8_t byte, bool upper)
{
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    text += digits[byte >> 4];
    text += digits[byte & 0x0F];
}

// The tag and length head of the parameter and key forms: the length as two
// digits, or for a length of 256 or more as all its bytes, most significant
// first ("30 010e").
void put_head(std::string& text, const tlv_record& record, bool upper, bool blank)
{
    put_byte(text, record.tag, upper);
    if (blank)
        text += ' ';
    bool started = false;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<std::uint8_t>(record.length >> shift);
        if (started || byte != 0 || shift == 0) {
            put_byte(text, byte, upper);
            started = true;
        }
    }
}

}  // namespace

std::string serial_number_text(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    for (std::size_t i = size; i-- > 0;) {
        put_byte(text, data[i], true);
        if (i != 0)
            text += ' ';
    }
    return text;
}

std::string tlv_lower_text(const std::uint8_t* data, std::size_t size)
{
    tlv_record record;
    if (!read_tlv(data, size, record))
        return {};
    std::string text;
    put_head(text, record, false, true);
    for (const std::uint8_t byte : record.content) {
        text += ' ';
        put_byte(text, byte, false);
    }
    return text;
}

std::string key_value_text(const std::uint8_t* data, std::size_t size)
{
    tlv_record record;
    if (!read_tlv(data, size, record))
        return {};
    std::string text;
    put_head(text, record, true, false);
    const byte_vector& content = record.content;
    for (std::size_t i = 0; i < content.size(); i += 2) {
        text += ' ';
        put_byte(text, content[i], true);
        if (i + 1 < content.size())
            put_byte(text, content[i + 1], true);
    }
    return text;
}

std::string byte_list_text(const std::uint8_t* data, std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        if (i != 0)
            text += ' ';
        put_byte(text, data[i], false);
    }
    return text;
}

std::string authority_serial_text(const std::uint8_t* data, std::size_t size)
{
    // Pairs from the most significant end; an odd least significant byte is
    // a group of two digits.
    std::string text;
    std::size_t i = size;
    while (i > 0) {
        if (!text.empty())
            text += ' ';
        put_byte(text, data[i - 1], true);
        if (i >= 2) {
            put_byte(text, data[i - 2], true);
            i -= 2;
        } else {
            i -= 1;
        }
    }
    return text;
}

std::string signature_value_text(const byte_vector& bytes)
{
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        put_byte(text, bytes[i], true);
        if (i + 1 < bytes.size())
            put_byte(text, bytes[i + 1], true);
        text += ' ';
    }
    return text;
}

}  // namespace crypto::x509reader
