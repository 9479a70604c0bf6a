// The PKCS#11 GOST signers: login, key search by CKA_ID, mechanism, logout,
// the reversed signature, and their failures.
#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "crypto/encoding/hex.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/signers.h"
#include "standin_support.h"

namespace pkcs11_test {
namespace {

using crypto::certificate_ptr;

class TokenSigner : public standin_fixture {
protected:
    // One token holding a certificate of the algorithm with its key.
    certificate_ptr token_certificate(const std::string& algorithm, const std::string& key_id = "key-7",
                                      tree slot_extra = tree())
    {
        const auto made = make_certificate(algorithm, "CN=Signer " + algorithm);
        description tokens;
        auto& slot = tokens.add_slot(jacarta, "Reader", "2468");
        for (const auto& entry : slot_extra)
            slot.put_child(entry.first, entry.second);
        add_object(slot, certificate_object(made.der, key_id));
        add_object(slot, private_key_object("other key"));
        add_object(slot, private_key_object(key_id));
        install(tokens);
        unload_modules();
        const auto found = crypto::find_certificate_by_thumbprint(made.thumbprint, crypto::pkcs11_store);
        if (!crypto::is_found(found))
            throw std::runtime_error("certificate not on the token");
        clear_log();
        return found;
    }

    static std::string key_hex(const std::string& key_id)
    {
        return crypto::hex_encode(bytes(key_id.begin(), key_id.end()));
    }

    // The calls of one signing, without the module name and session number.
    std::vector<std::string> calls() const
    {
        std::vector<std::string> names;
        for (const auto& line : log()) {
            const auto start = line.find(' ') + 1;
            names.push_back(line.substr(start, line.find(' ', start) - start));
        }
        return names;
    }
};

TEST_F(TokenSigner, LogsInFindsTheKeySignsLogsOutAndReversesTheSignature)
{
    const auto certificate = token_certificate("2012-256");
    const auto signer = crypto::make_signature_algorithm(certificate, "2468");
    const bytes hash = hash_of_size(32);
    const bytes signature = signer->sign_hash(hash);
    EXPECT_EQ(signature, reversed(standin_signature(CKM_GOSTR3410, "key-7", hash)));
    EXPECT_EQ(calls(), (std::vector<std::string>{"C_Login", "C_GetAttributeValue", "C_GetAttributeValue",
                                                 "C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal",
                                                 "C_SignInit", "C_Sign", "C_Sign", "C_Logout"}));
    EXPECT_NE(log("C_Login").at(0).find("pin=2468 length=4"), std::string::npos);
    EXPECT_NE(log("C_FindObjectsInit").at(0).find("CKA_CLASS=03000000 CKA_TOKEN=01 CKA_ID=" + key_hex("key-7")),
              std::string::npos);
    EXPECT_NE(log("C_SignInit").at(0).find("mechanism=0x1201 parameter=0 key_id=" + key_hex("key-7")),
              std::string::npos);
    // The hash went to the token as it came.
    EXPECT_NE(log("C_Sign ").at(0).find("data=" + crypto::hex_encode(hash)), std::string::npos);
    // Logged out by the call: a second signature logs in again.
    EXPECT_EQ(signer->sign_hash(hash), signature);
}

TEST_F(TokenSigner, EachAlgorithmSignsWithItsMechanism)
{
    struct row {
        const char* algorithm;
        unsigned long mechanism;
        std::size_t hash_size;
        std::uint32_t alg_id;
    };
    for (const row& r : {row{"2001", CKM_GOSTR3410, 32, 0x801E}, row{"2012-256", CKM_GOSTR3410, 32, 0x8021},
                         row{"2012-512", 0xD4321006UL, 64, 0x8022}}) {
        const auto certificate = token_certificate(r.algorithm, std::string("id-") + r.algorithm);
        const auto signer = crypto::make_signature_algorithm(certificate, "2468");
        ASSERT_TRUE(signer) << r.algorithm;
        EXPECT_EQ(signer->hash_alg_id(), r.alg_id);
        EXPECT_EQ(dynamic_cast<crypto::pkcs11::gost_3410&>(*signer).mechanism(), r.mechanism);
        const bytes hash = hash_of_size(r.hash_size, 3);
        const bytes signature = signer->sign_hash(hash);
        EXPECT_EQ(signature.size(), r.mechanism == CKM_GOSTR3410 ? 64u : 128u);
        EXPECT_EQ(signature, reversed(standin_signature(r.mechanism, std::string("id-") + r.algorithm, hash)))
            << r.algorithm;
    }
}

TEST_F(TokenSigner, ASetOfHashesIsSignedInOneLoginInIdOrder)
{
    const auto certificate = token_certificate("2012-256");
    const auto signer = crypto::make_signature_algorithm(certificate, "2468");
    const crypto::hash_set hashes = {
        {"b", hash_of_size(32, 2)}, {"a", hash_of_size(32, 1)}, {"ab", hash_of_size(32, 3)}};
    const auto signatures = signer->sign_hashes(hashes);
    ASSERT_EQ(signatures.size(), 3u);
    for (const auto& [id, hash] : hashes)
        EXPECT_EQ(signatures.at(id), reversed(standin_signature(CKM_GOSTR3410, "key-7", hash))) << id;
    EXPECT_EQ(log("C_Login").size(), 1u);
    EXPECT_EQ(log("C_FindObjectsInit").size(), 1u);
    EXPECT_EQ(log("C_Logout").size(), 1u);
    const auto signed_data = log("buffer=64");
    ASSERT_EQ(signed_data.size(), 3u);
    EXPECT_NE(signed_data[0].find(crypto::hex_encode(hashes.at("a"))), std::string::npos);
    EXPECT_NE(signed_data[1].find(crypto::hex_encode(hashes.at("ab"))), std::string::npos);
    EXPECT_NE(signed_data[2].find(crypto::hex_encode(hashes.at("b"))), std::string::npos);

    clear_log();
    EXPECT_TRUE(signer->sign_hashes({}).empty());
    EXPECT_EQ(calls(), (std::vector<std::string>{"C_Login", "C_GetAttributeValue", "C_GetAttributeValue",
                                                 "C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal",
                                                 "C_Logout"}));
}

TEST_F(TokenSigner, AWrongPinFailsWithTheTokensCodeAndALaterLookupLogsInAgain)
{
    {
        const auto certificate = token_certificate("2012-256");
        const auto signer = crypto::make_signature_algorithm(certificate, "1111");
        try {
            signer->sign_hash(hash_of_size(32));
            FAIL() << "no exception";
        } catch (const crypto::pkcs11::exception& error) {
            EXPECT_STREQ(error.what(), "PKCS#11 error, code = 0x000000A0");
        }
        EXPECT_TRUE(log("C_Sign").empty());
        EXPECT_THROW(signer->sign_hashes({{"x", hash_of_size(32)}}), crypto::pkcs11::exception);
    }
    const auto certificate = crypto::list_certificates(crypto::pkcs11_store).at(0);
    const auto signer = crypto::make_signature_algorithm(certificate, "2468");
    EXPECT_EQ(signer->sign_hash(hash_of_size(32)).size(), 64u);
}

TEST_F(TokenSigner, NoKeyWithTheCertificatesIdFailsAndLeavesTheLogoutToTheSession)
{
    const auto made = make_certificate("2012-256", "CN=Keyless");
    description tokens;
    auto& slot = tokens.add_slot(esmart, "Reader", "2468");
    add_object(slot, certificate_object(made.der, "keyless"));
    add_object(slot, private_key_object("something else"));
    install(tokens);
    auto certificate = crypto::find_certificate_by_thumbprint(made.thumbprint, crypto::pkcs11_store);
    ASSERT_TRUE(crypto::is_found(certificate));
    auto signer = crypto::make_signature_algorithm(certificate, "2468");
    clear_log();
    try {
        signer->sign_hash(hash_of_size(32));
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Private key not found");
    }
    EXPECT_TRUE(log("C_Logout").empty());
    // The session logs out when its last user goes.
    signer.reset();
    certificate.reset();
    const auto names = calls();
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(names.end() - 2, names.end()),
              (std::vector<std::string>{"C_Logout", "C_CloseSession"}));
}

TEST_F(TokenSigner, ARefusedSignatureFailsWithTheTokensCode)
{
    tree extra;
    inject_failure(extra, "C_Sign", CKR_DEVICE_ERROR, 1);
    const auto certificate = token_certificate("2012-256", "key-7", extra);
    const auto signer = crypto::make_signature_algorithm(certificate, "2468");
    try {
        signer->sign_hash(hash_of_size(32));
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_EQ(error.code(), CKR_DEVICE_ERROR);
    }
    EXPECT_TRUE(log("C_Logout").empty());
}

TEST_F(TokenSigner, OverstatedSignatureLengthsChangeNothing)
{
    tree extra;
    extra.put("overstate.C_Sign", "100");
    const auto certificate = token_certificate("2012-512", "key-9", extra);
    const auto signer = crypto::make_signature_algorithm(certificate, "2468");
    const bytes hash = hash_of_size(64);
    EXPECT_EQ(signer->sign_hash(hash), reversed(standin_signature(0xD4321006UL, "key-9", hash)));
}

TEST_F(TokenSigner, NeitherVerifiesNorTriesWithoutPin)
{
    const auto certificate = token_certificate("2001");
    const auto signer = crypto::make_signature_algorithm(certificate, "");
    EXPECT_FALSE(signer->try_sign());
    try {
        signer->verify(hash_of_size(32), bytes(64));
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "not implemented exception");
    }
    EXPECT_TRUE(log().empty());
}

}  // namespace
}  // namespace pkcs11_test
