#include <cstdlib>
#include <memory>
#include <stdexcept>

#include <boost/property_tree/exceptions.hpp>

#include "crypto/encoding/base64.h"
#include "crypto/encoding/hex.h"
#include "crypto/pkcs11/x509request.h"
#include "crypto/sha1/sha1.h"
#include "messages/commands.h"
#include "messages/get_string_array.h"
#include "messages/in_band_result.h"
#include "messages/token_request.h"

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

const char* or_null(const std::string& text)
{
    return text.empty() ? nullptr : text.c_str();
}

std::string lower_ascii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// "gost2001" 0, "gost2012-256" 1, "gost2012-512" 2 (any letter case), anything else 1.
int crypto_standard(const std::string& text)
{
    const std::string name = lower_ascii(text);
    if (name == "gost2001")
        return 0;
    return name == "gost2012-512" ? 2 : 1;
}

// The SHA-1 of the subject, the EKU elements and "export", one after the
// other, against the request's hexadecimal digest. An empty text guards
// nothing: "Fatal error!".
bool integrity_holds(const std::string& subject, const std::vector<std::string>& usages, const std::string& exportable,
                     const std::string& hash)
{
    crypto::sha1 digest;
    digest.init();
    std::size_t length = subject.size() + exportable.size();
    digest.update(subject.data(), static_cast<std::uint32_t>(subject.size()));
    for (const auto& usage : usages) {
        digest.update(usage.data(), static_cast<std::uint32_t>(usage.size()));
        length += usage.size();
    }
    digest.update(exportable.data(), static_cast<std::uint32_t>(exportable.size()));
    if (length == 0)
        throw std::runtime_error("Fatal error!");
    return digest.final() == crypto::hex_decode(hash.c_str());
}

}  // namespace

// "CreateRequestHW": a GOST key pair generated on a PKCS#11 token under the
// container name, and the PKCS#10 request for it signed on the token, in
// base64. Failures are answered in-band.
command_result create_request_hw::execute(const json_tree& arguments) const
{
    std::string container, subject, standard_text, exportable, hash, card_type_text, serial, pin;
    std::vector<std::string> usages;
    const char* error = nullptr;
    std::string missing_key;
    try {
        arguments.get<std::string>("reader");
        container = arguments.get<std::string>("container");
        subject = arguments.get<std::string>("subject_quoted");
        usages = get_string_array(arguments, "eku");
        standard_text = arguments.get<std::string>("cryptoStandart");
        exportable = arguments.get<std::string>("export");
        hash = arguments.get<std::string>("hash_quoted");
        card_type_text = arguments.get<std::string>("card_type");
        serial = arguments.get<std::string>("card_serial");
        pin = arguments.get<std::string>("pincode");
    } catch (const ptree_error& e) {
        missing_key = std::string("Ошибка обработки данных запроса: ") + e.what();
    }
    const std::int32_t card_type = missing_key.empty() ? card_type_number(card_type_text) : 0;

    const std::string start_date = optional_text(arguments, "certStartDate");
    const std::string expiration_date = optional_text(arguments, "certExpirationDate");
    const std::string period = optional_text(arguments, "certPeriod");
    const std::string policy_level = optional_text(arguments, "policyLevel");
    const std::string template_oid = optional_text(arguments, "templateOid");
    const std::string identification_text = optional_text(arguments, "identificationKind");
    const std::string signing_tool = optional_text(arguments, "userCsp");
    std::unique_ptr<crypto::util::subject_alt_name> alt_name;
    if (const auto node = arguments.get_child_optional("subjectAltName")) {
        alt_name = std::make_unique<crypto::util::subject_alt_name>();
        try {
            alt_name->dns = get_string_array(*node, "dns");
        } catch (const ptree_error&) {
        }
        alt_name->upn = optional_text(*node, "upn");
    }

    if (!missing_key.empty())
        return in_band_failure(own_check_failed, missing_key);
    if (!integrity_holds(subject, usages, exportable, hash))
        error = "Ошибка проверки целостности данных запроса";
    if (usages.empty())
        error = "Массив EKU (улучшенный ключ) пуст";
    if (error)
        return in_band_failure(own_check_failed, error);

    crypto::pkcs11::x509request request;
    token_login login(request);

    error = open_token(request, card_type, serial);
    if (!error && request.has_public_key(container.c_str()))
        error = "Контейнер с таким именем уже существует";
    if (!error)
        error = login.login(pin);
    if (error)
        return in_band_failure(own_check_failed, error);

    std::uint32_t identification_kind = 0;
    if (!identification_text.empty())
        identification_kind = static_cast<std::uint32_t>(std::strtoul(identification_text.c_str(), nullptr, 10));
    std::int32_t code = 0;
    const auto blob = request.create_request(
        crypto_standard(standard_text), subject.c_str(), &usages, or_null(start_date), or_null(expiration_date),
        or_null(period), or_null(policy_level), or_null(template_oid),
        identification_text.empty() ? nullptr : &identification_kind, alt_name.get(), or_null(container),
        or_null(signing_tool), &code);
    if (!blob)
        return in_band_failure(code, "Ошибка создания запроса");
    json_tree result = in_band_success();
    result.put("x509request", crypto::base64_encode(blob->data.get(), blob->length));
    return result;
}

}  // namespace messages
