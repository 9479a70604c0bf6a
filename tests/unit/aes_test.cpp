#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "crypto/aes/aes.h"
#include "crypto/encoding/hex.h"

namespace {

using crypto::byte_vector;

byte_vector hex(const char* text) { return crypto::hex_decode(text); }

byte_vector counting(std::size_t n, std::uint8_t start = 0) {
    byte_vector v(n);
    std::iota(v.begin(), v.end(), start);
    return v;
}

// The key of the FIPS 197 example for a key size: 00 01 02 .. (size - 1).
byte_vector example_key(std::size_t size) { return counting(size); }

// Encrypts data and returns the ciphertext (code 0 expected).
byte_vector encrypt(const byte_vector& data, const byte_vector& key, const std::uint8_t* iv) {
    byte_vector out(data.size() / 16 * 16 + 16);
    EXPECT_EQ(crypto::aes_cbc_encrypt(data.data(), data.size(), key.data(), key.size(), iv, out.data(), out.size()),
              crypto::aes_ok);
    return out;
}

// One block encrypted without padding: the first block of a CBC encryption.
byte_vector raw_block(const byte_vector& block, const byte_vector& key, const std::uint8_t* iv) {
    byte_vector out = encrypt(block, key, iv);
    out.resize(16);
    return out;
}

// ---------------------------------------------------------------- block cipher

TEST(AesBlock, Fips197ExampleVectors) {
    const byte_vector plain = hex("00112233445566778899aabbccddeeff");
    const struct {
        std::size_t key_size;
        const char* cipher;
    } examples[] = {
        {16, "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {24, "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {32, "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (const auto& e : examples) {
        const crypto::aes_key_schedule schedule = crypto::aes_expand_key(example_key(e.key_size).data(), e.key_size);
        std::uint8_t out[16], back[16];
        crypto::aes_encrypt_block(schedule, plain.data(), out);
        EXPECT_EQ(byte_vector(out, out + 16), hex(e.cipher)) << e.key_size;
        crypto::aes_decrypt_block(schedule, out, back);
        EXPECT_EQ(byte_vector(back, back + 16), plain) << e.key_size;
    }
}

TEST(AesBlock, KeyExpansionMatchesFips197AppendixA) {
    const struct {
        const char* key;
        std::size_t size;
        const char* last_word;
    } examples[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c", 176, "b6630ca6"},
        {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", 208, "01002202"},
        {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", 240, "706c631e"},
    };
    for (const auto& e : examples) {
        const byte_vector key = hex(e.key);
        const crypto::aes_key_schedule schedule = crypto::aes_expand_key(key.data(), key.size());
        ASSERT_EQ(schedule.size(), e.size);
        EXPECT_EQ(byte_vector(schedule.begin(), schedule.begin() + static_cast<std::ptrdiff_t>(key.size())), key);
        EXPECT_EQ(byte_vector(schedule.end() - 4, schedule.end()), hex(e.last_word));
    }
    // Word 4 of the 128-bit example: the first transformed word.
    const byte_vector key = hex("2b7e151628aed2a6abf7158809cf4f3c");
    const crypto::aes_key_schedule schedule = crypto::aes_expand_key(key.data(), 16);
    EXPECT_EQ(byte_vector(schedule.begin() + 16, schedule.begin() + 20), hex("a0fafe17"));
}

TEST(AesBlock, RejectsOtherKeySizes) {
    const byte_vector key(33, 1);
    for (std::size_t size : {0, 8, 15, 17, 20, 31, 33}) {
        try {
            crypto::aes_expand_key(key.data(), size);
            ADD_FAILURE() << size;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Invalid key size");
        }
    }
}

// ---------------------------------------------------------------- CBC

TEST(AesCbc, MatchesSp800_38aExampleAndPadsAWholeBlock) {
    const byte_vector key = hex("2b7e151628aed2a6abf7158809cf4f3c");
    const byte_vector iv = hex("000102030405060708090a0b0c0d0e0f");
    const byte_vector plain = hex(
        "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
        "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    const byte_vector cipher = hex(
        "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
        "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7");
    const byte_vector out = encrypt(plain, key, iv.data());
    ASSERT_EQ(out.size(), 80u);
    EXPECT_EQ(byte_vector(out.begin(), out.begin() + 64), cipher);
    // The fifth block is sixteen 0x10 bytes chained to the fourth.
    EXPECT_EQ(byte_vector(out.begin() + 64, out.end()),
              raw_block(byte_vector(16, 0x10), key, cipher.data() + 48));

    // Without a count pointer nothing is checked or removed.
    byte_vector back(64);
    EXPECT_EQ(crypto::aes_cbc_decrypt(cipher.data(), 64, key.data(), 16, iv.data(), back.data(), 64, nullptr),
              crypto::aes_ok);
    EXPECT_EQ(back, plain);
}

TEST(AesCbc, EncryptedLengths) {
    const byte_vector key = example_key(32);
    const std::uint8_t iv[16] = {9, 8, 7};
    for (std::size_t n : {0, 1, 15, 16, 17, 31, 32, 33}) EXPECT_EQ(encrypt(counting(n), key, iv).size(), n / 16 * 16 + 16) << n;
    // The empty message is one block of 0x10 bytes.
    EXPECT_EQ(encrypt({}, key, iv), raw_block(byte_vector(16, 0x10), key, iv));
}

TEST(AesCbc, NullIvIsAZeroIv) {
    const byte_vector key = example_key(24);
    const std::uint8_t zero[16] = {};
    const byte_vector data = counting(40, 3);
    const byte_vector c = encrypt(data, key, nullptr);
    EXPECT_EQ(c, encrypt(data, key, zero));
    byte_vector back(48);
    std::size_t count = 0;
    ASSERT_EQ(crypto::aes_cbc_decrypt(c.data(), c.size(), key.data(), key.size(), nullptr, back.data(), back.size(), &count),
              crypto::aes_ok);
    back.resize(c.size() - count);
    EXPECT_EQ(back, data);
}

TEST(AesCbc, RoundTripsEveryLengthForEveryKeySize) {
    std::mt19937 generator(5);
    for (std::size_t key_size : {16, 24, 32}) {
        byte_vector key(key_size), iv(16);
        for (auto& b : key) b = static_cast<std::uint8_t>(generator());
        for (auto& b : iv) b = static_cast<std::uint8_t>(generator());
        for (std::size_t n = 0; n <= 64; ++n) {
            byte_vector data(n);
            for (auto& b : data) b = static_cast<std::uint8_t>(generator());
            const byte_vector c = encrypt(data, key, iv.data());
            byte_vector back(c.size(), 0xEE);
            std::size_t count = 99;
            ASSERT_EQ(crypto::aes_cbc_decrypt(c.data(), c.size(), key.data(), key_size, iv.data(), back.data(),
                                              back.size(), &count),
                      crypto::aes_ok);
            EXPECT_EQ(count, 16 - n % 16);
            back.resize(c.size() - count);
            EXPECT_EQ(back, data) << key_size << " " << n;
        }
    }
}

TEST(AesCbc, WorksInPlace) {
    const byte_vector key = example_key(16);
    const std::uint8_t iv[16] = {1};
    const byte_vector data = counting(37);
    byte_vector buffer(48);
    std::copy(data.begin(), data.end(), buffer.begin());
    ASSERT_EQ(crypto::aes_cbc_encrypt(buffer.data(), 37, key.data(), 16, iv, buffer.data(), 48), crypto::aes_ok);
    EXPECT_EQ(buffer, encrypt(data, key, iv));
    std::size_t count = 0;
    ASSERT_EQ(crypto::aes_cbc_decrypt(buffer.data(), 48, key.data(), 16, iv, buffer.data(), 48, &count), crypto::aes_ok);
    EXPECT_EQ(count, 11u);
    EXPECT_EQ(byte_vector(buffer.begin(), buffer.begin() + 37), data);
}

TEST(AesCbc, EncryptReturnCodes) {
    const byte_vector key(32, 7), data(33, 1);
    byte_vector out(48, 0xAA);
    // The key is checked before the capacity.
    EXPECT_EQ(crypto::aes_cbc_encrypt(data.data(), 33, key.data(), 20, nullptr, out.data(), 10), crypto::aes_bad_key_length);
    EXPECT_EQ(crypto::aes_cbc_encrypt(data.data(), 33, key.data(), 0, nullptr, out.data(), 48), crypto::aes_bad_key_length);
    EXPECT_EQ(crypto::aes_cbc_encrypt(data.data(), 33, key.data(), 32, nullptr, out.data(), 47), crypto::aes_output_too_small);
    EXPECT_EQ(crypto::aes_cbc_encrypt(data.data(), 0, key.data(), 32, nullptr, out.data(), 15), crypto::aes_output_too_small);
    EXPECT_EQ(out, byte_vector(48, 0xAA));  // failures write nothing
    EXPECT_EQ(crypto::aes_cbc_encrypt(data.data(), 33, key.data(), 32, nullptr, out.data(), 48), crypto::aes_ok);
}

TEST(AesCbc, DecryptChecksBeforeWriting) {
    const byte_vector key(16, 7), data(48, 1);
    byte_vector out(48, 0xAA);
    std::size_t count = 1234;
    // The length is checked before the key.
    EXPECT_EQ(crypto::aes_cbc_decrypt(data.data(), 17, key.data(), 16, nullptr, out.data(), 48, &count),
              crypto::aes_bad_data_length);
    EXPECT_EQ(crypto::aes_cbc_decrypt(data.data(), 17, key.data(), 5, nullptr, out.data(), 48, nullptr),
              crypto::aes_bad_data_length);
    EXPECT_EQ(crypto::aes_cbc_decrypt(data.data(), 32, key.data(), 5, nullptr, out.data(), 48, &count),
              crypto::aes_bad_key_length);
    EXPECT_EQ(crypto::aes_cbc_decrypt(data.data(), 0, key.data(), 16, nullptr, out.data(), 48, &count),
              crypto::aes_output_too_small);
    EXPECT_EQ(crypto::aes_cbc_decrypt(data.data(), 48, key.data(), 16, nullptr, out.data(), 31, &count),
              crypto::aes_output_too_small);
    EXPECT_EQ(crypto::aes_cbc_decrypt(data.data(), 48, key.data(), 16, nullptr, out.data(), 47, nullptr),
              crypto::aes_output_too_small);
    EXPECT_EQ(out, byte_vector(48, 0xAA));
    EXPECT_EQ(count, 1234u);
    // Length 0 without a count pointer: nothing to do, nothing written.
    EXPECT_EQ(crypto::aes_cbc_decrypt(data.data(), 0, key.data(), 16, nullptr, nullptr, 0, nullptr), crypto::aes_ok);
}

TEST(AesCbc, CapacityOfLengthMinusOneBlock) {
    const byte_vector key = example_key(32);
    const std::uint8_t iv[16] = {4, 4};
    std::size_t count = 0;
    {
        // Padding of 16: exactly length - 16 bytes suffice.
        const byte_vector c = encrypt(counting(32), key, iv);
        byte_vector out(32);
        EXPECT_EQ(crypto::aes_cbc_decrypt(c.data(), 48, key.data(), 32, iv, out.data(), 32, &count), crypto::aes_ok);
        EXPECT_EQ(count, 16u);
        EXPECT_EQ(out, counting(32));
    }
    {
        // Padding of 5: the plaintext is 43 bytes, 32 are too few.
        const byte_vector c = encrypt(counting(43), key, iv);
        byte_vector out(32);
        EXPECT_EQ(crypto::aes_cbc_decrypt(c.data(), 48, key.data(), 32, iv, out.data(), 32, &count),
                  crypto::aes_output_too_small);
        EXPECT_EQ(count, 5u);
    }
    {
        // A single block into an output smaller than a block: 15 bytes of
        // plaintext into a 15-byte buffer (AddressSanitizer sees any overflow).
        const byte_vector c = encrypt(counting(15, 100), key, iv);
        byte_vector out(15);
        EXPECT_EQ(crypto::aes_cbc_decrypt(c.data(), 16, key.data(), 32, iv, out.data(), out.size(), &count), crypto::aes_ok);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(out, counting(15, 100));
        // The empty plaintext needs no output at all.
        const byte_vector empty = encrypt({}, key, iv);
        EXPECT_EQ(crypto::aes_cbc_decrypt(empty.data(), 16, key.data(), 32, iv, nullptr, 0, &count), crypto::aes_ok);
        EXPECT_EQ(count, 16u);
    }
}

TEST(AesCbc, RejectsBadPadding) {
    const byte_vector key = example_key(16);
    const std::uint8_t iv[16] = {0x5A};
    // Last plaintext blocks that PKCS#7 does not allow, the last byte of each
    // being stored as the count.
    byte_vector too_large(16, 0x11);
    byte_vector mismatch(16, 0x33);
    mismatch[14] = 0x01;
    mismatch[15] = 0x02;
    byte_vector zero(16, 0x00);
    byte_vector zero_after_text = counting(16, 1);
    zero_after_text[15] = 0x00;
    byte_vector sixteen_broken(16, 0x10);
    sixteen_broken[0] = 0x0F;
    for (const byte_vector& last : {too_large, mismatch, zero, zero_after_text, sixteen_broken}) {
        // A good first block ahead of the bad one: it is already written.
        byte_vector plain = counting(16, 200);
        plain.insert(plain.end(), last.begin(), last.end());
        byte_vector c = raw_block(byte_vector(plain.begin(), plain.begin() + 16), key, iv);
        const byte_vector second = raw_block(last, key, c.data());
        c.insert(c.end(), second.begin(), second.end());

        byte_vector out(32, 0xAA);
        std::size_t count = 999;
        EXPECT_EQ(crypto::aes_cbc_decrypt(c.data(), 32, key.data(), 16, iv, out.data(), 32, &count), crypto::aes_bad_padding);
        EXPECT_EQ(count, last[15]);
        EXPECT_EQ(byte_vector(out.begin(), out.begin() + 16), counting(16, 200));
        // Without the check the same data decrypts whole.
        EXPECT_EQ(crypto::aes_cbc_decrypt(c.data(), 32, key.data(), 16, iv, out.data(), 32, nullptr), crypto::aes_ok);
        EXPECT_EQ(out, plain);
    }
}

}  // namespace
