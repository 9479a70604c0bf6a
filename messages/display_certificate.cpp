#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "crypto/x509reader/x509_certificate.h"
#include "messages/commands.h"

namespace messages {
namespace {

json_tree invalid(const std::string& error)
{
    json_tree answer;
    answer.put("valid", "false");
    answer.put("error", error);
    return answer;
}

// The certificate text in any form CryptStringToBinaryA recognises (base64
// with a header, bare base64, raw bytes); empty when it recognises none.
crypto::byte_vector decode_certificate_text(const std::string& text)
{
    if (text.empty() || text.size() > MAXDWORD)
        return {};
    const auto length = static_cast<DWORD>(text.size());
    DWORD size = 0;
    DWORD form = 0;
    if (!CryptStringToBinaryA(text.data(), length, CRYPT_STRING_ANY, nullptr, &size, nullptr, &form) || size == 0)
        return {};
    crypto::byte_vector bytes(size);
    if (!CryptStringToBinaryA(text.data(), length, form, bytes.data(), &size, nullptr, nullptr))
        return {};
    bytes.resize(size);
    return bytes;
}

}  // namespace

// "SerializeCertificate": {"cert": certificate text} -> the viewer's
// {"certificate": {...}}, or {"valid": "false", "error": reason}.
command_result display_certificate::execute(const json_tree& arguments) const
{
    std::string text;
    try {
        text = arguments.get<std::string>("cert");
    } catch (const boost::property_tree::ptree_error& e) {
        return invalid(e.what());
    }

    crypto::x509reader::X509Certificate certificate;
    certificate.set_encoded(decode_certificate_text(text));
    if (!certificate.create_context())
        return invalid("Ошибка чтения сертификата");

    const auto json = certificate.to_json();
    if (!json)
        return invalid("Ошибка чтения сертификата");
    try {
        return from_json(std::string(json.get()));
    } catch (const boost::property_tree::ptree_error& e) {
        return invalid(e.what());
    }
}

}  // namespace messages
