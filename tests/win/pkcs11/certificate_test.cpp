// Token certificates: the listing over every loaded module, the lookup by
// thumbprint, what a token certificate says about its key, and the signer a
// hardware certificate gets.
#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/signers.h"
#include "crypto/pkcs11/x509certificate.h"
#include "standin_support.h"

namespace pkcs11_test {
namespace {

using crypto::certificate_ptr;

const crypto::pkcs11::x509certificate& token_certificate(const certificate_ptr& certificate)
{
    return dynamic_cast<const crypto::pkcs11::x509certificate&>(*certificate);
}

std::vector<std::string> thumbprints(const std::vector<certificate_ptr>& certificates)
{
    std::vector<std::string> out;
    for (const auto& c : certificates)
        out.push_back(c->thumbprint());
    return out;
}

class TokenCertificates : public standin_fixture {
protected:
    const test_certificate a = make_certificate("2012-256", "CN=Token A");
    const test_certificate b = make_certificate("2001", "CN=Token B");
    const test_certificate c = make_certificate("2012-512", "CN=Token C");
    const test_certificate d = make_certificate("2012-256", "CN=Token D");
};

TEST_F(TokenCertificates, NoDescriptionMeansNoToken)
{
    EXPECT_TRUE(crypto::list_certificates(crypto::pkcs11_store).empty());
    EXPECT_FALSE(crypto::find_certificate_by_thumbprint(a.thumbprint, crypto::pkcs11_store));
}

TEST_F(TokenCertificates, ListedByFamilyKeyThenSlotThenObject)
{
    description tokens;
    auto& rt1 = tokens.add_slot(rutoken, "Rutoken reader 1");
    add_object(rt1, certificate_object(a.der, "a"));
    add_object(rt1, private_key_object("a"));
    add_object(rt1, certificate_object(b.der, "b"));
    auto& rt2 = tokens.add_slot(rutoken, "Rutoken reader 2");
    add_object(rt2, certificate_object(c.der, "c"));
    // Not a GOST token: its certificate is not listed.
    auto& rsa_only = tokens.add_slot(rutoken, "RSA token");
    set_mechanisms(rsa_only, {CKM_RSA_PKCS});
    add_object(rsa_only, certificate_object(d.der, "d"));
    add_object(tokens.add_slot(esmart, "ESMART reader"), certificate_object(d.der, "d"));
    // Objects other than certificates on the token, and a session object.
    auto& jc = tokens.add_slot(jacarta, "JaCarta reader");
    add_object(jc, private_key_object("x"));
    tree session_object = certificate_object(a.der, "session");
    session_object.put("token", "false");
    add_object(jc, session_object);
    install(tokens);

    const auto listed = crypto::list_certificates(crypto::pkcs11_store);
    EXPECT_EQ(thumbprints(listed), (std::vector<std::string>{d.thumbprint, a.thumbprint, b.thumbprint, c.thumbprint}));
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0]->reader(), "ESMART reader");
    EXPECT_EQ(listed[1]->reader(), "Rutoken reader 1");
    EXPECT_EQ(listed[3]->reader(), "Rutoken reader 2");
    // One read-only session per slot, shared by its certificates.
    EXPECT_EQ(token_certificate(listed[1]).token_session(), token_certificate(listed[2]).token_session());
    EXPECT_NE(token_certificate(listed[1]).token_session(), token_certificate(listed[3]).token_session());
    EXPECT_EQ(log("flags=0x6").size(), 0u);
    // Every search was ended.
    EXPECT_EQ(log("C_FindObjectsInit").size(), log("C_FindObjectsFinal").size());
}

TEST_F(TokenCertificates, DescribeTheirKeyOnTheToken)
{
    description tokens;
    auto& slot = tokens.add_slot(jacarta, "Thirteen char");
    add_object(slot, certificate_object(a.der, "1234"));
    tree binary_id = certificate_object(b.der, "");
    binary_id.erase("id");
    binary_id.put("id_hex", "00FF7F0A20");
    add_object(slot, binary_id);
    auto& nul_padded = tokens.add_slot(jacarta, "  Padded");
    nul_padded.put("description_padding", "nul");
    add_object(nul_padded, certificate_object(c.der, "c"));
    install(tokens);

    const auto listed = crypto::list_certificates(crypto::pkcs11_store);
    ASSERT_EQ(listed.size(), 3u);
    const auto& first = listed[0];
    EXPECT_TRUE(first->is_hardware());
    EXPECT_STREQ(first->carrier_type(), "pkcs11");
    EXPECT_EQ(first->container(), "1234");
    EXPECT_EQ(first->reader(), "Thirteen char");
    EXPECT_TRUE(first->has_private_key());
    EXPECT_EQ(first->key_spec(), 0u);
    EXPECT_EQ(listed[1]->container(), std::string("\x00\xFF\x7F\x0A\x20", 5));
    // Leading blanks and the NUL padding stay.
    EXPECT_EQ(listed[2]->reader(), std::string("  Padded") + std::string(56, '\0'));

    const auto description_tree = first->to_ptree();
    EXPECT_EQ(description_tree.get<std::string>("hardware"), "true");
    EXPECT_EQ(description_tree.get<std::string>("carrier_type"), "pkcs11");
    EXPECT_EQ(description_tree.get<std::string>("container"), "1234");
    EXPECT_EQ(description_tree.get<std::string>("reader"), "Thirteen char");
    EXPECT_EQ(description_tree.get<std::string>("thumbprint"), a.thumbprint);
}

TEST(SlotDescription, TrailingWhiteSpaceOfEveryKindGoes)
{
    CK_SLOT_INFO info{};
    const std::string text = " Reader \t\n\v\f\r";
    std::memset(info.slotDescription, ' ', sizeof(info.slotDescription));
    std::memcpy(info.slotDescription, text.data(), text.size());
    EXPECT_EQ(crypto::pkcs11::slot_description_text(info), " Reader");
    std::memset(info.slotDescription, ' ', sizeof(info.slotDescription));
    EXPECT_EQ(crypto::pkcs11::slot_description_text(info), "");
}

TEST_F(TokenCertificates, FoundByTheExactThumbprintText)
{
    description tokens;
    add_object(tokens.add_slot(rutoken, "Reader"), certificate_object(a.der, "a"));
    // Not a certificate: listed without a context, found by nothing.
    tree garbage = certificate_object(bytes{0x30, 0x03, 0x02, 0x01, 0x01}, "g");
    add_object(tokens.module(rutoken).get_child("slots").front().second, garbage);
    install(tokens);

    const auto found = crypto::find_certificate_by_thumbprint(a.thumbprint, crypto::pkcs11_store);
    ASSERT_TRUE(crypto::is_found(found));
    EXPECT_EQ(found->encoded(), a.der);
    std::string lower = a.thumbprint;
    for (auto& ch : lower)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_FALSE(crypto::find_certificate_by_thumbprint(lower, crypto::pkcs11_store));
    EXPECT_FALSE(crypto::find_certificate_by_thumbprint(a.thumbprint + " ", crypto::pkcs11_store));
    EXPECT_FALSE(crypto::find_certificate_by_thumbprint("", crypto::pkcs11_store));
    const auto listed = crypto::list_certificates(crypto::pkcs11_store);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_FALSE(listed[1]->context());
}

TEST_F(TokenCertificates, OneCertificateOnSeveralModulesIsFoundOnTheFirstFamily)
{
    description tokens;
    add_object(tokens.add_slot(rutoken, "rutoken_ecp reader"), certificate_object(a.der, "r"));
    add_object(tokens.add_slot(jacarta, "jacarta reader"), certificate_object(a.der, "j"));
    add_object(tokens.add_slot(esmart, "esmart reader"), certificate_object(a.der, "e"));
    install(tokens);
    auto found = crypto::find_pkcs11_certificate(a.thumbprint);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->reader(), "esmart reader");
    EXPECT_EQ(found->container(), "e");
    found.reset();

    // Without the esmart token, jacarta's.
    tokens.module(esmart).get_child("slots").front().second.put("token_present", "false");
    install(tokens);
    unload_modules();
    found = crypto::find_pkcs11_certificate(a.thumbprint);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->reader(), "jacarta reader");
}

TEST_F(TokenCertificates, OneFailingTokenEndsTheWholeListing)
{
    description tokens;
    add_object(tokens.add_slot(esmart, "Good"), certificate_object(a.der, "a"));
    auto& bad = tokens.add_slot(rutoken, "Bad");
    add_object(bad, certificate_object(b.der, "b"));
    inject_failure(bad, "C_OpenSession", CKR_DEVICE_REMOVED);
    install(tokens);
    try {
        crypto::list_certificates(crypto::pkcs11_store);
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_STREQ(error.what(), "PKCS#11 error, code = 0x00000032");
    }
    EXPECT_THROW(crypto::find_certificate_by_thumbprint(a.thumbprint, crypto::pkcs11_store),
                 crypto::pkcs11::exception);
    // The sessions opened before the failure were closed again.
    EXPECT_EQ(log("C_OpenSession session=").size(), log("C_CloseSession").size());
}

TEST_F(TokenCertificates, ACertificateWithoutValueEndsTheListing)
{
    description tokens;
    tree no_value = certificate_object(a.der, "a");
    no_value.erase("value");
    add_object(tokens.add_slot(jacarta, "Reader"), no_value);
    install(tokens);
    EXPECT_THROW(crypto::list_certificates(crypto::pkcs11_store), crypto::pkcs11::exception);

    tree hidden = certificate_object(a.der, "a");
    hidden.put_child("unavailable", tree());
    hidden.get_child("unavailable").push_back({"", tree("CKA_VALUE")});
    description again;
    add_object(again.add_slot(jacarta, "Reader"), hidden);
    install(again);
    unload_modules();
    try {
        crypto::list_certificates(crypto::pkcs11_store);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Attribute not found");
    }
}

TEST_F(TokenCertificates, LyingCountsAndLengthsChangeNothing)
{
    description tokens;
    auto& slot = tokens.add_slot(rutoken, "Reader");
    add_object(slot, certificate_object(a.der, "a"));
    add_object(slot, certificate_object(b.der, "b"));
    set_number(tokens.module(rutoken), "overstate", "C_GetSlotList", 9);
    set_number(tokens.module(rutoken), "overstate", "C_GetMechanismList", 9);
    set_number(tokens.module(rutoken), "overstate", "C_FindObjects", 9);
    set_number(tokens.module(rutoken), "overstate", "C_GetAttributeValue", 9);
    auto& padded = tokens.add_slot(jacarta, "Reader");
    add_object(padded, certificate_object(c.der, "c"));
    set_number(padded, "pad_query", "C_GetAttributeValue", 9);
    set_number(padded, "pad_query", "C_GetMechanismList", 9);
    install(tokens);
    const auto listed = crypto::list_certificates(crypto::pkcs11_store);
    EXPECT_EQ(thumbprints(listed), (std::vector<std::string>{c.thumbprint, a.thumbprint, b.thumbprint}));
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0]->container(), "c");
    EXPECT_EQ(listed[2]->container(), "b");
    // No slot was made up from the overstated count.
    EXPECT_EQ(log("C_GetMechanismList slot=").size(), 4u);
}

// A hardware certificate that no token back end made.
class foreign_hardware_certificate : public crypto::csp::x509certificate {
public:
    explicit foreign_hardware_certificate(const bytes& der)
        : x509certificate(CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(),
                                                       static_cast<DWORD>(der.size())))
    {
    }
    bool is_hardware() const override { return true; }
};

TEST_F(TokenCertificates, HardwareCertificatesGetTheirSignerBySignatureAlgorithm)
{
    const auto r = make_certificate("rsa-sha256", "CN=RSA on a token");
    const auto old = make_certificate("1.2.840.113549.1.1.5", "CN=SHA-1 RSA");
    description tokens;
    auto& slot = tokens.add_slot(rutoken, "Reader");
    for (const auto* made : {&a, &b, &c, &r, &old})
        add_object(slot, certificate_object(made->der, made->thumbprint));
    install(tokens);
    const auto listed = crypto::list_certificates(crypto::pkcs11_store);
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_TRUE(std::dynamic_pointer_cast<crypto::pkcs11::gost_3410_2012_256>(
        crypto::make_signature_algorithm(listed[0], "1234")));
    EXPECT_TRUE(std::dynamic_pointer_cast<crypto::pkcs11::gost_3410_2001>(
        crypto::make_signature_algorithm(listed[1], "1234")));
    EXPECT_TRUE(std::dynamic_pointer_cast<crypto::pkcs11::gost_3410_2012_512>(
        crypto::make_signature_algorithm(listed[2], "1234")));
    EXPECT_FALSE(crypto::make_signature_algorithm(listed[4], "1234"));

    // An RSA certificate on a token gets the SKF signer, which has no SKF
    // library for it.
    const auto rsa_signer = crypto::make_signature_algorithm(listed[3], "1234");
    ASSERT_TRUE(rsa_signer);
    EXPECT_FALSE(std::dynamic_pointer_cast<crypto::pkcs11::gost_3410>(rsa_signer));
    try {
        rsa_signer->sign_hash(hash_of_size(32));
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Invalid SKF session");
    }

    // A GOST certificate of another hardware back end gets the PKCS#11
    // signer, which finds no token session in it.
    const certificate_ptr foreign = std::make_shared<foreign_hardware_certificate>(a.der);
    const auto gost_signer = crypto::make_signature_algorithm(foreign, "1234");
    ASSERT_TRUE(std::dynamic_pointer_cast<crypto::pkcs11::gost_3410_2012_256>(gost_signer));
    clear_log();
    try {
        gost_signer->sign_hash(hash_of_size(32));
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Invalid pkcs#11 session");
    }
    EXPECT_THROW(gost_signer->sign_hashes({{"1", hash_of_size(32)}}), std::runtime_error);
    EXPECT_TRUE(log().empty());
}

}  // namespace
}  // namespace pkcs11_test
