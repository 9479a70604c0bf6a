// The control object and its class factory: the interface map, safety
// options, aggregation and the module's lock count.
#include "control_support.h"

#include <ocidl.h>
#include <olectl.h>

namespace ax_test {
namespace {

using ControlObject = RegisteredControl;

com_ptr<IClassFactory> class_factory()
{
    com_ptr<IClassFactory> factory;
    EXPECT_EQ(control_library::get().get_class_object(CLSID_Plugin, IID_IClassFactory,
                                                      reinterpret_cast<void**>(factory.put())),
              S_OK);
    return factory;
}

template <class Interface>
com_ptr<Interface> query(IUnknown* object, REFIID iid)
{
    com_ptr<Interface> found;
    object->QueryInterface(iid, reinterpret_cast<void**>(found.put()));
    return found;
}

TEST_F(ControlObject, AnswersForIPluginIDispatchAndIObjectSafetyOnly)
{
    const com_ptr<IPlugin> plugin = create_plugin();
    ASSERT_TRUE(plugin);
    const auto dispatch = query<IDispatch>(plugin.get(), IID_IDispatch);
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(plugin.get()));
    const auto safety = query<IObjectSafety>(plugin.get(), IID_IObjectSafety);
    ASSERT_TRUE(safety);
    EXPECT_EQ(query<IUnknown>(plugin.get(), IID_IUnknown).get(), query<IUnknown>(safety.get(), IID_IUnknown).get());
    EXPECT_EQ(query<IPlugin>(safety.get(), IID_IPlugin).get(), plugin.get());

    for (REFIID refused : {IID_IPersist, IID_IPersistStreamInit, IID_IOleObject, IID_IProvideClassInfo,
                           IID_IConnectionPointContainer, IID_ISupportErrorInfo, IID_IClassFactory, IID_IOleControl}) {
        void* found = plugin.get();
        EXPECT_EQ(plugin->QueryInterface(refused, &found), E_NOINTERFACE);
        EXPECT_EQ(found, nullptr);
    }
    EXPECT_EQ(plugin->QueryInterface(IID_IDispatch, nullptr), E_POINTER);
}

TEST_F(ControlObject, SafetyOptions)
{
    const com_ptr<IPlugin> plugin = create_plugin();
    ASSERT_TRUE(plugin);
    const auto safety = query<IObjectSafety>(plugin.get(), IID_IObjectSafety);
    ASSERT_TRUE(safety);
    DWORD supported = 99, enabled = 99;
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IPlugin, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, static_cast<DWORD>(INTERFACESAFE_FOR_UNTRUSTED_CALLER | INTERFACESAFE_FOR_UNTRUSTED_DATA));
    EXPECT_EQ(enabled, 0u);

    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), S_OK);
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IPlugin, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 3u);
    // Only the bits of the mask change, and only to what the options say.
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPlugin, 1, 0), S_OK);
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IObjectSafety, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 2u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPlugin, 1, 0xFF), S_OK);
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IUnknown, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 3u);
    // A bit the control does not support in the mask: refused, nothing changes.
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPlugin, 4, 4), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPlugin, 7, 0), E_FAIL);
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IPlugin, &supported, &enabled), S_OK);
    EXPECT_EQ(enabled, 3u);

    // Interfaces the object does not have.
    supported = enabled = 99;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersist, &supported, &enabled), E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersist, 1, 1), E_NOINTERFACE);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersist, 4, 4), E_NOINTERFACE);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPlugin, nullptr, &enabled), E_POINTER);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPlugin, &supported, nullptr), E_POINTER);

    // Options belong to one object and change nothing else in it.
    const unique_bstr request = make_bstr(LR"({"type":"Version","id":"s"})");
    unique_bstr answer;
    EXPECT_EQ(plugin->SendMessage(request.get(), answer.put()), S_OK);
    const com_ptr<IPlugin> other = create_plugin();
    ASSERT_EQ(query<IObjectSafety>(other.get(), IID_IObjectSafety)
                  ->GetInterfaceSafetyOptions(IID_IPlugin, &supported, &enabled),
              S_OK);
    EXPECT_EQ(enabled, 0u);
}

// A COM object that aggregates the control and counts its own references.
class aggregating_object : public IUnknown {
public:
    virtual ~aggregating_object() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }

    ULONG references = 1;
    IUnknown* inner = nullptr;
};

TEST_F(ControlObject, AggregationDelegatesToTheOuterObject)
{
    aggregating_object outer;
    ASSERT_EQ(CoCreateInstance(CLSID_Plugin, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&outer.inner)),
              S_OK);
    ASSERT_TRUE(outer.inner);
    EXPECT_EQ(outer.references, 1u);

    IPlugin* plugin = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IPlugin, reinterpret_cast<void**>(&plugin)), S_OK);
    // The reference the inner object handed out counts on the outer one.
    EXPECT_EQ(outer.references, 2u);
    // Identity and further queries are the outer object's.
    EXPECT_EQ(query<IUnknown>(plugin, IID_IUnknown).get(), static_cast<IUnknown*>(&outer));
    EXPECT_TRUE(query<IObjectSafety>(plugin, IID_IObjectSafety));
    EXPECT_EQ(outer.references, 2u);

    const unique_bstr request = make_bstr(LR"({"type":"Version","id":"agg"})");
    unique_bstr answer;
    EXPECT_EQ(plugin->SendMessage(request.get(), answer.put()), S_OK);
    EXPECT_EQ(bstr_text(answer.get()), L"{\"response\":\"success\",\"result\":\"2.1.0102\",\"id\":\"agg\"}\n");

    plugin->Release();
    EXPECT_EQ(outer.references, 1u);
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(control_library::get().can_unload_now(), S_OK);
}

TEST_F(ControlObject, AggregationAsksForIUnknownOnly)
{
    aggregating_object outer;
    void* object = &outer;
    EXPECT_EQ(CoCreateInstance(CLSID_Plugin, &outer, CLSCTX_INPROC_SERVER, IID_IPlugin, &object),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    const com_ptr<IClassFactory> factory = class_factory();
    ASSERT_TRUE(factory);
    object = &outer;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(outer.references, 1u);
}

TEST_F(ControlObject, DllGetClassObjectServesOnlyThePluginClass)
{
    const control_library& control = control_library::get();
    void* object = &object;
    EXPECT_EQ(control.get_class_object(CLSID_StdFont, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    object = &object;
    EXPECT_EQ(control.get_class_object(IID_IPlugin, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(control.get_class_object(CLSID_Plugin, IID_IClassFactory, nullptr), E_POINTER);
    object = &object;
    EXPECT_EQ(control.get_class_object(CLSID_Plugin, IID_IPlugin, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    // One factory per process.
    const com_ptr<IClassFactory> first = class_factory();
    const com_ptr<IClassFactory> second = class_factory();
    EXPECT_EQ(first.get(), second.get());
    com_ptr<IPlugin> plugin;
    EXPECT_EQ(first->CreateInstance(nullptr, IID_IPlugin, reinterpret_cast<void**>(plugin.put())), S_OK);
    object = &object;
    EXPECT_EQ(first->CreateInstance(nullptr, IID_IPersist, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ControlObject, TheLibraryMayUnloadOnlyWithoutObjectsLocksOrFactoryReferences)
{
    const control_library& control = control_library::get();
    ASSERT_EQ(control.can_unload_now(), S_OK);
    {
        const com_ptr<IClassFactory> factory = class_factory();
        ASSERT_TRUE(factory);
        EXPECT_EQ(control.can_unload_now(), S_FALSE);
        com_ptr<IPlugin> plugin;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPlugin, reinterpret_cast<void**>(plugin.put())), S_OK);
        EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    }
    // The object is gone but the server lock holds.
    EXPECT_EQ(control.can_unload_now(), S_FALSE);
    {
        const com_ptr<IClassFactory> factory = class_factory();
        EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    }
    EXPECT_EQ(control.can_unload_now(), S_OK);
    // A failed creation leaves nothing behind.
    {
        const com_ptr<IClassFactory> factory = class_factory();
        void* object = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IOleObject, &object), E_NOINTERFACE);
    }
    EXPECT_EQ(control.can_unload_now(), S_OK);
}

}  // namespace
}  // namespace ax_test
