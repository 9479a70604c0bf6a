// The SKF library's loading, and the two readers that bound what the library
// hands back: name lists and DigestInfo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "crypto/skf/digest_info.h"
#include "crypto/skf/library_path.h"
#include "crypto/skf/multi_string.h"
#include "crypto/skf/skf_module.h"
#include "skf_fixture.h"

namespace {

using crypto::skf::split_multi_string;
using names = std::vector<std::string>;

// The first size bytes of text, followed in memory by bytes that must never
// be read: a reader that runs past size picks them up in a name.
names split_guarded(const std::string& text, std::size_t size)
{
    std::string memory = text + "GUARD";
    return split_multi_string(memory.data(), size);
}

TEST(MultiString, ReadsNamesUpToTheEmptyName)
{
    const std::string list("Token A\0Token B\0\0Token C\0\0", 26);
    EXPECT_EQ(split_guarded(list, list.size()), (names{"Token A", "Token B"}));
    EXPECT_EQ(split_guarded(std::string("\0\0", 2), 2), names{});
    EXPECT_EQ(split_guarded(std::string("X\0", 2), 2), names{"X"});
    EXPECT_EQ(split_multi_string(nullptr, 10), names{});
    EXPECT_EQ(split_guarded("abc", 0), names{});
}

TEST(MultiString, NeverReadsPastTheWrittenBytes)
{
    // No double NUL at all, the last name without its NUL.
    const std::string list("dev1\0dev2", 9);
    EXPECT_EQ(split_guarded(list, list.size()), (names{"dev1", "dev2"}));
    // A size that cuts a name: the cut part is the name.
    EXPECT_EQ(split_guarded(list, 7), (names{"dev1", "de"}));
    EXPECT_EQ(split_guarded("abcdef", 6), names{"abcdef"});
    // Bytes after the size are not part of the list, even when they look like names.
    EXPECT_EQ(split_guarded(std::string("a\0b\0c\0\0", 7), 4), (names{"a", "b"}));
}

TEST(DigestInfo, PrefixFollowsTheHashLength)
{
    for (int size : {32, 48, 64}) {
        crypto::byte_vector hash(static_cast<std::size_t>(size));
        for (int i = 0; i < size; ++i)
            hash[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7 + 1);
        auto expected = skf_test::digest_info_prefix(size);
        expected.insert(expected.end(), hash.begin(), hash.end());
        EXPECT_EQ(crypto::skf::make_digest_info(hash), expected) << size;
        EXPECT_EQ(expected.size(), static_cast<std::size_t>(19 + size));
    }
    for (std::size_t size : {0u, 1u, 20u, 31u, 33u, 47u, 63u, 65u, 128u})
        EXPECT_TRUE(crypto::skf::make_digest_info(crypto::byte_vector(size, 0xAB)).empty()) << size;
}

class Loading : public ::testing::Test {
protected:
    void TearDown() override
    {
        skf_test::remove_library();
        EXPECT_FALSE(skf_test::library_loaded());
    }
};

TEST_F(Loading, NoLibraryIsAnInvalidSession)
{
    skf_test::remove_library();
    crypto::skf::SkfModule module;
    EXPECT_FALSE(module.load());
    EXPECT_FALSE(module.loaded());
    EXPECT_EQ(module.entry().enum_dev, nullptr);
    try {
        crypto::list_skf_certificates();
        FAIL() << "listed without a library";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid SKF session");
    }
    try {
        crypto::find_certificate_by_thumbprint("00", crypto::skf_store);
        FAIL() << "found without a library";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Invalid SKF session");
    }
}

TEST_F(Loading, AllSixteenEntryPointsOrNothing)
{
    skf_test::install_library("kelvora_test_skf_partial.dll");
    {
        crypto::skf::SkfModule module;
        EXPECT_FALSE(module.load());
        // The library that lacked an entry point is not kept loaded.
        EXPECT_FALSE(skf_test::library_loaded());
        EXPECT_EQ(module.entry().enum_dev, nullptr);
        EXPECT_EQ(module.entry().rsa_sign_data, nullptr);
    }
    EXPECT_THROW(crypto::list_skf_certificates(), std::runtime_error);

    skf_test::install_library();
    {
        crypto::skf::SkfModule module;
        ASSERT_TRUE(module.load());
        EXPECT_TRUE(skf_test::library_loaded());
        const auto& e = module.entry();
        const void* bound[] = {reinterpret_cast<const void*>(e.enum_dev),
                               reinterpret_cast<const void*>(e.connect_dev),
                               reinterpret_cast<const void*>(e.disconnect_dev),
                               reinterpret_cast<const void*>(e.get_dev_info),
                               reinterpret_cast<const void*>(e.verify_pin),
                               reinterpret_cast<const void*>(e.enum_application),
                               reinterpret_cast<const void*>(e.open_application),
                               reinterpret_cast<const void*>(e.close_application),
                               reinterpret_cast<const void*>(e.enum_container),
                               reinterpret_cast<const void*>(e.open_container),
                               reinterpret_cast<const void*>(e.close_container),
                               reinterpret_cast<const void*>(e.get_container_type),
                               reinterpret_cast<const void*>(e.export_certificate),
                               reinterpret_cast<const void*>(e.rsa_sign_data),
                               reinterpret_cast<const void*>(e.export_public_key),
                               reinterpret_cast<const void*>(e.rsa_verify)};
        const HMODULE library = GetModuleHandleA(crypto::skf::library_path);
        const char* names_in_order[] = {"SKF_EnumDev",          "SKF_ConnectDev",       "SKF_DisConnectDev",
                                        "SKF_GetDevInfo",       "SKF_VerifyPIN",        "SKF_EnumApplication",
                                        "SKF_OpenApplication",  "SKF_CloseApplication", "SKF_EnumContainer",
                                        "SKF_OpenContainer",    "SKF_CloseContainer",   "SKF_GetContainerType",
                                        "SKF_ExportCertificate", "SKF_RSASignData",     "SKF_ExportPublicKey",
                                        "SKF_RSAVerify"};
        for (int i = 0; i < 16; ++i)
            EXPECT_EQ(bound[i], reinterpret_cast<const void*>(GetProcAddress(library, names_in_order[i])))
                << names_in_order[i];
    }
    // The module frees its library.
    EXPECT_FALSE(skf_test::library_loaded());
}

TEST_F(Loading, NoDeviceListsNothingAndFreesTheLibrary)
{
    skf_test::install_library();
    // Without a description the library has no device.
    EXPECT_TRUE(crypto::list_skf_certificates().empty());
    EXPECT_FALSE(skf_test::library_loaded());
    const skf_test::devices none("");
    EXPECT_TRUE(crypto::list_skf_certificates().empty());
    EXPECT_FALSE(skf_test::library_loaded());
    // The empty list is one NUL: a size query and the call that reads it.
    EXPECT_EQ(none.calls(), (std::vector<std::string>{"load", "SKF_EnumDev", "SKF_EnumDev", "unload"}));
}

TEST_F(Loading, AFailedEnumerationListsNothing)
{
    skf_test::install_library();
    // The size query fails (no second call), or the call that fills the buffer.
    struct row {
        const char* failure;
        long calls;
    };
    for (const row& r : {row{"fail SKF_EnumDev\n", 1}, row{"fail SKF_EnumDev skip 1\n", 2}}) {
        const skf_test::devices failing(std::string(r.failure) + "device A\n");
        crypto::skf::SkfModule module;
        ASSERT_TRUE(module.load());
        EXPECT_TRUE(module.enum_devices().empty()) << r.failure;
        const auto calls = failing.calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "SKF_EnumDev"), r.calls) << r.failure;
    }
}

TEST_F(Loading, OversizedNameListIsRefused)
{
    skf_test::install_library();
    const skf_test::devices huge("quirk SKF_EnumDev query_extra 0x7FFFFFF0\ndevice A\n");
    crypto::skf::SkfModule module;
    ASSERT_TRUE(module.load());
    EXPECT_TRUE(module.enum_devices().empty());
    const auto log = huge.log();
    ASSERT_EQ(log.size(), 2u);  // "load" and the size query only
    EXPECT_EQ(log[1][2], "present=1 buffer=no size=0");
}

}  // namespace
