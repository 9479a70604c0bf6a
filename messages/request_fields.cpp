#include "messages/request_fields.h"

#include <cstdlib>
#include <stdexcept>

#include <boost/property_tree/exceptions.hpp>

#include "crypto/encoding/hex.h"
#include "crypto/sha1/sha1.h"
#include "messages/get_string_array.h"

namespace messages {

using ptree_error = boost::property_tree::ptree_error;

request_keys read_request_keys(const json_tree& arguments)
{
    request_keys keys;
    keys.reader = arguments.get<std::string>("reader");
    keys.container = arguments.get<std::string>("container");
    keys.subject = arguments.get<std::string>("subject_quoted");
    keys.usages = get_string_array(arguments, "eku");
    keys.standard_text = arguments.get<std::string>("cryptoStandart");
    keys.exportable = arguments.get<std::string>("export");
    keys.hash = arguments.get<std::string>("hash_quoted");
    return keys;
}

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

bool equal_ignoring_ascii_case(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && !b[i];
}

std::int32_t crypto_standard(const std::string& text)
{
    if (equal_ignoring_ascii_case(text, "gost2001"))
        return 0;
    return equal_ignoring_ascii_case(text, "gost2012-512") ? 2 : 1;
}

bool integrity_holds(const std::string& subject, const std::vector<std::string>& usages,
                     const std::string& exportable, const std::string& hash)
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

request_options read_request_options(const json_tree& arguments)
{
    request_options options;
    options.start_date = optional_text(arguments, "certStartDate");
    options.expiration_date = optional_text(arguments, "certExpirationDate");
    options.period = optional_text(arguments, "certPeriod");
    options.policy_level = optional_text(arguments, "policyLevel");
    options.template_oid = optional_text(arguments, "templateOid");
    const std::string identification = optional_text(arguments, "identificationKind");
    if (!identification.empty())
        options.identification_kind = static_cast<std::uint32_t>(std::strtoul(identification.c_str(), nullptr, 10));
    options.signing_tool = optional_text(arguments, "userCsp");
    if (const auto node = arguments.get_child_optional("subjectAltName")) {
        options.alt_name = std::make_unique<crypto::util::subject_alt_name>();
        try {
            options.alt_name->dns = get_string_array(*node, "dns");
        } catch (const ptree_error&) {
        }
        options.alt_name->upn = optional_text(*node, "upn");
    }
    return options;
}

}  // namespace messages
