#pragma once
#include <string>

#include "crypto/skf/skf_api.h"

namespace crypto::skf {

class SkfModule;

// Owners of the library's device, application and container handles: each
// opens its object when made (a null handle when that fails) and closes it
// when it goes. Nested in that order, they close the container before its
// application and the application before its device.
class device_connection {
public:
    device_connection(const SkfModule& module, const std::string& name);
    ~device_connection();
    device_connection(const device_connection&) = delete;
    device_connection& operator=(const device_connection&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    api::dev_handle get() const { return handle_; }

private:
    const SkfModule& module_;
    api::dev_handle handle_ = nullptr;
};

class application_session {
public:
    application_session(const SkfModule& module, api::dev_handle device, const std::string& name);
    ~application_session();
    application_session(const application_session&) = delete;
    application_session& operator=(const application_session&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    api::app_handle get() const { return handle_; }

private:
    const SkfModule& module_;
    api::app_handle handle_ = nullptr;
};

class container_session {
public:
    container_session(const SkfModule& module, api::app_handle application, const std::string& name);
    ~container_session();
    container_session(const container_session&) = delete;
    container_session& operator=(const container_session&) = delete;

    explicit operator bool() const { return handle_ != nullptr; }
    api::container_handle get() const { return handle_; }

private:
    const SkfModule& module_;
    api::container_handle handle_ = nullptr;
};

}  // namespace crypto::skf
