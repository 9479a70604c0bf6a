// AES-CBC decryption with arbitrary lengths, keys and capacities, and the
// encrypted PIN text. The first byte picks the case.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <boost/archive/iterators/dataflow_exception.hpp>

#include "crypto/aes/aes.h"
#include "crypto/pin_protection.h"
#include "fuzz/fuzz_checks.h"

namespace {

// Byte 0: key length (any value up to 40); byte 1: capacity slack; then 16
// bytes of IV, the key, and the ciphertext.
void cbc(const std::uint8_t* data, std::size_t size)
{
    if (size < 2 + 16)
        return;
    const std::size_t key_length = data[0] % 41;
    const std::size_t slack = data[1] % 33;
    const std::uint8_t* iv = data + 2;
    data += 18;
    size -= 18;
    if (size < key_length)
        return;
    const std::vector<std::uint8_t> key(data, data + key_length);
    const std::vector<std::uint8_t> ciphertext(data + key_length, data + size);
    // The capacity is the length give or take some bytes: both too small and roomy.
    const std::size_t capacity = ciphertext.size() + slack >= 16 ? ciphertext.size() + slack - 16 : 0;
    std::vector<std::uint8_t> plain(capacity);
    std::size_t padding = 99;
    const int status = crypto::aes_cbc_decrypt(ciphertext.data(), ciphertext.size(), key.data(), key.size(), iv,
                                               plain.data(), plain.size(), &padding);
    if (status != crypto::aes_ok)
        return;
    fuzz::check(padding >= 1 && padding <= 16 && padding <= ciphertext.size(), "padding count out of range");
    // Encrypting the unpadded plaintext again gives the ciphertext back.
    std::vector<std::uint8_t> again(ciphertext.size());
    fuzz::check(crypto::aes_cbc_encrypt(plain.data(), ciphertext.size() - padding, key.data(), key.size(), iv,
                                        again.data(), again.size()) == crypto::aes_ok,
                "re-encryption failed");
    fuzz::check(again == ciphertext, "re-encryption differs from the ciphertext");
}

void pin_text(const std::string& text)
{
    try {
        crypto::decrypt_pin_text(text);
    } catch (const boost::archive::iterators::dataflow_exception&) {
        // A part outside the base64 alphabet.
    }
}

void pin_round_trip(const std::string& pin)
{
    fuzz::check(crypto::decrypt_pin_text(crypto::encrypt_pin_text(pin)) == pin, "PIN round trip");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t pick = data[0] % 3;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (pick) {
    case 0: cbc(data + 1, size - 1); break;
    case 1: pin_text(text); break;
    case 2: pin_round_trip(text); break;
    }
    return 0;
}
