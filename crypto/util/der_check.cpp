#include "crypto/util/der_check.h"

#include <array>
#include <cstring>
#include <string_view>

#include "crypto/util/der_head.h"

namespace crypto::util::der {
namespace {

constexpr std::uint8_t bit_string_tag = 0x03;
constexpr std::uint8_t constructed = 0x20;
constexpr std::uint8_t high_tag_number = 0x1F;
// Certificates nest a dozen levels at most; this bounds the walk whatever a
// page sends.
constexpr std::size_t deepest_nesting = 64;

// Where implicitly tagged BIT STRINGs sit: among the children of which
// elements, by depth (0 for the first element) and place among its siblings.
enum class implicit_place { tbs_certificate, distribution_points };

bool holds_implicit(implicit_place place, std::size_t depth, std::size_t index)
{
    if (place == implicit_place::tbs_certificate)
        return depth == 0 || (depth == 1 && index == 0);
    return depth == 1;
}

struct open_element {
    std::size_t end;
    std::size_t children;
    bool implicit_children;
};

check_result check(const std::uint8_t* data, std::size_t size, implicit_place place, std::string_view implicit_tags)
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
        if ((h.tag & high_tag_number) == high_tag_number || h.indefinite || h.tag == (bit_string_tag | constructed))
            return check_result::refused;
        const std::size_t index = depth == 0 ? 0 : open[depth - 1].children++;
        const bool implicit = depth > 0 && open[depth - 1].implicit_children &&
                              implicit_tags.find(static_cast<char>(h.tag)) != std::string_view::npos;
        if ((h.tag == bit_string_tag || implicit) && (h.length == 0 || data[at + h.size] > 7))
            return check_result::refused;
        const std::size_t end = at + h.size + h.length;
        if (h.tag & constructed) {
            if (depth == deepest_nesting)
                return check_result::refused;
            open[depth] = {end, 0, holds_implicit(place, depth, index)};
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

}  // namespace

check_result check_certificate(const std::uint8_t* data, std::size_t size)
{
    return check(data, size, implicit_place::tbs_certificate, "\x81\x82");
}

check_result check_extension(const char* oid, const std::uint8_t* data, std::size_t size)
{
    const bool distribution_points = oid && std::strcmp(oid, "2.5.29.31") == 0;
    return check(data, size, implicit_place::distribution_points, distribution_points ? "\x81" : "");
}

}  // namespace crypto::util::der
