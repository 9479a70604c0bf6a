// C_GenerateKeyPair and C_CreateObject of the stand-in: a GOST key pair and
// an X.509 certificate object made on the token.
#include <algorithm>
#include <cstring>

#include "call_log.h"
#include "object_templates.h"
#include "signature_scheme.h"
#include "token_module.h"

namespace pkcs11_standin {

CK_RV token_module::check_writable(const session_state& session) const
{
    if (!(session.flags & CKF_RW_SESSION))
        return CKR_SESSION_READ_ONLY;
    if (!logged_in_[session.slot])
        return CKR_USER_NOT_LOGGED_IN;
    return CKR_OK;
}

CK_OBJECT_HANDLE token_module::add_object(const session_state& session, const object_description& object)
{
    auto& slot = description_.slots[session.slot];
    slot.objects.push_back(object);
    store_object(description_.store_path, name_, slot.id, object);
    return object_handle(session.slot, slot.objects.size() - 1);
}

CK_RV token_module::generate_key_pair(CK_SESSION_HANDLE handle, CK_MECHANISM* mechanism,
                                      CK_ATTRIBUTE* public_template, CK_ULONG public_count,
                                      CK_ATTRIBUTE* private_template, CK_ULONG private_count,
                                      CK_OBJECT_HANDLE* public_key, CK_OBJECT_HANDLE* private_key)
{
    log_call("C_GenerateKeyPair",
             "session=" + std::to_string(handle) +
                 (mechanism ? " mechanism=" + number_text(mechanism->mechanism) +
                                  " parameter=" + std::to_string(mechanism->ulParameterLen)
                            : " mechanism=null") +
                 " public=" + std::to_string(public_count) + template_text(public_template, public_count) +
                 " private=" + std::to_string(private_count) + template_text(private_template, private_count));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    const slot_description& slot = description_.slots[session->slot];
    if (const CK_RV rv = injected("C_GenerateKeyPair", &slot))
        return rv;
    if (!mechanism || !public_key || !private_key)
        return CKR_ARGUMENTS_BAD;
    if (!is_key_pair_mechanism(mechanism->mechanism) ||
        std::find(slot.mechanisms.begin(), slot.mechanisms.end(), mechanism->mechanism) == slot.mechanisms.end())
        return CKR_MECHANISM_INVALID;
    if (mechanism->pParameter || mechanism->ulParameterLen)
        return CKR_MECHANISM_PARAM_INVALID;
    if (const CK_RV rv = check_writable(*session))
        return rv;
    attribute_map public_attributes, private_attributes;
    if (const CK_RV rv = read_template(public_template, public_count, public_attributes))
        return rv;
    if (const CK_RV rv = read_template(private_template, private_count, private_attributes))
        return rv;
    if (const CK_RV rv = check_key_pair_templates(mechanism->mechanism, public_attributes, private_attributes))
        return rv;

    object_description public_object;
    public_object.object_class = CKO_PUBLIC_KEY;
    public_object.attributes = public_attributes;
    public_object.attributes[CKA_KEY_TYPE] = ulong_value(CKK_GOSTR3410);
    public_object.attributes[CKA_VALUE] = standin_public_key(mechanism->mechanism, public_attributes.at(CKA_ID));
    object_description private_object;
    private_object.object_class = CKO_PRIVATE_KEY;
    private_object.is_private = true;
    private_object.attributes = private_attributes;
    private_object.attributes[CKA_KEY_TYPE] = ulong_value(CKK_GOSTR3410);
    *public_key = add_object(*session, public_object);
    *private_key = add_object(*session, private_object);
    log_call("C_GenerateKeyPair", "public_key=" + number_text(*public_key) + " private_key=" + number_text(*private_key));
    return CKR_OK;
}

CK_RV token_module::create_object(CK_SESSION_HANDLE handle, CK_ATTRIBUTE* attributes, CK_ULONG count,
                                  CK_OBJECT_HANDLE* object)
{
    log_call("C_CreateObject", "session=" + std::to_string(handle) + " count=" + std::to_string(count) +
                                   template_text(attributes, count));
    if (!initialized_)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    session_state* session = find_session(handle);
    if (!session)
        return CKR_SESSION_HANDLE_INVALID;
    if (const CK_RV rv = injected("C_CreateObject", &description_.slots[session->slot]))
        return rv;
    if (!object)
        return CKR_ARGUMENTS_BAD;
    if (const CK_RV rv = check_writable(*session))
        return rv;
    attribute_map certificate;
    if (const CK_RV rv = read_template(attributes, count, certificate))
        return rv;
    if (const CK_RV rv = check_certificate_template(certificate))
        return rv;
    object_description created;
    created.object_class = CKO_CERTIFICATE;
    created.attributes = certificate;
    created.attributes[CKA_PRIVATE] = bytes{CK_FALSE};
    *object = add_object(*session, created);
    log_call("C_CreateObject", "object=" + number_text(*object));
    return CKR_OK;
}

}  // namespace pkcs11_standin
