// Hashing with the project's GOST code, signing and verifying through
// CryptoAPI, key specs, and the PIN rules of the stand-in.
#include <gtest/gtest.h>

#include "common/gost_standin.h"
#include "crypto/hash_algorithm.h"
#include "support.h"

namespace gost_test {
namespace {

using namespace gost_standin;

bytes project_digest(ALG_ID alg, const bytes& data)
{
    auto hash = crypto::make_hash_algorithm_from_alg_id(alg);
    hash->init();
    hash->update(data.data(), static_cast<std::uint32_t>(data.size()));
    return hash->final();
}

DWORD hash_dword(HCRYPTHASH hash, DWORD param)
{
    DWORD value = 0, size = sizeof value;
    check(CryptGetHashParam(hash, param, reinterpret_cast<BYTE*>(&value), &size, 0), "CryptGetHashParam");
    return value;
}

class each_family : public ::testing::TestWithParam<const key_family*> {};

TEST_P(each_family, hash_data_gives_the_project_digest_and_then_closes)
{
    const key_family& family = *GetParam();
    provider_handle provider = acquire(family, "", CRYPT_VERIFYCONTEXT);
    const bytes data = make_bytes(200, 3);
    hash_handle hash;
    ASSERT_TRUE(CryptCreateHash(provider.get(), family.hash_alg, 0, 0, hash.out()));
    ASSERT_TRUE(CryptHashData(hash.get(), data.data(), 77, 0));
    // A duplicate goes on from the same state.
    hash_handle copy;
    ASSERT_TRUE(CryptDuplicateHash(hash.get(), nullptr, 0, copy.out()));
    ASSERT_TRUE(CryptHashData(copy.get(), data.data() + 77, 5, 0));
    ASSERT_TRUE(CryptHashData(hash.get(), data.data() + 77, static_cast<DWORD>(data.size() - 77), 0));
    EXPECT_EQ(family.hash_alg, hash_dword(hash.get(), HP_ALGID));
    const bytes expected = project_digest(family.hash_alg, data);
    EXPECT_EQ(expected.size(), hash_dword(hash.get(), HP_HASHSIZE));
    DWORD size = 0;
    ASSERT_TRUE(CryptGetHashParam(hash.get(), HP_HASHVAL, nullptr, &size, 0));
    bytes value(size);
    ASSERT_TRUE(CryptGetHashParam(hash.get(), HP_HASHVAL, value.data(), &size, 0));
    EXPECT_EQ(expected, value);
    ASSERT_TRUE(CryptGetHashParam(copy.get(), HP_HASHVAL, value.data(), &size, 0));
    EXPECT_EQ(project_digest(family.hash_alg, bytes(data.begin(), data.begin() + 82)), value);
    EXPECT_FALSE(CryptHashData(hash.get(), data.data(), 1, 0));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_HASH_STATE), GetLastError());
}

TEST_P(each_family, signs_a_hash_value_that_only_the_same_key_and_hash_verify)
{
    const key_family& family = *GetParam();
    const std::string name = unique_name("sign");
    make_container(family, name, AT_KEYEXCHANGE);
    const bytes value = make_bytes(family.hash_alg == calg_gr3411_2012_512 ? 64 : 32, 9);

    provider_handle provider = acquire(family, name, 0);
    hash_handle hash = hash_with_value(provider.get(), family, value);
    bytes signature;
    ASSERT_TRUE(try_sign(hash.get(), AT_KEYEXCHANGE, signature)) << std::hex << GetLastError();
    EXPECT_EQ(family.signature_size, signature.size());
    // Deterministic: the same key signs the same value the same way.
    bytes again;
    ASSERT_TRUE(try_sign(hash_with_value(provider.get(), family, value).get(), AT_KEYEXCHANGE, again));
    EXPECT_EQ(signature, again);

    const bytes public_key = public_blob(family, name);
    EXPECT_TRUE(verifies(family, public_key, value, signature));
    bytes tampered = signature;
    tampered[5] ^= 1;
    EXPECT_FALSE(verifies(family, public_key, value, tampered));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_SIGNATURE), GetLastError());
    bytes other_value = value;
    other_value[0] ^= 0x80;
    EXPECT_FALSE(verifies(family, public_key, other_value, signature));

    const std::string other = unique_name("other");
    make_container(family, other, AT_KEYEXCHANGE);
    EXPECT_FALSE(verifies(family, public_blob(family, other), value, signature));
}

INSTANTIATE_TEST_SUITE_P(gost, each_family, ::testing::ValuesIn(families()),
                         [](const auto& p) { return std::string("type") + std::to_string(p.param->provider_type); });

TEST(gost_signing, refuses_a_hash_of_another_generation_than_the_key)
{
    const key_family& family = *family_by_label("2012-256");
    const std::string name = unique_name("mismatch");
    make_container(family, name, AT_KEYEXCHANGE);
    provider_handle provider = acquire(family, name, 0);
    hash_handle hash;
    ASSERT_TRUE(CryptCreateHash(provider.get(), calg_gr3411, 0, 0, hash.out()));
    const bytes value = make_bytes(32, 1);
    ASSERT_TRUE(CryptSetHashParam(hash.get(), HP_HASHVAL, value.data(), 0));
    bytes signature;
    EXPECT_FALSE(try_sign(hash.get(), AT_KEYEXCHANGE, signature));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_ALGID), GetLastError());
}

TEST(gost_signing, key_specs_follow_the_keys_the_container_holds)
{
    const key_family& family = *family_by_label("2001");
    const bytes value = make_bytes(32, 4);

    // Only a signature key: AT_KEYEXCHANGE is refused with NTE_BAD_KEYSET, the
    // answer on which callers retry with AT_SIGNATURE.
    const std::string signature_only = unique_name("sigonly");
    make_container(family, signature_only, AT_SIGNATURE);
    provider_handle provider = acquire(family, signature_only, 0);
    bytes signature;
    EXPECT_FALSE(try_sign(hash_with_value(provider.get(), family, value).get(), AT_KEYEXCHANGE, signature));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_KEYSET), GetLastError());
    ASSERT_TRUE(try_sign(hash_with_value(provider.get(), family, value).get(), AT_SIGNATURE, signature));
    EXPECT_TRUE(verifies(family, public_blob(family, signature_only), value, signature));
    EXPECT_FALSE(try_sign(hash_with_value(provider.get(), family, value).get(), 0, signature));
    EXPECT_EQ(static_cast<DWORD>(NTE_BAD_ALGID), GetLastError());

    // Only a key-exchange key: it also signs for AT_SIGNATURE (crypt32's
    // message signing always asks for AT_SIGNATURE).
    const std::string exchange_only = unique_name("exonly");
    make_container(family, exchange_only, AT_KEYEXCHANGE);
    provider_handle exchange = acquire(family, exchange_only, 0);
    bytes by_exchange, by_signature;
    ASSERT_TRUE(try_sign(hash_with_value(exchange.get(), family, value).get(), AT_KEYEXCHANGE, by_exchange));
    ASSERT_TRUE(try_sign(hash_with_value(exchange.get(), family, value).get(), AT_SIGNATURE, by_signature));
    EXPECT_EQ(by_exchange, by_signature);
}

class gost_pin_rules : public ::testing::Test {
protected:
    void SetUp() override { make_container(family, name, AT_KEYEXCHANGE, "8642"); }

    // Opens the container, optionally sets a PIN, and tries to sign.
    DWORD sign_error(DWORD flags, const char* pin)
    {
        provider_handle provider = acquire(family, name, flags);
        if (pin) set_pin(provider.get(), pin);
        hash_handle hash = hash_with_value(provider.get(), family, make_bytes(32, 2));
        DWORD size = 0;
        // The size query needs no PIN; the signature does.
        if (!CryptSignHashW(hash.get(), AT_KEYEXCHANGE, nullptr, 0, nullptr, &size)) {
            ADD_FAILURE() << "the size query failed";
            return GetLastError();
        }
        bytes signature(size);
        if (!CryptSignHashW(hash.get(), AT_KEYEXCHANGE, nullptr, 0, signature.data(), &size)) return GetLastError();
        return 0;
    }

    const key_family& family = *family_by_label("2012-256");
    const std::string name = unique_name("pin");
};

TEST_F(gost_pin_rules, the_right_pin_signs_silently_or_not)
{
    EXPECT_EQ(0u, sign_error(0, "8642"));
    EXPECT_EQ(0u, sign_error(CRYPT_SILENT, "8642"));
}

TEST_F(gost_pin_rules, a_wrong_pin_fails_at_the_signature_with_wrong_chv)
{
    EXPECT_EQ(static_cast<DWORD>(SCARD_W_WRONG_CHV), sign_error(0, "1111"));
    EXPECT_EQ(static_cast<DWORD>(SCARD_W_WRONG_CHV), sign_error(CRYPT_SILENT, "1111"));
}

TEST_F(gost_pin_rules, a_missing_pin_is_a_prompt_refused_when_silent)
{
    EXPECT_EQ(static_cast<DWORD>(NTE_SILENT_CONTEXT), sign_error(CRYPT_SILENT, nullptr));
    // Not silent, nobody answers the simulated PIN dialog: cancelled.
    EXPECT_EQ(static_cast<DWORD>(SCARD_W_CANCELLED_BY_USER), sign_error(0, nullptr));
    // A dialog answered through the environment.
    {
        scoped_environment typed(prompt_pin_variable, "8642");
        EXPECT_EQ(0u, sign_error(0, nullptr));
        EXPECT_EQ(static_cast<DWORD>(NTE_SILENT_CONTEXT), sign_error(CRYPT_SILENT, nullptr));
    }
    scoped_environment mistyped(prompt_pin_variable, "0000");
    EXPECT_EQ(static_cast<DWORD>(SCARD_W_WRONG_CHV), sign_error(0, nullptr));
}

TEST_F(gost_pin_rules, a_container_without_pin_needs_none)
{
    const std::string open = unique_name("nopin");
    make_container(family, open, AT_KEYEXCHANGE);
    provider_handle provider = acquire(family, open, CRYPT_SILENT);
    bytes signature;
    EXPECT_TRUE(try_sign(hash_with_value(provider.get(), family, make_bytes(32, 5)).get(), AT_KEYEXCHANGE, signature));
}

TEST_F(gost_pin_rules, a_verification_context_on_the_container_cannot_use_its_private_key)
{
    provider_handle provider = acquire(family, name, CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
    set_pin(provider.get(), "8642");
    bytes signature;
    EXPECT_FALSE(try_sign(hash_with_value(provider.get(), family, make_bytes(32, 5)).get(), AT_KEYEXCHANGE, signature));
    EXPECT_EQ(static_cast<DWORD>(NTE_PERM), GetLastError());
}

}  // namespace
}  // namespace gost_test
