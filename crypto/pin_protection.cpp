#include "crypto/pin_protection.h"

#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "crypto/aes/aes.h"
#include "crypto/encoding/base64.h"
#include "crypto/gost_3411_2012/gost_3411_12.h"
#include "crypto/random.h"
#include "crypto/secure_wipe.h"

namespace crypto {
namespace {

// Key material of the master key. These values, and the IV below, are part of
// the encrypted PIN format: a text made by one build decrypts only in a build
// with the same values, so they must never change.
const char piece_1[] = "m.fI";
const char piece_2[] = "ceV1!eP";
const char piece_3[] = "kKi'";
const char piece_4[] = "+*!U_3+1.";
const char piece_5[] = "93cXW9.N";
const char piece_6[] = ".MPZFh";

// The CBC initialisation vector of both the PIN and the session key, as four
// 32-bit words whose bytes are taken least significant first.
const std::uint32_t iv_words[4] = {0x5A379268, 0xBBC50C10, 0x3D3456C8, 0x7EA2434A};

constexpr std::size_t key_size = 32;
constexpr std::size_t session_material_size = 64;

byte_vector gost_256(const byte_vector& data) {
    if (data.empty()) throw std::runtime_error("Fatal error!");
    gost_3411_12_256 hash;
    hash.init();
    hash.update(data.data(), static_cast<std::uint32_t>(data.size()));
    return hash.final();
}

// The PKCS#7 ciphertext size of a message: the length rounded down to a whole
// block, plus one block.
std::size_t padded_size(std::size_t length) { return length / 16 * 16 + 16; }

}  // namespace

pin_protection::pin_protection()
    : pieces_{piece_1, piece_2, piece_3, piece_4, piece_5, piece_6} {
    for (int w = 0; w < 4; ++w)
        for (int b = 0; b < 4; ++b) iv_[4 * w + b] = static_cast<std::uint8_t>(iv_words[w] >> (8 * b));
}

pin_protection::~pin_protection() {
    // Keys do not outlive the object in freed memory.
    for (byte_vector* key : {&session_key, &master_key, &wrapped_session_key}) secure_wipe(*key);
}

void pin_protection::make_master_key() {
    // Each piece is taken last character first, the pieces in order.
    byte_vector material;
    for (const char* piece : pieces_)
        for (std::size_t i = std::strlen(piece); i-- > 0;) material.push_back(static_cast<std::uint8_t>(piece[i]));
    master_key = gost_256(material);
}

void pin_protection::make_session_key() {
    byte_vector material(session_material_size);
    const wipe_on_exit<byte_vector> wipe_material(material);
    random_bytes(material.data(), material.size());
    byte_vector key = gost_256(material);
    secure_wipe(session_key);
    session_key = std::move(key);
}

void pin_protection::unwrap_session_key() {
    byte_vector plain(wrapped_session_key.size());
    std::size_t padding = 0;
    if (aes_cbc_decrypt(wrapped_session_key.data(), wrapped_session_key.size(), master_key.data(), master_key.size(),
                        iv_, plain.data(), plain.size(), &padding) != aes_ok) {
        secure_wipe(plain);  // whatever a wrong key or bad padding decrypted to
        return;              // the session key stays as it was
    }
    plain.resize(wrapped_session_key.size() - padding);
    secure_wipe(session_key);
    session_key = std::move(plain);
}

std::string pin_protection::decrypt(const byte_vector& ciphertext) const {
    if (session_key.empty()) return std::string();
    std::string plain(ciphertext.size(), '\0');
    std::size_t padding = 0;
    if (aes_cbc_decrypt(ciphertext.data(), ciphertext.size(), session_key.data(), session_key.size(), iv_,
                        reinterpret_cast<std::uint8_t*>(&plain[0]), plain.size(), &padding) != aes_ok) {
        secure_wipe(plain);  // may hold the PIN when only the padding was wrong
        return std::string();
    }
    plain.resize(ciphertext.size() - padding);
    return plain;
}

std::string encrypt_pin_text(const std::string& pin) {
    pin_protection protection;
    protection.make_session_key();
    protection.make_master_key();

    byte_vector wrapped(padded_size(key_size));
    if (aes_cbc_encrypt(protection.session_key.data(), protection.session_key.size(), protection.master_key.data(),
                        protection.master_key.size(), protection.iv(), wrapped.data(), wrapped.size()) != aes_ok)
        throw std::runtime_error("Fatal error!");

    byte_vector ciphertext(padded_size(pin.size()));
    if (aes_cbc_encrypt(reinterpret_cast<const std::uint8_t*>(pin.data()), pin.size(), protection.session_key.data(),
                        protection.session_key.size(), protection.iv(), ciphertext.data(), ciphertext.size()) != aes_ok)
        throw std::runtime_error("Fatal error!");

    return base64_encode(ciphertext) + "$" + base64_encode(wrapped);
}

std::string decrypt_pin_text(const std::string& text) {
    // The first part ends at the first "$", the second at the next one (or the
    // end); anything after a second "$" is ignored.
    const std::size_t first_end = text.find('$');
    std::string first = text.substr(0, first_end);
    const wipe_on_exit<std::string> wipe_first(first);
    std::string second;
    const wipe_on_exit<std::string> wipe_second(second);
    if (first_end != std::string::npos) {
        const std::size_t second_end = text.find('$', first_end + 1);
        second = text.substr(first_end + 1, second_end == std::string::npos ? std::string::npos : second_end - first_end - 1);
    }
    if (first.empty() || second.empty()) return std::string();

    pin_protection protection;
    protection.wrapped_session_key = base64_decode(second);
    byte_vector ciphertext = base64_decode(first);
    const wipe_on_exit<byte_vector> wipe_ciphertext(ciphertext);
    protection.make_master_key();
    protection.unwrap_session_key();
    return protection.decrypt(ciphertext);
}

}  // namespace crypto
