#pragma once
// What the stand-ins that read a description file share: the variable that
// names the file, Unix paths as Windows opens them, and the file's text.
#include <string>

namespace standin_common {

// The value of an environment variable; empty when it is unset or longer
// than 4 KiB.
std::string environment(const char* name);

// A path from a description as Windows opens it: a Unix path ("/...") is
// reached through Wine's drive Z:.
std::string windows_path(const std::string& path);

// The whole description file (a path as windows_path takes it); throws
// std::runtime_error when it cannot be opened.
std::string read_description_file(const std::string& file);

}  // namespace standin_common
