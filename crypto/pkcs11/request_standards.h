#pragma once
// What a certificate request on a token uses for each crypto standard
// (0 = GOST R 34.10-2001, 1 = GOST R 34.10-2012 256-bit, 2 = GOST R
// 34.10-2012 512-bit): the key-pair and signing mechanisms, the key's
// parameter sets as DER object identifiers, and the public-key algorithm.
#include "crypto/byte_vector.h"
#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

struct request_standard {
    CK_MECHANISM_TYPE key_pair_mechanism;
    // CKA_GOSTR3410_PARAMS of the key pair.
    byte_vector key_parameters;
    // CKA_GOSTR3411_PARAMS of the key pair, also the digest parameter of the
    // request's public-key algorithm.
    byte_vector digest_parameters;
    const char* public_key_oid;
    CK_MECHANISM_TYPE signing_mechanism;
};

// The values of a standard; any number but 1 and 2 counts as 0.
const request_standard& request_standard_for(int standard);

}  // namespace crypto::pkcs11
