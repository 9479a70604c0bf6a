// The viewer's JSON text. Every value goes through json_escape, so the text
// always parses and is valid UTF-8 whatever a certificate holds.
#include <cstdio>
#include <string>

#include "crypto/x509reader/display_names.h"
#include "crypto/x509reader/text_forms.h"

namespace crypto::x509reader {
namespace {

bool continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when it is not
// one (overlong forms, surrogates and values above U+10FFFF included).
std::size_t sequence_length(const std::string& text, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t left = text.size() - i;
    auto at = [&text, i](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return left >= 2 && continuation(at(1)) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (left < 3 || !continuation(at(1)) || !continuation(at(2)))
            return 0;
        if ((lead == 0xE0 && at(1) < 0xA0) || (lead == 0xED && at(1) > 0x9F))
            return 0;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (left < 4 || !continuation(at(1)) || !continuation(at(2)) || !continuation(at(3)))
            return 0;
        if ((lead == 0xF0 && at(1) < 0x90) || (lead == 0xF4 && at(1) > 0x8F))
            return 0;
        return 4;
    }
    return 0;
}

void put_string(std::string& out, const std::string& value)
{
    out += '"';
    out += json_escape(value);
    out += '"';
}

void put_names(std::string& out, const char* key, const rdn_list& list)
{
    out += "\"";
    out += key;
    out += "\": {\"rdn\": [";
    for (std::size_t i = 0; i < list.size(); ++i) {
        out += i == 0 ? "{" : ", {";
        out += "\"oid\" :";
        put_string(out, list[i].oid);
        out += ", \"name\": ";
        put_string(out, display_name(oid_display_names, list[i].oid));
        out += ", \"value\": ";
        put_string(out, list[i].value);
        out += "}";
    }
    out += "]}, ";
}

}  // namespace

std::string json_escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
            ++i;
        } else if (const std::size_t length = sequence_length(text, i)) {
            out.append(text, i, length);
            i += length;
        } else {
            out += "\xEF\xBF\xBD";  // U+FFFD for the byte that starts no sequence
            ++i;
        }
    }
    return out;
}

std::string certificate_json(const certificate_view& view)
{
    std::string out = "{\"certificate\": {";
    out += "\"version\": \"" + std::to_string(view.version_field + 1) + "\", ";
    out += "\"serial-number\": ";
    put_string(out, view.serial_number);
    out += ", ";
    put_names(out, "issuer", view.issuer);
    out += "\"validity\": {\"notBefore\": ";
    put_string(out, view.not_before);
    out += ", \"notAfter\": ";
    put_string(out, view.not_after);
    out += "}, ";
    put_names(out, "subject", view.subject);
    out += "\"subject-public-key-info\": {\"public-key-algorithm\": {\"oid\": ";
    put_string(out, view.key_algorithm_oid);
    out += ", \"name\": ";
    put_string(out, display_name(algorithm_names, view.key_algorithm_oid));
    out += ", \"parameters\": ";
    put_string(out, view.key_parameters);
    out += "}, \"value\": ";
    put_string(out, view.key_value);
    out += ", \"unused-bits\": \"" + std::to_string(view.key_unused_bits) + "\"}, \n";
    out += "\"extensions\": [";
    for (std::size_t i = 0; i < view.extensions.size(); ++i) {
        const extension_view& extension = view.extensions[i];
        out += i == 0 ? "{" : ", {";
        out += "\"order\": \"" + std::to_string(i + 1) + "\", \"oid\": ";
        put_string(out, extension.oid);
        out += ", \"critical\": \"";
        out += extension.critical ? "true" : "false";
        out += "\", \"name\": ";
        put_string(out, display_name(extension_names, extension.oid));
        out += ", \"value\": ";
        put_string(out, extension.text);
        out += "}";
    }
    out += "]";
    if (view.has_signature) {
        out += ", \"signed-content\": {\"signature-algorithm\": {\"oid\": ";
        put_string(out, view.signature_oid);
        out += ", \"name\": ";
        put_string(out, display_name(algorithm_names, view.signature_oid));
        out += "}, \"signature-value\": ";
        put_string(out, view.signature_value);
        out += "}";
    }
    out += "}}";
    return out;
}

}  // namespace crypto::x509reader
