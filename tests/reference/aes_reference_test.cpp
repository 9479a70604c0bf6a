// CBC with PKCS#7 padding compared with OpenSSL's EVP ciphers on random keys,
// IVs and data of every length up to a few blocks and some larger ones.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <random>
#include <vector>

#include "crypto/aes/aes.h"

namespace {

using crypto::byte_vector;

struct cipher_context_deleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using cipher_context = std::unique_ptr<EVP_CIPHER_CTX, cipher_context_deleter>;

const EVP_CIPHER* openssl_cipher(std::size_t key_size) {
    return key_size == 16 ? EVP_aes_128_cbc() : key_size == 24 ? EVP_aes_192_cbc() : EVP_aes_256_cbc();
}

// OpenSSL's CBC with its default PKCS#7 padding.
byte_vector openssl_crypt(bool encrypt, const byte_vector& input, const byte_vector& key, const byte_vector& iv) {
    cipher_context context(EVP_CIPHER_CTX_new());
    EXPECT_TRUE(context);
    EXPECT_EQ(EVP_CipherInit_ex(context.get(), openssl_cipher(key.size()), nullptr, key.data(), iv.data(), encrypt ? 1 : 0), 1);
    byte_vector out(input.size() + 16);
    int written = 0, final_written = 0;
    EXPECT_EQ(EVP_CipherUpdate(context.get(), out.data(), &written, input.data(), static_cast<int>(input.size())), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(context.get(), out.data() + written, &final_written), 1);
    out.resize(static_cast<std::size_t>(written + final_written));
    return out;
}

byte_vector random_bytes(std::mt19937& generator, std::size_t n) {
    byte_vector v(n);
    for (auto& b : v) b = static_cast<std::uint8_t>(generator());
    return v;
}

TEST(AesCbcReference, MatchesOpenSslBothWays) {
    std::mt19937 generator(20240305);
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 80; ++n) lengths.push_back(n);
    for (std::size_t n : {255, 256, 257, 1000, 4096, 4111}) lengths.push_back(n);

    for (std::size_t key_size : {16, 24, 32}) {
        for (std::size_t n : lengths) {
            const byte_vector key = random_bytes(generator, key_size);
            const byte_vector iv = random_bytes(generator, 16);
            const byte_vector data = random_bytes(generator, n);

            byte_vector ours(n / 16 * 16 + 16);
            ASSERT_EQ(crypto::aes_cbc_encrypt(data.data(), n, key.data(), key_size, iv.data(), ours.data(), ours.size()),
                      crypto::aes_ok);
            const byte_vector theirs = openssl_crypt(true, data, key, iv);
            ASSERT_EQ(ours, theirs) << key_size << " " << n;

            // Our decryption of OpenSSL's ciphertext, and OpenSSL's of ours.
            byte_vector back(theirs.size());
            std::size_t count = 0;
            ASSERT_EQ(crypto::aes_cbc_decrypt(theirs.data(), theirs.size(), key.data(), key_size, iv.data(), back.data(),
                                              back.size(), &count),
                      crypto::aes_ok);
            back.resize(theirs.size() - count);
            EXPECT_EQ(back, data) << key_size << " " << n;
            EXPECT_EQ(openssl_crypt(false, ours, key, iv), data) << key_size << " " << n;
        }
    }
}

TEST(AesCbcReference, RawDecryptionMatchesOpenSslWithoutPadding) {
    std::mt19937 generator(77);
    for (std::size_t key_size : {16, 24, 32}) {
        const byte_vector key = random_bytes(generator, key_size);
        const byte_vector iv = random_bytes(generator, 16);
        const byte_vector cipher = random_bytes(generator, 96);

        cipher_context context(EVP_CIPHER_CTX_new());
        ASSERT_EQ(EVP_DecryptInit_ex(context.get(), openssl_cipher(key_size), nullptr, key.data(), iv.data()), 1);
        EVP_CIPHER_CTX_set_padding(context.get(), 0);
        byte_vector theirs(96);
        int written = 0;
        ASSERT_EQ(EVP_DecryptUpdate(context.get(), theirs.data(), &written, cipher.data(), 96), 1);
        ASSERT_EQ(written, 96);

        byte_vector ours(96);
        ASSERT_EQ(crypto::aes_cbc_decrypt(cipher.data(), 96, key.data(), key_size, iv.data(), ours.data(), 96, nullptr),
                  crypto::aes_ok);
        EXPECT_EQ(ours, theirs) << key_size;
    }
}

}  // namespace
