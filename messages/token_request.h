#pragma once
// What CreateRequestHW and WriteCertificateHW share: the card type of a
// request as a number, and finding the token (its family's module, then the
// token by serial number) for the token request back end.
#include <cstdint>
#include <string>

namespace crypto::pkcs11 {
class x509request;
}

namespace messages {

// The decimal card type as std::stoi reads it: leading white space and a sign
// allowed, trailing characters ignored. No digits throw std::invalid_argument
// ("invalid stoi argument"), a value outside 32 bits std::out_of_range
// ("stoi argument out of range").
std::int32_t card_type_number(const std::string& text);

// Selects the module of the card type's family and opens a session on the
// token with the serial number. Gives the in-band message of the failing
// step, or null. Token failures throw crypto::pkcs11::exception.
const char* open_token(crypto::pkcs11::x509request& request, std::int32_t card_type, const std::string& serial);

// The user's login on the token for one command: a successful login is
// followed by a logout when the command ends (also when a step throws),
// before the request object closes the session.
class token_login {
public:
    explicit token_login(crypto::pkcs11::x509request& request) : request_(request) {}
    ~token_login();
    token_login(const token_login&) = delete;
    token_login& operator=(const token_login&) = delete;

    // Gives the in-band message of a refused login, or null.
    const char* login(const std::string& pin);

private:
    crypto::pkcs11::x509request& request_;
    bool logged_in_ = false;
};

}  // namespace messages
