#include "call_log.h"

#include <windows.h>

namespace pkcs11_standin {
namespace {

// Plain arrays, not strings: a call that reaches the module after the C
// runtime tore it down (the process is ending) must still be logged.
char log_module[MAX_PATH];
char log_path[MAX_PATH];

void copy_text(char (&to)[MAX_PATH], const std::string& from)
{
    const std::size_t length = from.size() < MAX_PATH - 1 ? from.size() : 0;
    from.copy(to, length);
    to[length] = '\0';
}

}  // namespace

void set_log(const std::string& module_name, const std::string& path)
{
    copy_text(log_module, module_name);
    copy_text(log_path, path);
}

void log_call(const std::string& function, const std::string& details)
{
    if (!log_path[0])
        return;
    std::string line = std::string(log_module) + " " + function;
    if (!details.empty())
        line += " " + details;
    line += "\n";
    // Opened for each line in append mode, so that several modules and
    // processes can write one file.
    const HANDLE file = CreateFileA(log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

std::string hex(const void* data, unsigned long length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    const auto* p = static_cast<const unsigned char*>(data);
    for (unsigned long i = 0; p && i < length; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

}  // namespace pkcs11_standin
