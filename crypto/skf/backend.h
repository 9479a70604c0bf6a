#pragma once
#include <memory>
#include <string>
#include <vector>

#include "crypto/signature_algorithm.h"

// The SKF device back end as the certificate lookup sees it.
namespace crypto::skf {

// The signing certificates of every RSA container of every present device, in
// device, application and container order. Loads the library afresh; throws
// std::runtime_error "Invalid SKF session" when it does not load with all its
// entry points. Devices, applications and containers that do not open,
// containers of another type and certificates that cannot be exported or
// decoded are skipped.
std::vector<certificate_ptr> list_certificates();

// The listed certificate whose thumbprint equals the text exactly, or empty.
certificate_ptr find_certificate(const std::string& thumbprint);

// The SKF signer of an RSA kind; empty for any other kind.
std::shared_ptr<signature_algorithm> make_signature_algorithm(signature_kind kind, certificate_ptr certificate,
                                                              std::string pin);

}  // namespace crypto::skf
