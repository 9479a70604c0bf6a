#pragma once
// Runs registry scripts in the registrar format of COM servers: root keys
// (HKCR, HKCU, HKLM, HKU or their long names) each with a body in braces; in
// a body, keys written
//     [NoRemove | ForceRemove | Delete] name [= type 'value'] [{ body }]
// and named values written
//     val name = type 'value'
// with the types s (text), e (expandable text), d (32-bit number, decimal or
// 0x hexadecimal) and b (bytes in hexadecimal). Tokens are separated by white
// space; a name or value with blanks is quoted with ', and '' stands for one '.
// %NAME% is replaced by the value of NAME (names compared without regard to
// letter case) before the script is read; %% stands for one %.
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace activex {

using script_replacements = std::vector<std::pair<std::wstring, std::wstring>>;

enum class script_mode {
    // Creates the keys and values. ForceRemove keys are deleted with their
    // subkeys first; Delete keys are deleted and not written.
    register_keys,
    // Deletes the named values, the ForceRemove keys with all their subkeys
    // and every other key that is left without subkeys, except NoRemove keys.
    // What does not exist is skipped.
    unregister_keys,
};

// Runs the script. With per_user, every key under HKEY_CLASSES_ROOT is taken
// from HKEY_CURRENT_USER\Software\Classes instead. Returns S_OK or the first
// failure: a registry call's error, E_OUTOFMEMORY, or
// HRESULT_FROM_WIN32(ERROR_INVALID_DATA) for a script that does not parse or
// names a replacement it is not given (in that case nothing was changed).
HRESULT run_registry_script(const std::wstring& script, const script_replacements& replacements,
                            script_mode mode, bool per_user);

// The script text with every replacement applied; throws script_error.
std::wstring expand_replacements(const std::wstring& script, const script_replacements& replacements);

// A failure while reading or running a script, with its HRESULT.
class script_error {
public:
    explicit script_error(HRESULT code) : code_(code) {}
    HRESULT code() const { return code_; }

private:
    HRESULT code_;
};

}  // namespace activex
