#include "crypto/skf/handles.h"

#include "crypto/skf/skf_module.h"

namespace crypto::skf {
namespace {

// Opens through entry (null: a failed call); the handle only on success.
template <class Open, class Parent, class Handle>
Handle open_with(Open entry, Parent parent, const std::string& name)
{
    Handle handle = nullptr;
    if (!entry)
        return nullptr;
    auto text = c_text(name);
    if (entry(parent, text.data(), &handle) != api::sar_ok)
        return nullptr;
    return handle;
}

}  // namespace

device_connection::device_connection(const SkfModule& module, const std::string& name) : module_(module)
{
    const auto connect = module_.entry().connect_dev;
    if (!connect)
        return;
    auto text = c_text(name);
    api::dev_handle handle = nullptr;
    if (connect(text.data(), &handle) == api::sar_ok)
        handle_ = handle;
}

device_connection::~device_connection()
{
    if (handle_ && module_.entry().disconnect_dev)
        module_.entry().disconnect_dev(handle_);
}

application_session::application_session(const SkfModule& module, api::dev_handle device, const std::string& name)
    : module_(module),
      handle_(open_with<api::open_application_fn, api::dev_handle, api::app_handle>(module.entry().open_application,
                                                                                      device, name))
{
}

application_session::~application_session()
{
    if (handle_ && module_.entry().close_application)
        module_.entry().close_application(handle_);
}

container_session::container_session(const SkfModule& module, api::app_handle application, const std::string& name)
    : module_(module),
      handle_(open_with<api::open_container_fn, api::app_handle, api::container_handle>(
          module.entry().open_container, application, name))
{
}

container_session::~container_session()
{
    if (handle_ && module_.entry().close_container)
        module_.entry().close_container(handle_);
}

}  // namespace crypto::skf
