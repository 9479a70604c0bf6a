#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace host {

// The window handle of a "--parent-window" argument: the text from its
// seventeenth character on (the sixteenth, the separator, is skipped whatever
// it is), read as a decimal number up to the first non-digit. Empty when the
// argument is another one or carries no usable number (no digits, or more
// than 64 bits).
std::optional<std::uint64_t> parse_parent_window(const std::string& argument);

}  // namespace host
