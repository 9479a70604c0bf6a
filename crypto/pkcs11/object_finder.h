#pragma once
#include <memory>

#include "crypto/pkcs11/templates.h"
#include "crypto/pkcs11/token_object.h"

namespace crypto::pkcs11 {

class session;

// One object search on a session, from construction to destruction. The
// search may fail to start (no exception); next() then reports the token's
// answer.
class object_finder {
public:
    object_finder(std::shared_ptr<session> owner, attribute_template criteria);
    ~object_finder();
    object_finder(const object_finder&) = delete;
    object_finder& operator=(const object_finder&) = delete;

    bool active() const { return active_; }
    // The next object, or an empty one when there are no more. Throws
    // crypto::pkcs11::exception.
    token_object next();

private:
    std::shared_ptr<session> session_;
    bool active_ = false;
};

}  // namespace crypto::pkcs11
