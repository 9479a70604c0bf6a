// Listing and finding the certificates of the SKF devices.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "crypto/certificate_lookup.h"
#include "crypto/skf/skf_module.h"
#include "crypto/skf/x509certificate.h"
#include "skf_fixture.h"

namespace {

using calls_t = std::vector<std::string>;

class Listing : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        skf_test::install_library();
        first = new skf_test::certificate(skf_test::make_certificate(L"CN=SKF One"));
        second = new skf_test::certificate(skf_test::make_certificate(L"CN=SKF Two"));
        third = new skf_test::certificate(skf_test::make_certificate(L"CN=SKF Three", "1.2.840.113549.1.1.13"));
    }
    static void TearDownTestSuite()
    {
        delete first;
        delete second;
        delete third;
        skf_test::remove_library();
    }
    void TearDown() override { EXPECT_FALSE(skf_test::library_loaded()); }

    static std::vector<std::string> containers_of(const std::vector<crypto::certificate_ptr>& listed)
    {
        std::vector<std::string> paths;
        for (const auto& c : listed)
            paths.push_back(c->container());
        return paths;
    }

    static skf_test::certificate* first;
    static skf_test::certificate* second;
    static skf_test::certificate* third;
};

skf_test::certificate* Listing::first = nullptr;
skf_test::certificate* Listing::second = nullptr;
skf_test::certificate* Listing::third = nullptr;

TEST_F(Listing, EveryRsaContainerInDeviceApplicationContainerOrder)
{
    const skf_test::devices devices("device Token A\n"
                                    "application APP1\n"
                                    "container c1\n" +
                                    skf_test::certificate_line(*first) +
                                    "container c2\n" + skf_test::certificate_line(*second) +
                                    "application APP2\n"
                                    "container c3\n" +
                                    skf_test::certificate_line(*third) +
                                    "device Token B\n"
                                    "application APP1\n"
                                    "container c1\n" +
                                    skf_test::certificate_line(*second));
    const auto listed = crypto::list_skf_certificates();
    EXPECT_EQ(containers_of(listed), (calls_t{"Token A\\APP1\\c1", "Token A\\APP1\\c2", "Token A\\APP2\\c3",
                                              "Token B\\APP1\\c1"}));
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0]->thumbprint(), first->thumbprint);
    EXPECT_EQ(listed[1]->thumbprint(), second->thumbprint);
    EXPECT_EQ(listed[2]->thumbprint(), third->thumbprint);
    EXPECT_EQ(listed[2]->signature_oid(), "1.2.840.113549.1.1.13");
    for (const auto& c : listed) {
        EXPECT_TRUE(c->is_hardware());
        EXPECT_STREQ(c->carrier_type(), "skf");
        EXPECT_TRUE(c->has_private_key());
        EXPECT_EQ(c->key_spec(), 0u);
        ASSERT_TRUE(c->context());
        const auto* skf = dynamic_cast<const crypto::skf::x509certificate*>(c.get());
        ASSERT_NE(skf, nullptr);
        EXPECT_EQ(c->reader(), skf->device_name());
        EXPECT_EQ(skf->module(), std::dynamic_pointer_cast<crypto::skf::x509certificate>(listed[0])->module());
    }
    const auto description = listed[3]->to_ptree();
    EXPECT_EQ(description.get<std::string>("hardware"), "true");
    EXPECT_EQ(description.get<std::string>("carrier_type"), "skf");
    EXPECT_EQ(description.get<std::string>("container"), "Token B\\APP1\\c1");
    EXPECT_EQ(description.get<std::string>("reader"), "Token B");
    EXPECT_EQ(description.get<std::string>("thumbprint"), second->thumbprint);
}

TEST_F(Listing, WalksTheLibraryAndClosesWhatItOpened)
{
    const skf_test::devices devices("device D\napplication A\ncontainer C\n" + skf_test::certificate_line(*first));
    ASSERT_EQ(crypto::list_skf_certificates().size(), 1u);
    const auto log = devices.log();
    std::vector<std::string> lines;
    for (const auto& line : log)
        lines.push_back(line.size() > 2 ? line[0] + " " + line[1] + " " + line[2]
                                        : line.size() == 2 ? line[0] + " " + line[1] : line[0]);
    const calls_t expected = {"load",
                              "SKF_EnumDev  present=1 buffer=no size=0",
                              "SKF_EnumDev  present=1 buffer=yes size=3",
                              "SKF_ConnectDev D ",
                              "SKF_EnumApplication D buffer=no size=0",
                              "SKF_EnumApplication D buffer=yes size=3",
                              "SKF_OpenApplication D\\A ",
                              "SKF_EnumContainer D\\A buffer=no size=0",
                              "SKF_EnumContainer D\\A buffer=yes size=3",
                              "SKF_OpenContainer D\\A\\C ",
                              "SKF_GetContainerType D\\A\\C type=1",
                              "SKF_ExportCertificate D\\A\\C sign=1 buffer=no size=0",
                              "SKF_ExportCertificate D\\A\\C sign=1 buffer=yes size=" +
                                  std::to_string(first->der.size()),
                              "SKF_CloseContainer D\\A\\C ",
                              "SKF_CloseApplication D\\A ",
                              "SKF_DisConnectDev D ",
                              "unload open=0"};
    // The last line is written when the certificate listed goes.
    EXPECT_EQ(lines, expected);
}

TEST_F(Listing, SkipsWhatCannotBeOpenedOrIsNoRsaCertificate)
{
    const skf_test::devices devices(
        "device Unplugged\nabsent\napplication A\ncontainer C\n" + skf_test::certificate_line(*first) +
        "device Refuses\nfail SKF_ConnectDev\napplication A\ncontainer C\n" + skf_test::certificate_line(*first) +
        "device Good\n"
        "application Locked\nfail SKF_OpenApplication\ncontainer C\n" +
        skf_test::certificate_line(*first) +
        "application Open\n"
        "container closed\nfail SKF_OpenContainer\n" +
        skf_test::certificate_line(*first) + "container ecc\ntype 2\n" + skf_test::certificate_line(*first) +
        "container untyped\ntype none\n" + skf_test::certificate_line(*first) + "container empty\n" +
        "container refusing\nfail SKF_ExportCertificate\n" + skf_test::certificate_line(*first) +
        "container garbage\ncertificate AAECAwQFBgcICQ==\n"
        "container typed-despite-failure\nfail SKF_GetContainerType\n" +
        skf_test::certificate_line(*second) + "container kept\n" + skf_test::certificate_line(*third));
    // Only the type written counts, not the result of the type query.
    EXPECT_EQ(containers_of(crypto::list_skf_certificates()),
              (calls_t{"Good\\Open\\typed-despite-failure", "Good\\Open\\kept"}));
    // Every handle that opened was closed again.
    const auto log = devices.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back()[0], "unload");
    EXPECT_EQ(log.back()[1], "open=0");
}

TEST_F(Listing, TheLibraryStaysLoadedWhileACertificateLives)
{
    const skf_test::devices devices("device D\napplication A\ncontainer C1\n" + skf_test::certificate_line(*first) +
                                    "container C2\n" + skf_test::certificate_line(*second));
    auto listed = crypto::list_skf_certificates();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_TRUE(skf_test::library_loaded());
    crypto::certificate_ptr kept = listed[1];
    listed.clear();
    EXPECT_TRUE(skf_test::library_loaded());
    kept.reset();
    EXPECT_FALSE(skf_test::library_loaded());

    // Each listing loads the library afresh.
    auto one = crypto::list_skf_certificates();
    auto other = crypto::list_skf_certificates();
    ASSERT_EQ(one.size(), 2u);
    ASSERT_EQ(other.size(), 2u);
    const auto module_of = [](const crypto::certificate_ptr& c) {
        return std::dynamic_pointer_cast<crypto::skf::x509certificate>(c)->module();
    };
    EXPECT_NE(module_of(one[0]), module_of(other[0]));
    one.clear();
    EXPECT_TRUE(skf_test::library_loaded());
    other.clear();
    EXPECT_FALSE(skf_test::library_loaded());
    const auto loads = devices.calls();
    EXPECT_EQ(std::count(loads.begin(), loads.end(), "load"), 2);
    EXPECT_EQ(std::count(loads.begin(), loads.end(), "unload"), 2);
}

TEST_F(Listing, FindComparesTheThumbprintTextExactly)
{
    const skf_test::devices devices("device D\napplication A\ncontainer C1\n" + skf_test::certificate_line(*first) +
                                    "container C2\n" + skf_test::certificate_line(*second));
    {
        const auto found = crypto::find_certificate_by_thumbprint(second->thumbprint, crypto::skf_store);
        ASSERT_TRUE(crypto::is_found(found));
        EXPECT_EQ(found->container(), "D\\A\\C2");
        EXPECT_EQ(found.use_count(), 1);
        // Only the certificate found holds the library now.
        EXPECT_TRUE(skf_test::library_loaded());
    }
    EXPECT_FALSE(skf_test::library_loaded());
    std::string lower = second->thumbprint;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return static_cast<char>(tolower(c)); });
    EXPECT_FALSE(crypto::find_certificate_by_thumbprint(lower, crypto::skf_store));
    EXPECT_FALSE(crypto::find_certificate_by_thumbprint(third->thumbprint, crypto::skf_store));
    EXPECT_FALSE(crypto::find_certificate_by_thumbprint("", crypto::skf_store));
    EXPECT_FALSE(skf_test::library_loaded());
}

TEST_F(Listing, MisreportedSizesAreCutToWhatWasWritten)
{
    // The name lists lack their terminators; the certificate's size query asks
    // for more than the certificate, or the second call claims more than the
    // buffer held.
    const skf_test::devices devices(
        "quirk SKF_EnumDev unterminated\n"
        "device First\nquirk SKF_EnumApplication unterminated\n"
        "application A\nquirk SKF_EnumContainer unterminated\n"
        "container padded\nquirk SKF_ExportCertificate query_extra 7\n" +
        skf_test::certificate_line(*first) + "container overclaimed\nquirk SKF_ExportCertificate written_extra 100\n" +
        skf_test::certificate_line(*second) +
        "container huge\nquirk SKF_ExportCertificate query_extra 0x7FFFFFF0\n" +
        skf_test::certificate_line(*third) + "container last\n" + skf_test::certificate_line(*third) +
        "device Second\napplication B\nquirk SKF_EnumContainer query_extra 5\n"
        "container only\n" +
        skf_test::certificate_line(*first));
    const auto listed = crypto::list_skf_certificates();
    EXPECT_EQ(containers_of(listed), (calls_t{"First\\A\\padded", "First\\A\\overclaimed", "First\\A\\last",
                                              "Second\\B\\only"}));
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0]->encoded(), first->der);
    EXPECT_EQ(listed[0]->thumbprint(), first->thumbprint);
    EXPECT_EQ(listed[1]->encoded(), second->der);
    EXPECT_EQ(listed[1]->thumbprint(), second->thumbprint);
    EXPECT_EQ(listed[2]->thumbprint(), third->thumbprint);
}

TEST_F(Listing, NamesPassByteForByte)
{
    const std::string device = "\xD0\xA2\xD0\xBE\xD0\xBA\xD0\xB5\xD0\xBD 1";  // UTF-8, not converted
    const skf_test::devices devices("device " + device + "\napplication App with blanks\ncontainer {A-B}\n" +
                                    skf_test::certificate_line(*first));
    const auto listed = crypto::list_skf_certificates();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0]->container(), device + "\\App with blanks\\{A-B}");
    EXPECT_EQ(listed[0]->reader(), device);
}

}  // namespace
