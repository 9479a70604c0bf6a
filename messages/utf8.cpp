#include "messages/utf8.h"

namespace messages {
namespace {

bool in_range(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

}  // namespace

std::size_t utf8_sequence(const unsigned char* s, std::size_t available, std::size_t& invalid)
{
    invalid = 1;
    const unsigned char lead = s[0];
    if (lead < 0x80)
        return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
    if (in_range(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (in_range(lead, 0xE0, 0xEF)) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;        // overlong
        else if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (in_range(lead, 0xF0, 0xF4)) {
        length = 4;
        if (lead == 0xF0) low = 0x90;        // overlong
        else if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    // Count the bytes that still fit a sequence; stop at the first that does not.
    std::size_t fitting = 1;
    while (fitting < length && fitting < available &&
           in_range(s[fitting], fitting == 1 ? low : 0x80, fitting == 1 ? high : 0xBF))
        ++fitting;
    if (fitting == length)
        return length;
    invalid = fitting;
    return 0;
}

bool is_well_formed_utf8(const char* data, std::size_t size)
{
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    std::size_t i = 0, invalid = 0;
    while (i < size) {
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = utf8_sequence(s + i, size - i, invalid);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

}  // namespace messages
