#include "activex/module.h"

#include <new>
#include <vector>

#include "activex/class_factory.h"
#include "activex/identifiers.h"
#include "activex/plugin.h"
#include "activex/resource.h"
#include "activex/type_library.h"

CActiveXModule the_module;

namespace {

// Sets the calling thread's locale to the system default while registration
// runs, and restores it after.
class system_locale_scope {
public:
    system_locale_scope() : saved_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~system_locale_scope() { SetThreadLocale(saved_); }
    system_locale_scope(const system_locale_scope&) = delete;
    system_locale_scope& operator=(const system_locale_scope&) = delete;

private:
    LCID saved_;
};

// A REGISTRY resource of the module as text (the scripts are ASCII).
HRESULT load_script(HINSTANCE instance, UINT id, std::wstring& script)
{
    const HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), L"REGISTRY");
    if (!found)
        return HRESULT_FROM_WIN32(GetLastError());
    const HGLOBAL loaded = LoadResource(instance, found);
    const DWORD size = SizeofResource(instance, found);
    const auto* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!bytes)
        return HRESULT_FROM_WIN32(GetLastError());
    script.clear();
    if (size == 0)
        return S_OK;
    const int length = MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), nullptr, 0);
    if (length <= 0)
        return HRESULT_FROM_WIN32(GetLastError());
    script.resize(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), &script[0], length);
    return S_OK;
}

// The path quoted for a script: every ' doubled.
std::wstring quoted_for_script(const std::wstring& text)
{
    std::wstring out;
    for (const wchar_t c : text) {
        out.push_back(c);
        if (c == L'\'')
            out.push_back(c);
    }
    return out;
}

}  // namespace

CActiveXModule::~CActiveXModule() = default;

void CActiveXModule::abandon_cached_objects()
{
    type_info_.detach();
}

HRESULT CActiveXModule::DllCanUnloadNow() const
{
    return GetLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT CActiveXModule::DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_Plugin))
        return CLASS_E_CLASSNOTAVAILABLE;
    IClassFactory* factory;
    {
        const activex::section_guard guard(section_);
        if (!class_factory_) {
            IClassFactory* created = activex::make_plugin_class_factory();
            if (!created)
                return E_OUTOFMEMORY;
            class_factory_ = activex::com_ptr<IClassFactory>(created);
        }
        factory = class_factory_.get();
    }
    return factory->QueryInterface(iid, object);
}

HRESULT CActiveXModule::DllRegisterServer()
{
    return register_server();
}

HRESULT CActiveXModule::DllUnregisterServer()
{
    return unregister_server();
}

HRESULT CActiveXModule::DllInstall(BOOL install, LPCWSTR command_line)
{
    if (command_line && _wcsicmp(command_line, L"user") == 0)
        per_user_ = true;
    if (!install)
        return unregister_server();
    const HRESULT hr = register_server();
    if (FAILED(hr))
        unregister_server();
    return hr;
}

HRESULT CActiveXModule::register_server()
{
    const system_locale_scope locale;
    HRESULT hr = UpdateRegistryFromResource(IDR_APPID, true);
    if (SUCCEEDED(hr))
        hr = CPlugin::UpdateRegistry(true);
    if (SUCCEEDED(hr)) {
        std::wstring path;
        hr = module_path(path);
        if (SUCCEEDED(hr))
            hr = activex::register_type_library(path, per_user_);
    }
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CActiveXModule::unregister_server()
{
    const system_locale_scope locale;
    HRESULT hr = CPlugin::UpdateRegistry(false);
    if (SUCCEEDED(hr)) {
        std::wstring path;
        hr = module_path(path);
        if (SUCCEEDED(hr))
            hr = activex::unregister_type_library(path, per_user_);
    }
    if (SUCCEEDED(hr))
        hr = UpdateRegistryFromResource(IDR_APPID, false);
    return FAILED(hr) ? hr : S_OK;
}

HRESULT CActiveXModule::module_path(std::wstring& path) const
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(instance_, buffer, MAX_PATH);
    if (length == 0)
        return HRESULT_FROM_WIN32(GetLastError());
    if (length >= MAX_PATH)
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

void CActiveXModule::AddCommonRGSReplacements(activex::script_replacements& replacements) const
{
    replacements.emplace_back(L"APPID", activex::appid_text);
}

HRESULT CActiveXModule::UpdateRegistryFromResource(UINT id, bool register_keys)
{
    try {
        std::wstring path;
        HRESULT hr = module_path(path);
        if (FAILED(hr))
            return hr;
        std::wstring script;
        hr = load_script(instance_, id, script);
        if (FAILED(hr))
            return hr;
        activex::script_replacements replacements{{L"MODULE", quoted_for_script(path)}, {L"MODULE_RAW", path}};
        AddCommonRGSReplacements(replacements);
        return activex::run_registry_script(script, replacements,
                                            register_keys ? activex::script_mode::register_keys
                                                          : activex::script_mode::unregister_keys,
                                            per_user_);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CActiveXModule::GetTypeInfo(LCID locale, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    const activex::section_guard guard(section_);
    if (!type_info_) {
        activex::com_ptr<ITypeLib> library;
        HRESULT hr = LoadRegTypeLib(LIBID_ActiveXLib, 1, 0, locale, library.put());
        if (FAILED(hr))
            return hr;
        activex::com_ptr<ITypeInfo> found;
        hr = library->GetTypeInfoOfGuid(IID_IPlugin, found.put());
        if (FAILED(hr))
            return hr;
        type_info_ = std::move(found);
    }
    type_info_->AddRef();
    *info = type_info_.get();
    return S_OK;
}
