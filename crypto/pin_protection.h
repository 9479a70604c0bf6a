#pragma once
#include <cstdint>
#include <string>

#include "crypto/byte_vector.h"

namespace crypto {

// Two-level protection of a PIN that a web page keeps: a fresh session key
// encrypts the PIN, and a master key derived from key material built into the
// program wraps the session key, so that any instance can decrypt what any other
// made. Text form: base64(PIN ciphertext) "$" base64(wrapped session key).
class pin_protection {
public:
    pin_protection();
    ~pin_protection();

    void make_master_key();
    void make_session_key();
    void unwrap_session_key();
    std::string decrypt(const byte_vector& ciphertext) const;

    const std::uint8_t* iv() const { return iv_; }
    byte_vector session_key;
    byte_vector master_key;
    byte_vector wrapped_session_key;

private:
    const char* pieces_[6];
    std::uint8_t iv_[16];
};

// Makes an encrypted PIN text (the EncryptPin scheme).
std::string encrypt_pin_text(const std::string& pin);
// The PIN, or the empty text when the text does not decrypt. A part that is not
// base64 throws the base64 decoder's exception.
std::string decrypt_pin_text(const std::string& text);

}  // namespace crypto
