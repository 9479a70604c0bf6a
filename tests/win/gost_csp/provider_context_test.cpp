// Provider contexts of the stand-in as advapi32 loads it from the registry:
// acquiring each type, provider parameters, algorithm lists and containers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "common/gost_standin.h"
#include "support.h"

namespace gost_test {
namespace {

using namespace gost_standin;

std::string param_string(HCRYPTPROV provider, DWORD param, DWORD flags = 0)
{
    DWORD size = 0;
    check(CryptGetProvParam(provider, param, nullptr, &size, flags), "CryptGetProvParam (size)");
    std::vector<char> text(size);
    check(CryptGetProvParam(provider, param, reinterpret_cast<BYTE*>(text.data()), &size, flags),
          "CryptGetProvParam");
    return std::string(text.data());
}

DWORD param_dword(HCRYPTPROV provider, DWORD param)
{
    DWORD value = 0;
    DWORD size = sizeof value;
    check(CryptGetProvParam(provider, param, reinterpret_cast<BYTE*>(&value), &size, 0), "CryptGetProvParam");
    return value;
}

std::set<ALG_ID> enumerate_algorithms(HCRYPTPROV provider, DWORD param)
{
    std::set<ALG_ID> ids;
    DWORD flags = CRYPT_FIRST;
    for (;;) {
        BYTE record[128] = {};
        DWORD size = sizeof record;
        if (!CryptGetProvParam(provider, param, record, &size, flags)) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
            break;
        }
        flags = CRYPT_NEXT;
        if (param == PP_ENUMALGS) {
            EXPECT_EQ(sizeof(PROV_ENUMALGS), size);
            const auto* info = reinterpret_cast<const PROV_ENUMALGS*>(record);
            EXPECT_EQ(std::strlen(info->szName) + 1, info->dwNameLen);
            ids.insert(info->aiAlgid);
        } else {
            EXPECT_EQ(sizeof(PROV_ENUMALGS_EX), size);
            ids.insert(reinterpret_cast<const PROV_ENUMALGS_EX*>(record)->aiAlgid);
        }
    }
    return ids;
}

class each_provider : public ::testing::TestWithParam<const key_family*> {};

TEST_P(each_provider, opens_by_name_and_by_type_and_reports_itself)
{
    const key_family& family = *GetParam();
    provider_handle by_name = acquire(family, "", CRYPT_VERIFYCONTEXT);
    EXPECT_EQ(family.provider_name, param_string(by_name.get(), PP_NAME));
    EXPECT_EQ(family.provider_type, param_dword(by_name.get(), PP_PROVTYPE));
    // Without a name advapi32 takes the registered default of the type.
    provider_handle by_type;
    ASSERT_TRUE(CryptAcquireContextW(by_type.out(), nullptr, nullptr, family.provider_type, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(family.provider_name, param_string(by_type.get(), PP_NAME));
    // A verification context has no reader and no container.
    EXPECT_EQ("", param_string(by_name.get(), PP_SMARTCARD_READER));
    DWORD size = 0;
    EXPECT_FALSE(CryptGetProvParam(by_name.get(), PP_CONTAINER, nullptr, &size, 0));
}

TEST_P(each_provider, lists_the_algorithms_of_its_generation)
{
    const key_family& family = *GetParam();
    provider_handle provider = acquire(family, "", CRYPT_VERIFYCONTEXT);
    const std::set<ALG_ID> ids = enumerate_algorithms(provider.get(), PP_ENUMALGS);
    EXPECT_EQ(ids, enumerate_algorithms(provider.get(), PP_ENUMALGS_EX));
    for (ALG_ID own : {family.hash_alg, family.sign_alg, family.exchange_alg, family.ephemeral_alg, family.export_alg,
                       static_cast<ALG_ID>(calg_g28147)})
        EXPECT_TRUE(ids.count(own)) << std::hex << own;
    EXPECT_TRUE(ids.count(calg_gr3411));  // every generation hashes GOST R 34.11-94
    EXPECT_EQ(family.provider_type >= prov_gost_2012_256, ids.count(calg_gr3411_2012_256) == 1);
    EXPECT_EQ(family.provider_type >= prov_gost_2012_512, ids.count(calg_gr3411_2012_512) == 1);
    // A provider refuses a hash it does not list.
    hash_handle hash;
    if (!ids.count(calg_gr3411_2012_512)) {
        EXPECT_FALSE(CryptCreateHash(provider.get(), calg_gr3411_2012_512, 0, 0, hash.out()));
        EXPECT_EQ(static_cast<DWORD>(NTE_BAD_ALGID), GetLastError());
    }
}

INSTANTIATE_TEST_SUITE_P(gost, each_provider, ::testing::ValuesIn(families()),
                         [](const auto& p) { return std::string("type") + std::to_string(p.param->provider_type); });

TEST(gost_provider_registration, enumeration_lists_the_three_providers_with_their_types)
{
    std::set<std::pair<std::string, DWORD>> found;
    for (DWORD index = 0;; ++index) {
        DWORD type = 0, size = 0;
        if (!CryptEnumProvidersW(index, nullptr, 0, &type, nullptr, &size)) break;
        std::wstring name(size / sizeof(wchar_t), L'\0');
        if (CryptEnumProvidersW(index, nullptr, 0, &type, &name[0], &size))
            found.insert({narrow(std::wstring(name.c_str())), type});
    }
    for (const key_family* family : families())
        EXPECT_TRUE(found.count({family->provider_name, family->provider_type})) << family->provider_name;
}

TEST(gost_containers, are_created_opened_named_and_deleted)
{
    const key_family& family = *family_by_label("2012-256");
    const std::string name = unique_name("life");
    provider_handle created = acquire(family, name, CRYPT_NEWKEYSET);
    EXPECT_EQ(name, param_string(created.get(), PP_CONTAINER));
    EXPECT_EQ(std::string("\\\\.\\") + store_pseudo_reader + "\\" + name,
              param_string(created.get(), PP_UNIQUE_CONTAINER));
    EXPECT_EQ("", param_string(created.get(), PP_SMARTCARD_READER));

    provider_handle again;
    EXPECT_FALSE(try_acquire(again, family, name, CRYPT_NEWKEYSET));
    EXPECT_EQ(static_cast<DWORD>(NTE_EXISTS), GetLastError());

    // Open by name and by unique name; the new container holds no key yet.
    provider_handle opened = acquire(family, name, 0);
    key_handle key;
    EXPECT_FALSE(CryptGetUserKey(opened.get(), AT_KEYEXCHANGE, key.out()));
    EXPECT_EQ(static_cast<DWORD>(NTE_NO_KEY), GetLastError());
    acquire(family, param_string(created.get(), PP_UNIQUE_CONTAINER), CRYPT_SILENT);

    provider_handle deleted;
    ASSERT_TRUE(try_acquire(deleted, family, name, CRYPT_DELETEKEYSET));
    EXPECT_FALSE(try_acquire(again, family, name, 0));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
    EXPECT_FALSE(try_acquire(again, family, name, CRYPT_DELETEKEYSET));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
}

TEST(gost_containers, made_on_the_reader_report_it_also_to_a_verification_context)
{
    const key_family& family = *family_by_label("2001");
    const std::string name = unique_name("reader");
    acquire(family, std::string("\\\\.\\") + reader_name + "\\" + name, CRYPT_NEWKEYSET);
    // The certificate's reader is read through CRYPT_VERIFYCONTEXT | CRYPT_SILENT
    // with the container name, by the narrow-character acquire.
    provider_handle verify;
    ASSERT_TRUE(CryptAcquireContextA(verify.out(), name.c_str(), family.provider_name, family.provider_type,
                                     CRYPT_VERIFYCONTEXT | CRYPT_SILENT));
    EXPECT_EQ(reader_name, param_string(verify.get(), PP_SMARTCARD_READER));
    EXPECT_EQ(std::string("\\\\.\\") + reader_name + "\\" + name, param_string(verify.get(), PP_UNIQUE_CONTAINER));
}

TEST(gost_containers, enumeration_writes_back_the_length_of_each_name)
{
    const key_family& family = *family_by_label("2012-512");
    const std::string short_name = unique_name("e");
    const std::string long_name = unique_name("enumeration-with-a-much-longer-container-name");
    acquire(family, short_name, CRYPT_NEWKEYSET);
    acquire(family, long_name, CRYPT_NEWKEYSET);

    provider_handle provider = acquire(family, "", CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
    std::vector<char> buffer(1024);
    // The length reset before every call: every name is read.
    std::set<std::string> names;
    DWORD length = 0;
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        length = static_cast<DWORD>(buffer.size());
        if (!CryptGetProvParam(provider.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer.data()), &length,
                               flags))
            break;
        EXPECT_EQ(std::strlen(buffer.data()) + 1, length);
        names.insert(buffer.data());
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_ITEMS), GetLastError());
    EXPECT_TRUE(names.count(short_name));
    EXPECT_TRUE(names.count(long_name));

    // The length passed on from call to call: the walk stops at the first
    // name longer than the one before, with the length it needs.
    ASSERT_TRUE(CryptGetProvParam(provider.get(), PP_ENUMCONTAINERS, nullptr, &length, CRYPT_FIRST));
    DWORD flags = CRYPT_FIRST;
    DWORD previous = length;
    while (CryptGetProvParam(provider.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer.data()), &length,
                             flags)) {
        previous = length;
        flags = CRYPT_NEXT;
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), GetLastError());
    EXPECT_GT(length, previous);
}

TEST(gost_containers, live_in_the_state_file_named_by_the_environment)
{
    const key_family& family = *family_by_label("2001");
    const std::string name = unique_name("elsewhere");
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + name + ".txt";
    {
        scoped_environment state(state_path_variable, path);
        make_container(family, name, AT_KEYEXCHANGE);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
        acquire(family, name, CRYPT_SILENT);
    }
    // The prefix's own state does not hold it.
    provider_handle missing;
    EXPECT_FALSE(try_acquire(missing, family, name, CRYPT_SILENT));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
    DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace gost_test
