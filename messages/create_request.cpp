#include <boost/property_tree/exceptions.hpp>

#include "crypto/csp/x509request.h"
#include "crypto/encoding/base64.h"
#include "messages/commands.h"
#include "messages/in_band_result.h"
#include "messages/request_fields.h"

namespace messages {
namespace {

using ptree_error = boost::property_tree::ptree_error;

std::int32_t family_from(const std::string& text)
{
    if (equal_ignoring_ascii_case(text, "cryptopro")) return 1;
    if (equal_ignoring_ascii_case(text, "vipnet")) return 2;
    return 0;
}

const char* const no_provider = "Не обнаружен соответствующий криптопровайдер";

}  // namespace

// "CreateRequest": a new key container with a key-exchange key pair and the
// PKCS#10 request for it, in base64. Failures are answered in-band.
command_result create_request::execute(const json_tree& arguments) const
{
    request_keys keys;
    std::string provider_text;
    try {
        keys = read_request_keys(arguments);
        provider_text = arguments.get<std::string>("cryptoProvider");
    } catch (const ptree_error& e) {
        return in_band_failure(own_check_failed, std::string("Ошибка обработки данных запроса: ") + e.what());
    }
    const request_options options = read_request_options(arguments);

    const char* error = nullptr;
    if (keys.subject.empty()) error = "Отсутствуют данные в поле Subject";
    if (!error && !integrity_holds(keys.subject, keys.usages, keys.exportable, keys.hash))
        error = "Ошибка проверки целостности данных запроса";
    if (error) return in_band_failure(own_check_failed, error);

    crypto::csp::x509request request;
    const std::int32_t standard = crypto_standard(keys.standard_text);
    std::int32_t type = -1;
    const wchar_t* provider_name = nullptr;
    std::int32_t provider_family = 0;
    if (!request.enumerate_providers()) {
        error = no_provider;
    } else {
        type = request.get_provider_type(family_from(provider_text), standard);
        provider_name = request.get_provider_name(static_cast<DWORD>(type));
        provider_family = request.get_provider_family(static_cast<DWORD>(type));
        if (!provider_name) error = no_provider;
    }
    if (keys.usages.empty()) error = "Массив EKU (улучшенный ключ) пуст";
    if (!error && crypto::csp::container_exists(static_cast<DWORD>(type), keys.container.c_str()))
        error = "Контейнер с таким именем уже существует";
    if (error) return in_band_failure(own_check_failed, error);

    const std::string path = provider_family == 1 ? "\\\\.\\" + keys.reader + "\\" + keys.container : keys.container;
    std::int32_t identification_kind = static_cast<std::int32_t>(options.identification_kind.value_or(0));

    std::int32_t code = 0;
    const auto blob = request.create_request(
        provider_name, provider_family, standard, keys.subject.c_str(), &keys.usages, keys.exportable == "1",
        or_null(options.start_date), or_null(options.expiration_date), or_null(options.period),
        or_null(options.policy_level), or_null(options.template_oid),
        options.identification_kind ? &identification_kind : nullptr, options.alt_name.get(), path.c_str(),
        or_null(options.signing_tool), &code);
    if (!blob) return in_band_failure(code, "Ошибка создания запроса");

    json_tree result = in_band_success();
    result.put("x509request", crypto::base64_encode(blob->data.get(), blob->length));
    return result;
}

}  // namespace messages
