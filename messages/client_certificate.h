#pragma once
#include "crypto/signature_algorithm.h"

namespace messages {

// Whether CertificatesList offers a certificate: valid now, signed with one
// of the GOST (or RSA) signature algorithms, with a private key and the
// client-authentication usage; tested in that order.
bool is_gost_client_certificate(const crypto::certificate_ptr& certificate);
bool is_rsa_client_certificate(const crypto::certificate_ptr& certificate);

}  // namespace messages
