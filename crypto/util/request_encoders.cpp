#include "crypto/util/request_encoders.h"

#include <cstring>
#include <stdexcept>

#include "crypto/sha1/sha1.h"
#include "crypto/util/der.h"

namespace crypto {
namespace util {
namespace {

void set_code(std::int32_t* code, std::int32_t value)
{
    if (code) *code = value;
}

blob_ptr success(const byte_vector& bytes, std::int32_t* code)
{
    set_code(code, 0);
    return blob_ptr(new encoded_blob(bytes));
}

blob_ptr failure(std::int32_t value, std::int32_t* code)
{
    set_code(code, value);
    return nullptr;
}

std::size_t wide_length(const wide_char* text)
{
    std::size_t n = 0;
    if (text)
        while (text[n]) ++n;
    return n;
}

// The string types of subject values (CERT_RDN_*).
enum class string_type { numeric, printable, ia5, utf8 };

bool printable_char(wide_char c)
{
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return c != 0 && std::strchr(" '()+,-./:=?", static_cast<char>(c)) != nullptr && c < 0x80;
}

string_type type_for_key(const char* key, const wide_char* value, std::size_t units)
{
    static const char* const numeric_keys[] = {"1.2.643.100.1", "1.2.643.100.3", "1.2.643.3.131.1.1",
                                               "1.2.643.100.4", "1.2.643.100.5"};
    for (const char* numeric : numeric_keys)
        if (std::strcmp(key, numeric) == 0) return string_type::numeric;
    if (std::strcmp(key, "1.2.840.113549.1.9.1") == 0) return string_type::ia5;
    if (std::strcmp(key, "2.5.4.6") == 0) return string_type::printable;
    if (std::strcmp(key, "1.2.840.113549.1.9.2") == 0) {
        for (std::size_t i = 0; i < units; ++i)
            if (value[i] < 0x1F || value[i] > 0x7F) return string_type::utf8;
        return string_type::printable;
    }
    return string_type::utf8;
}

// The DER of one value in its string type; false with the CryptoAPI code
// when the type does not allow a character.
bool encode_string(string_type type, const wide_char* value, std::size_t units, byte_vector& out,
                   std::int32_t& error)
{
    if (type == string_type::utf8) {
        char* utf8 = units ? wide_to_utf8(value, units) : nullptr;
        const byte_vector contents = utf8 ? byte_vector(utf8, utf8 + std::strlen(utf8)) : byte_vector();
        delete[] utf8;
        out = der::tlv(der::utf8_string, contents);
        return true;
    }
    byte_vector contents;
    contents.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const wide_char c = value[i];
        bool allowed = false;
        switch (type) {
        case string_type::numeric:
            // Digits only, as CryptoAPI's check has it (a blank is refused too).
            allowed = c >= '0' && c <= '9';
            error = crypt_e_invalid_numeric_string;
            break;
        case string_type::printable:
            allowed = printable_char(c);
            error = crypt_e_invalid_printable_string;
            break;
        default:
            allowed = c < 0x80;
            error = crypt_e_invalid_ia5_string;
            break;
        }
        if (!allowed) return false;
        contents.push_back(static_cast<std::uint8_t>(c));
    }
    const std::uint8_t tag = type == string_type::numeric     ? der::numeric_string
                             : type == string_type::printable ? der::printable_string
                                                              : der::ia5_string;
    out = der::tlv(tag, contents);
    return true;
}

byte_vector blob_bytes(const encoded_blob& blob) { return blob.bytes(); }

byte_vector extension(const char* oid, bool critical, const encoded_blob& value)
{
    byte_vector id;
    der::object_id(oid, id);
    std::vector<byte_vector> parts{id};
    if (critical) parts.push_back({der::boolean, 0x01, 0xFF});
    parts.push_back(der::tlv(der::octet_string, blob_bytes(value)));
    return der::sequence_of(parts);
}

byte_vector attribute(const char* oid, std::vector<byte_vector> values)
{
    byte_vector id;
    der::object_id(oid, id);
    return der::sequence_of({id, der::set_of(std::move(values))});
}

}  // namespace

encoded_blob::encoded_blob(const byte_vector& bytes)
    : data(new std::uint8_t[bytes.empty() ? 1 : bytes.size()]), length(static_cast<std::uint32_t>(bytes.size()))
{
    if (!bytes.empty()) std::memcpy(data.get(), bytes.data(), bytes.size());
}

byte_vector encoded_blob::bytes() const
{
    return data ? byte_vector(data.get(), data.get() + length) : byte_vector();
}

const char* signature_algorithm_oid(int standard)
{
    if (standard == 1) return "1.2.643.7.1.1.3.2";
    if (standard == 2) return "1.2.643.7.1.1.3.3";
    return "1.2.643.2.2.3";
}

blob_ptr encode_subject(const char* text, std::int32_t* code)
{
    if (!text) return failure(-1, code);
    std::vector<byte_vector> names;
    for (const auto& entry : parse_subject_text(text)) {
        byte_vector id;
        if (!der::object_id(entry->key, id)) return failure(crypt_e_asn1_error, code);
        const std::size_t units = entry->value_length / 2;
        byte_vector value;
        std::int32_t error = 0;
        if (!encode_string(type_for_key(entry->key, entry->value, units), entry->value, units, value, error))
            return failure(error, code);
        names.push_back(der::set_of({der::sequence_of({id, value})}));
    }
    return success(der::sequence_of(names), code);
}

blob_ptr encode_enrollment_csp_provider(const wide_char* provider_name, std::int32_t* code)
{
    if (!provider_name) return failure(-1, code);
    return success(der::sequence_of({der::integer(1), der::bmp(provider_name, wide_length(provider_name)),
                                     der::bits({}, 0)}),
                   code);
}

blob_ptr encode_enhanced_key_usage(const std::vector<std::string>* usages, std::int32_t* code)
{
    if (!usages || usages->empty()) return failure(-2, code);
    std::vector<byte_vector> ids;
    for (const auto& usage : *usages) {
        byte_vector id;
        if (!der::object_id(usage.c_str(), id)) return failure(crypt_e_asn1_error, code);
        ids.push_back(id);
    }
    return success(der::sequence_of(ids), code);
}

blob_ptr encode_key_usage(std::int32_t* code) { return success(der::bits({0xF8}, 0), code); }

blob_ptr encode_subject_key_id(const public_key_info* key, std::int32_t* code)
{
    if (!key) return failure(-1, code);
    if (key->key.empty()) throw std::runtime_error("Fatal error!");
    sha1 digest;
    digest.init();
    digest.update(key->key.data(), static_cast<std::uint32_t>(key->key.size()));
    return success(der::tlv(der::octet_string, digest.final()), code);
}

blob_ptr encode_certificate_template(const char* template_oid, std::int32_t* code)
{
    if (!template_oid) return failure(0, code);
    byte_vector id;
    if (!der::object_id(template_oid, id)) return failure(crypt_e_asn1_error, code);
    return success(der::sequence_of({id, der::integer(1)}), code);
}

blob_ptr encode_policies(const char* level, std::int32_t* code)
{
    if (!level) return failure(0, code);
    const bool kc2 = std::strlen(level) == 3 && (level[0] == 'K' || level[0] == 'k') &&
                     (level[1] == 'C' || level[1] == 'c') && level[2] == '2';
    std::vector<const char*> oids{"1.2.643.100.113.1"};
    if (kc2) oids.push_back("1.2.643.100.113.2");
    std::vector<byte_vector> policies;
    for (const char* oid : oids) {
        byte_vector id;
        der::object_id(oid, id);
        policies.push_back(der::sequence_of({id}));
    }
    return success(der::sequence_of(policies), code);
}

blob_ptr encode_integer(const std::int32_t* value, std::int32_t* code)
{
    if (!value) return nullptr;
    return success(der::integer(*value), code);
}

blob_ptr encode_subject_alt_name(const subject_alt_name* names, std::int32_t* code)
{
    if (!names || (names->dns.empty() && names->upn.empty())) return nullptr;
    std::vector<byte_vector> entries;
    for (const auto& dns : names->dns) {
        wide_char* wide = utf8_to_wide(dns.c_str());
        const std::size_t units = wide_length(wide);
        byte_vector contents;
        bool ok = true;
        for (std::size_t i = 0; i < units && ok; ++i) {
            ok = wide[i] < 0x80;
            contents.push_back(static_cast<std::uint8_t>(wide[i]));
        }
        delete[] wide;
        if (!ok) return failure(crypt_e_invalid_ia5_string, code);
        entries.push_back(der::tlv(0x82, contents));  // [2] dNSName
    }
    if (!names->upn.empty()) {
        wide_char* wide = utf8_to_wide(names->upn.c_str());
        const byte_vector value = der::bmp(wide, wide_length(wide));
        delete[] wide;
        byte_vector id;
        der::object_id("1.3.6.1.4.1.311.20.2.3", id);
        // [0] otherName { type-id, [0] EXPLICIT value }
        entries.push_back(der::tlv(0xA0, der::concat({id, der::tlv(0xA0, value)})));
    }
    return success(der::sequence_of(entries), code);
}

blob_ptr encode_signing_tool(const char* text, std::int32_t* code)
{
    if (!text) return failure(-1, code);
    return success(der::tlv(der::utf8_string, byte_vector(text, text + std::strlen(text))), code);
}

blob_ptr encode_extensions(const encoded_blob* key_usage, const encoded_blob* enhanced_key_usage,
                           const encoded_blob* subject_key_id, const encoded_blob* signing_tool,
                           const encoded_blob* certificate_template, const encoded_blob* policies,
                           const encoded_blob* identification_kind, const encoded_blob* alt_name,
                           std::int32_t* code)
{
    if (!key_usage || !enhanced_key_usage || !subject_key_id || !signing_tool) return failure(-1, code);
    std::vector<byte_vector> list{extension("2.5.29.15", true, *key_usage),
                                  extension("2.5.29.37", false, *enhanced_key_usage),
                                  extension("2.5.29.14", false, *subject_key_id),
                                  extension("1.2.643.100.111", false, *signing_tool)};
    if (certificate_template) list.push_back(extension("1.3.6.1.4.1.311.21.7", false, *certificate_template));
    if (policies) list.push_back(extension("2.5.29.32", false, *policies));
    if (identification_kind) list.push_back(extension("1.2.643.100.114", false, *identification_kind));
    if (alt_name) list.push_back(extension("2.5.29.17", false, *alt_name));
    return success(der::sequence_of(list), code);
}

bool encode_name_value_pair(const wide_char* name, const wide_char* value, encoded_blob* slot, std::int32_t* code)
{
    if (!name || !value || !slot) {
        set_code(code, -1);
        return false;
    }
    *slot = encoded_blob(der::sequence_of({der::bmp(name, wide_length(name)), der::bmp(value, wide_length(value))}));
    set_code(code, 0);
    return true;
}

namespace {

// A name-value pair of UTF-8 texts; a null value leaves the slot empty.
bool pair_into(const char* name, const char* value, encoded_blob& slot, std::int32_t* code)
{
    wide_char* wide_name = utf8_to_wide(name);
    wide_char* wide_value = utf8_to_wide(value);
    const bool ok = encode_name_value_pair(wide_name, wide_value, &slot, code);
    delete[] wide_name;
    delete[] wide_value;
    return ok;
}

// A date through to_compact_time; null when it cannot be read.
std::unique_ptr<char[]> compact(const char* date) { return std::unique_ptr<char[]>(to_compact_time(date)); }

}  // namespace

validity_slots encode_validity_attributes(const char* start_date, const char* expiration_date, const char* period,
                                          std::int32_t* code)
{
    const auto present = [](const char* text) { return text && *text; };
    const std::uint32_t s = present(start_date) ? 1 : 0;
    validity_slots out;
    bool paired = false;
    if (present(period)) {
        out.count = s + 2;
        out.slots.reset(new encoded_blob[out.count]);
        const std::string text(period);
        const std::size_t blank = text.find(' ');
        const std::string number = text.substr(0, blank);
        const std::string unit = blank == std::string::npos ? std::string("Months") : text.substr(blank + 1);
        paired = pair_into("CpRaCertPeriod", number.c_str(), out.slots[s], code) &&
                 pair_into("CpRaCertPeriodUnits", unit.c_str(), out.slots[s + 1], code);
    } else if (present(expiration_date)) {
        out.count = s + 1;
        out.slots.reset(new encoded_blob[out.count]);
        const auto date = compact(expiration_date);
        paired = pair_into("CpRaExpirationDate", date.get(), out.slots[s], code);
    } else {
        out.count = s;
        return out;
    }
    if (paired && s) {
        const auto date = compact(start_date);
        paired = pair_into("CpRaStartDate", date.get(), out.slots[0], code);
    }
    if (!paired) {
        out.slots.reset();
        out.count = 0;
        out.failed = true;
    }
    return out;
}

blob_ptr encode_request_info(const encoded_blob* subject, const encoded_blob* csp_provider,
                             const encoded_blob* extensions, const public_key_info* key, const encoded_blob* slots,
                             std::uint32_t slot_count, std::int32_t* code)
{
    if (!subject || !csp_provider || !extensions || !key) return failure(-1, code);
    byte_vector algorithm;
    if (!der::object_id(key->algorithm.c_str(), algorithm)) return failure(crypt_e_asn1_error, code);
    const byte_vector key_info =
        der::sequence_of({der::sequence_of({algorithm, key->parameters}), der::bits(key->key, key->unused_bits)});

    std::vector<byte_vector> attributes{attribute("1.3.6.1.4.1.311.13.2.2", {blob_bytes(*csp_provider)}),
                                        attribute("1.3.6.1.4.1.311.2.1.14", {blob_bytes(*extensions)})};
    if (slots && slot_count > 0) {
        std::vector<byte_vector> values;
        for (std::uint32_t i = 0; i < slot_count; ++i) values.push_back(blob_bytes(slots[i]));
        attributes.push_back(attribute("1.3.6.1.4.1.311.13.2.1", std::move(values)));
    }
    byte_vector attribute_set = der::set_of(std::move(attributes));
    attribute_set[0] = 0xA0;  // [0] IMPLICIT SET OF Attribute
    return success(der::sequence_of({der::integer(0), blob_bytes(*subject), key_info, attribute_set}), code);
}

blob_ptr encode_signed_request(int standard, const encoded_blob* request_info, const encoded_blob* signature,
                               std::int32_t* code)
{
    if (!request_info || !signature) return failure(-1, code);
    byte_vector id;
    der::object_id(signature_algorithm_oid(standard), id);
    byte_vector reversed(signature->bytes());
    for (std::size_t i = 0, j = reversed.size(); i + 1 < j; ++i, --j) std::swap(reversed[i], reversed[j - 1]);
    // No parameters, and no NULL in their place: the GOST signature OIDs are
    // registered with CRYPT_OID_NO_NULL_ALGORITHM_PARA_FLAG, so CryptoAPI's
    // X509_CERT encoding leaves the empty parameters out.
    const byte_vector algorithm = der::sequence_of({id});
    return success(der::sequence_of({blob_bytes(*request_info), algorithm, der::bits(reversed, 0)}), code);
}

}  // namespace util
}  // namespace crypto
