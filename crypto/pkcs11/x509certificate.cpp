#include "crypto/pkcs11/x509certificate.h"

#include <utility>

#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/slot.h"

namespace crypto::pkcs11 {
namespace {

PCCERT_CONTEXT decode_certificate(const token_object& object)
{
    const byte_vector der = object.get_attribute(CKA_VALUE);
    return csp::create_certificate_context(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                           static_cast<DWORD>(der.size()));
}

bool is_trailing_space(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

x509certificate::x509certificate(token_object object, std::shared_ptr<session> token_session)
    : csp::x509certificate(decode_certificate(object)), session_(std::move(token_session)), object_(std::move(object))
{
}

bool x509certificate::is_hardware() const
{
    return true;
}

const char* x509certificate::carrier_type() const
{
    return "pkcs11";
}

std::string x509certificate::container() const
{
    const byte_vector id = object_.get_attribute(CKA_ID);
    return std::string(id.begin(), id.end());
}

std::string x509certificate::reader() const
{
    if (!session::is_valid(session_))
        return {};
    return slot_description_text(session_->get_slot().get_info());
}

bool x509certificate::has_private_key() const
{
    return true;
}

std::string slot_description_text(const CK_SLOT_INFO& info)
{
    std::string text(reinterpret_cast<const char*>(info.slotDescription), sizeof(info.slotDescription));
    while (!text.empty() && is_trailing_space(text.back()))
        text.pop_back();
    return text;
}

}  // namespace crypto::pkcs11
