#include <gtest/gtest.h>

#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "crypto/csp/context.h"
#include "crypto/csp/providers.h"
#include "crypto/csp/signers.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/csp/x509store.h"
#include "test_certificates.h"

namespace {

using crypto::byte_vector;
using crypto::csp::win32_exception;

class Signers : public ::testing::Test {
protected:
    void SetUp() override { csp_test::clear_personal_store(); }
    void TearDown() override { csp_test::clear_personal_store(); }

    static crypto::certificate_ptr stored(const csp_test::certificate_spec& spec)
    {
        const auto made = csp_test::make_certificate(spec);
        auto certificate = crypto::csp::x509store().find_by_thumbprint(made.thumbprint);
        EXPECT_TRUE(certificate);
        return certificate;
    }

    static csp_test::certificate_spec spec(const wchar_t* container, const char* signature_oid)
    {
        csp_test::certificate_spec s;
        s.container = container;
        s.signature_oid = signature_oid;
        return s;
    }
};

byte_vector digest_of(std::uint32_t alg_id, const std::string& text)
{
    const auto hash = crypto::make_hash_algorithm_from_alg_id(alg_id);
    hash->init();
    hash->update(text.data(), static_cast<std::uint32_t>(text.size()));
    return hash->final();
}

// The provider's own verification of an RSA signature with the certificate's public key.
bool provider_verifies(const crypto::certificate_ptr& certificate, std::uint32_t alg_id, const byte_vector& hash,
                       const byte_vector& signature)
{
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return false;
    HCRYPTKEY key = 0;
    HCRYPTHASH h = 0;
    bool ok = CryptImportPublicKeyInfo(prov, X509_ASN_ENCODING, &certificate->context()->pCertInfo->SubjectPublicKeyInfo,
                                       &key) &&
              CryptCreateHash(prov, alg_id, 0, 0, &h) && CryptSetHashParam(h, HP_HASHVAL, hash.data(), 0) &&
              CryptVerifySignatureW(h, signature.data(), static_cast<DWORD>(signature.size()), key, nullptr, 0);
    if (h)
        CryptDestroyHash(h);
    if (key)
        CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
    return ok;
}

TEST_F(Signers, SignatureOidChoosesTheCryptoApiLeaf)
{
    struct row {
        const char* oid;
        std::uint32_t alg_id;
        int digest_size;
    };
    const row rows[] = {
        {"1.2.643.2.2.3", 0x801E, 32},         {"1.2.643.7.1.1.3.2", 0x8021, 32},
        {"1.2.643.7.1.1.3.3", 0x8022, 64},     {"1.2.840.113549.1.1.11", 0x800C, 32},
        {"1.2.840.113549.1.1.12", 0x800D, 48}, {"1.2.840.113549.1.1.13", 0x800E, 64},
    };
    for (const auto& r : rows) {
        // RSA-keyed certificates: only the signature OID matters here.
        const bool gost = std::string(r.oid).rfind("1.2.643", 0) == 0;
        auto s = spec(L"choice", r.oid);
        s.placeholder_signature = gost;
        const auto certificate = stored(s);
        ASSERT_TRUE(certificate) << r.oid;
        const auto algorithm = crypto::make_signature_algorithm(certificate, "1234");
        ASSERT_TRUE(algorithm) << r.oid;
        EXPECT_EQ(algorithm->hash_alg_id(), r.alg_id) << r.oid;
        EXPECT_EQ(algorithm->create_hash()->size(), r.digest_size) << r.oid;
        EXPECT_NE(algorithm->create_hash(), algorithm->create_hash());
        EXPECT_EQ(algorithm->pin(), "1234");
        EXPECT_EQ(algorithm->certificate(), certificate);
        EXPECT_EQ(dynamic_cast<crypto::csp::gost_3410*>(algorithm.get()) != nullptr, gost) << r.oid;
        EXPECT_EQ(dynamic_cast<crypto::csp::rsa*>(algorithm.get()) != nullptr, !gost) << r.oid;
    }
    auto gost_spec = spec(L"choice", "1.2.643.7.1.1.3.2");
    gost_spec.placeholder_signature = true;
    const auto certificate = stored(gost_spec);
    EXPECT_TRUE(std::dynamic_pointer_cast<crypto::csp::gost_3410_2012_256>(
        crypto::make_signature_algorithm(certificate, "")));
    EXPECT_TRUE(std::dynamic_pointer_cast<crypto::csp::rsa_sha384>(
        crypto::make_signature_algorithm(stored(spec(L"choice", "1.2.840.113549.1.1.12")), "")));
}

TEST_F(Signers, OtherSignatureAlgorithmsHaveNoSigner)
{
    const auto sha1_rsa = stored(spec(L"nosigner", "1.2.840.113549.1.1.5"));
    ASSERT_TRUE(sha1_rsa);
    EXPECT_FALSE(crypto::make_signature_algorithm(sha1_rsa, ""));
    EXPECT_FALSE(crypto::make_signature_algorithm(crypto::csp::make_certificate({}), ""));
    EXPECT_FALSE(crypto::make_signature_algorithm(nullptr, ""));
    try {
        crypto::require_signature_algorithm(sha1_rsa, "");
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Unsupported signature algorithm: 1.2.840.113549.1.1.5");
    }
}

TEST_F(Signers, RsaSignaturesVerify)
{
    for (const char* oid : {"1.2.840.113549.1.1.11", "1.2.840.113549.1.1.12", "1.2.840.113549.1.1.13"}) {
        const auto certificate = stored(spec(L"rsa-sign", oid));
        const auto algorithm = crypto::make_signature_algorithm(certificate, "");
        const auto hash = digest_of(algorithm->hash_alg_id(), std::string("message for ") + oid);
        const auto signature = algorithm->sign_hash(hash);
        EXPECT_EQ(signature.size(), 128u) << oid;  // 1024-bit key
        EXPECT_TRUE(algorithm->verify(hash, signature)) << oid;
        EXPECT_TRUE(provider_verifies(certificate, algorithm->hash_alg_id(), hash, signature)) << oid;
        auto other = hash;
        other[0] ^= 1;
        EXPECT_FALSE(algorithm->verify(other, signature)) << oid;
        EXPECT_TRUE(algorithm->try_sign()) << oid;
    }
}

TEST_F(Signers, HashOfTheWrongLengthNeverReachesTheProvider)
{
    const auto algorithm = crypto::make_signature_algorithm(stored(spec(L"lengths", "1.2.840.113549.1.1.12")), "");
    for (std::size_t size : {1u, 20u, 32u, 47u, 49u, 64u}) {
        try {
            algorithm->sign_hash(byte_vector(size, 0x5A));
            ADD_FAILURE() << size;
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Invalid hash length: expected 48 bytes, got " + std::to_string(size));
        }
    }
    for (auto* call : {+[](crypto::signature_algorithm& a) { a.sign_hash({}); },
                       +[](crypto::signature_algorithm& a) { a.verify({}, byte_vector(128)); },
                       +[](crypto::signature_algorithm& a) {
                           a.sign_hashes({{"1", byte_vector(48, 1)}, {"2", {}}});
                       }}) {
        try {
            SetLastError(ERROR_ACCESS_DENIED);  // whatever was last recorded must not matter
            call(*algorithm);
            ADD_FAILURE();
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Empty hash");
        }
    }
}

TEST_F(Signers, SignHashesSignsEveryEntryInIdOrder)
{
    const auto certificate = stored(spec(L"batch", "1.2.840.113549.1.1.11"));
    const auto algorithm = crypto::make_signature_algorithm(certificate, "");
    crypto::hash_set hashes;
    for (const char* id : {"2", "10", "1", "\xC3\xA9", "a"})
        hashes[id] = digest_of(0x800C, id);
    const auto signatures = algorithm->sign_hashes(hashes);
    ASSERT_EQ(signatures.size(), hashes.size());
    std::vector<std::string> ids;
    for (const auto& entry : signatures) {
        ids.push_back(entry.first);
        EXPECT_TRUE(provider_verifies(certificate, 0x800C, hashes.at(entry.first), entry.second)) << entry.first;
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "10", "2", "a", "\xC3\xA9"}));
    EXPECT_TRUE(algorithm->sign_hashes({}).empty());
}

// What the provider answers when asked to sign with a key spec the container lacks.
DWORD missing_key_error(const wchar_t* container, DWORD key_spec)
{
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, container, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, 0))
        return GetLastError();
    HCRYPTHASH h = 0;
    const BYTE value[32] = {1};
    DWORD length = 0;
    DWORD error = 0;
    if (CryptCreateHash(prov, CALG_SHA_256, 0, 0, &h) && CryptSetHashParam(h, HP_HASHVAL, value, 0) &&
        !CryptSignHashW(h, key_spec, nullptr, 0, nullptr, &length))
        error = GetLastError();
    if (h)
        CryptDestroyHash(h);
    CryptReleaseContext(prov, 0);
    return error;
}

TEST_F(Signers, SignatureOnlyKeyIsRetriedOnlyAfterBadKeyset)
{
    auto s = spec(L"signature-only", "1.2.840.113549.1.1.11");
    s.key_spec = AT_SIGNATURE;
    s.info_key_spec = AT_KEYEXCHANGE;
    const auto certificate = stored(s);
    ASSERT_EQ(certificate->key_spec(), static_cast<std::uint32_t>(AT_KEYEXCHANGE));
    const DWORD refusal = missing_key_error(L"signature-only", AT_KEYEXCHANGE);
    ASSERT_NE(refusal, 0u);
    const auto algorithm = crypto::make_signature_algorithm(certificate, "");
    const auto hash = digest_of(0x800C, "retry");
    if (refusal == static_cast<DWORD>(NTE_BAD_KEYSET)) {
        // Windows: the key-exchange attempt fails with NTE_BAD_KEYSET and the
        // signature key signs.
        EXPECT_TRUE(provider_verifies(certificate, 0x800C, hash, algorithm->sign_hash(hash)));
        EXPECT_EQ(algorithm->sign_hashes({{"x", hash}, {"y", hash}}).size(), 2u);
        EXPECT_TRUE(algorithm->try_sign());
    } else {
        // A provider that refuses with another code (Wine: NTE_NO_KEY) is not retried.
        try {
            algorithm->sign_hash(hash);
            ADD_FAILURE();
        } catch (const win32_exception& e) {
            EXPECT_EQ(e.code(), refusal);
        }
        EXPECT_FALSE(algorithm->try_sign());
    }
}

TEST_F(Signers, KeySpecZeroIsNotRetried)
{
    auto s = spec(L"spec-zero", "1.2.840.113549.1.1.11");
    s.info_key_spec = 0;
    const auto certificate = stored(s);
    ASSERT_EQ(certificate->key_spec(), 0u);
    const auto algorithm = crypto::make_signature_algorithm(certificate, "");
    EXPECT_THROW(algorithm->sign_hash(digest_of(0x800C, "zero")), win32_exception);
    EXPECT_FALSE(algorithm->try_sign());
}

TEST_F(Signers, ContainerThatDoesNotOpenReportsTheAcquireError)
{
    auto s = spec(L"present", "1.2.840.113549.1.1.11");
    s.info_container = L"kelvora-no-such-container";
    const auto certificate = stored(s);
    const crypto::csp::crypt_context container(certificate, "", false);
    EXPECT_EQ(container.handle(), 0u);
    ASSERT_NE(container.open_error(), 0u);
    const std::string expected = csp_test::expected_error_text(container.open_error());

    const auto algorithm = crypto::make_signature_algorithm(certificate, "0000");
    const auto hash = digest_of(0x800C, "nothing");
    for (auto* call : {+[](crypto::signature_algorithm& a, const byte_vector& h) { a.sign_hash(h); },
                       +[](crypto::signature_algorithm& a, const byte_vector& h) { a.verify(h, byte_vector(128)); },
                       +[](crypto::signature_algorithm& a, const byte_vector&) { a.sign_hashes({}); }}) {
        try {
            call(*algorithm, hash);
            ADD_FAILURE();
        } catch (const win32_exception& e) {
            EXPECT_EQ(e.code(), container.open_error());
            EXPECT_EQ(std::string(e.what()), expected);
        }
    }
    EXPECT_FALSE(algorithm->try_sign());
}

TEST_F(Signers, CertificateWithoutKeyInformationOpensNothing)
{
    auto s = spec(L"no-info", "1.2.840.113549.1.1.11");
    s.key_provider_info = false;
    const auto certificate = stored(s);
    const crypto::csp::crypt_context container(certificate, "1234", true);
    EXPECT_EQ(container.handle(), 0u);
    EXPECT_FALSE(container.silent());
    EXPECT_EQ(container.open_error(), static_cast<std::uint32_t>(CRYPT_E_NOT_FOUND));
    EXPECT_THROW(container.require_handle(), win32_exception);
    const auto algorithm = crypto::make_signature_algorithm(certificate, "");
    EXPECT_FALSE(algorithm->try_sign());
    EXPECT_THROW(algorithm->sign_hash(digest_of(0x800C, "x")), win32_exception);

    const crypto::csp::crypt_context none(nullptr, "", true);
    EXPECT_EQ(none.handle(), 0u);
    EXPECT_EQ(none.open_error(), 0u);
}

TEST_F(Signers, RsaFullProviderOpensInTheAesProvider)
{
    auto s = spec(L"rsa-full", "1.2.840.113549.1.1.13");
    s.info_provider = MS_DEF_PROV_W;
    s.info_provider_type = PROV_RSA_FULL;
    const auto certificate = stored(s);
    const crypto::csp::crypt_context container(certificate, "", true);
    ASSERT_NE(container.handle(), 0u);
    EXPECT_TRUE(container.silent());
    EXPECT_EQ(container.get_param_string(PP_NAME), "Microsoft Enhanced RSA and AES Cryptographic Provider");
    EXPECT_EQ(container.get_param_string(PP_CONTAINER), "rsa-full");
    // SHA-512 needs the AES provider: the base provider would refuse the hash.
    const auto algorithm = crypto::make_signature_algorithm(certificate, "");
    const auto hash = digest_of(0x800E, "full");
    EXPECT_TRUE(provider_verifies(certificate, 0x800E, hash, algorithm->sign_hash(hash)));
}

TEST(Providers, ListedByTheOidsOfTheirAlgorithms)
{
    EXPECT_TRUE(crypto::csp::list_providers({}).empty());
    EXPECT_TRUE(crypto::csp::find_provider_contexts({"1.2.3.4.5.6.7"}).empty());

    const auto sha256 = crypto::csp::list_providers({"9.9.9", "2.16.840.1.101.3.4.2.1"});
    bool aes = false;
    for (const auto& entry : sha256) {
        EXPECT_FALSE(entry.name.empty());
        EXPECT_NE(entry.type, 0u) << entry.name;
        if (entry.name == "Microsoft Enhanced RSA and AES Cryptographic Provider")
            aes = true;
        // Providers without SHA-256 (the base RSA provider) are not listed.
        EXPECT_NE(entry.name, "Microsoft Base Cryptographic Provider v1.0");
    }
    EXPECT_TRUE(aes);
    const auto contexts = crypto::csp::find_provider_contexts({"2.16.840.1.101.3.4.2.1"});
    EXPECT_EQ(contexts.size(), sha256.size());
    for (const auto& context : contexts)
        EXPECT_NE(context.handle(), 0u);
}

}  // namespace
