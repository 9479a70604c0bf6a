#include <boost/property_tree/exceptions.hpp>

#include "crypto/encoding/base64.h"
#include "crypto/pkcs11/x509request.h"
#include "crypto/secure_wipe.h"
#include "messages/commands.h"
#include "messages/in_band_result.h"
#include "messages/request_fields.h"
#include "messages/token_request.h"

namespace messages {

// "CreateRequestHW": a GOST key pair generated on a PKCS#11 token under the
// container name, and the PKCS#10 request for it signed on the token, in
// base64. Failures are answered in-band.
command_result create_request_hw::execute(const json_tree& arguments) const
{
    request_keys keys;
    std::string card_type_text, serial, pin;
    const crypto::wipe_on_exit<std::string> wipe_pin(pin);
    const char* error = nullptr;
    std::string missing_key;
    try {
        keys = read_request_keys(arguments);
        card_type_text = arguments.get<std::string>("card_type");
        serial = arguments.get<std::string>("card_serial");
        pin = arguments.get_child("pincode").data();  // one copy, wiped
    } catch (const boost::property_tree::ptree_error& e) {
        missing_key = std::string("Ошибка обработки данных запроса: ") + e.what();
    }
    const std::int32_t card_type = missing_key.empty() ? card_type_number(card_type_text) : 0;

    const request_options options = read_request_options(arguments);

    if (!missing_key.empty())
        return in_band_failure(own_check_failed, missing_key);
    if (!integrity_holds(keys.subject, keys.usages, keys.exportable, keys.hash))
        error = "Ошибка проверки целостности данных запроса";
    if (keys.usages.empty())
        error = "Массив EKU (улучшенный ключ) пуст";
    if (error)
        return in_band_failure(own_check_failed, error);

    crypto::pkcs11::x509request request;
    token_login login(request);

    error = open_token(request, card_type, serial);
    if (!error && request.has_public_key(keys.container.c_str()))
        error = "Контейнер с таким именем уже существует";
    if (!error)
        error = login.login(pin);
    if (error)
        return in_band_failure(own_check_failed, error);

    std::uint32_t identification_kind = options.identification_kind.value_or(0);
    std::int32_t code = 0;
    const auto blob = request.create_request(
        crypto_standard(keys.standard_text), keys.subject.c_str(), &keys.usages, or_null(options.start_date),
        or_null(options.expiration_date), or_null(options.period), or_null(options.policy_level),
        or_null(options.template_oid), options.identification_kind ? &identification_kind : nullptr,
        options.alt_name.get(), or_null(keys.container), or_null(options.signing_tool), &code);
    if (!blob)
        return in_band_failure(code, "Ошибка создания запроса");
    json_tree result = in_band_success();
    result.put("x509request", crypto::base64_encode(blob->data.get(), blob->length));
    return result;
}

}  // namespace messages
