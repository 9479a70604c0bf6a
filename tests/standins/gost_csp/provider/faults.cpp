#include "faults.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

#include "container_store.h"
#include "csp_objects.h"

namespace gost_standin {
namespace {

constexpr const wchar_t* faults_variable = L"KELVORA_GOST_CSP_FAULTS";

std::string faults_text()
{
    wchar_t path[1024];
    const DWORD n = GetEnvironmentVariableW(faults_variable, path, 1024);
    return n == 0 || n >= 1024 ? std::string() : read_file_text(path);
}

}  // namespace

bool fault(const std::string& name, DWORD provider_type, DWORD true_length, DWORD& value)
{
    std::istringstream lines(faults_text());
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string key, text, type;
        if (!(words >> key >> text) || key != name) continue;
        if (words >> type && std::strtoul(type.c_str(), nullptr, 0) != provider_type) continue;
        value = text == "double" ? true_length * 2 : static_cast<DWORD>(std::strtoul(text.c_str(), nullptr, 0));
        return true;
    }
    return false;
}

void copy_out_faulted(const std::string& name, DWORD provider_type, const void* data, std::size_t size,
                      BYTE* buffer, DWORD* length)
{
    if (!length) throw csp_error(ERROR_INVALID_PARAMETER);
    const DWORD true_length = static_cast<DWORD>(size);
    DWORD reported = 0;
    if (!buffer && fault(name + "-size", provider_type, true_length, reported)) {
        *length = reported;
        return;
    }
    if (buffer && *length >= true_length && fault(name + "-written", provider_type, true_length, reported)) {
        if (size) std::memcpy(buffer, data, size);
        *length = reported;
        return;
    }
    copy_out(data, size, buffer, length);
}

}  // namespace gost_standin
