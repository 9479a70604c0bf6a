#include <gtest/gtest.h>

#include "crypto/csp/distinguished_name.h"
#include "test_certificates.h"

namespace {

using crypto::csp::distinguished_name;
using entries = std::vector<std::pair<std::string, std::string>>;

distinguished_name parsed(const std::wstring& text)
{
    distinguished_name name(nullptr, CERT_X500_NAME_STR);
    name.parse(text);
    return name;
}

TEST(DistinguishedName, SplitsTrimsUnquotesAndKeepsFirstOfARepeatedKey)
{
    const auto name = parsed(L" CN = Ivanov , OU=First, OU=Second, junk, O=\"Horns, \"\"Hooves\"\" Ltd\", L=");
    EXPECT_EQ(name.entries(), (entries{{"CN", "Ivanov"},
                                       {"OU", "First"},
                                       {"O", "Horns, \"Hooves\" Ltd"},
                                       {"L", ""}}));
    EXPECT_EQ(name.value("OU"), "First");
    EXPECT_EQ(name.value("C"), "");
}

TEST(DistinguishedName, EachAttributeOfAnRdnIsAnEntry)
{
    // The system joins the attributes of one RDN with " + " and quotes a value
    // that holds "+" itself.
    EXPECT_EQ(parsed(L"CN=Alice + O=Org, C=RU").entries(), (entries{{"CN", "Alice"}, {"O", "Org"}, {"C", "RU"}}));
    EXPECT_EQ(parsed(L"CN=\"A + B\" + O=Org + CN=Later").entries(), (entries{{"CN", "A + B"}, {"O", "Org"}}));
    EXPECT_EQ(parsed(L"CN=a+b").entries(), (entries{{"CN", "a+b"}}));
    // A value starting with "#" is the value's text.
    EXPECT_EQ(parsed(L"CN=\"#0C094D6963726F736F6674\"").value("CN"), "#0C094D6963726F736F6674");
}

TEST(DistinguishedName, ValueKeepsEqualsSignsAfterTheFirst)
{
    EXPECT_EQ(parsed(L"CN=a=b").entries(), (entries{{"CN", "a=b"}}));
    EXPECT_TRUE(parsed(L"").entries().empty());
    EXPECT_TRUE(parsed(L"no equals here").entries().empty());
}

TEST(DistinguishedName, EmptyOrNullBlobGivesEmptyName)
{
    EXPECT_TRUE(distinguished_name(nullptr, CERT_X500_NAME_STR).entries().empty());
    CERT_NAME_BLOB empty{0, nullptr};
    EXPECT_TRUE(distinguished_name(&empty, CERT_OID_NAME_STR).entries().empty());
}

TEST(DistinguishedName, ReadsTheSystemTextOfAnEncodedName)
{
    auto der = csp_test::encode_name(L"OU=Unit A, OU=Unit B, O=Org, CN=\"Say \"\"hi\"\", all\"");
    CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), der.data()};

    const distinguished_name x500(&blob, CERT_X500_NAME_STR);
    EXPECT_EQ(x500.value("CN"), "Say \"hi\", all");
    EXPECT_EQ(x500.value("OU"), "Unit A");
    EXPECT_EQ(x500.value("O"), "Org");

    const distinguished_name names(&blob, CERT_OID_NAME_STR);
    EXPECT_EQ(names.value("2.5.4.3"), "Say \"hi\", all");
    EXPECT_EQ(names.value("2.5.4.11"), "Unit A");

    auto gost_der = csp_test::encode_name(L"CN=Org, 1.2.643.100.3=12345678901, 1.2.643.100.1=1027700132195");
    CERT_NAME_BLOB gost_blob{static_cast<DWORD>(gost_der.size()), gost_der.data()};
    const distinguished_name oids(&gost_blob, CERT_OID_NAME_STR);
    EXPECT_EQ(oids.value("2.5.4.3"), "Org");
    EXPECT_EQ(oids.value("1.2.643.100.3"), "12345678901");
    EXPECT_EQ(oids.value("1.2.643.100.1"), "1027700132195");

    // Dotted keys stay single keys of the JSON object.
    const auto tree = oids.to_ptree();
    const auto found = tree.find("1.2.643.100.3");
    ASSERT_NE(found, tree.not_found());
    EXPECT_EQ(found->second.data(), "12345678901");
    EXPECT_EQ(tree.size(), oids.entries().size());
}

TEST(DistinguishedName, CyrillicValuesComeOutAsUtf8)
{
    auto der = csp_test::encode_name(L"CN=\x0418\x0432\x0430\x043D\x043E\x0432");
    CERT_NAME_BLOB blob{static_cast<DWORD>(der.size()), der.data()};
    EXPECT_EQ(distinguished_name(&blob, CERT_X500_NAME_STR).value("CN"),
              "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\xD0\xBE\xD0\xB2");
}

}  // namespace
