#include <boost/property_tree/exceptions.hpp>

#include "crypto/csp/x509request.h"
#include "messages/commands.h"
#include "messages/in_band_result.h"
#include "messages/request_fields.h"

namespace messages {

// "WriteCertificate": writes an issued certificate onto its container's key
// and, with "install" "1", into the user's personal store. Failures are
// answered in-band.
command_result write_certificate::execute(const json_tree& arguments) const
{
    std::string container, certificate;
    try {
        container = arguments.get<std::string>("container");
        certificate = arguments.get<std::string>("cert");
    } catch (const boost::property_tree::ptree_error& e) {
        return in_band_failure(own_check_failed, std::string("Ошибка обработки данных сертификата: ") + e.what());
    }
    const std::string provider_text = optional_text(arguments, "cryptoProvider");
    const std::string install = optional_text(arguments, "install");

    crypto::csp::x509request request;
    const char* const no_provider = "Не обнаружен соответствующий криптопровайдер";
    if (!request.enumerate_providers()) return in_band_failure(own_check_failed, no_provider);
    const std::int32_t family = equal_ignoring_ascii_case(provider_text, "vipnet") ? 2 : 1;
    const std::int32_t type =
        request.get_provider_type(family, crypto::csp::detect_certificate_standard(certificate.c_str()));
    if (type == -1) return in_band_failure(own_check_failed, no_provider);
    if (!crypto::csp::container_exists(static_cast<DWORD>(type), container.c_str()))
        return in_band_failure(own_check_failed, "Контейнер не найден");

    std::int32_t code = own_check_failed;
    if (!request.write_certificate(family, certificate.c_str(), container.c_str(), install == "1", &code))
        return in_band_failure(code, "");
    return in_band_success();
}

}  // namespace messages
