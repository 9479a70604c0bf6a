#pragma once
// CPlugin, the control's COM class (coclass Plugin): IPlugin (dual, IDispatch
// served from the registered type library) and IObjectSafety. Its reference
// count is not interlocked: the class is apartment-threaded.
#include "activex/plugin_interface.h"

class CPlugin final : public IPlugin, public IObjectSafety {
public:
    // The safety options the control supports: safe for untrusted callers and
    // for untrusted data.
    static constexpr DWORD supported_safety = INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA;

    // Creates an object, aggregated by outer when it is not null (the caller
    // then asks for IID_IUnknown and gets the object's own IUnknown), and
    // queries it for iid.
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object);

    // Runs the class registry script (resource 106).
    static HRESULT UpdateRegistry(bool register_keys);

    CPlugin(const CPlugin&) = delete;
    CPlugin& operator=(const CPlugin&) = delete;

    // IUnknown: all three go to the controlling unknown (the aggregating
    // object's, or this object's own).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* parameters,
                                     VARIANT* result, EXCEPINFO* exception, UINT* argument_error) override;

    // IPlugin
    HRESULT STDMETHODCALLTYPE SendMessage(BSTR message, BSTR* response) override;

    // IObjectSafety
    HRESULT STDMETHODCALLTYPE GetInterfaceSafetyOptions(REFIID iid, DWORD* supported, DWORD* enabled) override;
    HRESULT STDMETHODCALLTYPE SetInterfaceSafetyOptions(REFIID iid, DWORD mask, DWORD options) override;

private:
    // The object's own IUnknown: it holds the reference count, answers from
    // the interface map and deletes the object at the last release.
    class own_unknown final : public IUnknown {
    public:
        explicit own_unknown(CPlugin& owner) : owner_(owner) {}
        virtual ~own_unknown() = default;
        own_unknown(const own_unknown&) = delete;
        own_unknown& operator=(const own_unknown&) = delete;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        CPlugin& owner_;
        ULONG references_ = 0;
    };

    explicit CPlugin(IUnknown* outer);
    virtual ~CPlugin();

    // The interface map, in order: IPlugin, IDispatch (the same vtable),
    // IObjectSafety. Adds a reference through the controlling unknown.
    bool find_interface(REFIID iid, void** object);

    own_unknown own_unknown_;
    IUnknown* controlling_unknown_;
    DWORD enabled_safety_ = 0;
};
