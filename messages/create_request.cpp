#include <cstdlib>
#include <memory>

#include <boost/property_tree/exceptions.hpp>

#include "crypto/csp/x509request.h"
#include "crypto/encoding/base64.h"
#include "crypto/encoding/hex.h"
#include "crypto/sha1/sha1.h"
#include "messages/commands.h"
#include "messages/get_string_array.h"
#include "messages/in_band_result.h"

namespace messages {
namespace {

using ptree_error = boost::property_tree::ptree_error;

// An optional key: empty when absent.
std::string optional_text(const json_tree& arguments, const char* key)
{
    try {
        return arguments.get<std::string>(key);
    } catch (const ptree_error&) {
        return std::string();
    }
}

const char* or_null(const std::string& text) { return text.empty() ? nullptr : text.c_str(); }

bool equal_ignoring_ascii_case(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return i == a.size() && !b[i];
}

// The SHA-1 of the subject, the EKU elements and "export", one after the other.
bool integrity_holds(const std::string& subject, const std::vector<std::string>& usages, const std::string& exportable,
                     const std::string& hash)
{
    crypto::sha1 digest;
    digest.init();
    digest.update(subject.data(), static_cast<std::uint32_t>(subject.size()));
    for (const auto& usage : usages) digest.update(usage.data(), static_cast<std::uint32_t>(usage.size()));
    digest.update(exportable.data(), static_cast<std::uint32_t>(exportable.size()));
    return digest.final() == crypto::hex_decode(hash.c_str());
}

std::int32_t standard_from(const std::string& text)
{
    if (equal_ignoring_ascii_case(text, "gost2001")) return 0;
    if (equal_ignoring_ascii_case(text, "gost2012-512")) return 2;
    return 1;
}

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
    std::string reader, container, subject, standard_text, exportable, hash, provider_text;
    std::vector<std::string> usages;
    try {
        reader = arguments.get<std::string>("reader");
        container = arguments.get<std::string>("container");
        subject = arguments.get<std::string>("subject_quoted");
        usages = get_string_array(arguments, "eku");
        standard_text = arguments.get<std::string>("cryptoStandart");
        exportable = arguments.get<std::string>("export");
        hash = arguments.get<std::string>("hash_quoted");
        provider_text = arguments.get<std::string>("cryptoProvider");
    } catch (const ptree_error& e) {
        return in_band_failure(own_check_failed, std::string("Ошибка обработки данных запроса: ") + e.what());
    }
    const std::string start_date = optional_text(arguments, "certStartDate");
    const std::string expiration_date = optional_text(arguments, "certExpirationDate");
    const std::string period = optional_text(arguments, "certPeriod");
    const std::string policy_level = optional_text(arguments, "policyLevel");
    const std::string template_oid = optional_text(arguments, "templateOid");
    const std::string identification_text = optional_text(arguments, "identificationKind");
    std::unique_ptr<crypto::util::subject_alt_name> alt_name;
    if (const auto node = arguments.get_child_optional("subjectAltName")) {
        alt_name.reset(new crypto::util::subject_alt_name);
        try {
            alt_name->dns = get_string_array(*node, "dns");
        } catch (const ptree_error&) {
        }
        alt_name->upn = optional_text(*node, "upn");
    }
    const std::string signing_tool = optional_text(arguments, "userCsp");

    const char* error = nullptr;
    if (subject.empty()) error = "Отсутствуют данные в поле Subject";
    if (!error && !integrity_holds(subject, usages, exportable, hash))
        error = "Ошибка проверки целостности данных запроса";
    if (error) return in_band_failure(own_check_failed, error);

    crypto::csp::x509request request;
    const std::int32_t standard = standard_from(standard_text);
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
    if (usages.empty()) error = "Массив EKU (улучшенный ключ) пуст";
    if (!error && crypto::csp::container_exists(static_cast<DWORD>(type), container.c_str()))
        error = "Контейнер с таким именем уже существует";
    if (error) return in_band_failure(own_check_failed, error);

    const std::string path = provider_family == 1 ? "\\\\.\\" + reader + "\\" + container : container;
    std::int32_t identification_kind = 0;
    if (!identification_text.empty())
        identification_kind = static_cast<std::int32_t>(std::strtoul(identification_text.c_str(), nullptr, 10));

    std::int32_t code = 0;
    const auto blob = request.create_request(
        provider_name, provider_family, standard, subject.c_str(), &usages, exportable == "1", or_null(start_date),
        or_null(expiration_date), or_null(period), or_null(policy_level), or_null(template_oid),
        identification_text.empty() ? nullptr : &identification_kind, alt_name.get(), path.c_str(),
        or_null(signing_tool), &code);
    if (!blob) return in_band_failure(code, "Ошибка создания запроса");

    json_tree result = in_band_success();
    result.put("x509request", crypto::base64_encode(blob->data.get(), blob->length));
    return result;
}

}  // namespace messages
