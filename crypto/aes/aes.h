#pragma once
#include <cstddef>
#include <cstdint>

#include "crypto/byte_vector.h"

namespace crypto {

// The expanded key: 176, 208 or 240 bytes; the round count follows from its size.
using aes_key_schedule = byte_vector;

// Throws std::invalid_argument("Invalid key size") for a key that is not 16, 24 or 32 bytes.
aes_key_schedule aes_expand_key(const std::uint8_t* key, std::size_t key_length);
void aes_encrypt_block(const aes_key_schedule& schedule, const std::uint8_t in[16], std::uint8_t out[16]);
void aes_decrypt_block(const aes_key_schedule& schedule, const std::uint8_t in[16], std::uint8_t out[16]);

// Return codes of the CBC functions.
enum aes_status : int {
    aes_ok = 0,
    aes_bad_data_length = 1,
    aes_bad_key_length = 2,
    aes_output_too_small = 3,
    aes_bad_padding = 4,
};

// CBC with PKCS#7 padding. On success writes (length rounded down to 16) + 16 bytes.
int aes_cbc_encrypt(const std::uint8_t* data, std::size_t length, const std::uint8_t* key, std::size_t key_length,
                    const std::uint8_t* iv, std::uint8_t* out, std::size_t capacity);
// With padding_count null the padding is neither checked nor removed.
int aes_cbc_decrypt(const std::uint8_t* data, std::size_t length, const std::uint8_t* key, std::size_t key_length,
                    const std::uint8_t* iv, std::uint8_t* out, std::size_t capacity, std::size_t* padding_count);

}  // namespace crypto
