#pragma once
// What the tests of kelvora_ax.dll share: the loaded control and its exports,
// a registered control, COM and registry helpers.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "activex/com_handles.h"
#include "activex/plugin_interface.h"

namespace ax_test {

using activex::com_ptr;
using activex::unique_bstr;

// kelvora_ax.dll from the folder of the test program, loaded for as long as
// the process runs, and its five exports.
class control_library {
public:
    static control_library& get();

    HRESULT register_server() const { return register_(); }
    HRESULT unregister_server() const { return unregister_(); }
    HRESULT install(BOOL install, const wchar_t* command_line) const { return install_(install, command_line); }
    HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** object) const
    {
        return get_class_object_(clsid, iid, object);
    }
    HRESULT can_unload_now() const { return can_unload_now_(); }
    // The full path the control reports for itself.
    const std::wstring& path() const { return path_; }

private:
    control_library();

    HMODULE module_ = nullptr;
    std::wstring path_;
    HRESULT(WINAPI* register_)() = nullptr;
    HRESULT(WINAPI* unregister_)() = nullptr;
    HRESULT(WINAPI* install_)(BOOL, LPCWSTR) = nullptr;
    HRESULT(WINAPI* get_class_object_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* can_unload_now_)() = nullptr;
};

// Tests that need the control registered per machine (the class, its ProgIDs
// and the type library, which IDispatch and the error source read).
class RegisteredControl : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    // A new control object through COM, as a script host creates it.
    static com_ptr<IPlugin> create_plugin();
};

// A BSTR with the given text (UTF-16 code units, NULs included).
unique_bstr make_bstr(const std::wstring& text);
std::wstring bstr_text(BSTR text);
// UTF-8 to UTF-16 for expected texts.
std::wstring widen(const std::string& utf8);

// The thread's error information, taken (and so cleared).
struct error_details {
    bool present = false;
    GUID guid = GUID_NULL;
    std::wstring description;
    std::wstring source;
};
error_details take_error_info();

// A registry key's content, recursively: "sub\\key|value name" -> data, for
// string values; a key without values appears as "sub\\key|" -> "<key>".
using registry_tree = std::map<std::wstring, std::wstring>;
std::optional<registry_tree> read_registry_tree(HKEY root, const std::wstring& path);
bool key_exists(HKEY root, const std::wstring& path);

std::wstring guid_text(REFGUID guid);

// The ProgID that the registered class script gives the control.
constexpr const wchar_t* versioned_progid = L"kelvora.plugin.1";

}  // namespace ax_test
