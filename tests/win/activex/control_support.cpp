#include "control_support.h"

#include <vector>

namespace ax_test {
namespace {

template <class Function>
Function export_of(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// COM for the main thread of the test program, for its whole run.
class com_environment : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK); }
    void TearDown() override { CoUninitialize(); }
};

[[maybe_unused]] ::testing::Environment* const com = ::testing::AddGlobalTestEnvironment(new com_environment);

void read_tree(HKEY key, const std::wstring& prefix, registry_tree& tree)
{
    wchar_t name[512];
    std::vector<BYTE> data(4096);
    DWORD values = 0;
    for (DWORD i = 0;; ++i) {
        DWORD name_length = 512, type = 0, size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(key, i, name, &name_length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        ++values;
        std::wstring text = L"<non-string>";
        if (type == REG_SZ)
            text.assign(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
        while (!text.empty() && text.back() == L'\0')
            text.pop_back();
        tree[prefix + L"|" + name] = text;
    }
    if (values == 0)
        tree[prefix + L"|"] = L"<key>";
    for (DWORD i = 0;; ++i) {
        DWORD name_length = 512;
        if (RegEnumKeyExW(key, i, name, &name_length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        activex::registry_key sub;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, sub.put()) == ERROR_SUCCESS)
            read_tree(sub.get(), prefix.empty() ? name : prefix + L"\\" + name, tree);
    }
}

}  // namespace

control_library& control_library::get()
{
    static control_library library;
    return library;
}

control_library::control_library()
{
    module_ = LoadLibraryW(L"kelvora_ax.dll");
    if (!module_)
        throw std::runtime_error("kelvora_ax.dll does not load");
    wchar_t buffer[MAX_PATH];
    path_.assign(buffer, GetModuleFileNameW(module_, buffer, MAX_PATH));
    register_ = export_of<decltype(register_)>(module_, "DllRegisterServer");
    unregister_ = export_of<decltype(unregister_)>(module_, "DllUnregisterServer");
    install_ = export_of<decltype(install_)>(module_, "DllInstall");
    get_class_object_ = export_of<decltype(get_class_object_)>(module_, "DllGetClassObject");
    can_unload_now_ = export_of<decltype(can_unload_now_)>(module_, "DllCanUnloadNow");
    if (!register_ || !unregister_ || !install_ || !get_class_object_ || !can_unload_now_)
        throw std::runtime_error("kelvora_ax.dll lacks an export");
}

void RegisteredControl::SetUpTestSuite()
{
    ASSERT_EQ(control_library::get().register_server(), S_OK);
}

com_ptr<IPlugin> RegisteredControl::create_plugin()
{
    com_ptr<IPlugin> plugin;
    const HRESULT hr = CoCreateInstance(CLSID_Plugin, nullptr, CLSCTX_INPROC_SERVER, IID_IPlugin,
                                        reinterpret_cast<void**>(plugin.put()));
    EXPECT_EQ(hr, S_OK);
    return plugin;
}

unique_bstr make_bstr(const std::wstring& text)
{
    return unique_bstr(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
}

std::wstring bstr_text(BSTR text)
{
    return std::wstring(text ? text : L"", SysStringLen(text));
}

std::wstring widen(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

error_details take_error_info()
{
    error_details details;
    com_ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info)
        return details;
    details.present = true;
    info->GetGUID(&details.guid);
    unique_bstr text;
    if (SUCCEEDED(info->GetDescription(text.put())))
        details.description = bstr_text(text.get());
    if (SUCCEEDED(info->GetSource(text.put())))
        details.source = bstr_text(text.get());
    return details;
}

std::optional<registry_tree> read_registry_tree(HKEY root, const std::wstring& path)
{
    activex::registry_key key;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    registry_tree tree;
    read_tree(key.get(), L"", tree);
    return tree;
}

bool key_exists(HKEY root, const std::wstring& path)
{
    activex::registry_key key;
    return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::wstring guid_text(REFGUID guid)
{
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

}  // namespace ax_test
