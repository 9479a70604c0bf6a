#include "crypto/pkcs11/templates.h"

namespace crypto::pkcs11 {
namespace {

// Static storage the attribute records point at; it lives as long as the program.
CK_OBJECT_CLASS certificate_class = CKO_CERTIFICATE;
CK_OBJECT_CLASS private_key_class = CKO_PRIVATE_KEY;
CK_OBJECT_CLASS public_key_class = CKO_PUBLIC_KEY;
CK_BBOOL token_object = CK_TRUE;

attribute_template make_template(CK_OBJECT_CLASS* object_class)
{
    return {
        {CKA_CLASS, object_class, sizeof(*object_class)},
        {CKA_TOKEN, &token_object, sizeof(token_object)},
    };
}

}  // namespace

// Function-local statics: built once, whichever translation unit asks first.
const attribute_template& pkcs11_certificate_template()
{
    static const attribute_template certificate_template = make_template(&certificate_class);
    return certificate_template;
}

const attribute_template& pkcs11_private_key_template()
{
    static const attribute_template private_key_template = make_template(&private_key_class);
    return private_key_template;
}

const attribute_template& pkcs11_public_key_template()
{
    static const attribute_template public_key_template = make_template(&public_key_class);
    return public_key_template;
}

}  // namespace crypto::pkcs11
