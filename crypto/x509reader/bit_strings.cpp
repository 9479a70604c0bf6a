#include "crypto/x509reader/bit_strings.h"

#include <cstring>
#include <string_view>
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

// The walk behind both checks. Primitive elements two levels below the first
// element whose tag is among `implicit` count as BIT STRINGs too: implicitly
// tagged ones.
bool bit_strings_sound(const std::uint8_t* data, std::size_t size, std::string_view implicit)
{
    if (!data)
        return true;
    std::vector<open_element> open;
    std::size_t at = 0;
    // Leaves the innermost open element; after unreadable content, every
    // enclosing one back to the nearest whose end is known, going on after
    // it. False when no element is left open: the walk is over.
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
        if (primitive && (head.tag == bit_string_tag || (open.size() == 2 && implicit.find(static_cast<char>(head.tag)) != std::string_view::npos)) &&
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

}  // namespace

bool certificate_bit_strings_sound(const std::uint8_t* data, std::size_t size)
{
    return bit_strings_sound(data, size, "\x81\x82");
}

bool extension_bit_strings_sound(const char* oid, const std::uint8_t* data, std::size_t size)
{
    const bool distribution_points = oid && std::strcmp(oid, "2.5.29.31") == 0;
    return bit_strings_sound(data, size, distribution_points ? "\x81" : "");
}

}  // namespace crypto::x509reader
