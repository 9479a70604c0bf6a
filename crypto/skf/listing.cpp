#include <memory>
#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "crypto/skf/backend.h"
#include "crypto/skf/handles.h"
#include "crypto/skf/skf_module.h"
#include "crypto/skf/x509certificate.h"

namespace crypto::skf {
namespace {

void list_containers(const std::shared_ptr<SkfModule>& module, const std::string& device,
                     const std::string& application, const application_session& opened,
                     std::vector<certificate_ptr>& certificates)
{
    for (const auto& name : module->enum_containers(opened.get())) {
        const container_session container(*module, opened.get(), name);
        if (!container || module->container_type(container.get()) != api::container_rsa)
            continue;
        const auto der = module->export_signing_certificate(container.get());
        if (der.empty())
            continue;
        auto certificate = std::make_shared<x509certificate>(device, application, name, der, module);
        if (certificate->context())
            certificates.push_back(std::move(certificate));
    }
}

}  // namespace

std::vector<certificate_ptr> list_certificates()
{
    const auto module = std::make_shared<SkfModule>();
    if (!module->load())
        throw std::runtime_error("Invalid SKF session");
    std::vector<certificate_ptr> certificates;
    for (const auto& device_name : module->enum_devices()) {
        const device_connection device(*module, device_name);
        if (!device)
            continue;
        for (const auto& application_name : module->enum_applications(device.get())) {
            const application_session application(*module, device.get(), application_name);
            if (application)
                list_containers(module, device_name, application_name, application, certificates);
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
