#include "crypto/pkcs11/module_search.h"

#include <algorithm>

namespace crypto::pkcs11 {
namespace {

// A text that a system call writes, grown until it fits; empty on failure.
// A call whose buffer is too small answers the size it needs or, as
// GetModuleFileNameW does with a cut path, the buffer's own size.
template <class Call>
std::wstring system_text(Call call)
{
    std::wstring text(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = call(&text[0], static_cast<DWORD>(text.size()));
        if (length == 0)
            return {};
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(std::max<std::size_t>(static_cast<std::size_t>(length) + 1, text.size() * 2));
    }
}

std::wstring program_folder()
{
    const std::wstring path =
        system_text([](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// "C:\..." or "\\server\share\...": a folder that does not depend on the
// current directory.
bool is_full_path(const std::wstring& folder)
{
    if (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/'))
        return true;
    return folder.size() >= 2 && (folder[0] == L'\\' || folder[0] == L'/') && (folder[1] == L'\\' || folder[1] == L'/');
}

void add_folder(std::vector<std::wstring>& folders, std::wstring folder)
{
    if (is_full_path(folder))
        folders.push_back(std::move(folder));
}

}  // namespace

std::vector<std::wstring> module_folders()
{
    std::vector<std::wstring> folders;
    add_folder(folders, program_folder());
    add_folder(folders, system_text([](wchar_t* buffer, DWORD size) { return GetSystemDirectoryW(buffer, size); }));
    const std::wstring windows =
        system_text([](wchar_t* buffer, DWORD size) { return GetWindowsDirectoryW(buffer, size); });
    if (!windows.empty())
        add_folder(folders, windows + L"\\System");
    add_folder(folders, windows);
    const std::wstring path = system_text(
        [](wchar_t* buffer, DWORD size) { return GetEnvironmentVariableW(L"PATH", buffer, size); });
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(L';', start);
        if (end == std::wstring::npos)
            end = path.size();
        add_folder(folders, path.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

HMODULE load_module_file(const std::string& file_name)
{
    const std::wstring name(file_name.begin(), file_name.end());
    for (const auto& folder : module_folders()) {
        const bool separated = folder.back() == L'\\' || folder.back() == L'/';
        const std::wstring file = folder + (separated ? L"" : L"\\") + name;
        const DWORD attributes = GetFileAttributesW(file.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        // The module's own imports are looked for beside it first.
        if (const HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
            return module;
    }
    return nullptr;
}

}  // namespace crypto::pkcs11
