// The token side of certificate requests: module choice by family, the token
// found by serial number, container tests, login, key-pair generation, the
// request signature and writing the issued certificate, against the stand-in.
#include <windows.h>

#include <functional>
#include <tuple>

#include "crypto/encoding/base64.h"
#include "crypto/encoding/hex.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/x509request.h"
#include "standin_support.h"

namespace pkcs11_test {
namespace {

using crypto::pkcs11::x509request;

constexpr unsigned long key_pair_256 = 0x1200, key_pair_512 = 0xD4321005;
constexpr unsigned long sign_2001 = 0x1202, sign_2012_256 = 0xD4321008, sign_2012_512 = 0xD4321009;
const std::vector<unsigned long> all_mechanisms = {key_pair_256, 0x1201,        sign_2001,    key_pair_512,
                                                   0xD4321006,   sign_2012_256, sign_2012_512};
const std::string pin = "246810";

std::string hex(const std::string& text)
{
    return crypto::hex_encode(bytes(text.begin(), text.end()));
}

class TokenRequest : public standin_fixture {
protected:
    // Rutoken module: a token without the 2012 mechanism, then two tokens
    // with serial "A1" (models "First", "Second"), then "B2" holding objects.
    // jacarta: one token; esmart: its module does not initialise.
    void install_tokens(const std::function<void(tree&)>& adjust = {})
    {
        description tokens;
        auto& old = tokens.add_slot(rutoken, "Old reader", pin);
        old.put("token.serial", "A1");
        set_mechanisms(old, {0x1201, 0xD4321006});
        for (const char* model : {"First", "Second"}) {
            auto& slot = tokens.add_slot(rutoken, std::string("Reader ") + model, pin);
            slot.put("token.serial", "A1");
            slot.put("token.model", model);
            set_mechanisms(slot, all_mechanisms);
        }
        auto& full = tokens.add_slot(rutoken, "Reader B", pin);
        full.put("token.serial", "B2");
        full.put("token.model", "Rutoken ECP");
        set_mechanisms(full, all_mechanisms);
        tree public_key;
        public_key.put("class", "public_key");
        public_key.put("id", "pair");
        add_object(full, public_key);
        add_object(full, private_key_object("pair"));
        add_object(full, private_key_object("lonely"));
        add_object(full, certificate_object(make_certificate("2012-256", "CN=c").der, "with-cert"));
        if (adjust)
            adjust(full);
        tokens.add_slot(jacarta, "JaCarta", pin);
        inject_failure(tokens.module(esmart), "C_Initialize", CKR_GENERAL_ERROR);
        install(tokens);
    }

    // A request on token B2, logged in.
    void open_b2(x509request& request)
    {
        ASSERT_TRUE(request.select_module("rutoken_ecp"));
        ASSERT_TRUE(request.open_token_session("B2"));
        ASSERT_TRUE(request.login(pin));
    }
};

TEST_F(TokenRequest, SelectsTheModuleOfALoadedFamilyOnly)
{
    install_tokens();
    const std::vector<std::pair<const char*, bool>> rows = {
        {nullptr, false},  {"rutoken", false}, {"etoken", false},       {"esmart", false},
        {"jacarta", true}, {"", false},        {"rutoken_ecp", true},
    };
    for (const auto& [key, expected] : rows) {
        x509request request;
        EXPECT_EQ(request.select_module(key), expected) << (key ? key : "null");
        EXPECT_EQ(request.family_key(), expected ? key : "");
    }
}

TEST_F(TokenRequest, FindsTheFirstTokenWithTheSerialAndTheVendorMechanism)
{
    install_tokens();
    // Slot 1 holds "A1" too, but lacks the vendor mechanism.
    const std::vector<std::tuple<std::string, std::string, std::string>> rows = {
        {"A1", "First A1", "slot=2 flags=0x6"}, {"B2", "Rutoken ECP B2", "slot=4 flags=0x6"},
        {"A1 ", "", ""}, {"B", "", ""}, {"", "", ""}, {"Z9", "", ""},
    };
    for (const auto& [serial, token_text, opened] : rows) {
        x509request request;
        ASSERT_TRUE(request.select_module("rutoken_ecp"));
        clear_log();
        EXPECT_EQ(request.open_token_session(serial), !token_text.empty()) << serial;
        EXPECT_EQ(request.token_text(), token_text) << serial;
        EXPECT_EQ(log("C_GetTokenInfo slot=1").size(), 0u);
        const auto sessions = log("C_OpenSession slot");
        EXPECT_EQ(sessions, opened.empty() ? std::vector<std::string>()
                                           : std::vector<std::string>{"rtPKCS11ECP.dll C_OpenSession " + opened});
    }
    x509request without_module;
    EXPECT_FALSE(without_module.open_token_session("A1"));
}

TEST_F(TokenRequest, TokenFailuresWhileSearchingPassAsExceptions)
{
    for (const char* function : {"C_GetSlotList", "C_GetTokenInfo", "C_OpenSession"}) {
        unload_modules();
        description tokens;
        tokens.add_slot(rutoken, "Reader", pin).put("token.serial", "S");
        inject_failure(tokens.module(rutoken), function, CKR_DEVICE_ERROR);
        install(tokens);
        x509request request;
        ASSERT_TRUE(request.select_module("rutoken_ecp"));
        EXPECT_THROW(request.open_token_session("S"), crypto::pkcs11::exception) << function;
    }
}

TEST_F(TokenRequest, ContainerTestsLookForPublicKeysAndCertificatesById)
{
    install_tokens();
    x509request request;
    EXPECT_FALSE(request.has_public_key("pair"));  // no session yet
    ASSERT_TRUE(request.select_module("rutoken_ecp"));
    ASSERT_TRUE(request.open_token_session("B2"));
    const std::vector<std::tuple<const char*, bool, bool>> rows = {
        {"pair", true, false}, {"lonely", false, false}, {"with-cert", false, true},
        {"", false, false},    {nullptr, false, false},
    };
    for (const auto& [name, public_key, certificate] : rows) {
        EXPECT_EQ(request.has_public_key(name), public_key) << (name ? name : "null");
        EXPECT_EQ(request.has_certificate(name), certificate) << (name ? name : "null");
    }
    EXPECT_EQ(log("C_FindObjectsInit").front(),
              "rtPKCS11ECP.dll C_FindObjectsInit session=256 CKA_CLASS=02000000 CKA_TOKEN=01 CKA_ID=" + hex("pair"));
    EXPECT_EQ(log("C_FindObjectsInit").size(), log("C_FindObjectsFinal").size());
}

TEST_F(TokenRequest, LoginGivesFalseForAWrongPinAndLogoutCallsTheToken)
{
    install_tokens();
    x509request request;
    EXPECT_FALSE(request.login(pin));
    ASSERT_TRUE(request.select_module("rutoken_ecp"));
    ASSERT_TRUE(request.open_token_session("B2"));
    EXPECT_FALSE(request.login("0000"));
    EXPECT_TRUE(request.login(pin));
    request.logout();
    EXPECT_EQ(log("C_Logout").size(), 1u);
}

TEST_F(TokenRequest, GeneratesTheKeyPairOfEachStandardWithTheTemplatesTheTokenChecks)
{
    install_tokens();
    struct row {
        int standard;
        const char* mechanism;
        std::string key_parameters, digest_parameters;
        std::size_t public_value;
    };
    const std::vector<row> rows = {
        {0, "0x1200", "06072A850302022400", "06072A850302021E01", 64},
        {1, "0x1200", "06072A850302022301", "06082A85030701010202", 64},
        {2, "0xD4321005", "06092A8503070102010201", "06082A85030701010203", 128},
        {7, "0x1200", "06072A850302022400", "06072A850302021E01", 64},
    };
    for (const auto& r : rows) {
        x509request request;
        open_b2(request);
        const std::string name = "key" + std::to_string(r.standard);
        CK_OBJECT_HANDLE public_key = 0, private_key = 0;
        clear_log();
        ASSERT_TRUE(request.generate_key_pair(r.standard, name.c_str(), public_key, private_key)) << r.standard;
        const auto line = log("C_GenerateKeyPair session").at(0);
        EXPECT_NE(line.find(std::string("mechanism=") + r.mechanism + " parameter=0 public=9 CKA_CLASS=02000000 "
                                                                  "CKA_TOKEN=01 CKA_GOSTR3410_PARAMS=" +
                            r.key_parameters),
                  std::string::npos)
            << line;
        EXPECT_NE(line.find("CKA_GOSTR3411_PARAMS=" + r.digest_parameters), std::string::npos) << line;
        EXPECT_NE(line.find(" CKA_ID=" + hex(name) + " CKA_LABEL=" + hex(name) +
                            " CKA_PRIVATE=00 CKA_DERIVE=01 CKA_VERIFY=01 private=9 CKA_CLASS=03000000"),
                  std::string::npos)
            << line;
        EXPECT_NE(line.find(" CKA_PRIVATE=01 CKA_DERIVE=01 CKA_SIGN=01"), std::string::npos) << line;
        EXPECT_TRUE(request.has_public_key(name.c_str()));
        EXPECT_NE(public_key, private_key);
    }
}

TEST_F(TokenRequest, KeyGenerationFailsWithoutLoginNameOrWhenTheTokenRefuses)
{
    install_tokens([](tree& slot) { inject_failure(slot, "C_GenerateKeyPair", CKR_DEVICE_MEMORY, 1); });
    x509request request;
    CK_OBJECT_HANDLE public_key = 0, private_key = 0;
    EXPECT_FALSE(request.generate_key_pair(1, "k", public_key, private_key));  // no session
    ASSERT_TRUE(request.select_module("rutoken_ecp"));
    ASSERT_TRUE(request.open_token_session("B2"));
    EXPECT_FALSE(request.generate_key_pair(1, "k", public_key, private_key));  // not logged in
    ASSERT_TRUE(request.login(pin));
    EXPECT_FALSE(request.generate_key_pair(1, nullptr, public_key, private_key));
    EXPECT_FALSE(request.generate_key_pair(1, "k", public_key, private_key));  // the injected failure
    EXPECT_FALSE(request.has_public_key("k"));
}

TEST_F(TokenRequest, AKeyPairStaysOnTheTokenForLaterProcesses)
{
    install_tokens();
    {
        x509request request;
        open_b2(request);
        CK_OBJECT_HANDLE public_key = 0, private_key = 0;
        ASSERT_TRUE(request.generate_key_pair(2, "kept", public_key, private_key));
    }
    // A fresh load of the module reads the token again.
    unload_modules();
    x509request request;
    ASSERT_TRUE(request.select_module("rutoken_ecp"));
    ASSERT_TRUE(request.open_token_session("B2"));
    EXPECT_TRUE(request.has_public_key("kept"));
    EXPECT_EQ(log("rtPKCS11ECP.dll C_Initialize loaded").size(), 2u);
}

TEST_F(TokenRequest, SignsTheBodyWithTheStandardsMechanismAndReversesTheSignature)
{
    install_tokens();
    const bytes body = hash_of_size(300, 3);
    const std::vector<std::pair<int, unsigned long>> rows = {
        {0, sign_2001}, {1, sign_2012_256}, {2, sign_2012_512}, {-4, sign_2001}};
    for (const auto& [standard, mechanism] : rows) {
        x509request request;
        open_b2(request);
        const std::string name = "s" + std::to_string(standard + 10);
        CK_OBJECT_HANDLE public_key = 0, private_key = 0;
        ASSERT_TRUE(request.generate_key_pair(standard, name.c_str(), public_key, private_key));
        clear_log();
        EXPECT_EQ(request.sign_request(standard, body, private_key),
                  reversed(standin_signature(mechanism, name, body)))
            << standard;
        // One call with a 256-byte buffer, no size query.
        EXPECT_EQ(log("C_Sign ").size(), 1u);
        EXPECT_NE(log("C_Sign ").at(0).find("buffer=256"), std::string::npos);
        EXPECT_TRUE(request.sign_request(standard, bytes(), private_key).empty());
    }
}

TEST_F(TokenRequest, ARefusedOrOverlongSignatureGivesNone)
{
    struct row {
        const char* group;
        const char* function;
        unsigned long value;
    };
    const std::vector<row> rows = {
        {"fail", "C_SignInit", CKR_KEY_FUNCTION_NOT_PERMITTED},
        {"fail", "C_Sign", CKR_DEVICE_ERROR},
        {"overstate", "C_Sign", 193},  // 64 + 193 = 257 bytes reported
    };
    for (const auto& r : rows) {
        unload_modules();
        install_tokens([&r](tree& slot) {
            if (std::string(r.group) == "fail")
                inject_failure(slot, r.function, r.value);
            else
                set_number(slot, r.group, r.function, r.value);
        });
        x509request request;
        open_b2(request);
        CK_OBJECT_HANDLE public_key = 0, private_key = 0;
        ASSERT_TRUE(request.generate_key_pair(1, r.function, public_key, private_key));
        EXPECT_TRUE(request.sign_request(1, bytes(10, 1), private_key).empty()) << r.function;
    }
    // 192 more is 256 bytes, which the buffer holds.
    unload_modules();
    install_tokens([](tree& slot) { set_number(slot, "overstate", "C_Sign", 192); });
    x509request request;
    open_b2(request);
    CK_OBJECT_HANDLE public_key = 0, private_key = 0;
    ASSERT_TRUE(request.generate_key_pair(1, "fits", public_key, private_key));
    EXPECT_EQ(request.sign_request(1, bytes(10, 1), private_key).size(), 256u);
}

TEST_F(TokenRequest, WritesTheCertificateObjectWithTheDecodersSerialOrder)
{
    install_tokens();
    pkcs11_fixture::certificate_spec spec;
    spec.subject = "CN=Issued, O=Kelvora";
    spec.serial_hex = "8A0B0C";
    const bytes der = pkcs11_fixture::make_certificate(spec);
    const std::string text = crypto::base64_encode(der);
    x509request request;
    open_b2(request);
    std::int32_t code = 0;
    ASSERT_TRUE(request.write_certificate("pair", text.c_str(), &code));
    EXPECT_EQ(code, -1);
    EXPECT_TRUE(request.has_certificate("pair"));
    const auto line = log("C_CreateObject session").at(0);
    EXPECT_NE(line.find("count=9 CKA_CLASS=01000000 CKA_CERTIFICATE_TYPE=00000000 CKA_TOKEN=01 CKA_ID=" + hex("pair") +
                        " CKA_LABEL=" + hex("pair") + " CKA_VALUE=" + crypto::hex_encode(der) +
                        " CKA_SERIAL_NUMBER=0C0B8A00 CKA_SUBJECT="),
              std::string::npos)
        << line;
    EXPECT_NE(line.find(" CKA_CERTIFICATE_CATEGORY=01000000"), std::string::npos) << line;

    // With PEM headers too.
    const std::string pem = "-----BEGIN CERTIFICATE-----\n" + text + "\n-----END CERTIFICATE-----\n";
    EXPECT_TRUE(request.write_certificate("pem", pem.c_str(), nullptr));
}

TEST_F(TokenRequest, CertificateWriteFailuresReportTheirCodes)
{
    install_tokens([](tree& slot) { inject_failure(slot, "C_CreateObject", CKR_TEMPLATE_INCOMPLETE, 1); });
    const std::string text = crypto::base64_encode(make_certificate("2012-256", "CN=w").der);
    x509request request;
    std::int32_t code = 0;
    EXPECT_FALSE(request.write_certificate("n", text.c_str(), &code));  // no session
    EXPECT_EQ(code, -1);
    open_b2(request);
    EXPECT_FALSE(request.write_certificate(nullptr, text.c_str(), &code));
    EXPECT_EQ(code, -1);
    EXPECT_FALSE(request.write_certificate("n", nullptr, &code));
    EXPECT_EQ(code, -1);
    // Decodes as bytes that are no certificate: the decoder's error.
    EXPECT_FALSE(request.write_certificate("n", "AAAA", &code));
    EXPECT_NE(code, -1);
    EXPECT_NE(code, 0);
    EXPECT_TRUE(request.write_certificate("n", text.c_str(), &code));
    // The token's own code, not the system's last error.
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(request.write_certificate("m", text.c_str(), &code));
    EXPECT_EQ(code, static_cast<std::int32_t>(CKR_TEMPLATE_INCOMPLETE));
}

}  // namespace
}  // namespace pkcs11_test
