#include "crypto/certificate_lookup.h"

#include <stdexcept>

#include <boost/property_tree/ptree.hpp>

#include "crypto/csp/signers.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/csp/x509store.h"

namespace crypto {

store_type get_store_type(const boost::property_tree::ptree& arguments)
{
    const auto node = arguments.get_child_optional("store_type");
    if (!node)
        return csp_store;
    const std::string& text = node->data();
    if (text == "csp")
        return csp_store;
    if (text == "pkcs11")
        return pkcs11_store;
    if (text == "skf")
        return skf_store;
    return csp_store;
}

std::vector<certificate_ptr> list_certificates(store_type kind)
{
    switch (kind) {
    case pkcs11_store:
        return list_pkcs11_certificates();
    case skf_store:
        return list_skf_certificates();
    default:
        return csp::x509store().list_certificates();
    }
}

certificate_ptr find_certificate_by_thumbprint(const std::string& thumbprint, store_type kind)
{
    switch (kind) {
    case pkcs11_store:
        return find_pkcs11_certificate(thumbprint);
    case skf_store:
        return find_skf_certificate(thumbprint);
    default:
        return csp::x509store().find_by_thumbprint(thumbprint);
    }
}

bool is_found(const certificate_ptr& certificate)
{
    return certificate && certificate->context();
}

bool thumbprint_matches(const certificate_ptr& certificate, const std::string& thumbprint)
{
    return is_found(certificate) && certificate->thumbprint() == thumbprint;
}

std::shared_ptr<signature_algorithm> make_signature_algorithm(certificate_ptr certificate, std::string pin)
{
    const std::string oid = certificate ? certificate->signature_oid() : std::string();
    const signature_kind_info* row = find_signature_kind(oid);
    if (!row)
        return {};
    if (certificate->is_hardware())
        return make_hardware_signature_algorithm(row->kind, std::move(certificate), std::move(pin));
    return csp::make_csp_signature_algorithm(row->kind, std::move(certificate), std::move(pin));
}

std::shared_ptr<signature_algorithm> require_signature_algorithm(certificate_ptr certificate, std::string pin)
{
    const std::string oid = certificate ? certificate->signature_oid() : std::string();
    auto algorithm = make_signature_algorithm(std::move(certificate), std::move(pin));
    if (!algorithm)
        throw std::invalid_argument("Unsupported signature algorithm: " + oid);
    return algorithm;
}

}  // namespace crypto
