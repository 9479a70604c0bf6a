#include "crypto/certificate_lookup.h"

namespace crypto {

// A hardware certificate gets its signer by signature algorithm alone: the
// GOST kinds sign on PKCS#11 tokens, the RSA kinds on SKF devices, whichever
// back end the certificate came from (a mismatched one refuses it on use).
std::shared_ptr<signature_algorithm> make_hardware_signature_algorithm(signature_kind kind,
                                                                       certificate_ptr certificate, std::string pin)
{
    switch (kind) {
    case signature_kind::gost_3410_2001:
    case signature_kind::gost_3410_2012_256:
    case signature_kind::gost_3410_2012_512:
        return make_pkcs11_signature_algorithm(kind, std::move(certificate), std::move(pin));
    case signature_kind::rsa_sha256:
    case signature_kind::rsa_sha384:
    case signature_kind::rsa_sha512:
        return make_skf_signature_algorithm(kind, std::move(certificate), std::move(pin));
    }
    return {};
}

}  // namespace crypto
