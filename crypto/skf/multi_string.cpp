#include "crypto/skf/multi_string.h"

#include <cstring>

namespace crypto::skf {

std::vector<std::string> split_multi_string(const char* data, std::size_t size)
{
    std::vector<std::string> names;
    if (!data)
        return names;
    std::size_t at = 0;
    while (at < size) {
        const char* start = data + at;
        const void* nul = std::memchr(start, '\0', size - at);
        const std::size_t length = nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - start) : size - at;
        if (length == 0)
            break;
        names.emplace_back(start, length);
        at += length + 1;
    }
    return names;
}

}  // namespace crypto::skf
