#include "activex/type_library.h"

#include <oleauto.h>

#include "activex/com_handles.h"

namespace activex {
namespace {

using register_for_user_function = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
using unregister_for_user_function = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

// A function of the already loaded OLEAUT32.DLL, or null when it has none
// of that name (older systems lack the per-user functions).
template <class Function>
Function oleaut32_function(const char* name)
{
    const HMODULE oleaut32 = GetModuleHandleW(L"OLEAUT32.DLL");
    if (!oleaut32)
        return nullptr;
    const FARPROC found = GetProcAddress(oleaut32, name);
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

HRESULT load(const std::wstring& module_path, com_ptr<ITypeLib>& library)
{
    return LoadTypeLibEx(module_path.c_str(), REGKIND_NONE, library.put());
}

// RAII for the attributes that ITypeLib::GetLibAttr hands out.
class library_attributes {
public:
    explicit library_attributes(ITypeLib* library) : library_(library)
    {
        if (FAILED(result_ = library->GetLibAttr(&attributes_)))
            attributes_ = nullptr;
    }
    ~library_attributes()
    {
        if (attributes_)
            library_->ReleaseTLibAttr(attributes_);
    }
    library_attributes(const library_attributes&) = delete;
    library_attributes& operator=(const library_attributes&) = delete;
    HRESULT result() const { return result_; }
    const TLIBATTR* operator->() const { return attributes_; }

private:
    ITypeLib* library_;
    TLIBATTR* attributes_ = nullptr;
    HRESULT result_;
};

}  // namespace

HRESULT register_type_library(const std::wstring& module_path, bool per_user)
{
    com_ptr<ITypeLib> library;
    HRESULT hr = load(module_path, library);
    if (FAILED(hr))
        return hr;
    auto* path = const_cast<OLECHAR*>(module_path.c_str());
    if (per_user) {
        if (const auto register_for_user = oleaut32_function<register_for_user_function>("RegisterTypeLibForUser"))
            return register_for_user(library.get(), path, nullptr);
    }
    return RegisterTypeLib(library.get(), path, nullptr);
}

HRESULT unregister_type_library(const std::wstring& module_path, bool per_user)
{
    com_ptr<ITypeLib> library;
    HRESULT hr = load(module_path, library);
    if (FAILED(hr))
        return hr;
    const library_attributes attributes(library.get());
    if (FAILED(attributes.result()))
        return attributes.result();
    if (per_user) {
        if (const auto unregister_for_user =
                oleaut32_function<unregister_for_user_function>("UnRegisterTypeLibForUser"))
            return unregister_for_user(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                                       attributes->lcid, attributes->syskind);
    }
    return UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                             attributes->lcid, attributes->syskind);
}

}  // namespace activex
