#include "crypto/util/der_content.h"

#include <algorithm>

namespace crypto::util::der {
namespace {

constexpr std::uint8_t universal_string_tag = 0x1C;
constexpr std::uint8_t bmp_string_tag = 0x1E;

// X.690's rules for the content of an OBJECT IDENTIFIER: at least one
// octet, each subidentifier in its fewest octets (none starting with 0x80),
// the last one complete.
bool oid_sound(const std::uint8_t* content, std::uint32_t length)
{
    if (length == 0 || content[length - 1] & 0x80)
        return false;
    bool starts = true;
    for (std::uint32_t i = 0; i < length; ++i) {
        if (starts && content[i] == 0x80)
            return false;
        starts = !(content[i] & 0x80);
    }
    return true;
}

bool two_digits(const std::uint8_t* at, unsigned& value)
{
    if (at[0] < '0' || at[0] > '9' || at[1] < '0' || at[1] > '9')
        return false;
    value = static_cast<unsigned>(at[0] - '0') * 10 + static_cast<unsigned>(at[1] - '0');
    return true;
}

unsigned days_in_month(unsigned year, unsigned month)
{
    static const unsigned days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

bool content_sound(std::uint8_t tag, const std::uint8_t* content, std::uint32_t length)
{
    switch (tag) {
    case 0x01:  // BOOLEAN
        return length == 1;
    case 0x02:  // INTEGER
    case 0x0A:  // ENUMERATED, encoded as an INTEGER
        return length >= 1;
    case bit_string_tag:
        return length >= 1 && content[0] <= 7;
    case 0x05:  // NULL
        return length == 0;
    case 0x06:
        return oid_sound(content, length);
    case universal_string_tag:  // four octets a character
        return length % 4 == 0;
    case bmp_string_tag:  // two octets a character
        return length % 2 == 0;
    default:
        return true;
    }
}

bool always_primitive(std::uint8_t tag)
{
    switch (tag & ~constructed) {
    case 0x01:
    case 0x02:
    case bit_string_tag:
    case 0x05:
    case 0x06:
    case 0x0A:
    case utc_time_tag:
    case generalized_time_tag:
    case universal_string_tag:
    case bmp_string_tag:
        return true;
    default:
        return false;
    }
}

bool time_sound(std::uint8_t tag, const std::uint8_t* content, std::uint32_t length)
{
    unsigned year = 0;
    std::uint32_t at = 0;
    if (tag == utc_time_tag) {
        unsigned short_year = 0;
        if (length != 13 || !two_digits(content, short_year))
            return false;
        year = short_year < 50 ? 2000 + short_year : 1900 + short_year;
        at = 2;
    } else if (tag == generalized_time_tag) {
        unsigned century = 0, short_year = 0;
        if (length < 15 || !two_digits(content, century) || !two_digits(content + 2, short_year))
            return false;
        year = century * 100 + short_year;
        at = 4;
    } else {
        return false;
    }
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!two_digits(content + at, month) || !two_digits(content + at + 2, day) ||
        !two_digits(content + at + 4, hour) || !two_digits(content + at + 6, minute) ||
        !two_digits(content + at + 8, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) || hour > 23 || minute > 59 ||
        second > 59)
        return false;
    at += 10;
    if (tag == generalized_time_tag && content[at] == '.') {
        const std::uint32_t first_digit = ++at;
        while (at < length && content[at] >= '0' && content[at] <= '9')
            ++at;
        if (at == first_digit || content[at - 1] == '0')
            return false;
    }
    return at + 1 == length && content[at] == 'Z';
}

bool is_string_type(std::uint8_t tag)
{
    switch (tag) {
    case 0x0C:  // UTF8String
    case 0x12:  // NumericString
    case 0x13:  // PrintableString
    case 0x14:  // TeletexString
    case 0x15:  // VideotexString
    case 0x16:  // IA5String
    case 0x19:  // GraphicString
    case 0x1A:  // VisibleString
    case 0x1B:  // GeneralString
    case universal_string_tag:
    case bmp_string_tag:
        return true;
    default:
        return false;
    }
}

bool holds_nul(std::uint8_t tag, const std::uint8_t* content, std::uint32_t length)
{
    if (!is_string_type(tag))
        return false;
    const std::uint32_t width = tag == bmp_string_tag ? 2 : tag == universal_string_tag ? 4 : 1;
    for (std::uint32_t at = 0; at + width <= length; at += width)
        if (std::all_of(content + at, content + at + width, [](std::uint8_t octet) { return octet == 0; }))
            return true;
    return false;
}

}  // namespace crypto::util::der
