#pragma once
#include <windows.h>

#include <string>

namespace activex {

// Registers the type library that the module at module_path carries
// (resource 1), with no help directory: for the current user only with
// RegisterTypeLibForUser when per_user is set and OLEAUT32 has it, else for
// the machine with RegisterTypeLib.
HRESULT register_type_library(const std::wstring& module_path, bool per_user);

// Removes that registration (the library's own GUID, version, locale and
// system kind), with UnRegisterTypeLibForUser or UnRegisterTypeLib likewise.
HRESULT unregister_type_library(const std::wstring& module_path, bool per_user);

}  // namespace activex
