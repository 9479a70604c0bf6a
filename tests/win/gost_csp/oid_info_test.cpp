// crypt32's view of the GOST algorithms after registration: CryptFindOIDInfo
// by OID and by ALG_ID, and the OIDs that the providers' algorithm lists map
// to (how installed providers are chosen by OID).
#include <gtest/gtest.h>

#include <set>

#include "common/gost_standin.h"
#include "support.h"

namespace gost_test {
namespace {

using namespace gost_standin;

class each_family_oids : public ::testing::TestWithParam<const key_family*> {};

TEST_P(each_family_oids, map_both_ways_in_their_groups)
{
    const key_family& family = *GetParam();
    const CRYPT_OID_INFO* hash =
        CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(family.hash_oid), CRYPT_HASH_ALG_OID_GROUP_ID);
    ASSERT_NE(nullptr, hash);
    EXPECT_EQ(family.hash_alg, hash->Algid);
    ALG_ID alg = family.hash_alg;
    hash = CryptFindOIDInfo(CRYPT_OID_INFO_ALGID_KEY, &alg, CRYPT_HASH_ALG_OID_GROUP_ID);
    ASSERT_NE(nullptr, hash);
    EXPECT_STREQ(family.hash_oid, hash->pszOID);
    // Without a group the hash ALG_ID still names the hash, not a signature.
    EXPECT_STREQ(family.hash_oid, CertAlgIdToOID(family.hash_alg));
    EXPECT_EQ(family.hash_alg, CertOIDToAlgId(family.hash_oid));

    const CRYPT_OID_INFO* public_key = CryptFindOIDInfo(
        CRYPT_OID_INFO_OID_KEY, const_cast<char*>(family.public_key_oid), CRYPT_PUBKEY_ALG_OID_GROUP_ID);
    ASSERT_NE(nullptr, public_key);
    EXPECT_EQ(family.sign_alg, public_key->Algid);
    EXPECT_STREQ(family.public_key_oid, CertAlgIdToOID(family.sign_alg));
    EXPECT_STREQ(family.exchange_oid, CertAlgIdToOID(family.exchange_alg));

    const CRYPT_OID_INFO* signature = CryptFindOIDInfo(
        CRYPT_OID_INFO_OID_KEY, const_cast<char*>(family.signature_oid), CRYPT_SIGN_ALG_OID_GROUP_ID);
    ASSERT_NE(nullptr, signature);
    EXPECT_EQ(family.hash_alg, signature->Algid);
    ASSERT_GE(signature->ExtraInfo.cbData, sizeof(DWORD));
    EXPECT_EQ(family.sign_alg, *reinterpret_cast<const DWORD*>(signature->ExtraInfo.pbData));
    ALG_ID pair[2] = {family.hash_alg, family.sign_alg};
    const CRYPT_OID_INFO* by_pair = CryptFindOIDInfo(CRYPT_OID_INFO_SIGN_KEY, pair, CRYPT_SIGN_ALG_OID_GROUP_ID);
    ASSERT_NE(nullptr, by_pair);
    EXPECT_STREQ(family.signature_oid, by_pair->pszOID);
}

INSTANTIATE_TEST_SUITE_P(gost, each_family_oids, ::testing::ValuesIn(families()),
                         [](const auto& p) { return std::string("type") + std::to_string(p.param->provider_type); });

TEST(gost_oids, a_signature_oid_is_not_a_public_key_algorithm)
{
    // What the Decrypt command relies on to reject an ephemeral key's OID.
    EXPECT_EQ(nullptr, CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>("1.2.643.2.2.3"),
                                        CRYPT_PUBKEY_ALG_OID_GROUP_ID));
    const CRYPT_OID_INFO* cipher =
        CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>("1.2.643.2.2.21"), CRYPT_ENCRYPT_ALG_OID_GROUP_ID);
    ASSERT_NE(nullptr, cipher);
    EXPECT_EQ(calg_g28147, cipher->Algid);
}

TEST(gost_oids, provider_algorithm_lists_select_the_2012_providers_by_hash_oid)
{
    std::set<DWORD> supporting;
    for (const key_family* family : families()) {
        provider_handle provider = acquire(*family, "", CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
        PROV_ENUMALGS record;
        DWORD size = sizeof record;
        for (DWORD flags = CRYPT_FIRST;
             CryptGetProvParam(provider.get(), PP_ENUMALGS, reinterpret_cast<BYTE*>(&record), &size, flags);
             flags = CRYPT_NEXT) {
            const char* oid = CertAlgIdToOID(record.aiAlgid);
            if (oid && std::string(oid) == "1.2.643.7.1.1.2.2") supporting.insert(family->provider_type);
        }
    }
    EXPECT_EQ((std::set<DWORD>{prov_gost_2012_256, prov_gost_2012_512}), supporting);
}

}  // namespace
}  // namespace gost_test
