#pragma once
#include <memory>
#include <string>

#include "crypto/byte_vector.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::skf {

class SkfModule;

// A signing certificate of an RSA container on an SKF device. Holds the
// library of the listing that found it (so the library stays loaded while the
// certificate lives) and the names of its device, application and container.
class x509certificate final : public csp::x509certificate {
public:
    // The certificate context is made from der; bytes that are not a
    // certificate leave it without one.
    x509certificate(std::string device, std::string application, std::string container, const byte_vector& der,
                    std::shared_ptr<SkfModule> module);
    ~x509certificate() override;

    bool is_hardware() const override;
    const char* carrier_type() const override;
    // device\application\container
    std::string container() const override;
    // The device name.
    std::string reader() const override;
    bool has_private_key() const override;

    const std::string& device_name() const { return device_; }
    const std::string& application_name() const { return application_; }
    const std::string& container_name() const { return container_; }
    const std::shared_ptr<SkfModule>& module() const { return module_; }

private:
    std::shared_ptr<SkfModule> module_;
    std::string device_;
    std::string application_;
    std::string container_;
};

}  // namespace crypto::skf
