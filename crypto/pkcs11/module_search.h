#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace crypto::pkcs11 {

// The folders a token module is looked for in, in order: the program's own
// folder, the system folder, the 16-bit system folder, the Windows folder,
// then the folders of PATH that are full paths. The current directory is not
// among them, nor is a relative PATH entry (which would name a folder under
// it).
std::vector<std::wstring> module_folders();

// Loads the module file (a bare file name) by its full path from the first
// of those folders that holds it and where it loads; null when none does.
// Nothing process-wide (the DLL directory, the default search flags) is
// changed, so the control leaves the browser's settings as they are.
HMODULE load_module_file(const std::string& file_name);

}  // namespace crypto::pkcs11
