#include "crypto/x509reader/bit_strings.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "crypto/x509reader/tlv.h"

namespace crypto::x509reader {
namespace {

constexpr std::uint8_t bit_string_tag = 0x03;
constexpr std::uint8_t constructed = 0x20;
// Certificates nest a dozen levels at most; this bounds the walk's memory
// whatever a page sends.
constexpr std::size_t deepest_nesting = 64;

// An element whose content is being walked: where its content ends (for the
// indefinite form, where its parent's does; its end-of-contents octets end it).
struct open_element {
    std::size_t end;
    bool indefinite;
};

}  // namespace

bool bit_strings_sound(const std::uint8_t* data, std::size_t size, const std::uint8_t* implicit_bit_strings,
                       std::size_t count)
{
    if (!data)
        return true;
    const auto implicit = [&](std::uint8_t tag) {
        return implicit_bit_strings && std::find(implicit_bit_strings, implicit_bit_strings + count, tag) !=
                                           implicit_bit_strings + count;
    };
    std::vector<open_element> open;
    std::size_t at = 0;
    // Leaves the elements whose content is left unread: all of them when the
    // return value is false.
    const auto close = [&open, &at](bool unreadable) {
        if (unreadable) {
            // Go on after the nearest enclosing element whose end is known.
            while (!open.empty() && open.back().indefinite)
                open.pop_back();
            if (!open.empty())
                at = open.back().end;
        }
        if (!open.empty())
            open.pop_back();
        return !open.empty();
    };
    for (;;) {
        if (!open.empty() && !open.back().indefinite && at >= open.back().end) {
            if (!close(false))
                return true;
            continue;
        }
        const std::size_t limit = open.empty() ? size : open.back().end;
        tlv_head head;
        if (at >= limit || !read_tlv_head(data + at, limit - at, head)) {
            if (!close(true))
                return true;
            continue;
        }
        const bool primitive = (head.tag & constructed) == 0;
        if (primitive && (head.tag == bit_string_tag || (open.size() == 2 && implicit(head.tag))) &&
            (head.indefinite || head.length == 0 || data[at + head.head_size] > 7))
            return false;
        if (!open.empty() && open.back().indefinite && head.tag == 0 && head.length == 0 && !head.indefinite) {
            at += head.head_size;  // end-of-contents
            if (!close(false))
                return true;
            continue;
        }
        if (primitive && head.indefinite) {
            if (!close(true))  // not BER
                return true;
            continue;
        }
        if (primitive) {
            if (open.empty())
                return true;  // the first element was primitive
            at += head.head_size + head.length;
            continue;
        }
        if (open.size() == deepest_nesting)
            return false;
        open.push_back({head.indefinite ? limit : at + head.head_size + head.length, head.indefinite});
        at += head.head_size;
    }
}

bool certificate_bit_strings_sound(const std::uint8_t* data, std::size_t size)
{
    static const std::uint8_t unique_identifiers[] = {0x81, 0x82};
    return bit_strings_sound(data, size, unique_identifiers, sizeof unique_identifiers);
}

bool extension_bit_strings_sound(const char* oid, const std::uint8_t* data, std::size_t size)
{
    static const std::uint8_t reasons[] = {0x81};
    if (oid && std::strcmp(oid, "2.5.29.31") == 0)
        return bit_strings_sound(data, size, reasons, sizeof reasons);
    return bit_strings_sound(data, size);
}

}  // namespace crypto::x509reader
