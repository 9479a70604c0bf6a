#include <gtest/gtest.h>

#include <stdexcept>

#include "crypto/csp/store_names.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/pkcs11/exception.h"
#include "crypto/pkcs11/module_table.h"
#include "crypto/pkcs11/templates.h"
#include "test_certificates.h"

namespace {

using crypto::csp::win32_exception;

TEST(Win32Exception, CarriesTheSystemTextItsCrLfAndTheCode)
{
    const win32_exception error(ERROR_ACCESS_DENIED);
    const std::string text = error.what();
    EXPECT_EQ(text, csp_test::expected_error_text(ERROR_ACCESS_DENIED));
    EXPECT_NE(text, "Unknown error");
    const std::string tail = "\r\nError code: 0x00000005";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(error.code(), 5u);
}

TEST(Win32Exception, ReadsTheLastErrorWhenBuilt)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    const win32_exception error;
    EXPECT_EQ(error.code(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(std::string(error.what()), csp_test::expected_error_text(ERROR_FILE_NOT_FOUND));
}

TEST(Win32Exception, CodeWithoutSystemTextIsUnknownErrorWithoutCode)
{
    // The customer bit: no system has a message for such a code.
    const win32_exception error(0x2000ABCDu);
    EXPECT_STREQ(error.what(), "Unknown error");
    EXPECT_EQ(error.code(), 0x2000ABCDu);
}

TEST(Win32Exception, CopyKeepsTextAndCode)
{
    const win32_exception original(ERROR_INVALID_PARAMETER);
    const win32_exception copy(original);  // NOLINT(performance-unnecessary-copy-initialization)
    EXPECT_STREQ(copy.what(), original.what());
    EXPECT_EQ(copy.code(), original.code());
    try {
        throw copy;
    } catch (const std::exception& caught) {
        EXPECT_STREQ(caught.what(), original.what());
    }
}

TEST(Pkcs11Exception, TextIsThePrefixAndTheCode)
{
    const crypto::pkcs11::exception error(0xA0);
    EXPECT_STREQ(error.what(), "PKCS#11 error, code = 0x000000A0");
    const crypto::pkcs11::exception copy(error);
    EXPECT_STREQ(copy.what(), "PKCS#11 error, code = 0x000000A0");
    EXPECT_EQ(copy.code(), 0xA0u);
    EXPECT_STREQ(crypto::pkcs11::exception(0x80000001UL).what(), "PKCS#11 error, code = 0x80000001");
}

TEST(StartupTables, StoreNamesInKeyOrderAndAbsentKeysThrow)
{
    const auto& names = crypto::csp::store_names();
    ASSERT_EQ(names.size(), 4u);
    const char* expected[] = {"CA", "MY", "ROOT", "SPC"};
    int key = 0;
    for (const auto& row : names) {
        EXPECT_EQ(row.first, key);
        EXPECT_STREQ(row.second, expected[key]);
        ++key;
    }
    EXPECT_STREQ(crypto::csp::store_name(crypto::csp::personal_store_kind), "MY");
    for (int absent : {-1, 4}) {
        try {
            crypto::csp::store_name(absent);
            ADD_FAILURE() << absent;
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "invalid map<K, T> key");
        }
    }
}

void expect_template(const crypto::pkcs11::attribute_template& t, CK_OBJECT_CLASS object_class)
{
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].type, static_cast<CK_ATTRIBUTE_TYPE>(CKA_CLASS));
    EXPECT_EQ(t[0].ulValueLen, 4u);
    EXPECT_EQ(*static_cast<const CK_OBJECT_CLASS*>(t[0].pValue), object_class);
    EXPECT_EQ(t[1].type, static_cast<CK_ATTRIBUTE_TYPE>(CKA_TOKEN));
    EXPECT_EQ(t[1].ulValueLen, 1u);
    EXPECT_EQ(*static_cast<const CK_BBOOL*>(t[1].pValue), CK_TRUE);
}

TEST(StartupTables, Pkcs11TemplatesHoldClassAndTokenFlag)
{
    expect_template(crypto::pkcs11::pkcs11_certificate_template(), CKO_CERTIFICATE);
    expect_template(crypto::pkcs11::pkcs11_private_key_template(), CKO_PRIVATE_KEY);
    expect_template(crypto::pkcs11::pkcs11_public_key_template(), CKO_PUBLIC_KEY);
    // A copy with one more criterion leaves the shared template alone.
    auto copy = crypto::pkcs11::pkcs11_private_key_template();
    copy.push_back({CKA_ID, nullptr, 0});
    EXPECT_EQ(crypto::pkcs11::pkcs11_private_key_template().size(), 2u);
    // The Windows modules' packing: {ulong type, pointer, ulong length} without padding.
    EXPECT_EQ(sizeof(CK_ATTRIBUTE), 2 * sizeof(CK_ULONG) + sizeof(void*));
}

TEST(StartupTables, Pkcs11ModulesInLoadOrder)
{
    const auto& table = crypto::pkcs11::pkcs11_module_table();
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0], crypto::pkcs11::module_row("rutoken_ecp", "rtPKCS11ECP.dll"));
    EXPECT_EQ(table[1], crypto::pkcs11::module_row("jacarta", "jcPKCS11-2.dll"));
    EXPECT_EQ(table[2], crypto::pkcs11::module_row("esmart", "isbc_pkcs11_main.dll"));
}

}  // namespace
