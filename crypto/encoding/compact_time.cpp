// "YYYY-MM-DD hh:mm:ss±hh[:mm]" -> "YYYYMMDDhhmmss±hh:mm", the form of the
// date attributes of a certificate request.
//
// Accepted field ranges (anything else gives null):
//   year 1..9999, month 1..12, day 1..the length of that month (leap years
//   counted), hour 0..23, minute 0..59, second 0..59,
//   offset hours 0..23, offset minutes 0..59.
// Each field is a decimal number as strtoul reads it (leading blanks and a "+"
// allowed, anything after the digits ignored) but must hold at least one digit.
// With every field in range the result is always 20 characters, never signed.
#include <cctype>
#include <initializer_list>
#include <string>

#include "crypto/encoding/text.h"

namespace crypto {
namespace {

// Reads one field; false when it holds no digit or exceeds the maximum.
bool read_field(const std::string& text, unsigned long minimum, unsigned long maximum, unsigned long& value) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && text[i] == '+') ++i;
    if (i == text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + static_cast<unsigned long>(text[i] - '0');
        if (value > maximum) return false;
    }
    return value >= minimum;
}

// Splits at the first two occurrences of separator; false without two.
bool split3(const std::string& text, char separator, std::string parts[3]) {
    const std::size_t first = text.find(separator);
    if (first == std::string::npos) return false;
    const std::size_t second = text.find(separator, first + 1);
    if (second == std::string::npos) return false;
    parts[0] = text.substr(0, first);
    parts[1] = text.substr(first + 1, second - first - 1);
    parts[2] = text.substr(second + 1);
    return true;
}

unsigned long days_in_month(unsigned long year, unsigned long month) {
    static const unsigned char days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// Writes value zero-filled to exactly width digits (the value fits them).
void put_digits(char*& out, unsigned long value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
    out += width;
}

bool is_blank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

char* to_compact_time(const char* text) {
    if (!text) return nullptr;

    // Characters up to 0x20 are dropped at both ends.
    std::string s(text);
    std::size_t begin = 0, end = s.size();
    while (begin < end && is_blank(s[begin])) ++begin;
    while (end > begin && is_blank(s[end - 1])) --end;
    s = s.substr(begin, end - begin);

    const std::size_t blank = s.find(' ');
    if (blank == std::string::npos) return nullptr;
    const std::string date = s.substr(0, blank);
    const std::string time = s.substr(blank + 1);

    std::string d[3];
    unsigned long year, month, day;
    if (!split3(date, '-', d) || !read_field(d[0], 1, 9999, year) || !read_field(d[1], 1, 12, month) ||
        !read_field(d[2], 1, 31, day) || day > days_in_month(year, month))
        return nullptr;

    // The offset sign is the first "+", else the first "-".
    std::size_t sign = time.find('+');
    if (sign == std::string::npos) sign = time.find('-');
    if (sign == std::string::npos) return nullptr;

    std::string t[3];
    unsigned long hour, minute, second;
    if (!split3(time.substr(0, sign), ':', t) || !read_field(t[0], 0, 23, hour) || !read_field(t[1], 0, 59, minute) ||
        !read_field(t[2], 0, 59, second))
        return nullptr;

    const std::string offset = time.substr(sign + 1);
    const std::size_t colon = offset.find(':');
    unsigned long offset_hours, offset_minutes = 0;
    if (!read_field(offset.substr(0, colon), 0, 23, offset_hours)) return nullptr;
    if (colon != std::string::npos && !read_field(offset.substr(colon + 1), 0, 59, offset_minutes)) return nullptr;

    // "%04d%02d%02d%02d%02d%02d%c%02d:%02d"; every field fits its width.
    char* const result = new char[sizeof "YYYYMMDDhhmmss+hh:mm"];
    char* out = result;
    put_digits(out, year, 4);
    for (unsigned long field : {month, day, hour, minute, second}) put_digits(out, field, 2);
    *out++ = time[sign];
    put_digits(out, offset_hours, 2);
    *out++ = ':';
    put_digits(out, offset_minutes, 2);
    *out = '\0';
    return result;
}

}  // namespace crypto
