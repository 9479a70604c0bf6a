#include <algorithm>
#include <iterator>

#include "crypto/certificate_lookup.h"
#include "crypto/csp/distinguished_name.h"
#include "crypto/csp/x509certificate.h"
#include "messages/client_certificate.h"
#include "messages/commands.h"
#include "messages/request_arguments.h"

namespace messages {
namespace {

enum class name_part { subject, issuer };

struct attribute_filter {
    const char* key;
    const char* oid;
    name_part part;
};

// Read and tested in this order.
const attribute_filter attribute_filters[] = {
    {"snils", "1.2.643.100.3", name_part::subject},
    {"inn", "1.2.643.3.131.1.1", name_part::subject},
    {"innle", "1.2.643.100.4", name_part::subject},
    {"ogrn", "1.2.643.100.1", name_part::subject},
    {"issuer_ogrn", "1.2.643.100.1", name_part::issuer},
    {"ogrnip", "1.2.643.100.5", name_part::subject},
};

constexpr std::size_t filter_count = std::size(attribute_filters);

bool passes_filters(const crypto::certificate_ptr& certificate, const std::string (&wanted)[filter_count])
{
    const CERT_INFO* info = certificate->context()->pCertInfo;
    const crypto::csp::distinguished_name subject(&info->Subject, CERT_OID_NAME_STR);
    const crypto::csp::distinguished_name issuer(&info->Issuer, CERT_OID_NAME_STR);
    for (std::size_t i = 0; i < filter_count; ++i) {
        if (wanted[i].empty())
            continue;
        const auto& name = attribute_filters[i].part == name_part::subject ? subject : issuer;
        const std::string value = name.value(attribute_filters[i].oid);
        if (value.empty() || value != wanted[i])
            return false;
    }
    return true;
}

}  // namespace

// "CertificatesList": the usable certificates of one back end, RSA or GOST,
// the GOST ones narrowed by the subject's and issuer's registration numbers.
command_result certificates_list::execute(const json_tree& arguments) const
{
    const crypto::store_type kind = crypto::get_store_type(arguments);
    const bool rsa = read_optional_bool(arguments, "rsa").value_or(kind == crypto::skf_store);

    auto certificates = crypto::list_certificates(kind);
    const auto usable = rsa ? is_rsa_client_certificate : is_gost_client_certificate;
    certificates.erase(std::remove_if(certificates.begin(), certificates.end(),
                                      [usable](const crypto::certificate_ptr& c) { return !usable(c); }),
                       certificates.end());

    std::string wanted[filter_count];
    if (!rsa) {
        for (std::size_t i = 0; i < filter_count; ++i)
            if (const auto node = arguments.get_child_optional(attribute_filters[i].key))
                wanted[i] = node->data();
    }

    json_tree list;
    for (const auto& certificate : certificates)
        if (rsa || passes_filters(certificate, wanted))
            list.push_back({std::string(), certificate->to_ptree()});
    return list;
}

}  // namespace messages
