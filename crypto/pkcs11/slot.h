#pragma once
#include <memory>
#include <vector>

#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/cryptoki.h"

namespace crypto::pkcs11 {

class session;

// A slot of one module; a value that keeps the module loaded.
class slot {
public:
    slot(CK_SLOT_ID id, function_list functions);

    CK_SLOT_ID id() const { return id_; }
    const function_list& functions() const { return functions_; }

    // The token's mechanisms; any failure gives an empty list.
    std::vector<CK_MECHANISM_TYPE> get_mechanisms() const;
    // CKM_GOSTR3410 is in the list.
    bool supports_gost_2001() const;
    // The GOST R 34.10-2012 256-bit mechanism with on-token hashing is in the list.
    bool supports_gost_2012() const;

    // Zero-filled before the call; a failing call throws crypto::pkcs11::exception.
    CK_SLOT_INFO get_info() const;
    CK_TOKEN_INFO get_token_info() const;

    // A serial session, read-write when asked; throws crypto::pkcs11::exception.
    std::shared_ptr<session> open_session(bool read_write) const;

private:
    bool has_mechanism(CK_MECHANISM_TYPE mechanism) const;

    CK_SLOT_ID id_;
    function_list functions_;
};

}  // namespace crypto::pkcs11
