#pragma once
// The module object of kelvora_ax: lock count, class factory, registration
// and the type information that IDispatch serves.
#include <atomic>
#include <string>

#include "activex/com_handles.h"
#include "activex/critical_section.h"
#include "activex/plugin_interface.h"
#include "activex/registry_script.h"

class CActiveXModule {
public:
    CActiveXModule() = default;
    ~CActiveXModule();
    CActiveXModule(const CActiveXModule&) = delete;
    CActiveXModule& operator=(const CActiveXModule&) = delete;

    // False when the module's critical section could not be created.
    bool initialized() const { return section_.created(); }
    void set_instance(HINSTANCE instance) { instance_ = instance; }

    // The lock count: live objects, server locks and outside references to
    // the class factory. The library may be unloaded at 0.
    LONG Lock() { return ++lock_count_; }
    LONG Unlock() { return --lock_count_; }
    LONG GetLockCount() const { return lock_count_; }

    // The five exports.
    HRESULT DllCanUnloadNow() const;
    HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
    HRESULT DllRegisterServer();
    HRESULT DllUnregisterServer();
    HRESULT DllInstall(BOOL install, LPCWSTR command_line);

    // Runs one of the module's registry scripts (a REGISTRY resource) with
    // the module path and the common replacements.
    HRESULT UpdateRegistryFromResource(UINT id, bool register_keys);
    // Adds the replacements every script of the module gets: "APPID".
    void AddCommonRGSReplacements(activex::script_replacements& replacements) const;

    // IPlugin's type information from the registered type library ActiveXLib
    // 1.0, loaded on first use and kept.
    HRESULT GetTypeInfo(LCID locale, ITypeInfo** info);

    // The process is ending: the COM objects the module keeps are left as they
    // are, since the libraries behind them may already be gone.
    void abandon_cached_objects();

private:
    HRESULT module_path(std::wstring& path) const;
    HRESULT register_server();
    HRESULT unregister_server();

    activex::critical_section section_;
    std::atomic<LONG> lock_count_{0};
    HINSTANCE instance_ = nullptr;
    // Set by DllInstall with "user"; stays on until the library is unloaded.
    bool per_user_ = false;
    activex::com_ptr<IClassFactory> class_factory_;
    activex::com_ptr<ITypeInfo> type_info_;
};

// The one module object of the library.
extern CActiveXModule the_module;
