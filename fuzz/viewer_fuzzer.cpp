// The certificate viewer's platform-free pieces over arbitrary bytes: the DER
// check in front of the system's decoder (it reads every page's certificate
// bytes), the TLV reader, OID text, hexadecimal forms, the extension texts
// read by TLV, the signature walk, name texts (with the value tags of an
// encoded name), and the JSON text, which must
// always parse and be valid UTF-8.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "crypto/encoding/name_text.h"
#include "crypto/util/der_check.h"
#include "crypto/x509reader/text_forms.h"
#include "crypto/x509reader/tlv.h"
#include "messages/json.h"

namespace x = crypto::x509reader;

namespace {

// Aborts unless text is well-formed UTF-8 (as json_escape promises).
void check_utf8(const std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > text.size())
            std::abort();
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                std::abort();
        i += n;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const crypto::byte_vector bytes(data, data + size);
    // Bytes the check passes read as one whole element, as the decoder reads them.
    namespace der = crypto::util::der;
    const bool certificate_sound = der::check_certificate(data, size) == der::check_result::sound;
    x::tlv_record record;
    if (certificate_sound && !x::read_tlv(bytes, record))
        std::abort();
    for (const char* oid : {"2.5.29.31", "2.5.29.15", "2.5.29.17", "2.5.29.35", "2.5.29.37", "1.2.643.100.114"}) {
        // A sound value is exactly one element.
        if (der::check_extension(oid, data, size) == der::check_result::sound &&
            (!x::read_tlv(bytes, record) || record.size != size))
            std::abort();
    }
    if (der::check_public_key("1.2.840.113549.1.1.1", data, size) == der::check_result::sound &&
        (!x::read_tlv(bytes, record) || record.size != size || record.tag != 0x30))
        std::abort();
    if (x::read_tlv(bytes, record) && (record.size > size || record.content.size() != record.length))
        std::abort();
    x::tlv_sequence sequence(bytes);
    while (sequence.next(record)) {
    }

    x::certificate_view view;
    view.serial_number = x::serial_number_text(data, size);
    view.key_algorithm_oid = x::oid_to_text(bytes);
    view.key_parameters = x::tlv_lower_text(data, size);
    view.key_value = x::key_value_text(data, size);
    x::signature_part signature;
    view.has_signature = x::read_signature(data, size, signature);
    view.signature_oid = signature.oid;
    view.signature_value = x::signature_value_text(signature.reversed);
    const std::string raw(bytes.begin(), bytes.end());
    view.extensions = {
        {"2.5.29.15", true, x::key_usage_text(data, size)},
        {"2.5.29.14", false, x::subject_key_id_text(bytes)},
        {"1.3.6.1.5.5.7.1.1", false, x::authority_info_access_text(bytes)},
        {"1.2.643.100.111", false, x::tlv_string_text(bytes)},
        {"1.2.643.100.112", false, x::issuer_tools_text(bytes)},
        {"1.2.643.2.2.49.2", false, x::restricted_use_text(bytes)},
        {"1.3.6.1.4.1.311.21.7", false, x::certificate_template_text(bytes)},
        {"1.2.3", false, x::byte_list_text(data, size) + x::authority_serial_text(data, size)},
        {raw, false, raw},
    };

    // The bytes as a name text of 16-bit units.
    std::vector<crypto::wide_char> wide(size / 2 + 1, 0);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        wide[i / 2] = static_cast<crypto::wide_char>(data[i] << 8 | data[i + 1]);
    // Value tags from the bytes, one for each attribute of the text; a name
    // that reads as a Name gives its own.
    std::size_t attributes = 0;
    crypto::for_each_name_attribute(wide.data(), [&](const crypto::name_text_attribute&) { ++attributes; });
    std::vector<std::uint8_t> tags;
    if (!x::name_value_tags(data, size, tags))
        for (std::size_t i = 0; i < attributes; ++i)
            tags.push_back(data[i % size]);
    view.subject = x::parse_rdn_text(wide.data(), tags);
    if (tags.size() != attributes && !view.subject.empty())
        std::abort();
    view.issuer = {{raw, raw}};
    view.not_before = x::rdn_list_to_text(view.subject);

    const std::string text = x::certificate_json(view);
    check_utf8(text);
    check_utf8(x::json_escape(raw));
    messages::from_json(text);  // throws, and so fails the run, when the text does not parse
    return 0;
}
