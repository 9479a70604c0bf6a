#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "crypto/csp/cms_signer.h"
#include "crypto/csp/win32_exception.h"
#include "crypto/csp/x509store.h"
#include "test_certificates.h"

namespace {

using crypto::byte_vector;

class CmsSigner : public ::testing::Test {
protected:
    void SetUp() override { csp_test::clear_personal_store(); }
    void TearDown() override { csp_test::clear_personal_store(); }

    static crypto::csp::certificate_ptr stored(const char* signature_oid, bool key_info = true)
    {
        csp_test::certificate_spec spec;
        spec.container = L"cms";
        spec.signature_oid = signature_oid;
        spec.key_provider_info = key_info;
        const auto made = csp_test::make_certificate(spec);
        return crypto::csp::x509store().find_by_thumbprint(made.thumbprint);
    }
};

// The digest algorithm of the message's only signer.
std::string signer_digest(const byte_vector& message)
{
    HCRYPTMSG msg = CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr);
    std::string oid;
    if (CryptMsgUpdate(msg, message.data(), static_cast<DWORD>(message.size()), TRUE)) {
        DWORD size = 0;
        if (CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) {
            byte_vector buffer(size);
            if (CryptMsgGetParam(msg, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size))
                oid = reinterpret_cast<CMSG_SIGNER_INFO*>(buffer.data())->HashAlgorithm.pszObjId;
        }
    }
    CryptMsgClose(msg);
    return oid;
}

bool contains(const byte_vector& haystack, const byte_vector& needle)
{
    return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

CRYPT_VERIFY_MESSAGE_PARA verify_para()
{
    CRYPT_VERIFY_MESSAGE_PARA para{};
    para.cbSize = sizeof(para);
    para.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    return para;
}

TEST_F(CmsSigner, AttachedCarriesTheDataAndDetachedDoesNot)
{
    const auto certificate = stored("1.2.840.113549.1.1.11");
    ASSERT_TRUE(certificate);
    const std::string text = "The quick brown fox jumps over the lazy dog, twice over for length.";
    const byte_vector data(text.begin(), text.end());
    const crypto::csp::cms_signer signer(certificate);
    const auto attached = signer.sign(data, false);
    const auto detached = signer.sign(data, true);
    EXPECT_TRUE(contains(attached, data));
    EXPECT_FALSE(contains(detached, data));
    EXPECT_LT(detached.size(), attached.size());
    EXPECT_TRUE(contains(attached, certificate->encoded()));  // the signer's certificate is included
    EXPECT_EQ(signer_digest(attached), "2.16.840.1.101.3.4.2.1");

    auto para = verify_para();
    DWORD size = 0;
    EXPECT_TRUE(CryptVerifyMessageSignature(&para, 0, attached.data(), static_cast<DWORD>(attached.size()), nullptr,
                                            &size, nullptr));
    const BYTE* blocks[] = {data.data()};
    DWORD lengths[] = {static_cast<DWORD>(data.size())};
    EXPECT_TRUE(CryptVerifyDetachedMessageSignature(&para, 0, detached.data(), static_cast<DWORD>(detached.size()), 1,
                                                    blocks, lengths, nullptr));
    byte_vector tampered = data;
    tampered[0] ^= 1;
    blocks[0] = tampered.data();
    EXPECT_FALSE(CryptVerifyDetachedMessageSignature(&para, 0, detached.data(), static_cast<DWORD>(detached.size()),
                                                     1, blocks, lengths, nullptr));
}

TEST_F(CmsSigner, DigestFollowsTheCertificateSignatureAlgorithm)
{
    const byte_vector data{1, 2, 3};
    EXPECT_EQ(signer_digest(crypto::csp::cms_signer(stored("1.2.840.113549.1.1.12")).sign(data, true)),
              "2.16.840.1.101.3.4.2.2");
    EXPECT_EQ(signer_digest(crypto::csp::cms_signer(stored("1.2.840.113549.1.1.13")).sign(data, false)),
              "2.16.840.1.101.3.4.2.3");
}

TEST_F(CmsSigner, EmptyDataIsSignedAsOneEmptyBlock)
{
    const auto message = crypto::csp::cms_signer(stored("1.2.840.113549.1.1.11")).sign({}, false);
    EXPECT_EQ(signer_digest(message), "2.16.840.1.101.3.4.2.1");
    // The signature itself is checked by OpenSSL in the end-to-end tests
    // (Wine's message decoder does not give back empty content).
}

TEST_F(CmsSigner, UnknownSignatureAlgorithmIsRefusedBeforeSigning)
{
    const auto certificate = stored("1.2.840.113549.1.1.5");
    ASSERT_TRUE(certificate);
    try {
        crypto::csp::cms_signer(certificate).sign({1}, false);
        ADD_FAILURE();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Unsupported signature algorithm: 1.2.840.113549.1.1.5");
    }
}

TEST_F(CmsSigner, CertificateWithoutKeyFailsWithThePlatformError)
{
    const auto certificate = stored("1.2.840.113549.1.1.11", false);
    ASSERT_TRUE(certificate);
    try {
        crypto::csp::cms_signer(certificate).sign({1}, true);
        ADD_FAILURE();
    } catch (const crypto::csp::win32_exception& e) {
        EXPECT_EQ(std::string(e.what()), csp_test::expected_error_text(e.code()));
    }
}

}  // namespace
