#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "crypto/byte_vector.h"
#include "crypto/skf/skf_api.h"

namespace crypto::skf {

// The library's entry points, one per function the system binds, in the
// order of binding. All null until the library has loaded with every one.
struct entry_points {
    api::enum_dev_fn enum_dev = nullptr;
    api::connect_dev_fn connect_dev = nullptr;
    api::disconnect_dev_fn disconnect_dev = nullptr;
    api::get_dev_info_fn get_dev_info = nullptr;
    api::verify_pin_fn verify_pin = nullptr;
    api::enum_application_fn enum_application = nullptr;
    api::open_application_fn open_application = nullptr;
    api::close_application_fn close_application = nullptr;
    api::enum_container_fn enum_container = nullptr;
    api::open_container_fn open_container = nullptr;
    api::close_container_fn close_container = nullptr;
    api::get_container_type_fn get_container_type = nullptr;
    api::export_certificate_fn export_certificate = nullptr;
    api::rsa_sign_data_fn rsa_sign_data = nullptr;
    api::export_public_key_fn export_public_key = nullptr;
    api::rsa_verify_fn rsa_verify = nullptr;
};

// Upper bounds of what the system accepts from the library as a size: a
// larger size query counts as a failed call.
constexpr std::size_t max_name_list_size = 64 * 1024;
constexpr std::size_t max_certificate_size = 1024 * 1024;
constexpr std::size_t max_signature_size = 8 * 1024;

// What SKF_VerifyPIN answered.
struct pin_result {
    bool success = false;
    api::ulong_t retry_count = 0;  // as the library wrote it after a failure
};

// One loaded SKF library, always held in shared ownership: every certificate
// of a listing shares the listing's module, and the library is freed when the
// last of them goes.
//
// Nothing the library reports is trusted as a size beyond the buffer the
// system gave it: what is read back is cut to what the library says it wrote
// and to the buffer.
class SkfModule {
public:
    SkfModule() = default;
    ~SkfModule();
    SkfModule(const SkfModule&) = delete;
    SkfModule& operator=(const SkfModule&) = delete;

    // Loads the library from its fixed path and binds all 16 entry points by
    // name; true only when every one resolved (otherwise nothing stays loaded).
    bool load();
    bool loaded() const { return library_ != nullptr; }
    const entry_points& entry() const { return entry_; }

    // The names of the present devices, of a device's applications and of an
    // application's containers, in the library's order; empty on failure.
    std::vector<std::string> enum_devices() const;
    std::vector<std::string> enum_applications(api::dev_handle device) const;
    std::vector<std::string> enum_containers(api::app_handle application) const;

    // The user PIN; "already logged in" counts as success.
    pin_result verify_pin(api::app_handle application, const std::string& pin) const;

    // The container's type; 0xFFFFFFFF when the library wrote none.
    api::ulong_t container_type(api::container_handle container) const;
    // The container's signing certificate (DER); empty on failure, and when
    // it is larger than max_certificate_size or limit (refused, when given,
    // is then set to the size the library asked for).
    byte_vector export_signing_certificate(api::container_handle container,
                                           std::size_t limit = max_certificate_size,
                                           std::size_t* refused = nullptr) const;
    // The library's signature of the PKCS#1 DigestInfo of hash, as the library
    // gives it; empty for an unsupported hash length (the library is not
    // called then) or on failure.
    byte_vector rsa_sign(api::container_handle container, const byte_vector& hash) const;

private:
    void* library_ = nullptr;
    entry_points entry_;
};

// A NUL-terminated copy of a text, for the library's non-const name arguments.
std::vector<char> c_text(const std::string& text);

}  // namespace crypto::skf
