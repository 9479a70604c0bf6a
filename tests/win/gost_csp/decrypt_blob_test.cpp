// The Decrypt key path through the stand-in: the sender's records from
// make-session-key are turned into the GOST public-key blob and SIMPLEBLOB,
// imported under the user's key, re-wrapped for the server key, and the
// server (check-rewrapped) recovers the same session key.
#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <sstream>

#include "common/gost_standin.h"
#include "crypto/encoding/base64.h"
#include "support.h"

namespace gost_test {
namespace {

using namespace gost_standin;

void put32(bytes& out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void append(bytes& out, const bytes& part) { out.insert(out.end(), part.begin(), part.end()); }

struct request {
    boost::property_tree::ptree tree;
    bytes field(const std::string& path) const { return crypto::base64_decode(tree.get<std::string>(path)); }

    // The ephemeral key as the GOST PUBLICKEYBLOB, its ALG_ID from crypt32.
    bytes ephemeral_blob() const
    {
        const std::string oid = tree.get<std::string>("encryptedKey.ephemeralKey.algorithm");
        const CRYPT_OID_INFO* info =
            CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid.c_str()), CRYPT_PUBKEY_ALG_OID_GROUP_ID);
        if (!info) throw std::runtime_error("no public-key OID info for " + oid);
        const bytes data = field("encryptedKey.ephemeralKey.data");
        bytes blob{PUBLICKEYBLOB, 0x20, 0, 0};
        put32(blob, info->Algid);
        put32(blob, public_key_magic);
        put32(blob, static_cast<std::uint32_t>(data.size() * 8));
        append(blob, field("encryptedKey.ephemeralKey.parameters"));
        append(blob, data);
        return blob;
    }

    bytes session_blob() const
    {
        bytes blob{SIMPLEBLOB, 0x20, 0, 0};
        put32(blob, calg_g28147);
        put32(blob, simple_blob_magic);
        put32(blob, calg_g28147);
        append(blob, field("encryptedKey.sessionKey.ukm"));
        append(blob, field("encryptedKey.sessionKey.data"));
        append(blob, field("encryptedKey.sessionKey.mac"));
        append(blob, field("encryptedKey.sessionKey.parameters"));
        return blob;
    }
};

request make_session_key(const key_family& family, const std::string& container, const std::string& server)
{
    const process_result run = run_fixture({"make-session-key", "--alg", family.label, "--container", container,
                                            "--server-container", server});
    EXPECT_EQ(0u, run.exit_code) << run.err;
    request out;
    std::istringstream text(run.out);
    boost::property_tree::read_json(text, out.tree);
    return out;
}

bool import(HCRYPTPROV provider, const bytes& blob, HCRYPTKEY with, DWORD flags, key_handle& out)
{
    return CryptImportKey(provider, blob.data(), static_cast<DWORD>(blob.size()), with, flags, out.out()) != FALSE;
}

void set_export_algorithm(HCRYPTKEY key)
{
    const ALG_ID alg = calg_pro_export;
    check(CryptSetKeyParam(key, KP_ALGID, reinterpret_cast<const BYTE*>(&alg), 0), "CryptSetKeyParam");
}

class each_family_decrypt : public ::testing::TestWithParam<const key_family*> {};

TEST_P(each_family_decrypt, rewraps_the_session_key_for_the_server)
{
    const key_family& family = *GetParam();
    const std::string user = unique_name("user");
    const std::string server = unique_name("server");
    make_container(family, user, AT_KEYEXCHANGE, "1234");
    const request req = make_session_key(family, user, server);

    const bytes ephemeral = req.ephemeral_blob();
    EXPECT_EQ(family.public_size, req.field("encryptedKey.ephemeralKey.data").size());
    EXPECT_EQ(family.public_size * 8, static_cast<std::size_t>(ephemeral[12] | ephemeral[13] << 8));

    provider_handle provider = acquire(family, user, CRYPT_SILENT);
    set_pin(provider.get(), "1234");
    key_handle user_key;
    ASSERT_TRUE(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, user_key.out()));
    key_handle agreed;
    ASSERT_TRUE(import(provider.get(), ephemeral, user_key.get(), 0, agreed)) << std::hex << GetLastError();
    set_export_algorithm(agreed.get());
    key_handle session;
    ASSERT_TRUE(import(provider.get(), req.session_blob(), agreed.get(), CRYPT_EXPORTABLE, session))
        << std::hex << GetLastError();

    key_handle second_user_key;
    ASSERT_TRUE(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, second_user_key.out()));
    key_handle server_key;
    ASSERT_TRUE(import(provider.get(), req.field("serverPublicKey"), second_user_key.get(), 0, server_key));
    set_export_algorithm(server_key.get());
    const bytes rewrapped = export_key(session.get(), server_key.get(), SIMPLEBLOB);
    EXPECT_EQ(req.session_blob().size(), rewrapped.size());

    const auto check_blob = [&](const bytes& blob) {
        return run_fixture({"check-rewrapped", "--alg", family.label, "--container", user, "--server-container",
                            server, "--blob", crypto::base64_encode(blob), "--probe", req.tree.get<std::string>("probe")})
            .exit_code;
    };
    EXPECT_EQ(0u, check_blob(rewrapped));
    // The blob the user received was wrapped for the user, not for the server.
    EXPECT_EQ(1u, check_blob(req.session_blob()));
}

INSTANTIATE_TEST_SUITE_P(gost, each_family_decrypt, ::testing::ValuesIn(families()),
                         [](const auto& p) { return std::string("type") + std::to_string(p.param->provider_type); });

class gost_decrypt_refusals : public ::testing::Test {
protected:
    void SetUp() override
    {
        make_container(family, user, AT_KEYEXCHANGE, "1234");
        req = make_session_key(family, user, unique_name("server"));
    }

    // The user's context, the agreement key with the export algorithm set.
    void agree(provider_handle& provider, key_handle& agreed, const char* pin, DWORD flags = CRYPT_SILENT)
    {
        provider = acquire(family, user, flags);
        if (pin) set_pin(provider.get(), pin);
        key_handle user_key;
        check(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, user_key.out()), "CryptGetUserKey");
        check(import(provider.get(), req.ephemeral_blob(), user_key.get(), 0, agreed), "CryptImportKey");
        set_export_algorithm(agreed.get());
    }

    const key_family& family = *family_by_label("2012-256");
    const std::string user = unique_name("refuse");
    request req;
};

TEST_F(gost_decrypt_refusals, the_first_import_needs_the_pin)
{
    for (const auto& attempt : {std::make_pair("4321", static_cast<DWORD>(SCARD_W_WRONG_CHV)),
                                std::make_pair("", static_cast<DWORD>(NTE_SILENT_CONTEXT))}) {
        provider_handle provider = acquire(family, user, CRYPT_SILENT);
        if (*attempt.first) set_pin(provider.get(), attempt.first);
        key_handle user_key, agreed;
        ASSERT_TRUE(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, user_key.out()));
        EXPECT_FALSE(import(provider.get(), req.ephemeral_blob(), user_key.get(), 0, agreed));
        EXPECT_EQ(attempt.second, GetLastError());
    }
}

TEST_F(gost_decrypt_refusals, the_session_blob_needs_the_export_algorithm_and_intact_parts)
{
    provider_handle provider = acquire(family, user, CRYPT_SILENT);
    set_pin(provider.get(), "1234");
    key_handle user_key, agreed, session;
    ASSERT_TRUE(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, user_key.out()));
    ASSERT_TRUE(import(provider.get(), req.ephemeral_blob(), user_key.get(), 0, agreed));
    EXPECT_FALSE(import(provider.get(), req.session_blob(), agreed.get(), CRYPT_EXPORTABLE, session));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_ALGID), GetLastError());
    set_export_algorithm(agreed.get());

    bytes bad_mac = req.session_blob();
    bad_mac[16 + 8 + 32] ^= 1;
    EXPECT_FALSE(import(provider.get(), bad_mac, agreed.get(), CRYPT_EXPORTABLE, session));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), GetLastError());
    bytes short_ukm = req.session_blob();
    short_ukm.erase(short_ukm.begin() + 16);
    EXPECT_FALSE(import(provider.get(), short_ukm, agreed.get(), CRYPT_EXPORTABLE, session));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), GetLastError());
    bytes no_parameters = req.session_blob();
    no_parameters.resize(16 + 8 + 32 + 4);
    EXPECT_FALSE(import(provider.get(), no_parameters, agreed.get(), CRYPT_EXPORTABLE, session));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), GetLastError());
    EXPECT_TRUE(import(provider.get(), req.session_blob(), agreed.get(), CRYPT_EXPORTABLE, session));
}

TEST_F(gost_decrypt_refusals, a_session_key_imported_without_exportable_stays_inside)
{
    provider_handle provider;
    key_handle agreed, session;
    agree(provider, agreed, "1234");
    ASSERT_TRUE(import(provider.get(), req.session_blob(), agreed.get(), 0, session));
    DWORD size = 0;
    EXPECT_FALSE(CryptExportKey(session.get(), agreed.get(), SIMPLEBLOB, 0, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEY_STATE), GetLastError());
}

TEST_F(gost_decrypt_refusals, a_public_key_blob_of_another_generation_or_shape_is_refused)
{
    provider_handle provider = acquire(family, user, CRYPT_SILENT);
    set_pin(provider.get(), "1234");
    key_handle user_key, agreed;
    ASSERT_TRUE(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, user_key.out()));
    bytes other_generation = req.ephemeral_blob();
    other_generation[4] = static_cast<std::uint8_t>(calg_gr3410el & 0xFF);
    other_generation[5] = static_cast<std::uint8_t>(calg_gr3410el >> 8);
    EXPECT_FALSE(import(provider.get(), other_generation, user_key.get(), 0, agreed));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_PUBLIC_KEY), GetLastError());
    bytes truncated = req.ephemeral_blob();
    truncated.pop_back();
    EXPECT_FALSE(import(provider.get(), truncated, user_key.get(), 0, agreed));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_DATA), GetLastError());
}

}  // namespace
}  // namespace gost_test
