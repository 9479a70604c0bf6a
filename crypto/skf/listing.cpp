#include <memory>
#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "crypto/skf/backend.h"
#include "crypto/skf/handles.h"
#include "crypto/skf/skf_module.h"
#include "crypto/skf/x509certificate.h"

namespace crypto::skf {
namespace {

// What one listing walks and keeps at most, in all: far above any real set
// of devices, so that a library that names thousands of devices,
// applications or containers, or exports large certificates from each, is
// followed only this far. Past any of them the listing stops with the
// certificates it has.
class listing_budget {
public:
    static constexpr std::size_t devices = 64;
    static constexpr std::size_t applications = 256;
    static constexpr std::size_t containers = 4096;
    static constexpr std::size_t certificate_bytes = 16 * 1024 * 1024;

    bool take_device() { return take(devices_left_); }
    bool take_application() { return take(applications_left_); }
    bool take_container() { return take(containers_left_); }
    std::size_t bytes_left() const { return bytes_left_; }
    void keep_bytes(std::size_t size) { bytes_left_ -= size < bytes_left_ ? size : bytes_left_; }
    bool spent() const { return spent_; }
    void spend() { spent_ = true; }

private:
    bool take(std::size_t& left)
    {
        if (left == 0)
            spent_ = true;
        if (spent_)
            return false;
        --left;
        return true;
    }

    std::size_t devices_left_ = devices;
    std::size_t applications_left_ = applications;
    std::size_t containers_left_ = containers;
    std::size_t bytes_left_ = certificate_bytes;
    bool spent_ = false;
};

void list_containers(const std::shared_ptr<SkfModule>& module, const std::string& device,
                     const std::string& application, const application_session& opened,
                     std::vector<certificate_ptr>& certificates, listing_budget& budget)
{
    for (const auto& name : module->enum_containers(opened.get())) {
        if (!budget.take_container())
            return;
        const container_session container(*module, opened.get(), name);
        if (!container || module->container_type(container.get()) != api::container_rsa)
            continue;
        std::size_t refused = 0;
        const auto der = module->export_signing_certificate(container.get(), budget.bytes_left(), &refused);
        if (der.empty()) {
            // A certificate that would take the listing past its byte budget
            // ends it; one above the size of any certificate is only skipped.
            if (refused != 0 && refused <= max_certificate_size)
                budget.spend();
            if (budget.spent())
                return;
            continue;
        }
        auto certificate = std::make_shared<x509certificate>(device, application, name, der, module);
        if (certificate->context()) {
            budget.keep_bytes(der.size());
            certificates.push_back(std::move(certificate));
        }
    }
}

}  // namespace

std::vector<certificate_ptr> list_certificates()
{
    const auto module = std::make_shared<SkfModule>();
    if (!module->load())
        throw std::runtime_error("Invalid SKF session");
    std::vector<certificate_ptr> certificates;
    listing_budget budget;
    for (const auto& device_name : module->enum_devices()) {
        if (!budget.take_device())
            break;
        const device_connection device(*module, device_name);
        if (!device)
            continue;
        for (const auto& application_name : module->enum_applications(device.get())) {
            if (!budget.take_application())
                break;
            const application_session application(*module, device.get(), application_name);
            if (application)
                list_containers(module, device_name, application_name, application, certificates, budget);
            if (budget.spent())
                break;
        }
    }
    return certificates;
}

certificate_ptr find_certificate(const std::string& thumbprint)
{
    for (auto& certificate : list_certificates())
        if (thumbprint_matches(certificate, thumbprint))
            return std::move(certificate);
    return {};
}

}  // namespace crypto::skf
