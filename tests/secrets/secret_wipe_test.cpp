// Secrets do not stay in freed memory: requests holding PINs go through the
// request loop (and, on Windows, the control's SendMessage) while every block
// freed through operator delete is searched for them.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/encoding/base64.h"
#include "crypto/encoding/hex.h"
#include "crypto/gost_3411_2012/gost_3411_12.h"
#include "crypto/pin_protection.h"
#include "crypto/secure_wipe.h"
#include "crypto/sha1/sha1.h"
#include "crypto/signature_algorithm.h"
#include "heap_watch.h"
#include "host/framing.h"
#include "host/message_dispatcher.h"
#include "../unit/support/temp_stream.h"

#ifdef _WIN32
#include <windows.h>

#include <fstream>

#include "activex/send_message.h"
#include "messages/command_table.h"
#endif

namespace {

// Distinct texts that occur nowhere else: a short PIN (kept inside the string
// object), a long one (on the heap), one of 16 characters (the shortest that
// no longer fits the string object's own 15-character buffer, so on the heap),
// a 32-byte one (two cipher blocks).
const std::string short_pin = "Qz7#short-PIN";
const std::string long_pin = "Wv3!long-PIN-of-forty-characters-XXXXXXX";
const std::string boundary_pin = "Mn8%just-on-heap";
const std::string block_pin = "Jk5$block-PIN-of-32-characters!!";

std::string frame_of(const std::string& body)
{
    const auto n = static_cast<std::uint32_t>(body.size());
    std::string frame{char(n & 0xFF), char(n >> 8 & 0xFF), char(n >> 16 & 0xFF), char(n >> 24 & 0xFF)};
    return frame + body;
}

// An encrypted PIN text whose PIN ciphertext lost its last block: the
// decryption fails on the padding with all but the last block of the PIN
// already in its buffer.
std::string without_last_block(const std::string& encrypted)
{
    const auto dollar = encrypted.find('$');
    auto ciphertext = crypto::base64_decode(encrypted.substr(0, dollar));
    ciphertext.resize(ciphertext.size() - 16);
    return crypto::base64_encode(ciphertext) + encrypted.substr(dollar);
}

struct request_case {
    const char* name;
    std::vector<std::string> bodies;
    std::vector<std::string> secrets;  // none may be found in a freed block
    std::string expected;              // a text the answers must contain
};

std::vector<request_case> request_cases()
{
    const std::string encrypted_long = crypto::encrypt_pin_text(long_pin);
    const std::string encrypted_short = crypto::encrypt_pin_text(short_pin);
    const std::string document(3u << 19, 'A');  // 1.5 MiB of base64: two frame chunks, a large string
    std::vector<request_case> cases = {
        {"EncryptPin", {R"({"type":"EncryptPin","id":"1","arguments":{"pincode":")" + short_pin + R"("}})",
                        R"({"type":"EncryptPin","id":"2","arguments":{"pincode":")" + long_pin + R"("}})"},
         {short_pin, long_pin}, R"("id":"2")"},
        {"TryDecryptPin", {R"({"type":"TryDecryptPin","id":"3","arguments":{"encrypted_pin":")" + encrypted_long + R"("}})",
                           R"({"type":"TryDecryptPin","id":"4","arguments":{"encrypted_pin":")" + encrypted_short + R"("}})"},
         {long_pin, short_pin, encrypted_long.substr(0, 40)}, R"("id":"4","result":{"valid":"true"})"},
        {"failed decryption",
         {R"({"type":"TryDecryptPin","id":"5","arguments":{"encrypted_pin":")" +
          without_last_block(crypto::encrypt_pin_text(block_pin)) + R"("}})"},
         {block_pin.substr(0, 16)}, R"("id":"5","result":{"valid":"false"})"},
        {"large request",
         {R"({"type":"ComputeHash","id":"6","arguments":{"algorithm":"1.2.643.7.1.1.2.2","data":")" + document +
          R"(","pin":")" + long_pin + R"(","pincode":")" + short_pin + R"("}})"},
         {long_pin, short_pin}, R"("id":"6")"},
        // Read in runs around the escape: the value grows while it is read.
        {"escaped PIN", {R"({"type":"EncryptPin","id":"9","arguments":{"pincode":"Wv3!long-PIN-of-forty-ch\u0061racters-XXXXXXX"}})"},
         {long_pin, long_pin.substr(0, 24)}, R"("id":"9")"},
        {"request not answered", {R"({"id":"7","arguments":{"pin":")" + long_pin + R"("}})"}, {long_pin}, ""},
    };
#ifdef _WIN32
    // The PIN of a signing request, also when no certificate is found.
    cases.push_back({"SignHash",
                     {R"({"type":"SignHash","id":"8","arguments":{"hash":"AAAA","thumbprint":"00","encrypted_pin":")" +
                      encrypted_long + R"("}})"},
                     {long_pin, encrypted_long.substr(0, 40)},
                     R"("id":"8")"});
    // The PIN of the token requests, with the stand-in token accepting it,
    // so that the login happens (see token_standin below). The certificate
    // write then fails on the certificate, after the login. The commands copy
    // the PIN into one string of their own; a PIN short enough to stay inside
    // that string object is on the stack, where the search of freed blocks
    // cannot see it, so both PINs here are past the inline buffer.
    const std::string subject = "2.5.4.3=Secret", signed_fields = subject + "1.3.6.1.5.5.7.3.2" + "0";
    crypto::sha1 digest;
    digest.init();
    digest.update(signed_fields.data(), static_cast<std::uint32_t>(signed_fields.size()));
    const std::string integrity = crypto::hex_encode(digest.final());
    const auto token_request = [&](const char* id, const char* serial, const std::string& pin) {
        return R"({"type":"CreateRequestHW","id":")" + std::string(id) +
               R"(","arguments":{"reader":"Reader","container":"secret-)" + id + R"(","subject_quoted":")" + subject +
               R"(","eku":["1.3.6.1.5.5.7.3.2"],"cryptoStandart":"gost2012-256","export":"0","hash_quoted":")" +
               integrity + R"(","card_type":"4","card_serial":")" + serial + R"(","pincode":")" + pin + R"("}})";
    };
    const auto certificate_write = [](const char* id, const char* serial, const std::string& pin) {
        return R"({"type":"WriteCertificateHW","id":")" + std::string(id) +
               R"(","arguments":{"container":"installed","cert":"AAAA","card_type":"4","card_serial":")" + serial +
               R"(","pincode":")" + pin + R"("}})";
    };
    cases.push_back({"CreateRequestHW, long PIN", {token_request("10", "SEC1", long_pin)}, {long_pin},
                     R"("id":"10","result":{"valid":"1")"});
    cases.push_back({"CreateRequestHW, 16-character PIN", {token_request("11", "SEC2", boundary_pin)}, {boundary_pin},
                     R"("id":"11","result":{"valid":"1")"});
    cases.push_back({"WriteCertificateHW, long PIN", {certificate_write("12", "SEC1", long_pin)}, {long_pin},
                     R"("id":"12","result":{"valid":"0","errorcode":"0x8009310B")"});
    cases.push_back({"WriteCertificateHW, 16-character PIN", {certificate_write("13", "SEC2", boundary_pin)},
                     {boundary_pin}, R"("id":"13","result":{"valid":"0","errorcode":"0x8009310B")"});
#endif
    return cases;
}

#ifdef _WIN32
// The stand-in PKCS#11 token (beside the test program under the vendors'
// module names) with two tokens, one per PIN, each holding a public key
// without a certificate; named through its environment variable while the
// object lives.
class token_standin {
public:
    token_standin()
    {
        const std::string mechanisms = R"("mechanisms":["0x1200","0x1201","0x1202","0xD4321008"],)";
        const auto token = [&](const char* serial, const std::string& pin) {
            return R"({"description":"Reader )" + std::string(serial) + R"(",)" + mechanisms +
                   R"("token":{"serial":")" + serial + R"("},"pin":")" + pin +
                   R"(","objects":[{"class":"public_key","id":"installed","value":"AAAA"}]})";
        };
        std::ofstream(path_) << R"({"modules":{"rtPKCS11ECP.dll":{"slots":[)" << token("SEC1", long_pin) << ","
                             << token("SEC2", boundary_pin) << "]}}}";
        SetEnvironmentVariableA("KELVORA_PKCS11_STANDIN", path_);
    }
    ~token_standin()
    {
        SetEnvironmentVariableA("KELVORA_PKCS11_STANDIN", nullptr);
        std::remove(path_);
    }
    token_standin(const token_standin&) = delete;
    token_standin& operator=(const token_standin&) = delete;

private:
    const char* path_ = "kelvora-test-secret-tokens.json";
};
#endif

TEST(SecretWipe, RequestsLeaveNoPinInFreedMemory)
{
#ifdef _WIN32
    // The 16-character token rows sit just past the inline buffer.
    ASSERT_EQ(boundary_pin.size(), std::string().capacity() + 1);
    const token_standin tokens;
#endif
    message_dispatcher dispatcher;
    register_commands(dispatcher);
    for (const auto& c : request_cases()) {
        SCOPED_TRACE(c.name);
        std::string input;
        for (const auto& body : c.bodies)
            input += frame_of(body);
        temp_stream in(std::string("secret-in-") + c.name), out(std::string("secret-out-") + c.name);
        in.set(input);
        crypto::secure_wipe(input);

        heap_watch::arm(c.secrets.data(), c.secrets.size());
        const int status = dispatcher.run(in.get(), out.get());
        heap_watch::disarm();

        EXPECT_EQ(status, 0);
        EXPECT_NE(out.content().find(c.expected), std::string::npos) << out.content();
        for (std::size_t i = 0; i < c.secrets.size(); ++i)
            EXPECT_EQ(heap_watch::hits(i), 0u) << "freed blocks held secret " << i;
    }
}

// A signer keeps its own copy of the PIN for as long as it lives.
class test_signer : public crypto::signature_algorithm {
public:
    explicit test_signer(std::string pin) : signature_algorithm(nullptr, std::move(pin)) {}
    std::shared_ptr<crypto::hash_algorithm> create_hash() const override { return nullptr; }
    crypto::byte_vector sign_hash(const crypto::byte_vector&) override { return {}; }
    crypto::signature_set sign_hashes(const crypto::hash_set&) override { return {}; }
    bool verify(const crypto::byte_vector&, const crypto::byte_vector&) override { return false; }
    bool try_sign() override { return false; }
    std::uint32_t hash_alg_id() const override { return 0; }
};

TEST(SecretWipe, SignerLeavesNoPinInFreedMemory)
{
    auto signer = std::make_unique<test_signer>(long_pin);
    ASSERT_EQ(signer->pin(), long_pin);
    heap_watch::arm(&long_pin, 1);
    signer.reset();
    heap_watch::disarm();
    EXPECT_EQ(heap_watch::hits(0), 0u);
}

// The random bytes a session key is derived from: no freed block holds 64
// bytes whose GOST R 34.11-2012-256 digest is the session key.
TEST(SecretWipe, SessionKeyMaterialLeavesNoTrace)
{
    heap_watch::arm(nullptr, 0);
    const std::string text = crypto::encrypt_pin_text(short_pin);
    heap_watch::disarm();

    crypto::pin_protection protection;
    protection.wrapped_session_key = crypto::base64_decode(text.substr(text.find('$') + 1));
    protection.make_master_key();
    protection.unwrap_session_key();
    ASSERT_EQ(protection.session_key.size(), 32u);

    ASSERT_GT(heap_watch::captured_count(), 0u);
    std::size_t windows = 0;
    for (std::size_t b = 0; b < heap_watch::captured_count(); ++b) {
        const std::string block = heap_watch::captured(b);
        for (std::size_t offset = 0; offset + 64 <= block.size(); ++offset, ++windows) {
            crypto::gost_3411_12_256 hash;
            hash.init();
            hash.update(block.data() + offset, 64);
            EXPECT_NE(hash.final(), protection.session_key) << "block " << b << " offset " << offset;
        }
    }
    EXPECT_GT(windows, 0u);
}

#ifdef _WIN32
// The control's SendMessage: the request converted from UTF-16 (non-ASCII
// text makes it longer than its unit count) and its tree.
TEST(SecretWipe, SendMessageLeavesNoPinInFreedMemory)
{
    activex::command_map commands;
    std::vector<std::unique_ptr<messages::base_message>> owned;
    for (auto& row : messages::make_commands()) {
        commands.emplace(row.first, row.second.get());
        owned.push_back(std::move(row.second));
    }
    const std::u16string request = u"{\"type\":\"EncryptPin\",\"id\":\"Идентификатор\",\"arguments\":{\"pincode\":\"" +
                                   std::u16string(long_pin.begin(), long_pin.end()) + u"\"}}";
    BSTR message = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(request.data()), static_cast<UINT>(request.size()));
    ASSERT_NE(message, nullptr);
    BSTR response = nullptr;

    heap_watch::arm(&long_pin, 1);
    const HRESULT result = activex::send_message(commands, message, &response);
    heap_watch::disarm();

    EXPECT_EQ(result, S_OK);
    ASSERT_NE(response, nullptr);
    EXPECT_NE(std::u16string(reinterpret_cast<const char16_t*>(response)).find(u"\"response\":\"success\""),
              std::u16string::npos);
    EXPECT_EQ(heap_watch::hits(0), 0u);
    SysFreeString(response);
    SysFreeString(message);
}
#endif

}  // namespace
