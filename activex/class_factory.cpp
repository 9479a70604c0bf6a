#include "activex/class_factory.h"

#include <atomic>
#include <new>

#include "activex/module.h"
#include "activex/plugin.h"

namespace activex {
namespace {

class plugin_class_factory final : public IClassFactory {
public:
    plugin_class_factory() = default;
    virtual ~plugin_class_factory() = default;
    plugin_class_factory(const plugin_class_factory&) = delete;
    plugin_class_factory& operator=(const plugin_class_factory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override
    {
        const ULONG count = ++references_;
        if (count == 2)
            the_module.Lock();
        return count;
    }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --references_;
        if (count == 1)
            the_module.Unlock();
        else if (count == 0)
            delete this;
        return count;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        *object = nullptr;
        // An aggregated object hands its owner nothing but its own IUnknown.
        if (outer && !IsEqualIID(iid, IID_IUnknown))
            return CLASS_E_NOAGGREGATION;
        return CPlugin::CreateInstance(outer, iid, object);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock)
            the_module.Lock();
        else
            the_module.Unlock();
        return S_OK;
    }

private:
    std::atomic<ULONG> references_{1};
};

}  // namespace

IClassFactory* make_plugin_class_factory()
{
    return new (std::nothrow) plugin_class_factory;
}

}  // namespace activex
