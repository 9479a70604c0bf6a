#include "host/command_line.h"

#include <cerrno>
#include <cstdlib>

namespace host {

std::optional<std::uint64_t> parse_parent_window(const std::string& argument)
{
    static const std::string prefix = "--parent-window";
    if (argument.compare(0, prefix.size(), prefix) != 0 || argument.size() <= prefix.size() + 1)
        return std::nullopt;
    const char* text = argument.c_str() + prefix.size() + 1;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || errno == ERANGE)
        return std::nullopt;
    return static_cast<std::uint64_t>(value);
}

}  // namespace host
