#pragma once
#include <memory>

#include "crypto/byte_vector.h"
#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

class session;

// An object found on a token; it keeps its session open. Handle 0 is no object.
class token_object {
public:
    token_object() = default;
    token_object(CK_OBJECT_HANDLE handle, std::shared_ptr<session> owner);

    explicit operator bool() const { return handle_ != 0; }
    CK_OBJECT_HANDLE handle() const { return handle_; }
    const std::shared_ptr<session>& owner() const { return session_; }

    // The attribute's value. An attribute the token reports as unavailable or
    // empty throws std::runtime_error "Attribute not found"; one the token
    // refuses throws crypto::pkcs11::exception.
    byte_vector get_attribute(CK_ATTRIBUTE_TYPE type) const;

private:
    CK_OBJECT_HANDLE handle_ = 0;
    std::shared_ptr<session> session_;
};

}  // namespace crypto::pkcs11
