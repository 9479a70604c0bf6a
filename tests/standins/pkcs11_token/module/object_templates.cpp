#include "object_templates.h"

#include <algorithm>
#include <set>

#include "signature_scheme.h"

namespace pkcs11_standin {
namespace {

bytes oid_bytes(std::initializer_list<std::uint8_t> content)
{
    bytes out(content.size() + 2, 0x06);
    out[1] = static_cast<std::uint8_t>(content.size());
    std::copy(content.begin(), content.end(), out.begin() + 2);
    return out;
}

// GOST R 34.10 parameter sets (1.2.643.2.2.35.x, 1.2.643.2.2.36.x,
// 1.2.643.7.1.2.1.1.x) and GOST R 34.11 digest parameters.
std::vector<bytes> parameter_sets_256()
{
    return {oid_bytes({0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01}), oid_bytes({0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x02}),
            oid_bytes({0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x03}), oid_bytes({0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x00}),
            oid_bytes({0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x01}),
            oid_bytes({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x01, 0x01}),
            oid_bytes({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x01, 0x02}),
            oid_bytes({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x01, 0x03}),
            oid_bytes({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x01, 0x04})};
}

std::vector<bytes> parameter_sets_512()
{
    return {oid_bytes({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x01}),
            oid_bytes({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x02}),
            oid_bytes({0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x03})};
}

const bytes digest_94 = oid_bytes({0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01});
const bytes digest_2012_256 = oid_bytes({0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02});
const bytes digest_2012_512 = oid_bytes({0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x03});

bool contains(const std::vector<bytes>& values, const bytes& value)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

const bytes bool_true{CK_TRUE};
const bytes bool_false{CK_FALSE};

// Exactly the given types, no other.
bool has_exactly(const attribute_map& attributes, const std::set<CK_ATTRIBUTE_TYPE>& types)
{
    if (attributes.size() != types.size())
        return false;
    return std::all_of(types.begin(), types.end(), [&](CK_ATTRIBUTE_TYPE t) { return attributes.count(t) != 0; });
}

CK_RV check_key_template(const attribute_map& key, CK_OBJECT_CLASS object_class, bool is_private,
                         CK_ATTRIBUTE_TYPE usage)
{
    if (!has_exactly(key, {CKA_CLASS, CKA_TOKEN, CKA_GOSTR3410_PARAMS, CKA_GOSTR3411_PARAMS, CKA_ID, CKA_LABEL,
                           CKA_PRIVATE, CKA_DERIVE, usage}))
        return CKR_TEMPLATE_INCONSISTENT;
    if (key.at(CKA_CLASS) != ulong_value(object_class) || key.at(CKA_TOKEN) != bool_true ||
        key.at(CKA_PRIVATE) != (is_private ? bool_true : bool_false) || key.at(CKA_DERIVE) != bool_true ||
        key.at(usage) != bool_true || key.at(CKA_ID).empty())
        return CKR_ATTRIBUTE_VALUE_INVALID;
    return CKR_OK;
}

// Reads one DER element at offset: its tag, where its content starts and its
// content length; false when it runs past the end.
bool der_element(const bytes& der, std::size_t offset, std::uint8_t& tag, std::size_t& content, std::size_t& length)
{
    if (offset + 2 > der.size())
        return false;
    tag = der[offset];
    std::size_t at = offset + 1;
    const std::uint8_t first = der[at++];
    if (first < 0x80) {
        length = first;
    } else {
        const std::size_t count = first & 0x7F;
        if (count == 0 || count > 4 || at + count > der.size())
            return false;
        length = 0;
        for (std::size_t i = 0; i < count; ++i)
            length = (length << 8) | der[at++];
    }
    content = at;
    return length <= der.size() - at;
}

// The serial number's content bytes and the subject Name element of a
// certificate; false when the bytes are not one.
bool certificate_fields(const bytes& der, bytes& serial, bytes& subject)
{
    std::uint8_t tag = 0;
    std::size_t content = 0, length = 0;
    if (!der_element(der, 0, tag, content, length) || tag != 0x30 || content + length != der.size())
        return false;
    if (!der_element(der, content, tag, content, length) || tag != 0x30)
        return false;
    std::size_t at = content;
    if (!der_element(der, at, tag, content, length))
        return false;
    if (tag == 0xA0) {  // version
        at = content + length;
        if (!der_element(der, at, tag, content, length))
            return false;
    }
    if (tag != 0x02 || length == 0)
        return false;
    serial.assign(der.begin() + static_cast<std::ptrdiff_t>(content),
                  der.begin() + static_cast<std::ptrdiff_t>(content + length));
    at = content + length;
    for (int skipped = 0; skipped < 3; ++skipped) {  // signature, issuer, validity
        if (!der_element(der, at, tag, content, length) || tag != 0x30)
            return false;
        at = content + length;
    }
    if (!der_element(der, at, tag, content, length) || tag != 0x30)
        return false;
    subject.assign(der.begin() + static_cast<std::ptrdiff_t>(at),
                   der.begin() + static_cast<std::ptrdiff_t>(content + length));
    return true;
}

}  // namespace

bytes ulong_value(CK_ULONG value)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    return bytes(p, p + sizeof(value));
}

CK_RV read_template(const CK_ATTRIBUTE* attributes, CK_ULONG count, attribute_map& out)
{
    if (!attributes && count)
        return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& attribute = attributes[i];
        if (!attribute.pValue && attribute.ulValueLen)
            return CKR_ARGUMENTS_BAD;
        const auto* value = static_cast<const std::uint8_t*>(attribute.pValue);
        if (!out.emplace(attribute.type, bytes(value, value + (value ? attribute.ulValueLen : 0))).second)
            return CKR_TEMPLATE_INCONSISTENT;
    }
    return CKR_OK;
}

CK_RV check_key_pair_templates(CK_MECHANISM_TYPE mechanism, const attribute_map& public_key,
                               const attribute_map& private_key)
{
    if (const CK_RV rv = check_key_template(public_key, CKO_PUBLIC_KEY, false, CKA_VERIFY))
        return rv;
    if (const CK_RV rv = check_key_template(private_key, CKO_PRIVATE_KEY, true, CKA_SIGN))
        return rv;
    for (const CK_ATTRIBUTE_TYPE shared : {CKA_GOSTR3410_PARAMS, CKA_GOSTR3411_PARAMS, CKA_ID, CKA_LABEL})
        if (public_key.at(shared) != private_key.at(shared))
            return CKR_TEMPLATE_INCONSISTENT;
    const bytes& key_parameters = public_key.at(CKA_GOSTR3410_PARAMS);
    const bytes& digest_parameters = public_key.at(CKA_GOSTR3411_PARAMS);
    const bool fits = mechanism == gost_2012_512_key_pair_gen
                          ? contains(parameter_sets_512(), key_parameters) && digest_parameters == digest_2012_512
                          : contains(parameter_sets_256(), key_parameters) &&
                                (digest_parameters == digest_94 || digest_parameters == digest_2012_256);
    return fits ? CKR_OK : CKR_ATTRIBUTE_VALUE_INVALID;
}

CK_RV check_certificate_template(const attribute_map& certificate)
{
    if (!has_exactly(certificate, {CKA_CLASS, CKA_CERTIFICATE_TYPE, CKA_TOKEN, CKA_ID, CKA_LABEL, CKA_VALUE,
                                   CKA_SERIAL_NUMBER, CKA_SUBJECT, CKA_CERTIFICATE_CATEGORY}))
        return CKR_TEMPLATE_INCONSISTENT;
    if (certificate.at(CKA_CLASS) != ulong_value(CKO_CERTIFICATE) ||
        certificate.at(CKA_CERTIFICATE_TYPE) != ulong_value(CKC_X_509) || certificate.at(CKA_TOKEN) != bool_true ||
        certificate.at(CKA_CERTIFICATE_CATEGORY) != ulong_value(1) || certificate.at(CKA_ID).empty())
        return CKR_ATTRIBUTE_VALUE_INVALID;
    bytes serial, subject;
    if (!certificate_fields(certificate.at(CKA_VALUE), serial, subject))
        return CKR_ATTRIBUTE_VALUE_INVALID;
    std::reverse(serial.begin(), serial.end());
    if (certificate.at(CKA_SERIAL_NUMBER) != serial || certificate.at(CKA_SUBJECT) != subject)
        return CKR_ATTRIBUTE_VALUE_INVALID;
    return CKR_OK;
}

}  // namespace pkcs11_standin
