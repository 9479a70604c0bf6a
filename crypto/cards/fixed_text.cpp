#include "crypto/cards/fixed_text.h"

#include <cstring>

namespace crypto::cards {
namespace {

bool is_blank(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

}  // namespace

std::string field_text(const void* data, std::size_t size)
{
    if (!data || size == 0)
        return {};
    // Blanks (and NULs) are cut from the end of the whole field first; the
    // text then ends at its first NUL.
    const char* bytes = static_cast<const char*>(data);
    std::size_t end = size;
    while (end > 1 && is_blank(bytes[end - 1]))
        --end;
    const void* nul = std::memchr(bytes, 0, end);
    return std::string(bytes, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : end);
}

std::string cut_field_text(const void* data, std::size_t size)
{
    if (!data || size == 0)
        return {};
    const char* bytes = static_cast<const char*>(data);
    const void* nul = std::memchr(bytes, 0, size);
    std::size_t end = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size;
    while (end > 1 && is_blank(bytes[end - 1]))
        --end;
    return std::string(bytes, end);
}

std::string reply_text(const void* data, std::size_t size)
{
    std::string text = field_text(data, size);
    std::size_t start = 0;
    while (start < text.size() && is_blank(text[start]))
        ++start;
    return text.substr(start);
}

}  // namespace crypto::cards
