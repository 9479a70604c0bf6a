// Assembling a PKCS#10 request for a key pair generated on the token: the
// public key read from the token, the request encoders, and the token's
// signature of the request body.
#include <memory>

#include "crypto/encoding/text.h"
#include "crypto/pkcs11/bounded.h"
#include "crypto/pkcs11/request_standards.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/slot.h"
#include "crypto/pkcs11/x509request.h"
#include "crypto/util/der.h"

namespace crypto::pkcs11 {
namespace {

// Rutoken ECP 3.0 reports hardware version 30 and above.
constexpr CK_BYTE rutoken_ecp_3_hardware = 30;

// One attribute of an object into a zero-filled buffer of capacity bytes;
// false when the token refuses or reports more than the buffer holds.
bool read_attribute(const session& token, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type, CK_ULONG capacity,
                    byte_vector& value)
{
    value.assign(capacity, 0);
    CK_ATTRIBUTE attribute{type, value.data(), capacity};
    if (token.functions()->C_GetAttributeValue(token.handle(), object, &attribute, 1) != CKR_OK ||
        attribute.ulValueLen > capacity)
        return false;
    value.resize(attribute.ulValueLen);
    return true;
}

}  // namespace

bool x509request::read_public_key(int standard, CK_OBJECT_HANDLE public_key, util::public_key_info& info)
{
    if (!session::is_valid(session_))
        return false;
    byte_vector value, parameters;
    if (!read_attribute(*session_, public_key, CKA_VALUE, public_value_capacity, value) ||
        !read_attribute(*session_, public_key, CKA_GOSTR3410_PARAMS, parameters_capacity, parameters))
        return false;
    const request_standard& values = request_standard_for(standard);
    info.algorithm = values.public_key_oid;
    info.parameters = util::der::sequence_of({parameters, values.digest_parameters});
    info.key = util::der::tlv(util::der::octet_string, value);
    info.unused_bits = 0;
    return true;
}

const char* x509request::family_signing_tool()
{
    if (family_key_ == "jacarta")
        return "«Криптотокен 2 ЭП» в составе изделия «JaCarta ГОСТ»";
    if (family_key_ == "rutoken_ecp") {
        const CK_TOKEN_INFO info = session_->get_slot().get_token_info();
        return info.hardwareVersion.major >= rutoken_ecp_3_hardware ? "«Рутокен ЭЦП 3.0»" : "«Рутокен ЭЦП 2.0»";
    }
    if (family_key_ == "esmart")
        return "«MS_KEY K» - «АНГАРА»";
    return nullptr;
}

util::blob_ptr x509request::create_request(int standard, const char* subject, const std::vector<std::string>* usages,
                                           const char* start_date, const char* expiration_date, const char* period,
                                           const char* policy_level, const char* template_oid,
                                           const std::uint32_t* identification_kind,
                                           const util::subject_alt_name* alt_name, const char* name,
                                           const char* signing_tool, std::int32_t* error_code)
{
    std::int32_t code = 0;
    auto request = build_request(standard, subject, usages, start_date, expiration_date, period, policy_level,
                                 template_oid, identification_kind, alt_name, name, signing_tool, code);
    if (error_code)
        *error_code = code;
    return request;
}

util::blob_ptr x509request::build_request(int standard, const char* subject, const std::vector<std::string>* usages,
                                          const char* start_date, const char* expiration_date, const char* period,
                                          const char* policy_level, const char* template_oid,
                                          const std::uint32_t* identification_kind,
                                          const util::subject_alt_name* alt_name, const char* name,
                                          const char* signing_tool, std::int32_t& code)
{
    if (!subject || !usages)
        return nullptr;
    CK_OBJECT_HANDLE public_key = 0, private_key = 0;
    if (!generate_key_pair(standard, name, public_key, private_key))
        return nullptr;
    // From here on the key pair stays on the token, whatever fails.
    util::public_key_info key;
    if (!read_public_key(standard, public_key, key))
        return nullptr;

    const auto subject_name = util::encode_subject(subject, &code);
    if (!subject_name)
        return nullptr;
    const std::unique_ptr<wide_char[]> provider_name(utf8_to_wide(token_text_.c_str()));
    const auto provider = util::encode_enrollment_csp_provider(provider_name.get(), &code);
    if (!provider)
        return nullptr;
    const auto enhanced_key_usage = util::encode_enhanced_key_usage(usages, &code);
    if (!enhanced_key_usage)
        return nullptr;
    const auto key_usage = util::encode_key_usage(&code);
    if (!key_usage)
        return nullptr;
    const auto key_id = util::encode_subject_key_id(&key, &code);
    if (!key_id)
        return nullptr;

    const char* tool_text = signing_tool ? signing_tool : family_signing_tool();
    if (!tool_text) {
        code = -1;
        return nullptr;
    }
    const auto tool = util::encode_signing_tool(tool_text, &code);
    if (!tool)
        return nullptr;
    code = 0;

    // Each of these is null for an absent input; its extension is then left out.
    const auto certificate_template = util::encode_certificate_template(template_oid, &code);
    const auto policies = util::encode_policies(policy_level, &code);
    std::int32_t kind = 0;
    if (identification_kind)
        kind = static_cast<std::int32_t>(*identification_kind);
    const auto identification = util::encode_integer(identification_kind ? &kind : nullptr, &code);
    const auto alternative_names = util::encode_subject_alt_name(alt_name, &code);
    const auto extensions =
        util::encode_extensions(key_usage.get(), enhanced_key_usage.get(), key_id.get(), tool.get(),
                                certificate_template.get(), policies.get(), identification.get(),
                                alternative_names.get(), &code);
    if (!extensions)
        return nullptr;

    const util::validity_slots validity = util::encode_validity_attributes(start_date, expiration_date, period, &code);
    if (validity.failed)
        return nullptr;
    const auto body = util::encode_request_info(subject_name.get(), provider.get(), extensions.get(), &key,
                                                validity.slots.get(), validity.count, &code);
    if (!body)
        return nullptr;
    const byte_vector signature = sign_request(standard, body->bytes(), private_key);
    if (signature.empty())
        return nullptr;
    const util::encoded_blob signature_blob(signature);
    return util::encode_signed_request(standard, body.get(), &signature_blob, &code);
}

}  // namespace crypto::pkcs11
