#include "crypto/util/der_check.h"

#include <array>
#include <cstring>
#include <string_view>

#include "crypto/util/der_head.h"

namespace crypto::util::der {
namespace {

constexpr std::uint8_t constructed = 0x20;
constexpr std::uint8_t high_tag_number = 0x1F;
constexpr std::uint8_t class_bits = 0xC0;
constexpr std::uint8_t bit_string_tag = 0x03;
constexpr std::uint8_t sequence_tag = 0x30;
// Certificates nest a dozen levels at most; this bounds the walk whatever a
// page sends.
constexpr std::size_t deepest_nesting = 64;

// What one kind of input holds beyond plain DER.
struct layout {
    // The tag the first element must have; 0 for any.
    std::uint8_t outer_tag = 0;
    // Whether the first element must end where the input does.
    bool whole = false;
    // Implicitly tagged BIT STRINGs: their tags, among the children of the
    // elements that holds_bits names by depth (0 for the first element)
    // and place among their siblings.
    std::string_view implicit_bit_strings;
    bool (*holds_bits)(std::size_t depth, std::size_t index) = nullptr;
    // The elements, by depth and tag, whose children are general names.
    bool (*holds_names)(std::size_t depth, std::uint8_t tag) = nullptr;
};

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

// The content rules of the universal types the decoder reads by their
// length; other tags are not restricted here.
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
    case 0x1C:  // UniversalString: four octets a character
        return length % 4 == 0;
    case 0x1E:  // BMPString: two octets a character
        return length % 2 == 0;
    default:
        return true;
    }
}

// Universal types that are primitive in DER whose content the rules above
// read: their constructed forms are refused.
bool always_primitive(std::uint8_t tag)
{
    switch (tag & ~constructed) {
    case 0x01:
    case 0x02:
    case bit_string_tag:
    case 0x05:
    case 0x06:
    case 0x0A:
    case 0x1C:
    case 0x1E:
        return true;
    default:
        return false;
    }
}

// The encodings a GeneralName has: otherName [0], x400Address [3],
// directoryName [4] and ediPartyName [5] constructed, so that their content
// is read too; rfc822Name [1], dNSName [2], the URI [6] and iPAddress [7]
// primitive. A registeredID [8] is not among them: the decoder steps over it
// by the length of the text it makes of it, not by its own length.
bool general_name_tag(std::uint8_t tag)
{
    switch (tag) {
    case 0xA0:
    case 0x81:
    case 0x82:
    case 0xA3:
    case 0xA4:
    case 0xA5:
    case 0x86:
    case 0x87:
        return true;
    default:
        return false;
    }
}

struct open_element {
    std::size_t end;
    std::size_t children;
    bool implicit_children;
    bool names;
};

check_result check(const std::uint8_t* data, std::size_t size, const layout& rules)
{
    if (!data)
        return check_result::ends_early;
    std::array<open_element, deepest_nesting> open{};
    std::size_t depth = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t limit = depth == 0 ? size : open[depth - 1].end;
        head h;
        if (!read_head(data + at, limit - at, h)) {
            // More than four length bytes is malformed; anything else ran out.
            const bool too_long = limit - at >= 2 && data[at + 1] > 0x84;
            return too_long ? check_result::refused : check_result::ends_early;
        }
        if ((h.tag & high_tag_number) == high_tag_number || h.indefinite)
            return check_result::refused;
        if (depth == 0 && ((rules.outer_tag && h.tag != rules.outer_tag) || (rules.whole && h.size + h.length != size)))
            return check_result::refused;
        const bool universal = (h.tag & class_bits) == 0;
        if (universal && (h.tag & constructed) && always_primitive(h.tag))
            return check_result::refused;
        const std::uint8_t* content = data + at + h.size;
        if (universal && !(h.tag & constructed) && !content_sound(h.tag, content, h.length))
            return check_result::refused;
        if (depth > 0) {
            open_element& parent = open[depth - 1];
            ++parent.children;
            if (parent.names && !general_name_tag(h.tag))
                return check_result::refused;
            const bool implicit = parent.implicit_children &&
                                  rules.implicit_bit_strings.find(static_cast<char>(h.tag)) != std::string_view::npos;
            if (implicit && !content_sound(bit_string_tag, content, h.length))
                return check_result::refused;
        }
        const std::size_t end = at + h.size + h.length;
        if (h.tag & constructed) {
            if (depth == deepest_nesting)
                return check_result::refused;
            const std::size_t index = depth == 0 ? 0 : open[depth - 1].children - 1;
            open[depth] = {end, 0, rules.holds_bits && rules.holds_bits(depth, index),
                           rules.holds_names && rules.holds_names(depth, h.tag)};
            ++depth;
            at += h.size;
        } else {
            at = end;
        }
        while (depth > 0 && at == open[depth - 1].end)
            --depth;
        if (depth == 0)
            return check_result::sound;
    }
}

// The unique identifiers sit in the first element (a bare TBSCertificate)
// or in its first child (the TBSCertificate of a signed certificate).
bool tbs_certificate(std::size_t depth, std::size_t index)
{
    return depth == 0 || (depth == 1 && index == 0);
}

// The reasons of each distribution point.
bool distribution_point(std::size_t depth, std::size_t)
{
    return depth == 1;
}

// GeneralNames: the whole value of an alternative name.
bool alternative_names(std::size_t depth, std::uint8_t)
{
    return depth == 0;
}

// The authority key identifier's issuer, [1].
bool authority_issuer(std::size_t depth, std::uint8_t tag)
{
    return depth == 1 && tag == 0xA1;
}

// A distribution point's full name ([0] inside its name [0]) and its CRL
// issuer ([2]).
bool distribution_point_names(std::size_t depth, std::uint8_t tag)
{
    return (depth == 3 && tag == 0xA0) || (depth == 2 && tag == 0xA2);
}

struct extension_layout {
    const char* oid;
    layout rules;
};

const extension_layout extension_layouts[] = {
    {"2.5.29.15", {bit_string_tag, true, "", nullptr, nullptr}},  // key usage
    {"2.5.29.37", {sequence_tag, true, "", nullptr, nullptr}},    // extended key usage
    {"2.5.29.35", {sequence_tag, true, "", nullptr, authority_issuer}},
    {"2.5.29.31", {sequence_tag, true, "\x81", distribution_point, distribution_point_names}},
    {"2.5.29.16", {sequence_tag, true, "", nullptr, nullptr}},  // private key usage period
    {"2.5.29.32", {sequence_tag, true, "", nullptr, nullptr}},  // certificate policies
    {"2.5.29.17", {sequence_tag, true, "", nullptr, alternative_names}},
    {"2.5.29.18", {sequence_tag, true, "", nullptr, alternative_names}},
    {"1.2.643.100.114", {0x02, true, "", nullptr, nullptr}},  // identification kind, an INTEGER
};

constexpr const char* rsa_oid = "1.2.840.113549.1.1.1";

}  // namespace

check_result check_certificate(const std::uint8_t* data, std::size_t size)
{
    return check(data, size, {0, false, "\x81\x82", tbs_certificate, nullptr});
}

check_result check_extension(const char* oid, const std::uint8_t* data, std::size_t size)
{
    if (!oid)
        return check_result::refused;
    for (const auto& known : extension_layouts)
        if (std::strcmp(oid, known.oid) == 0)
            return check(data, size, known.rules);
    return check_result::refused;
}

check_result check_public_key(const char* algorithm_oid, const std::uint8_t* data, std::size_t size)
{
    const bool rsa = algorithm_oid && std::strcmp(algorithm_oid, rsa_oid) == 0;
    return check(data, size, {rsa ? sequence_tag : std::uint8_t{0}, true, "", nullptr, nullptr});
}

}  // namespace crypto::util::der
