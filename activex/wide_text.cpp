#include "activex/wide_text.h"

#include <memory>
#include <stdexcept>

#include "crypto/encoding/text.h"
#include "messages/utf8.h"

namespace activex {
namespace {

// The shared helpers work on NUL-terminated texts; a NUL unit or byte is
// valid in both encodings, so the text is converted piece by piece between
// them and the NULs are copied over.
template <class Char, class Convert, class Out>
void convert_around_nuls(const Char* text, std::size_t count, Convert convert, Out& out)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i <= count; ++i) {
        if (i < count && text[i] != 0)
            continue;
        if (i > start)
            convert(text + start, i - start);
        if (i < count)
            out.push_back(0);
        start = i + 1;
    }
}

}  // namespace

std::string utf16_to_utf8(const char16_t* text, std::size_t count)
{
    std::string out;
    if (!text)
        return out;
    out.reserve(count);
    convert_around_nuls(text, count, [&out](const char16_t* piece, std::size_t length) {
        const std::unique_ptr<char[]> converted(crypto::wide_to_utf8(piece, length));
        out += converted.get();
    }, out);
    return out;
}

std::u16string utf8_to_utf16(const std::string& text)
{
    if (!messages::is_well_formed_utf8(text))
        throw std::range_error("bad conversion");
    std::u16string out;
    out.reserve(text.size());
    convert_around_nuls(text.data(), text.size(), [&out](const char* piece, std::size_t length) {
        const std::string terminated(piece, length);
        const std::unique_ptr<crypto::wide_char[]> converted(crypto::utf8_to_wide(terminated.c_str()));
        out += converted.get();
    }, out);
    return out;
}

}  // namespace activex
