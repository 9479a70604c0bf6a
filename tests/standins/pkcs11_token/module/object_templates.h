#pragma once
// What the stand-in accepts from C_GenerateKeyPair and C_CreateObject: the
// attribute templates a GOST token takes for a key pair on the token and for
// an X.509 certificate object, checked as a token checks them.
#include <map>

#include "description.h"

namespace pkcs11_standin {

using attribute_map = std::map<CK_ATTRIBUTE_TYPE, bytes>;

// The attributes of a template by type. A type given twice, or a value
// pointer missing for a non-empty value, gives CKR_TEMPLATE_INCONSISTENT or
// CKR_ARGUMENTS_BAD.
CK_RV read_template(const CK_ATTRIBUTE* attributes, CK_ULONG count, attribute_map& out);

// The two templates of a GOST key pair on the token for mechanism 0x1200
// (256-bit parameter sets, GOST R 34.11-94 or 2012-256 digest parameters) or
// 0xD4321005 (512-bit sets, 2012-512 digest parameters): classes, CKA_TOKEN,
// both parameter sets, equal CKA_ID and CKA_LABEL, CKA_PRIVATE, CKA_DERIVE,
// and CKA_VERIFY or CKA_SIGN; nothing else.
CK_RV check_key_pair_templates(CK_MECHANISM_TYPE mechanism, const attribute_map& public_key,
                               const attribute_map& private_key);

// An X.509 certificate object: CKA_CLASS, CKA_CERTIFICATE_TYPE, CKA_TOKEN,
// CKA_ID, CKA_LABEL, CKA_VALUE (a certificate), CKA_SERIAL_NUMBER (its serial
// number's content bytes, least significant first), CKA_SUBJECT (its subject
// Name, byte for byte) and CKA_CERTIFICATE_CATEGORY 1; nothing else.
CK_RV check_certificate_template(const attribute_map& certificate);

// The bytes of a CK_ULONG attribute value.
bytes ulong_value(CK_ULONG value);

}  // namespace pkcs11_standin
