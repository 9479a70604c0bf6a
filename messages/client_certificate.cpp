#include "messages/client_certificate.h"

#include "crypto/csp/x509certificate.h"

namespace messages {
namespace {

bool is_client_certificate(const crypto::certificate_ptr& certificate, bool gost)
{
    if (!certificate || certificate->is_outside_validity())
        return false;
    const crypto::signature_kind_info* kind = crypto::find_signature_kind(certificate->signature_oid());
    if (!kind || kind->gost != gost)
        return false;
    return certificate->has_private_key() && certificate->has_client_auth_usage();
}

}  // namespace

bool is_gost_client_certificate(const crypto::certificate_ptr& certificate)
{
    return is_client_certificate(certificate, true);
}

bool is_rsa_client_certificate(const crypto::certificate_ptr& certificate)
{
    return is_client_certificate(certificate, false);
}

}  // namespace messages
