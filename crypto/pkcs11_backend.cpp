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

void append_slot_certificates(const pkcs11::slot& token_slot, std::vector<certificate_ptr>& certificates)
{
    const auto token_session = token_slot.open_session(false);
    if (!pkcs11::session::is_valid(token_session))
        return;
    pkcs11::object_finder finder(token_session, pkcs11::pkcs11_certificate_template());
    if (!finder.active())
        return;
    while (auto object = finder.next())
        certificates.push_back(std::make_shared<pkcs11::x509certificate>(std::move(object), token_session));
}

}  // namespace

// Modules by family key, slots in each module's order, objects in each
// token's order. Any failure ends the whole listing.
std::vector<certificate_ptr> list_pkcs11_certificates()
{
    std::vector<certificate_ptr> certificates;
    for (const auto& entry : pkcs11::loaded_pkcs11_modules()) {
        const pkcs11::connector& module = entry.second;
        if (!module)
            continue;
        for (const auto& token_slot : module.gost_slots())
            append_slot_certificates(token_slot, certificates);
    }
    return certificates;
}

certificate_ptr find_pkcs11_certificate(const std::string& thumbprint)
{
    for (auto& certificate : list_pkcs11_certificates())
        if (thumbprint_matches(certificate, thumbprint))
            return std::move(certificate);
    return {};
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
