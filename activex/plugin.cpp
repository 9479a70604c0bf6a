#include "activex/plugin.h"

#include <new>

#include "activex/command_table.h"
#include "activex/module.h"
#include "activex/resource.h"
#include "activex/send_message.h"

CPlugin::CPlugin(IUnknown* outer)
    : own_unknown_(*this), controlling_unknown_(outer ? outer : &own_unknown_)
{
    the_module.Lock();
}

CPlugin::~CPlugin()
{
    the_module.Unlock();
}

HRESULT CPlugin::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    CPlugin* created = new (std::nothrow) CPlugin(outer);
    if (!created)
        return E_OUTOFMEMORY;
    // Hold the object while it is queried: a failed query then deletes it.
    created->own_unknown_.AddRef();
    const HRESULT hr = created->own_unknown_.QueryInterface(iid, object);
    created->own_unknown_.Release();
    return hr;
}

HRESULT CPlugin::UpdateRegistry(bool register_keys)
{
    return the_module.UpdateRegistryFromResource(IDR_PLUGIN, register_keys);
}

bool CPlugin::find_interface(REFIID iid, void** object)
{
    if (IsEqualIID(iid, IID_IPlugin) || IsEqualIID(iid, IID_IDispatch))
        *object = static_cast<IPlugin*>(this);
    else if (IsEqualIID(iid, IID_IObjectSafety))
        *object = static_cast<IObjectSafety*>(this);
    else
        return false;
    AddRef();
    return true;
}

// ---------------------------------------------------------------- IUnknown

HRESULT CPlugin::own_unknown::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    if (owner_.find_interface(iid, object))
        return S_OK;
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG CPlugin::own_unknown::AddRef()
{
    return ++references_;
}

ULONG CPlugin::own_unknown::Release()
{
    const ULONG count = --references_;
    if (count == 0)
        delete &owner_;
    return count;
}

HRESULT CPlugin::QueryInterface(REFIID iid, void** object)
{
    return controlling_unknown_->QueryInterface(iid, object);
}

ULONG CPlugin::AddRef()
{
    return controlling_unknown_->AddRef();
}

ULONG CPlugin::Release()
{
    return controlling_unknown_->Release();
}

// ---------------------------------------------------------------- IDispatch

HRESULT CPlugin::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT CPlugin::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    return the_module.GetTypeInfo(locale, info);
}

HRESULT CPlugin::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID locale, DISPID* ids)
{
    activex::com_ptr<ITypeInfo> info;
    const HRESULT hr = the_module.GetTypeInfo(locale, info.put());
    if (FAILED(hr))
        return hr;
    return info->GetIDsOfNames(names, count, ids);
}

HRESULT CPlugin::Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                        VARIANT* result, EXCEPINFO* exception, UINT* argument_error)
{
    if (!IsEqualIID(iid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    activex::com_ptr<ITypeInfo> info;
    const HRESULT hr = the_module.GetTypeInfo(locale, info.put());
    if (FAILED(hr))
        return hr;
    return info->Invoke(static_cast<IPlugin*>(this), member, flags, parameters, result, exception, argument_error);
}

// ---------------------------------------------------------------- IPlugin

HRESULT CPlugin::SendMessage(BSTR message, BSTR* response)
{
    return activex::send_message(command_table, message, response);
}

// ---------------------------------------------------------------- IObjectSafety

HRESULT CPlugin::GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled)
{
    if (!supported || !enabled)
        return E_POINTER;
    IUnknown* found = nullptr;
    const HRESULT hr = own_unknown_.QueryInterface(iid, reinterpret_cast<void**>(&found));
    if (FAILED(hr)) {
        *supported = 0;
        *enabled = 0;
        return hr;
    }
    found->Release();
    *supported = supported_safety;
    *enabled = enabled_safety_;
    return S_OK;
}

HRESULT CPlugin::SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD options)
{
    IUnknown* found = nullptr;
    if (FAILED(own_unknown_.QueryInterface(iid, reinterpret_cast<void**>(&found))))
        return E_NOINTERFACE;
    found->Release();
    if (mask & ~supported_safety)
        return E_FAIL;
    enabled_safety_ = (options & mask) | (enabled_safety_ & ~mask);
    return S_OK;
}
