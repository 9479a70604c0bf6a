#include "crypto/skf/x509certificate.h"

#include <utility>

#include "crypto/skf/skf_module.h"

namespace crypto::skf {
namespace {

PCCERT_CONTEXT decode(const byte_vector& der)
{
    if (der.empty())
        return nullptr;
    return csp::create_certificate_context(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                           static_cast<DWORD>(der.size()));
}

}  // namespace

x509certificate::x509certificate(std::string device, std::string application, std::string container,
                                 const byte_vector& der, std::shared_ptr<SkfModule> module)
    : csp::x509certificate(decode(der)),
      module_(std::move(module)),
      device_(std::move(device)),
      application_(std::move(application)),
      container_(std::move(container))
{
}

// The names go first, then the library reference; the base frees the context.
x509certificate::~x509certificate() = default;

bool x509certificate::is_hardware() const
{
    return true;
}

const char* x509certificate::carrier_type() const
{
    return "skf";
}

std::string x509certificate::container() const
{
    return device_ + "\\" + application_ + "\\" + container_;
}

std::string x509certificate::reader() const
{
    return device_;
}

bool x509certificate::has_private_key() const
{
    return true;
}

}  // namespace crypto::skf
