#include <gtest/gtest.h>

#include <boost/archive/iterators/dataflow_exception.hpp>

#include <string>
#include <vector>

#include "crypto/aes/aes.h"
#include "crypto/encoding/base64.h"
#include "crypto/pin_protection.h"
#include "crypto/random.h"

namespace {

using crypto::byte_vector;

struct text_parts {
    byte_vector ciphertext;
    byte_vector wrapped;
};

text_parts split(const std::string& text) {
    const std::size_t dollar = text.find('$');
    EXPECT_NE(dollar, std::string::npos);
    EXPECT_EQ(text.find('$', dollar + 1), std::string::npos);
    return {crypto::base64_decode(text.substr(0, dollar)), crypto::base64_decode(text.substr(dollar + 1))};
}

byte_vector cbc_encrypt(const byte_vector& data, const byte_vector& key, const std::uint8_t* iv) {
    byte_vector out(data.size() / 16 * 16 + 16);
    EXPECT_EQ(crypto::aes_cbc_encrypt(data.data(), data.size(), key.data(), key.size(), iv, out.data(), out.size()),
              crypto::aes_ok);
    return out;
}

// A text built from the parts of the scheme: the given session key wrapped with
// the built-in master key, and the PIN encrypted with the session key.
std::string make_text(const std::string& pin, const byte_vector& session_key) {
    crypto::pin_protection protection;
    protection.make_master_key();
    const byte_vector wrapped = cbc_encrypt(session_key, protection.master_key, protection.iv());
    const byte_vector ciphertext = cbc_encrypt(byte_vector(pin.begin(), pin.end()), session_key, protection.iv());
    return crypto::base64_encode(ciphertext) + "$" + crypto::base64_encode(wrapped);
}

void expect_base64_error(const std::string& text) {
    try {
        crypto::decrypt_pin_text(text);
        ADD_FAILURE() << "no exception for " << text;
    } catch (const boost::archive::iterators::dataflow_exception& e) {
        EXPECT_STREQ(e.what(), "attempt to decode a value not in base64 char set") << text;
    }
}

// ---------------------------------------------------------------- random source

TEST(RandomBytes, FillsTheWholeBufferWithFreshBytes) {
    crypto::random_bytes(nullptr, 0);
    std::vector<byte_vector> draws(4, byte_vector(64));
    for (auto& d : draws) crypto::random_bytes(d.data(), d.size());
    EXPECT_NE(draws[0], draws[1]);
    // Every position was written: over four draws no byte stays zero in all.
    for (std::size_t i = 0; i < 64; ++i)
        EXPECT_TRUE(draws[0][i] || draws[1][i] || draws[2][i] || draws[3][i]) << i;
    // A large request in one call (may be answered in parts by the system).
    byte_vector large(1 << 20);
    crypto::random_bytes(large.data(), large.size());
    std::size_t zeros = 0;
    for (std::uint8_t b : large) zeros += b == 0;
    EXPECT_LT(zeros, large.size() / 128);
}

// ---------------------------------------------------------------- keys

TEST(PinProtection, MasterKeyIsFixedAndSessionKeysAreFresh) {
    crypto::pin_protection a, b;
    a.make_master_key();
    b.make_master_key();
    EXPECT_EQ(a.master_key.size(), 32u);
    EXPECT_EQ(a.master_key, b.master_key);
    EXPECT_EQ(byte_vector(a.iv(), a.iv() + 16), byte_vector(b.iv(), b.iv() + 16));

    a.make_session_key();
    b.make_session_key();
    EXPECT_EQ(a.session_key.size(), 32u);
    EXPECT_NE(a.session_key, b.session_key);
    EXPECT_NE(a.session_key, a.master_key);
}

TEST(PinProtection, UnwrapLeavesTheSessionKeyOnFailure) {
    crypto::pin_protection protection;
    protection.make_master_key();
    const byte_vector session(32, 0x42);
    protection.wrapped_session_key = cbc_encrypt(session, protection.master_key, protection.iv());
    protection.unwrap_session_key();
    EXPECT_EQ(protection.session_key, session);

    const byte_vector earlier = protection.session_key;
    protection.wrapped_session_key.resize(40);  // not whole blocks
    protection.unwrap_session_key();
    EXPECT_EQ(protection.session_key, earlier);
    protection.wrapped_session_key.clear();
    protection.unwrap_session_key();
    EXPECT_EQ(protection.session_key, earlier);
    // Without a session key nothing decrypts.
    crypto::pin_protection fresh;
    EXPECT_EQ(fresh.decrypt(byte_vector(16, 1)), "");
}

// ---------------------------------------------------------------- texts

TEST(PinText, RoundTripsAndHasTheDocumentedShape) {
    const std::vector<std::string> pins = {"1234", "12345678", "", "0123456789abcdef", "\xD0\xBF\xD0\xB8\xD0\xBD-1",
                                           std::string("a\0b", 3)};
    for (const std::string& pin : pins) {
        const std::string text = crypto::encrypt_pin_text(pin);
        EXPECT_EQ(crypto::decrypt_pin_text(text), pin);
        const text_parts parts = split(text);
        EXPECT_EQ(parts.ciphertext.size(), pin.size() / 16 * 16 + 16) << pin;
        EXPECT_EQ(parts.wrapped.size(), 48u);
    }
    for (std::size_t n = 0; n <= 40; ++n) {
        const std::string pin(n, static_cast<char>('A' + n % 26));
        EXPECT_EQ(crypto::decrypt_pin_text(crypto::encrypt_pin_text(pin)), pin) << n;
    }
}

TEST(PinText, SamePinGivesDifferentTextsOfEqualLength) {
    for (const std::string& pin : {std::string("1234"), std::string("87654321")}) {
        const std::string first = crypto::encrypt_pin_text(pin);
        const std::string second = crypto::encrypt_pin_text(pin);
        EXPECT_NE(first, second);
        EXPECT_EQ(first.size(), 24u + 1 + 64);
        EXPECT_EQ(second.size(), first.size());
        // Both the session key and therefore the PIN ciphertext change.
        EXPECT_NE(split(first).wrapped, split(second).wrapped);
        EXPECT_NE(split(first).ciphertext, split(second).ciphertext);
    }
    // An empty PIN is one block; sixteen characters are two.
    EXPECT_EQ(split(crypto::encrypt_pin_text("")).ciphertext.size(), 16u);
    EXPECT_EQ(split(crypto::encrypt_pin_text("0123456789abcdef")).ciphertext.size(), 32u);
}

TEST(PinText, DecryptsTextsOfEarlierBuilds) {
    // Made once with the built-in key material (and checked then by decrypting
    // it with OpenSSL and libgcrypt); any change to the pieces or the IV would
    // make the PINs that web pages keep undecryptable.
    const std::string text = "n7ZxBTKpjDEAlQcAj+x73A==$MJWxhpCuh4OH/2hr/R8ySdI697FmbzPCKWPMesltB0ckvXNRe8XAUTQgCy3dXCPk";
    EXPECT_EQ(crypto::decrypt_pin_text(text), "1234");
}

TEST(PinText, AcceptsOtherSessionKeySizesAndIgnoresATrailingPart) {
    EXPECT_EQ(crypto::decrypt_pin_text(make_text("2468", byte_vector(16, 0x10))), "2468");
    EXPECT_EQ(crypto::decrypt_pin_text(make_text("2468", byte_vector(24, 0x24))), "2468");
    const std::string text = crypto::encrypt_pin_text("1357");
    EXPECT_EQ(crypto::decrypt_pin_text(text + "$anything *not* base64"), "1357");
}

TEST(PinText, MissingPartsGiveTheEmptyText) {
    const std::string text = crypto::encrypt_pin_text("1234");
    const std::size_t dollar = text.find('$');
    const std::string first = text.substr(0, dollar), second = text.substr(dollar + 1);
    for (const std::string& bad : {std::string(), std::string("$"), std::string("$$"), first, first + "$",
                                   "$" + second, first + "$$" + second, "$" + second + "$" + first})
        EXPECT_EQ(crypto::decrypt_pin_text(bad), "") << bad;
}

TEST(PinText, CipherFailuresGiveTheEmptyText) {
    const std::string text = crypto::encrypt_pin_text("1234");
    const text_parts parts = split(text);
    const std::string first = crypto::base64_encode(parts.ciphertext);
    const std::string second = crypto::base64_encode(parts.wrapped);

    // Lengths that are not whole blocks, for the key and for the PIN.
    EXPECT_EQ(crypto::decrypt_pin_text(first + "$" + crypto::base64_encode(byte_vector(parts.wrapped.begin(), parts.wrapped.end() - 1))), "");
    EXPECT_EQ(crypto::decrypt_pin_text(first + "$AA"), "");
    EXPECT_EQ(crypto::decrypt_pin_text(crypto::base64_encode(byte_vector(parts.ciphertext.begin(), parts.ciphertext.end() - 1)) + "$" + second), "");
    // A session key of a length AES does not take, or none at all.
    crypto::pin_protection protection;
    protection.make_master_key();
    for (std::size_t key_size : {0, 8, 20, 31}) {
        const byte_vector wrapped = cbc_encrypt(byte_vector(key_size, 7), protection.master_key, protection.iv());
        EXPECT_EQ(crypto::decrypt_pin_text(first + "$" + crypto::base64_encode(wrapped)), "") << key_size;
    }
}

TEST(PinText, BadBase64Throws) {
    const std::string text = crypto::encrypt_pin_text("1234");
    const std::size_t dollar = text.find('$');
    const std::string first = text.substr(0, dollar), second = text.substr(dollar + 1);
    expect_base64_error("AB*D" + text.substr(4));
    expect_base64_error(first + "$" + second.substr(0, 60) + "!!!!");
    expect_base64_error("A$" + second);        // one character over a group
    expect_base64_error(first + "$" + "QUJDR");
    expect_base64_error(first + "\xD0\x96$" + second);
}

}  // namespace
