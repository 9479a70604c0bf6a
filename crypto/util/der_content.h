#pragma once
// The content rules of the universal types that the certificate check reads:
// X.690's rules for identifiers, booleans, integers and the fixed-width
// strings, DER's one form of each time type, and the character string types
// of names with what counts as a NUL character in each.
#include <cstddef>
#include <cstdint>

namespace crypto::util::der {

constexpr std::uint8_t constructed = 0x20;  // the bit of a tag's constructed form
constexpr std::uint8_t bit_string_tag = 0x03;
constexpr std::uint8_t utc_time_tag = 0x17;
constexpr std::uint8_t generalized_time_tag = 0x18;

// An OBJECT IDENTIFIER of at least one octet, no subidentifier starting with
// 0x80 and a last octet below 0x80; a BOOLEAN of one octet, a NULL of none,
// an INTEGER or ENUMERATED of at least one; a BIT STRING holding its
// unused-bits octet (0 to 7); a BMPString of an even length, a
// UniversalString of a multiple of four. Other tags are not restricted here
// (the times have time_sound).
bool content_sound(std::uint8_t tag, const std::uint8_t* content, std::uint32_t length);

// The universal types that DER writes primitive and whose content the rules
// read; their constructed forms are refused.
bool always_primitive(std::uint8_t tag);

// DER's form of a time (tag utc_time_tag or generalized_time_tag): a UTCTime
// is exactly YYMMDDHHMMSSZ; a GeneralizedTime is YYYYMMDDHHMMSS, then
// optionally "." and a fraction of at least one digit whose last digit is
// not 0, then Z. Every field is digits, within the calendar's ranges (the
// days of the month in the Gregorian calendar, hours 00-23, minutes and
// seconds 00-59); a UTCTime's year YY is 19YY from 50 on, 20YY below.
bool time_sound(std::uint8_t tag, const std::uint8_t* content, std::uint32_t length);

// The primitive tags of the character string types a name value may have:
// UTF8String, NumericString, PrintableString, TeletexString, VideotexString,
// IA5String, GraphicString, VisibleString, GeneralString, UniversalString
// and BMPString.
bool is_string_type(std::uint8_t tag);

// Whether a string of that type holds the character U+0000: a zero octet, a
// zero pair of a BMPString, a zero group of four of a UniversalString. False
// for a tag that is no string type.
bool holds_nul(std::uint8_t tag, const std::uint8_t* content, std::uint32_t length);

}  // namespace crypto::util::der
