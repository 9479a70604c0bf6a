#include "description_file.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace standin_common {

std::string environment(const char* name)
{
    char buffer[4096];
    const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer))
        return {};
    return std::string(buffer, length);
}

std::string windows_path(const std::string& path)
{
    if (path.empty() || path[0] != '/')
        return path;
    std::string converted = "Z:" + path;
    std::replace(converted.begin(), converted.end(), '/', '\\');
    return converted;
}

std::string read_description_file(const std::string& file)
{
    std::ifstream input(windows_path(file), std::ios::binary);
    if (!input)
        throw std::runtime_error("cannot open the description " + file);
    std::stringstream text;
    text << input.rdbuf();
    return text.str();
}

}  // namespace standin_common
