// Sessions, login and logout, object searches, attribute reads and signing,
// and the bounds the layer puts on what a module reports.
#include <stdexcept>

#include "crypto/pkcs11/connector.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/object_finder.h"
#include "crypto/pkcs11/session.h"
#include "crypto/pkcs11/slot.h"
#include "crypto/pkcs11/templates.h"
#include "crypto/pkcs11/token_object.h"
#include "standin_support.h"

namespace pkcs11_test {
namespace {

using crypto::pkcs11::object_finder;
using crypto::pkcs11::session;

class Session : public standin_fixture {
protected:
    // One token on the rutoken module, with what the test adds to its slot.
    std::shared_ptr<session> open(tree slot_extra = tree(), bool read_write = false)
    {
        description tokens;
        auto& slot = tokens.add_slot(rutoken, "Reader", "1234");
        for (const auto& entry : slot_extra)
            slot.put_child(entry.first, entry.second);
        const auto certificate = make_certificate("2012-256", "CN=Session test");
        add_object(slot, certificate_object(certificate.der, "key-1", "first"));
        add_object(slot, private_key_object("key-1"));
        add_object(slot, certificate_object(certificate.der, "key-2", "second"));
        install(tokens);
        module_ = crypto::pkcs11::connector();
        module_ = crypto::pkcs11::connector(rutoken);
        const auto slots = module_.slots();
        if (slots.size() != 1)
            throw std::runtime_error("no slot");
        return slots[0].open_session(read_write);
    }

    static std::vector<crypto::pkcs11::token_object> find_all(const std::shared_ptr<session>& s,
                                                              const crypto::pkcs11::attribute_template& criteria)
    {
        object_finder finder(s, criteria);
        std::vector<crypto::pkcs11::token_object> found;
        while (auto object = finder.next())
            found.push_back(object);
        return found;
    }

    static std::string text_of(const bytes& value) { return std::string(value.begin(), value.end()); }

    crypto::pkcs11::connector module_;
};

TEST_F(Session, OpensSerialSessionsReadOnlyOrReadWrite)
{
    auto read_only = open();
    ASSERT_TRUE(session::is_valid(read_only));
    EXPECT_FALSE(read_only->logged_in());
    EXPECT_EQ(read_only->get_slot().id(), 1u);
    auto read_write = module_.slots()[0].open_session(true);
    EXPECT_EQ(log("flags="), (std::vector<std::string>{"rtPKCS11ECP.dll C_OpenSession slot=1 flags=0x4",
                                                       "rtPKCS11ECP.dll C_OpenSession slot=1 flags=0x6"}));
    EXPECT_FALSE(session::is_valid(nullptr));
}

TEST_F(Session, OpeningFailuresThrowTheTokensCode)
{
    tree extra;
    inject_failure(extra, "C_OpenSession", CKR_TOKEN_NOT_RECOGNIZED);
    try {
        open(extra);
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_EQ(error.code(), CKR_TOKEN_NOT_RECOGNIZED);
    }
}

TEST_F(Session, LoginTakesThePinAndReportsTheTokensRefusal)
{
    auto s = open();
    try {
        s->login("0000");
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_STREQ(error.what(), "PKCS#11 error, code = 0x000000A0");
    }
    EXPECT_FALSE(s->logged_in());
    EXPECT_THROW(s->login(""), crypto::pkcs11::exception);
    s->login("1234");
    EXPECT_TRUE(s->logged_in());
    // A second login is not treated specially.
    try {
        s->login("1234");
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_EQ(error.code(), CKR_USER_ALREADY_LOGGED_IN);
    }
    EXPECT_EQ(log("C_Login"), (std::vector<std::string>{
                                  "rtPKCS11ECP.dll C_Login session=256 user=1 pin=0000 length=4",
                                  "rtPKCS11ECP.dll C_Login session=256 user=1 pin= length=0",
                                  "rtPKCS11ECP.dll C_Login session=256 user=1 pin=1234 length=4",
                                  "rtPKCS11ECP.dll C_Login session=256 user=1 pin=1234 length=4"}));
}

TEST_F(Session, TheLastShareLogsOutWhenStillLoggedInThenCloses)
{
    auto s = open();
    s->login("1234");
    auto other_share = s;
    s.reset();
    EXPECT_TRUE(log("C_CloseSession").empty());
    clear_log();
    other_share.reset();
    EXPECT_EQ(log(), (std::vector<std::string>{"rtPKCS11ECP.dll C_Logout session=256",
                                               "rtPKCS11ECP.dll C_CloseSession session=256"}));

    auto logged_out = module_.slots()[0].open_session(false);
    logged_out->login("1234");
    logged_out->logout();
    EXPECT_FALSE(logged_out->logged_in());
    clear_log();
    logged_out.reset();
    EXPECT_EQ(log(), std::vector<std::string>{"rtPKCS11ECP.dll C_CloseSession session=257"});
}

TEST_F(Session, FindsObjectsByTemplateInTheTokensOrder)
{
    auto s = open();
    const auto certificates = find_all(s, crypto::pkcs11::pkcs11_certificate_template());
    ASSERT_EQ(certificates.size(), 2u);
    EXPECT_EQ(text_of(certificates[0].get_attribute(CKA_LABEL)), "first");
    EXPECT_EQ(text_of(certificates[1].get_attribute(CKA_LABEL)), "second");
    EXPECT_EQ(certificates[0].owner(), s);
    // Private keys show only after login.
    EXPECT_TRUE(find_all(s, crypto::pkcs11::pkcs11_private_key_template()).empty());
    s->login("1234");
    EXPECT_EQ(find_all(s, crypto::pkcs11::pkcs11_private_key_template()).size(), 1u);
    // The templates are passed as they are: class, then the token flag.
    EXPECT_EQ(log("C_FindObjectsInit").front(),
              "rtPKCS11ECP.dll C_FindObjectsInit session=256 CKA_CLASS=01000000 CKA_TOKEN=01");
    EXPECT_EQ(log("C_FindObjectsInit").size(), log("C_FindObjectsFinal").size());
}

TEST_F(Session, ASearchThatDidNotStartFailsOnNextAndIsNotEnded)
{
    tree extra;
    inject_failure(extra, "C_FindObjectsInit", CKR_DEVICE_ERROR);
    auto s = open(extra);
    {
        object_finder finder(s, crypto::pkcs11::pkcs11_certificate_template());
        EXPECT_FALSE(finder.active());
        try {
            finder.next();
            FAIL() << "no exception";
        } catch (const crypto::pkcs11::exception& error) {
            EXPECT_EQ(error.code(), CKR_OPERATION_NOT_INITIALIZED);
        }
    }
    EXPECT_TRUE(log("C_FindObjectsFinal").empty());
}

TEST_F(Session, AnObjectCountBeyondTheOneAskedForStillGivesOneObject)
{
    tree extra;
    extra.put("overstate.C_FindObjects", "7");
    auto s = open(extra);
    const auto certificates = find_all(s, crypto::pkcs11::pkcs11_certificate_template());
    ASSERT_EQ(certificates.size(), 2u);
    EXPECT_NE(certificates[0].handle(), certificates[1].handle());
}

TEST_F(Session, AttributeValues)
{
    auto s = open();
    const auto certificate = find_all(s, crypto::pkcs11::pkcs11_certificate_template()).at(0);
    EXPECT_EQ(text_of(certificate.get_attribute(CKA_ID)), "key-1");
    // The object lacks the attribute: the token's code.
    try {
        certificate.get_attribute(CKA_MODULUS);
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_EQ(error.code(), CKR_ATTRIBUTE_TYPE_INVALID);
    }
    EXPECT_FALSE(crypto::pkcs11::token_object());
    try {
        crypto::pkcs11::token_object().get_attribute(CKA_ID);
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Attribute not found");
    }
}

TEST_F(Session, UnavailableOrEmptyAttributesAreNotFound)
{
    description tokens;
    auto& slot = tokens.add_slot(rutoken, "Reader");
    tree hidden = certificate_object(make_certificate("2001", "CN=Hidden").der, "id");
    hidden.put_child("unavailable", tree());
    hidden.get_child("unavailable").push_back({"", tree("CKA_ID")});
    add_object(slot, hidden);
    add_object(slot, certificate_object(make_certificate("2001", "CN=Empty").der, ""));
    install(tokens);
    module_ = crypto::pkcs11::connector(rutoken);
    auto s = module_.slots().at(0).open_session(false);
    const auto objects = find_all(s, crypto::pkcs11::pkcs11_certificate_template());
    ASSERT_EQ(objects.size(), 2u);
    for (const auto& object : objects) {
        try {
            object.get_attribute(CKA_ID);
            FAIL() << "no exception";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Attribute not found");
        }
    }
}

TEST_F(Session, AttributeLengthsAreUsedOnlyAsFarAsTheBufferReaches)
{
    {
        tree extra;
        extra.put("overstate.C_GetAttributeValue", "300");
        auto s = open(extra);
        const auto object = find_all(s, crypto::pkcs11::pkcs11_certificate_template()).at(0);
        EXPECT_EQ(text_of(object.get_attribute(CKA_ID)), "key-1");
        EXPECT_EQ(object.get_attribute(CKA_VALUE), make_certificate("2012-256", "CN=Session test").der);
    }
    tree padded;
    padded.put("pad_query.C_GetAttributeValue", "11");
    auto s = open(padded);
    const auto object = find_all(s, crypto::pkcs11::pkcs11_certificate_template()).at(0);
    clear_log();
    EXPECT_EQ(text_of(object.get_attribute(CKA_ID)), "key-1");
    EXPECT_EQ(log("CKA_ID=buffer"), std::vector<std::string>{"rtPKCS11ECP.dll C_GetAttributeValue session=256 "
                                                             "object=0x10001 CKA_ID=buffer16"});
}

TEST_F(Session, SignsWithTheKeyAndMechanismAndReturnsTheTokensBytes)
{
    auto s = open();
    s->login("1234");
    const auto key = find_all(s, crypto::pkcs11::pkcs11_private_key_template()).at(0);
    const bytes hash = hash_of_size(32);
    const auto signature = s->sign(key, hash, CK_MECHANISM{CKM_GOSTR3410, nullptr, 0});
    EXPECT_EQ(signature, standin_signature(CKM_GOSTR3410, "key-1", hash));
    const auto log_lines = log("C_Sign ");
    ASSERT_EQ(log_lines.size(), 2u);
    EXPECT_NE(log_lines[0].find("buffer=null"), std::string::npos);
    EXPECT_NE(log_lines[1].find("buffer=64"), std::string::npos);

    try {
        s->sign(key, hash_of_size(20), CK_MECHANISM{CKM_GOSTR3410, nullptr, 0});
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_EQ(error.code(), CKR_DATA_LEN_RANGE);
    }
    try {
        s->sign(key, hash, CK_MECHANISM{CKM_RSA_PKCS, nullptr, 0});
        FAIL() << "no exception";
    } catch (const crypto::pkcs11::exception& error) {
        EXPECT_EQ(error.code(), CKR_MECHANISM_INVALID);
    }
}

TEST_F(Session, SignatureLengthsAreUsedOnlyAsFarAsTheBufferReaches)
{
    for (const char* group : {"overstate", "pad_query"}) {
        tree extra;
        extra.put(std::string(group) + ".C_Sign", "40");
        auto s = open(extra);
        s->login("1234");
        const auto key = find_all(s, crypto::pkcs11::pkcs11_private_key_template()).at(0);
        const bytes hash = hash_of_size(32, 9);
        EXPECT_EQ(s->sign(key, hash, CK_MECHANISM{CKM_GOSTR3410, nullptr, 0}),
                  standin_signature(CKM_GOSTR3410, "key-1", hash))
            << group;
    }
}

}  // namespace
}  // namespace pkcs11_test
