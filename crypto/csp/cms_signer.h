#pragma once
#include "crypto/byte_vector.h"
#include "crypto/csp/x509certificate.h"

namespace crypto::csp {

// Makes a CMS SignedData message with the key of a certificate of the user's
// store (found through its key-provider information). The provider computes
// the digest, chosen by the certificate's own signature algorithm, and may
// ask for the PIN itself.
class cms_signer {
public:
    explicit cms_signer(certificate_ptr certificate);

    // The DER message; detached leaves the data out. A certificate whose
    // signature algorithm has no digest in the table throws
    // std::invalid_argument before anything is signed; a refusal of the
    // platform throws win32_exception.
    byte_vector sign(const byte_vector& data, bool detached) const;

private:
    certificate_ptr certificate_;
};

}  // namespace crypto::csp
