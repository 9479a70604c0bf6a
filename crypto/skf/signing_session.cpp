#include "crypto/skf/signing_session.h"

#include <algorithm>
#include <stdexcept>

#include "crypto/skf/skf_module.h"
#include "crypto/skf/x509certificate.h"

namespace crypto::skf {

const x509certificate& require_skf_certificate(const certificate_ptr& certificate)
{
    const auto* skf_certificate = dynamic_cast<const x509certificate*>(certificate.get());
    if (!skf_certificate || !skf_certificate->module())
        throw std::runtime_error("Invalid SKF session");
    return *skf_certificate;
}

signing_session::signing_session(const x509certificate& certificate, const std::string& pin)
    : module_(certificate.module())
{
    device_.emplace(*module_, certificate.device_name());
    if (!*device_)
        throw std::runtime_error("Invalid SKF device " + certificate.device_name());
    application_.emplace(*module_, device_->get(), certificate.application_name());
    if (!*application_)
        throw std::runtime_error("Invalid SKF application " + certificate.application_name());
    const pin_result verified = module_->verify_pin(application_->get(), pin);
    if (!verified.success)
        throw std::runtime_error("Cannot log in, attempts remain: " + std::to_string(verified.retry_count));
    container_.emplace(*module_, application_->get(), certificate.container_name());
    if (!*container_)
        throw std::runtime_error("Invalid SKF container " + certificate.container_name());
}

byte_vector signing_session::sign(const byte_vector& hash) const
{
    auto signature = module_->rsa_sign(container_->get(), hash);
    std::reverse(signature.begin(), signature.end());
    return signature;
}

}  // namespace crypto::skf
