#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace crypto::skf {

// The names of an SKF multi-string (names each ending in NUL, the list ending
// in an empty name), read from the first size bytes of data and never beyond:
// the list stops at the first empty name or at the end of those bytes, and a
// last name that runs to the end without its NUL is taken up to the end.
std::vector<std::string> split_multi_string(const char* data, std::size_t size);

}  // namespace crypto::skf
