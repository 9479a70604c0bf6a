#include "crypto/pkcs11/x509request.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "crypto/cards/fixed_text.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/module_registry.h"
#include "crypto/pkcs11/object_finder.h"
#include "crypto/pkcs11/request_standards.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/slot.h"
#include "crypto/pkcs11/templates.h"

namespace crypto::pkcs11 {
namespace {

// The most a token may answer for a request signature.
constexpr CK_ULONG signature_capacity = 256;

CK_ATTRIBUTE text_attribute(CK_ATTRIBUTE_TYPE type, const char* text)
{
    // Cryptoki's attribute holds a non-const pointer; the module only reads it.
    return {type, const_cast<char*>(text), static_cast<CK_ULONG>(std::char_traits<char>::length(text))};
}

CK_ATTRIBUTE bytes_attribute(CK_ATTRIBUTE_TYPE type, const byte_vector& value)
{
    return {type, const_cast<std::uint8_t*>(value.data()), static_cast<CK_ULONG>(value.size())};
}

template <typename T>
CK_ATTRIBUTE value_attribute(CK_ATTRIBUTE_TYPE type, T& value)
{
    return {type, &value, sizeof(value)};
}

}  // namespace

x509request::~x509request() = default;

bool x509request::select_module(const char* family_key)
{
    connector_ = connector();
    if (!family_key)
        return false;
    const module_registry modules = loaded_pkcs11_modules();
    const auto found = modules.find(family_key);
    if (found == modules.end() || !found->second)
        return false;
    connector_ = found->second;
    family_key_ = family_key;
    return true;
}

bool x509request::open_token_session(const std::string& serial)
{
    if (!connector_)
        return false;
    for (const slot& candidate : connector_.slots()) {
        if (!candidate.supports_gost_2012())
            continue;
        const CK_TOKEN_INFO info = candidate.get_token_info();
        const std::string token_serial = cards::cut_field_text(info.serialNumber, sizeof(info.serialNumber));
        if (token_serial != serial)
            continue;
        session_ = candidate.open_session(true);
        if (!session::is_valid(session_))
            continue;
        token_text_ = cards::cut_field_text(info.model, sizeof(info.model)) + " " + token_serial;
        return true;
    }
    return false;
}

bool x509request::has_object(const char* name, bool certificate)
{
    if (!name || !session::is_valid(session_))
        return false;
    attribute_template criteria = certificate ? pkcs11_certificate_template() : pkcs11_public_key_template();
    criteria.push_back(text_attribute(CKA_ID, name));
    object_finder finder(session_, criteria);
    return static_cast<bool>(finder.next());
}

bool x509request::has_public_key(const char* name)
{
    return has_object(name, false);
}

bool x509request::has_certificate(const char* name)
{
    return has_object(name, true);
}

bool x509request::login(const std::string& pin)
{
    if (!session::is_valid(session_))
        return false;
    try {
        session_->login(pin);
        return true;
    } catch (const exception&) {
        return false;
    }
}

void x509request::logout()
{
    if (session::is_valid(session_))
        session_->logout();
}

bool x509request::generate_key_pair(int standard, const char* name, CK_OBJECT_HANDLE& public_key,
                                    CK_OBJECT_HANDLE& private_key)
{
    if (!name || !session::is_valid(session_))
        return false;
    const request_standard& values = request_standard_for(standard);
    CK_OBJECT_CLASS public_class = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS private_class = CKO_PRIVATE_KEY;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE public_template[] = {
        value_attribute(CKA_CLASS, public_class),
        value_attribute(CKA_TOKEN, yes),
        bytes_attribute(CKA_GOSTR3410_PARAMS, values.key_parameters),
        bytes_attribute(CKA_GOSTR3411_PARAMS, values.digest_parameters),
        text_attribute(CKA_ID, name),
        text_attribute(CKA_LABEL, name),
        value_attribute(CKA_PRIVATE, no),
        value_attribute(CKA_DERIVE, yes),
        value_attribute(CKA_VERIFY, yes),
    };
    CK_ATTRIBUTE private_template[] = {
        value_attribute(CKA_CLASS, private_class),
        value_attribute(CKA_TOKEN, yes),
        bytes_attribute(CKA_GOSTR3410_PARAMS, values.key_parameters),
        bytes_attribute(CKA_GOSTR3411_PARAMS, values.digest_parameters),
        text_attribute(CKA_ID, name),
        text_attribute(CKA_LABEL, name),
        value_attribute(CKA_PRIVATE, yes),
        value_attribute(CKA_DERIVE, yes),
        value_attribute(CKA_SIGN, yes),
    };
    CK_MECHANISM mechanism{values.key_pair_mechanism, nullptr, 0};
    const CK_RV rv = session_->functions()->C_GenerateKeyPair(
        session_->handle(), &mechanism, public_template, static_cast<CK_ULONG>(std::size(public_template)),
        private_template, static_cast<CK_ULONG>(std::size(private_template)), &public_key, &private_key);
    return rv == CKR_OK;
}

byte_vector x509request::sign_request(int standard, const byte_vector& body, CK_OBJECT_HANDLE private_key)
{
    if (body.empty() || !session::is_valid(session_))
        return {};
    const auto& functions = session_->functions();
    CK_MECHANISM mechanism{request_standard_for(standard).signing_mechanism, nullptr, 0};
    if (functions->C_SignInit(session_->handle(), &mechanism, private_key) != CKR_OK)
        return {};
    byte_vector signature(signature_capacity, 0);
    CK_ULONG length = signature_capacity;
    // Cryptoki's prototype takes non-const data; the module only reads it.
    const CK_RV rv = functions->C_Sign(session_->handle(), const_cast<std::uint8_t*>(body.data()),
                                       static_cast<CK_ULONG>(body.size()), signature.data(), &length);
    if (rv != CKR_OK || length == 0 || length > signature_capacity)
        return {};
    signature.resize(length);
    std::reverse(signature.begin(), signature.end());
    return signature;
}

}  // namespace crypto::pkcs11
