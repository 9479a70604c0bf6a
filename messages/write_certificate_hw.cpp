#include <boost/property_tree/exceptions.hpp>

#include "crypto/pkcs11/x509request.h"
#include "crypto/secure_wipe.h"
#include "messages/commands.h"
#include "messages/in_band_result.h"
#include "messages/token_request.h"

namespace messages {

// "WriteCertificateHW": the certificate issued for a token request written
// onto the token beside its key pair. Failures are answered in-band; a failed
// write of the certificate itself carries the token's code and an empty text.
command_result write_certificate_hw::execute(const json_tree& arguments) const
{
    std::string container, certificate, card_type_text, serial, pin;
    const crypto::wipe_on_exit<std::string> wipe_pin(pin);
    try {
        container = arguments.get<std::string>("container");
        certificate = arguments.get<std::string>("cert");
        card_type_text = arguments.get<std::string>("card_type");
        serial = arguments.get<std::string>("card_serial");
        pin = arguments.get_child("pincode").data();  // one copy, wiped
    } catch (const boost::property_tree::ptree_error& e) {
        return in_band_failure(own_check_failed, std::string("Ошибка обработки данных сертификата: ") + e.what());
    }
    const std::int32_t card_type = card_type_number(card_type_text);

    crypto::pkcs11::x509request request;
    token_login login(request);

    const char* error = open_token(request, card_type, serial);
    if (!error && !request.has_public_key(container.c_str()))
        error = "Контейнер не найден";
    if (!error && request.has_certificate(container.c_str()))
        error = "Сертификат уже установлен в контейнер";
    if (!error)
        error = login.login(pin);
    if (error)
        return in_band_failure(own_check_failed, error);

    std::int32_t code = 0;
    if (!request.write_certificate(container.c_str(), certificate.c_str(), &code))
        return in_band_failure(code, std::string());
    return in_band_success();
}

}  // namespace messages
