// The extension texts that are read with the viewer's own TLV reader, and the
// word lists of key usage and identification kind.
#include <cstdio>
#include <string>

#include "crypto/x509reader/display_names.h"
#include "crypto/x509reader/text_forms.h"
#include "crypto/x509reader/tlv.h"

namespace crypto::x509reader {
namespace {

std::string as_text(const byte_vector& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::string key_usage_text(const std::uint8_t* bits, std::size_t size)
{
    static const char* const words[] = {"Цифровая подпись",         "Неотрекаемость",
                                        "Шифрование ключей",         "Шифрование данных",
                                        "Согласование ключей",       "Подпись ключа сертификата",
                                        "Автономное подписание списков отзыва", "Только шифрование"};
    const std::uint8_t byte = size ? bits[0] : 0;
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (!(byte & (0x80 >> i)))
            continue;
        if (!text.empty())
            text += ", ";
        text += words[i];
    }
    char code[8];
    std::snprintf(code, sizeof code, " (%02x)", byte);
    return text + code;
}

std::string subject_key_id_text(const byte_vector& value)
{
    tlv_record record;
    if (!read_tlv(value, record))
        return {};
    return byte_list_text(record.content.data(), record.content.size());
}

std::string authority_info_access_text(const byte_vector& value)
{
    tlv_record outer;
    if (!read_tlv(value, outer))
        return {};
    std::string text;
    tlv_sequence descriptions(outer.content);
    tlv_record description;
    for (int i = 1; descriptions.next(description); ++i) {
        tlv_sequence parts(description.content);
        tlv_record method, location;
        if (!parts.next(method))
            break;
        text += "[" + std::to_string(i) + "]";
        text += "Метод доступа=" + display_name(oid_display_names, oid_to_text(method.content)) + " ";
        text += "URL=" + (parts.next(location) ? as_text(location.content) : std::string()) + " ";
    }
    return text;
}

std::string tlv_string_text(const byte_vector& value)
{
    tlv_record record;
    return read_tlv(value, record) ? as_text(record.content) : std::string();
}

std::string issuer_tools_text(const byte_vector& value)
{
    static const char* const labels[] = {"Средство электронной подписи: %s ", "Заключение на средство ЭП: %s ",
                                         "Средство УЦ: %s ", "Заключение на средство УЦ: %s"};
    tlv_record outer;
    if (!read_tlv(value, outer))
        return {};
    tlv_sequence strings(outer.content);
    std::string text;
    for (int i = 0; i < 4; ++i) {
        tlv_record string;
        const bool present = strings.next(string);
        if (!present && i > 0)
            break;  // the first is always written, the others when present
        const std::string label = labels[i];
        const std::size_t at = label.find("%s");
        text += label.substr(0, at) + (present ? as_text(string.content) : std::string()) + label.substr(at + 2);
    }
    return text;
}

std::string restricted_use_text(const byte_vector& value)
{
    tlv_record outer, first, system, address;
    if (!read_tlv(value, outer))
        return {};
    tlv_sequence elements(outer.content);
    if (!elements.next(first))
        return {};
    tlv_sequence strings(first.content);
    if (!strings.next(address) || !strings.next(system))
        return {};
    return "Ограниченная лицензия на Крипто-Про CSP для использования с закрытым ключом данного сертификата в "
           "рамках системы \"" +
           as_text(system.content) + "\", полный текст доступен по адресу " + as_text(address.content);
}

std::string certificate_template_text(const byte_vector& value)
{
    tlv_record outer, first;
    if (!read_tlv(value, outer))
        return {};
    tlv_sequence elements(outer.content);
    if (!elements.next(first))
        return {};
    const std::string oid = oid_to_text(first.content);
    return oid.empty() ? std::string() : "Идентификатор шаблона = " + oid + " ";
}

std::string identification_kind_text(long long kind)
{
    switch (kind) {
    case 0:
        return "При личном присутствии";
    case 1:
        return "Без личного присутствия с использованием квалифицированной ЭП";
    case 2:
        return "Без личного присутствия с использованием персональных данных, записанных на электронный носитель из "
               "заграничного паспорта";
    case 3:
        return "Без личного присутствия с использованием сведений из ЕСИА и ЕБС";
    default:
        return {};
    }
}

}  // namespace crypto::x509reader
