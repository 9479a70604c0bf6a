#pragma once
#include <memory>
#include <string>
#include <vector>

#include <boost/property_tree/ptree_fwd.hpp>

#include "crypto/signature_algorithm.h"

namespace crypto {

// The back end a request names with "store_type". Any code other than the
// token ones means the user's CryptoAPI store.
using store_type = int;
constexpr store_type csp_store = 0;
constexpr store_type pkcs11_store = 1;
constexpr store_type skf_store = 2;

// "csp" 0, "pkcs11" 1, "skf" 2, compared exactly; absent or anything else 0.
store_type get_store_type(const boost::property_tree::ptree& arguments);

// The certificates of a back end: the store's certificates valid now, or
// every certificate the tokens or devices hold.
std::vector<certificate_ptr> list_certificates(store_type kind);

// One certificate by thumbprint, empty when none matches. The store decodes
// the hex text (any letter case) and finds certificates whatever their
// validity; the token back ends compare the thumbprint text exactly.
certificate_ptr find_certificate_by_thumbprint(const std::string& thumbprint, store_type kind);

// A lookup counts as found only with a decoded certificate.
bool is_found(const certificate_ptr& certificate);

// How the token back ends find by thumbprint: the certificate's thumbprint
// text equals the given one byte for byte. A certificate whose bytes did not
// decode has no thumbprint and matches nothing.
bool thumbprint_matches(const certificate_ptr& certificate, const std::string& thumbprint);

// The signer for a certificate, chosen by its signature OID and by whether it
// lives on hardware; empty for any other signature algorithm.
std::shared_ptr<signature_algorithm> make_signature_algorithm(certificate_ptr certificate, std::string pin);

// As make_signature_algorithm, but a certificate without a signer throws
// std::invalid_argument ("Unsupported signature algorithm: " and the OID).
std::shared_ptr<signature_algorithm> require_signature_algorithm(certificate_ptr certificate, std::string pin);

// The token back ends (PKCS#11 tokens and SKF devices).
std::vector<certificate_ptr> list_pkcs11_certificates();
certificate_ptr find_pkcs11_certificate(const std::string& thumbprint);
std::vector<certificate_ptr> list_skf_certificates();
certificate_ptr find_skf_certificate(const std::string& thumbprint);
// The signer of a hardware certificate: PKCS#11 for the GOST kinds, SKF for
// the RSA kinds, whichever token back end made the certificate.
std::shared_ptr<signature_algorithm> make_hardware_signature_algorithm(signature_kind kind,
                                                                       certificate_ptr certificate, std::string pin);
// The two halves of it, one per token back end.
std::shared_ptr<signature_algorithm> make_pkcs11_signature_algorithm(signature_kind kind, certificate_ptr certificate,
                                                                     std::string pin);
std::shared_ptr<signature_algorithm> make_skf_signature_algorithm(signature_kind kind, certificate_ptr certificate,
                                                                  std::string pin);

}  // namespace crypto
