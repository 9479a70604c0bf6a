#pragma once
#include <memory>
#include <string>

#include "crypto/byte_vector.h"
#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

class slot;
class token_object;

// An open session on a token, held only in shared ownership: everything found
// in it (objects, certificates) keeps it open. When the last share goes, a
// session still logged in is logged out, then it is closed.
class session {
public:
    static std::shared_ptr<session> make(CK_SESSION_HANDLE handle, function_list functions);
    ~session();
    session(const session&) = delete;
    session& operator=(const session&) = delete;

    // The session exists and has a handle and a module.
    static bool is_valid(const std::shared_ptr<session>& candidate);

    // Logs the user in; an empty PIN is passed with length 0. Throws
    // crypto::pkcs11::exception with the token's code (wrong PIN: 0xA0).
    void login(const std::string& pin);
    // C_Logout, whatever it answers; the session counts as logged out after.
    void logout();
    bool logged_in() const { return logged_in_; }

    // The slot the session was opened on; throws crypto::pkcs11::exception.
    slot get_slot() const;

    // The token's signature of data with key, in the order the token gives it.
    // Throws crypto::pkcs11::exception.
    byte_vector sign(const token_object& key, const byte_vector& data, CK_MECHANISM mechanism) const;

    CK_SESSION_HANDLE handle() const { return handle_; }
    const function_list& functions() const { return functions_; }

private:
    session(CK_SESSION_HANDLE handle, function_list functions);

    bool logged_in_ = false;
    CK_SESSION_HANDLE handle_;
    function_list functions_;
};

}  // namespace crypto::pkcs11
