#include "crypto/util/der_check.h"

#include <array>
#include <cstring>
#include <string_view>

#include "crypto/util/der.h"
#include "crypto/util/der_content.h"
#include "crypto/util/der_head.h"

namespace crypto::util::der {
namespace {

constexpr std::uint8_t high_tag_number = 0x1F;
constexpr std::uint8_t class_bits = 0xC0;
constexpr std::uint8_t sequence_tag = 0x30;
// Certificates nest a dozen levels at most; this bounds the walk whatever a
// page sends.
constexpr std::size_t deepest_nesting = 64;

// Why a walk stopped.
enum class fault {
    none,
    ends_early,
    refused,
    // A time not in DER's form, or a NUL character in a name: the decoder
    // reads it, and would show or use what the bytes do not hold.
    misleading,
};

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
    // Implicitly tagged GeneralizedTimes: their tags, among the children of
    // the first element.
    std::string_view implicit_times;
    // A certificate: the issuer and subject of its TBSCertificate are names,
    // and the values of its extensions that the system decodes are read for
    // misleading content too (their other faults are left to the check of
    // each value before it is decoded).
    bool certificate = false;
};

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

// The general names that are IA5Strings: rfc822Name [1], dNSName [2], URI [6].
bool string_general_name(std::uint8_t tag)
{
    return tag == 0x81 || tag == 0x82 || tag == 0x86;
}

constexpr std::uint8_t directory_name_tag = 0xA4;
constexpr std::uint8_t version_tag = 0xA0;
constexpr std::uint8_t extensions_tag = 0xA3;
constexpr std::uint8_t oid_tag = 0x06;
constexpr std::uint8_t octet_string_tag = 0x04;

// Levels inside a Name: the Name, an RDN (SET), an attribute (SEQUENCE of
// type and value).
constexpr int name_level = 0;
constexpr int attribute_level = 2;
// Levels inside a TBSCertificate's extensions: [3], the SEQUENCE of
// extensions, one extension.
constexpr int extension_level = 2;

struct open_element {
    std::size_t end = 0;
    std::size_t children = 0;
    std::uint8_t first_tag = 0;  // the tag of its first child
    bool implicit_children = false;
    bool names = false;          // its children are general names
    bool times = false;          // implicit GeneralizedTimes among its children
    bool outermost = false;      // the first element of a certificate
    bool tbs = false;            // a TBSCertificate
    bool directory_name = false; // a directory name: its child is a Name
    int name_depth = -1;         // its level inside a Name; -1 outside one
    int extension_depth = -1;    // its level inside the extensions; -1 outside
    const std::uint8_t* oid = nullptr;  // an extension's OID content
    std::uint32_t oid_length = 0;
};

fault check(const std::uint8_t* data, std::size_t size, const layout& rules);
fault check_extension_value(const std::uint8_t* oid, std::uint32_t oid_length, const std::uint8_t* data,
                            std::size_t size);

// What a primitive element holds, by its place: a time, a name's string
// value, a string general name, an implicit BIT STRING or time, an
// extension's value.
fault check_primitive(const head& h, const std::uint8_t* content, open_element* parent, const layout& rules)
{
    const bool universal = (h.tag & class_bits) == 0;
    if (universal && (h.tag == utc_time_tag || h.tag == generalized_time_tag) &&
        !time_sound(h.tag, content, h.length))
        return fault::misleading;
    if (universal && !content_sound(h.tag, content, h.length))
        return fault::refused;
    if (!parent)
        return fault::none;
    if (parent->names && string_general_name(h.tag) && std::memchr(content, 0, h.length))
        return fault::misleading;
    if (parent->name_depth == attribute_level && parent->children == 2 && holds_nul(h.tag, content, h.length))
        return fault::misleading;
    if (parent->implicit_children && rules.implicit_bit_strings.find(static_cast<char>(h.tag)) != std::string_view::npos &&
        !content_sound(bit_string_tag, content, h.length))
        return fault::refused;
    if (parent->times && rules.implicit_times.find(static_cast<char>(h.tag)) != std::string_view::npos &&
        !time_sound(generalized_time_tag, content, h.length))
        return fault::misleading;
    if (parent->extension_depth == extension_level) {
        if (h.tag == oid_tag && parent->children == 1) {
            parent->oid = content;
            parent->oid_length = h.length;
        } else if (h.tag == octet_string_tag && parent->oid &&
                   check_extension_value(parent->oid, parent->oid_length, content, h.length) == fault::misleading) {
            return fault::misleading;
        }
    }
    return fault::none;
}

// The element a constructed child opens, by its place in its parent.
open_element open_child(const head& h, std::size_t end, std::size_t depth, const open_element* parent,
                        const layout& rules)
{
    open_element child;
    child.end = end;
    const std::size_t index = parent ? parent->children - 1 : 0;
    child.implicit_children = rules.holds_bits && rules.holds_bits(depth, index);
    child.names = rules.holds_names && rules.holds_names(depth, h.tag);
    child.times = depth == 0 && !rules.implicit_times.empty();
    if (!parent) {
        child.outermost = rules.certificate;
        return child;
    }
    // A signed certificate's first child is its TBSCertificate; bytes whose
    // first element starts otherwise are read as a bare one.
    child.tbs = parent->outermost && !parent->tbs && index == 0;
    child.directory_name = parent->names && h.tag == directory_name_tag;
    if (parent->tbs) {
        const std::size_t first = parent->first_tag == version_tag ? 1 : 0;
        if (index == first + 2 || index == first + 4)  // issuer, subject
            child.name_depth = name_level;
        if (h.tag == extensions_tag)
            child.extension_depth = 0;
    }
    if (parent->directory_name && index == 0)
        child.name_depth = name_level;
    else if (parent->name_depth >= 0 && parent->name_depth < attribute_level)
        child.name_depth = parent->name_depth + 1;
    if (parent->extension_depth >= 0 && parent->extension_depth < extension_level)
        child.extension_depth = parent->extension_depth + 1;
    return child;
}

fault check(const std::uint8_t* data, std::size_t size, const layout& rules)
{
    if (!data)
        return fault::ends_early;
    std::array<open_element, deepest_nesting> open{};
    std::size_t depth = 0;
    std::size_t at = 0;
    for (;;) {
        const std::size_t limit = depth == 0 ? size : open[depth - 1].end;
        head h;
        if (!read_head(data + at, limit - at, h)) {
            // More than four length bytes is malformed; anything else ran out.
            const bool too_long = limit - at >= 2 && data[at + 1] > 0x84;
            return too_long ? fault::refused : fault::ends_early;
        }
        if ((h.tag & high_tag_number) == high_tag_number || h.indefinite)
            return fault::refused;
        if (depth == 0 && ((rules.outer_tag && h.tag != rules.outer_tag) || (rules.whole && h.size + h.length != size)))
            return fault::refused;
        const bool universal = (h.tag & class_bits) == 0;
        if (universal && (h.tag & constructed) && always_primitive(h.tag))
            return fault::refused;
        const std::uint8_t* content = data + at + h.size;
        open_element* parent = depth > 0 ? &open[depth - 1] : nullptr;
        if (parent) {
            if (++parent->children == 1) {
                parent->first_tag = h.tag;
                // A bare TBSCertificate does not start with a SEQUENCE.
                parent->tbs = parent->tbs || (parent->outermost && h.tag != sequence_tag);
            }
            if (parent->names && !general_name_tag(h.tag))
                return fault::refused;
        }
        const std::size_t end = at + h.size + h.length;
        if (h.tag & constructed) {
            if (depth == deepest_nesting)
                return fault::refused;
            open[depth] = open_child(h, end, depth, parent, rules);
            ++depth;
            at += h.size;
        } else {
            const fault found = check_primitive(h, content, parent, rules);
            if (found != fault::none)
                return found;
            at = end;
        }
        while (depth > 0 && at == open[depth - 1].end)
            --depth;
        if (depth == 0)
            return fault::none;
    }
}

check_result result_of(fault found)
{
    switch (found) {
    case fault::none:
        return check_result::sound;
    case fault::ends_early:
        return check_result::ends_early;
    default:
        return check_result::refused;
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
    {"2.5.29.15", {bit_string_tag, true, "", nullptr, nullptr, "", false}},  // key usage
    {"2.5.29.37", {sequence_tag, true, "", nullptr, nullptr, "", false}},    // extended key usage
    {"2.5.29.35", {sequence_tag, true, "", nullptr, authority_issuer, "", false}},
    {"2.5.29.31", {sequence_tag, true, "\x81", distribution_point, distribution_point_names, "", false}},
    // The private key usage period: notBefore [0] and notAfter [1], each an
    // implicitly tagged GeneralizedTime.
    {"2.5.29.16", {sequence_tag, true, "", nullptr, nullptr, "\x80\x81", false}},
    {"2.5.29.32", {sequence_tag, true, "", nullptr, nullptr, "", false}},  // certificate policies
    {"2.5.29.17", {sequence_tag, true, "", nullptr, alternative_names, "", false}},
    {"2.5.29.18", {sequence_tag, true, "", nullptr, alternative_names, "", false}},
    {"1.2.643.100.114", {0x02, true, "", nullptr, nullptr, "", false}},  // identification kind, an INTEGER
};

constexpr const char* rsa_oid = "1.2.840.113549.1.1.1";

const extension_layout* find_layout(const char* oid)
{
    if (!oid)
        return nullptr;
    for (const auto& known : extension_layouts)
        if (std::strcmp(oid, known.oid) == 0)
            return &known;
    return nullptr;
}

fault check_extension_value(const std::uint8_t* oid, std::uint32_t oid_length, const std::uint8_t* data,
                            std::size_t size)
{
    for (const auto& known : extension_layouts) {
        byte_vector encoded;
        head element;
        if (object_id(known.oid, encoded) && read_head(encoded.data(), encoded.size(), element) &&
            element.length == oid_length && std::memcmp(encoded.data() + element.size, oid, oid_length) == 0)
            return check(data, size, known.rules);
    }
    return fault::none;
}

}  // namespace

check_result check_certificate(const std::uint8_t* data, std::size_t size)
{
    return result_of(check(data, size, {0, false, "\x81\x82", tbs_certificate, nullptr, "", true}));
}

check_result check_extension(const char* oid, const std::uint8_t* data, std::size_t size)
{
    const extension_layout* known = find_layout(oid);
    return known ? result_of(check(data, size, known->rules)) : check_result::refused;
}

check_result check_public_key(const char* algorithm_oid, const std::uint8_t* data, std::size_t size)
{
    const bool rsa = algorithm_oid && std::strcmp(algorithm_oid, rsa_oid) == 0;
    return result_of(check(data, size, {rsa ? sequence_tag : std::uint8_t{0}, true, "", nullptr, nullptr, "", false}));
}

}  // namespace crypto::util::der
