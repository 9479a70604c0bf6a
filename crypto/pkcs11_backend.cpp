#include <memory>
#include <utility>

#include "crypto/certificate_lookup.h"
#include "crypto/pkcs11/module_registry.h"
#include "crypto/pkcs11/object_finder.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/signers.h"
#include "crypto/pkcs11/slot.h"
#include "crypto/pkcs11/x509certificate.h"

// The PKCS#11 token back end: the certificates of every GOST-capable token of
// every loaded module, and the GOST signers that sign on those tokens.

namespace crypto {
namespace {

// The most certificate bytes one listing keeps, far above what real tokens
// hold; a listing stops with the certificates it has once they reach it.
constexpr std::size_t listed_certificate_bytes = 16 * 1024 * 1024;

// Makes each certificate object of every GOST slot of every loaded module
// and hands it to visit, which answers whether to go on: modules by family
// key, slots in each module's order, objects in each token's order. All the
// slots' searches take their objects from one budget. Any failure ends the
// walk with its exception.
template <class Visit>
void walk_certificates(Visit visit)
{
    pkcs11::object_budget budget;
    for (const auto& entry : pkcs11::loaded_pkcs11_modules()) {
        const pkcs11::connector& module = entry.second;
        if (!module)
            continue;
        for (const auto& token_slot : module.gost_slots()) {
            const auto token_session = token_slot.open_session(false);
            if (!pkcs11::session::is_valid(token_session))
                continue;
            pkcs11::object_finder finder(token_session, pkcs11::pkcs11_certificate_template(), budget);
            if (!finder.active())
                continue;
            while (auto object = finder.next())
                if (!visit(std::make_shared<pkcs11::x509certificate>(std::move(object), token_session)))
                    return;
        }
    }
}

}  // namespace

std::vector<certificate_ptr> list_pkcs11_certificates()
{
    std::vector<certificate_ptr> certificates;
    std::size_t kept = 0;
    walk_certificates([&](certificate_ptr certificate) {
        if (const PCCERT_CONTEXT context = certificate->context())
            kept += context->cbCertEncoded;
        certificates.push_back(std::move(certificate));
        return kept < listed_certificate_bytes;
    });
    return certificates;
}

// The same walk as the listing (so the same failures end it), keeping only
// the first certificate with the thumbprint.
certificate_ptr find_pkcs11_certificate(const std::string& thumbprint)
{
    certificate_ptr found;
    walk_certificates([&](certificate_ptr certificate) {
        if (!found && thumbprint_matches(certificate, thumbprint))
            found = std::move(certificate);
        return true;
    });
    return found;
}

std::shared_ptr<signature_algorithm> make_pkcs11_signature_algorithm(signature_kind kind, certificate_ptr certificate,
                                                                     std::string pin)
{
    switch (kind) {
    case signature_kind::gost_3410_2001:
        return std::make_shared<pkcs11::gost_3410_2001>(std::move(certificate), std::move(pin));
    case signature_kind::gost_3410_2012_256:
        return std::make_shared<pkcs11::gost_3410_2012_256>(std::move(certificate), std::move(pin));
    case signature_kind::gost_3410_2012_512:
        return std::make_shared<pkcs11::gost_3410_2012_512>(std::move(certificate), std::move(pin));
    default:
        return {};
    }
}

}  // namespace crypto
