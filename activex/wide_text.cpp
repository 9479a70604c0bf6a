#include "activex/wide_text.h"

#include <cstring>
#include <memory>
#include <stdexcept>

#include "crypto/encoding/text.h"
#include "crypto/secure_wipe.h"
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

// The UTF-8 length of UTF-16 units: a surrogate pair takes four bytes, an
// unpaired surrogate three (U+FFFD).
std::size_t utf8_length(const char16_t* text, std::size_t count)
{
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t unit = text[i];
        if (unit < 0x80) {
            length += 1;
        } else if (unit < 0x800) {
            length += 2;
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            length += 4;
            ++i;
        } else {
            length += 3;
        }
    }
    return length;
}

}  // namespace

std::string utf16_to_utf8(const char16_t* text, std::size_t count)
{
    std::string out;
    if (!text)
        return out;
    // The request may hold a PIN: its exact size is reserved, so that the text
    // never moves to a larger buffer and leaves a copy behind, and each
    // converted piece is zeroed before it is freed.
    out.reserve(utf8_length(text, count));
    convert_around_nuls(text, count, [&out](const char16_t* piece, std::size_t length) {
        const std::unique_ptr<char[]> converted(crypto::wide_to_utf8(piece, length));
        if (!converted)
            return;
        const std::size_t size = std::strlen(converted.get());
        out.append(converted.get(), size);
        crypto::secure_wipe(converted.get(), size);
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
