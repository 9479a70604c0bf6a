#pragma once
#include <memory>
#include <string>

#include "crypto/csp/x509certificate.h"
#include "crypto/pkcs11/token_object.h"

namespace crypto::pkcs11 {

class session;

// A certificate object of a token. It keeps the read-only session of its slot
// open (shared by every certificate found in that slot), so that the signers
// can log in and find the key beside it.
class x509certificate : public csp::x509certificate {
public:
    // Reads the object's CKA_VALUE (failures throw); bytes that are not a
    // certificate leave the context empty.
    x509certificate(token_object object, std::shared_ptr<session> token_session);

    bool is_hardware() const override;
    const char* carrier_type() const override;
    // The object's CKA_ID bytes as text, unchanged.
    std::string container() const override;
    // The description of the session's slot without trailing white space.
    std::string reader() const override;
    bool has_private_key() const override;

    const std::shared_ptr<session>& token_session() const { return session_; }
    const token_object& object() const { return object_; }

private:
    std::shared_ptr<session> session_;
    token_object object_;
};

// The description text of a slot: all 64 bytes, trailing blanks, tabs, line
// feeds, vertical tabs, form feeds and carriage returns removed; leading
// blanks and NUL bytes stay.
std::string slot_description_text(const CK_SLOT_INFO& info);

}  // namespace crypto::pkcs11
