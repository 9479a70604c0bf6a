// AES in CBC mode with PKCS#7 padding, buffer to buffer. Failures are return
// codes (see aes_status). Input and output may be the same buffer.
#include <cstring>

#include "crypto/aes/aes.h"
#include "crypto/secure_wipe.h"

namespace crypto {
namespace {

constexpr std::size_t block = 16;

bool valid_key_length(std::size_t key_length) { return key_length == 16 || key_length == 24 || key_length == 32; }

void xor_block(std::uint8_t* target, const std::uint8_t* mask) {
    for (std::size_t i = 0; i < block; ++i) target[i] ^= mask[i];
}

}  // namespace

int aes_cbc_encrypt(const std::uint8_t* data, std::size_t length, const std::uint8_t* key, std::size_t key_length,
                    const std::uint8_t* iv, std::uint8_t* out, std::size_t capacity) {
    if (!valid_key_length(key_length)) return aes_bad_key_length;
    const std::size_t whole = length / block * block;
    if (capacity < whole + block) return aes_output_too_small;

    aes_key_schedule schedule = aes_expand_key(key, key_length);
    const wipe_on_exit<aes_key_schedule> wipe_schedule(schedule);
    std::uint8_t chain[block] = {};  // a null IV means no XOR: the same as zeros
    if (iv) std::memcpy(chain, iv, block);

    std::uint8_t buffer[block];
    for (std::size_t offset = 0; offset < whole; offset += block) {
        std::memcpy(buffer, data + offset, block);
        xor_block(buffer, chain);
        aes_encrypt_block(schedule, buffer, chain);
        std::memcpy(out + offset, chain, block);
    }
    // The last block: the remaining bytes and p bytes of value p (1 to 16).
    const std::size_t rest = length - whole;
    const auto pad = static_cast<std::uint8_t>(block - rest);
    if (rest) std::memcpy(buffer, data + whole, rest);
    std::memset(buffer + rest, pad, pad);
    xor_block(buffer, chain);
    aes_encrypt_block(schedule, buffer, out + whole);
    return aes_ok;
}

int aes_cbc_decrypt(const std::uint8_t* data, std::size_t length, const std::uint8_t* key, std::size_t key_length,
                    const std::uint8_t* iv, std::uint8_t* out, std::size_t capacity, std::size_t* padding_count) {
    if (length % block != 0) return aes_bad_data_length;
    if (!valid_key_length(key_length)) return aes_bad_key_length;
    if (padding_count ? length == 0 || capacity < length - block : capacity < length) return aes_output_too_small;
    if (length == 0) return aes_ok;  // nothing to decrypt, nothing written

    aes_key_schedule schedule = aes_expand_key(key, key_length);
    const wipe_on_exit<aes_key_schedule> wipe_schedule(schedule);
    std::uint8_t chain[block] = {};
    if (iv) std::memcpy(chain, iv, block);

    // With padding removal the last block is decrypted apart from the output,
    // which may be too small to hold it.
    const std::size_t written = padding_count ? length - block : length;
    std::uint8_t cipher[block], plain[block];
    for (std::size_t offset = 0; offset < length; offset += block) {
        std::memcpy(cipher, data + offset, block);  // kept: the output may overwrite it
        aes_decrypt_block(schedule, cipher, plain);
        xor_block(plain, chain);
        std::memcpy(chain, cipher, block);
        if (offset < written) std::memcpy(out + offset, plain, block);
    }
    // The last plaintext block (it may be part of a PIN) is zeroed however the check ends.
    struct wipe_block {
        std::uint8_t* data;
        ~wipe_block() { secure_wipe(data, block); }
    } const wipe_plain{plain};
    if (!padding_count) return aes_ok;

    const std::uint8_t count = plain[block - 1];
    *padding_count = count;
    if (count == 0 || count > block) return aes_bad_padding;
    for (std::size_t i = block - count; i < block; ++i)
        if (plain[i] != count) return aes_bad_padding;
    if (capacity < length - count) return aes_output_too_small;
    if (count < block) std::memcpy(out + written, plain, block - count);
    return aes_ok;
}

}  // namespace crypto
