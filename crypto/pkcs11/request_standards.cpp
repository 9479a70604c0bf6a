#include "crypto/pkcs11/request_standards.h"

#include "crypto/pkcs11/constants.h"

namespace crypto::pkcs11 {

const request_standard& request_standard_for(int standard)
{
    static const request_standard standards[] = {
        // 1.2.643.2.2.36.0 and 1.2.643.2.2.30.1
        {CKM_GOSTR3410_KEY_PAIR_GEN,
         {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x24, 0x00},
         {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x1E, 0x01},
         "1.2.643.2.2.19",
         CKM_GOSTR3410_WITH_GOSTR3411},
        // 1.2.643.2.2.35.1 and 1.2.643.7.1.1.2.2
        {CKM_GOSTR3410_KEY_PAIR_GEN,
         {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01},
         {0x06, 0x08, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x02},
         "1.2.643.7.1.1.1.1",
         mechanism_gost_3410_12_256_with_3411_12},
        // 1.2.643.7.1.2.1.2.1 and 1.2.643.7.1.1.2.3
        {mechanism_gost_3410_12_512_key_pair_gen,
         {0x06, 0x09, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x02, 0x01, 0x02, 0x01},
         {0x06, 0x08, 0x2A, 0x85, 0x03, 0x07, 0x01, 0x01, 0x02, 0x03},
         "1.2.643.7.1.1.1.2",
         mechanism_gost_3410_12_512_with_3411_12},
    };
    return standard == 1 || standard == 2 ? standards[standard] : standards[0];
}

}  // namespace crypto::pkcs11
