#include "crypto/pkcs11/token_object.h"

#include <stdexcept>
#include <utility>

#include "crypto/pkcs11/bounded.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/session.h"

namespace crypto::pkcs11 {

token_object::token_object(CK_OBJECT_HANDLE handle, std::shared_ptr<session> owner)
    : handle_(handle), session_(std::move(owner))
{
}

byte_vector token_object::get_attribute(CK_ATTRIBUTE_TYPE type) const
{
    if (!session::is_valid(session_))
        throw std::runtime_error("Attribute not found");
    const auto& functions = session_->functions();
    CK_ATTRIBUTE attribute{type, nullptr, 0};
    CK_RV rv = functions->C_GetAttributeValue(session_->handle(), handle_, &attribute, 1);
    if (rv != CKR_OK)
        throw exception(rv);
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION || attribute.ulValueLen == 0 ||
        attribute.ulValueLen > attribute_size_limit)
        throw std::runtime_error("Attribute not found");
    byte_vector value(attribute.ulValueLen, 0);
    attribute.pValue = value.data();
    rv = functions->C_GetAttributeValue(session_->handle(), handle_, &attribute, 1);
    if (rv != CKR_OK)
        throw exception(rv);
    keep_written(value, attribute.ulValueLen);
    return value;
}

}  // namespace crypto::pkcs11
