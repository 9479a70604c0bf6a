#include "call_log.h"

#include <windows.h>

#include <cstdio>

#include "cryptoki_types.h"

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

std::string number_text(unsigned long value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

std::string attribute_text(unsigned long type)
{
    switch (type) {
    case CKA_CLASS: return "CKA_CLASS";
    case CKA_TOKEN: return "CKA_TOKEN";
    case CKA_PRIVATE: return "CKA_PRIVATE";
    case CKA_LABEL: return "CKA_LABEL";
    case CKA_VALUE: return "CKA_VALUE";
    case CKA_CERTIFICATE_TYPE: return "CKA_CERTIFICATE_TYPE";
    case CKA_SERIAL_NUMBER: return "CKA_SERIAL_NUMBER";
    case CKA_CERTIFICATE_CATEGORY: return "CKA_CERTIFICATE_CATEGORY";
    case CKA_SUBJECT: return "CKA_SUBJECT";
    case CKA_ID: return "CKA_ID";
    case CKA_SIGN: return "CKA_SIGN";
    case CKA_VERIFY: return "CKA_VERIFY";
    case CKA_DERIVE: return "CKA_DERIVE";
    case CKA_GOSTR3410_PARAMS: return "CKA_GOSTR3410_PARAMS";
    case CKA_GOSTR3411_PARAMS: return "CKA_GOSTR3411_PARAMS";
    default: return number_text(type);
    }
}

std::string template_text(const void* attributes, unsigned long count)
{
    std::string out;
    const auto* list = static_cast<const CK_ATTRIBUTE*>(attributes);
    for (unsigned long i = 0; list && i < count; ++i)
        out += " " + attribute_text(list[i].type) + "=" + hex(list[i].pValue, list[i].ulValueLen);
    return out;
}

}  // namespace pkcs11_standin
