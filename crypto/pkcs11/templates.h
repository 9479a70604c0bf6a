#pragma once
#include <vector>

#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

using attribute_template = std::vector<CK_ATTRIBUTE>;

// {CKA_CLASS = class, CKA_TOKEN = CK_TRUE}, built before main runs. Users copy
// a template and append their own criteria to the copy.
const attribute_template& pkcs11_certificate_template();
const attribute_template& pkcs11_private_key_template();
const attribute_template& pkcs11_public_key_template();

}  // namespace crypto::pkcs11
