// The fixture's contract commands: register, new-cert (certificate in "MY"
// with key-provider information) and verify; and crypt32 working with the
// GOST certificates it makes.
#include <gtest/gtest.h>

#include <sstream>

#include "common/gost_standin.h"
#include "crypto/encoding/base64.h"
#include "crypto/sha1/sha1.h"
#include "support.h"

namespace gost_test {
namespace {

using namespace gost_standin;

constexpr std::int64_t ticks_per_day = 864000000000LL;

std::int64_t ticks(const FILETIME& t) { return static_cast<std::int64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

std::int64_t now_ticks()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ticks(now);
}

std::string hex(const bytes& data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (auto b : data) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

// Runs new-cert and returns the certificate it printed the thumbprint of.
certificate_handle new_cert(const std::vector<std::string>& options)
{
    std::vector<std::string> args{"new-cert"};
    args.insert(args.end(), options.begin(), options.end());
    const process_result run = run_fixture(args);
    EXPECT_EQ(0u, run.exit_code) << run.err;
    if (run.out.size() != 41 || run.out.back() != '\n') {
        ADD_FAILURE() << "unexpected output: " << run.out;
        return certificate_handle();
    }
    const std::string thumbprint = run.out.substr(0, 40);
    bytes hash;
    for (std::size_t i = 0; i < 40; i += 2) hash.push_back(static_cast<std::uint8_t>(std::stoi(thumbprint.substr(i, 2), nullptr, 16)));
    EXPECT_EQ(thumbprint, hex(hash)) << "thumbprint must be upper-case hex";

    store_handle store(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"));
    CRYPT_HASH_BLOB blob{static_cast<DWORD>(hash.size()), hash.data()};
    certificate_handle found(CertFindCertificateInStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                        CERT_FIND_SHA1_HASH, &blob, nullptr));
    EXPECT_TRUE(found) << "certificate " << thumbprint << " is not in MY";
    if (found) {
        crypto::sha1 sha;
        sha.init();
        sha.update(found.get()->pbCertEncoded, found.get()->cbCertEncoded);
        EXPECT_EQ(hash, sha.final()) << "thumbprint is not the SHA-1 of the DER";
    }
    return found;
}

class each_family_certificate : public ::testing::TestWithParam<const key_family*> {};

TEST_P(each_family_certificate, lands_in_my_with_key_provider_information_and_the_container_key)
{
    const key_family& family = *GetParam();
    const std::string container = unique_name("cert");
    const std::int64_t before = now_ticks();
    certificate_handle cert = new_cert({"--alg", family.label, "--container", container, "--subject",
                                        "CN=Tester, 1.2.643.100.3=12345678901, C=RU"});
    ASSERT_TRUE(cert);
    const CERT_INFO& info = *cert.get()->pCertInfo;
    EXPECT_STREQ(family.signature_oid, info.SignatureAlgorithm.pszObjId);
    EXPECT_STREQ(family.public_key_oid, info.SubjectPublicKeyInfo.Algorithm.pszObjId);
    EXPECT_NEAR(static_cast<double>(before - ticks_per_day), static_cast<double>(ticks(info.NotBefore)), 1.2e9);
    EXPECT_NEAR(static_cast<double>(before + 365 * ticks_per_day), static_cast<double>(ticks(info.NotAfter)), 1.2e9);

    char subject[512];
    CertNameToStrA(X509_ASN_ENCODING, &cert.get()->pCertInfo->Subject, CERT_OID_NAME_STR, subject, sizeof subject);
    EXPECT_NE(std::string::npos, std::string(subject).find("1.2.643.100.3=12345678901")) << subject;

    DWORD size = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    std::vector<BYTE> buffer(size);
    ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size));
    const auto* prov = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    EXPECT_EQ(container, narrow(prov->pwszContainerName));
    EXPECT_EQ(family.provider_name, narrow(prov->pwszProvName));
    EXPECT_EQ(family.provider_type, prov->dwProvType);
    EXPECT_EQ(static_cast<DWORD>(AT_KEYEXCHANGE), prov->dwKeySpec);

    size = 0;
    ASSERT_TRUE(CertGetEnhancedKeyUsage(cert.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size));
    std::vector<BYTE> usage_buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(usage_buffer.data());
    ASSERT_TRUE(CertGetEnhancedKeyUsage(cert.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size));
    bool client_auth = false;
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i)
        client_auth |= std::string(usage->rgpszUsageIdentifier[i]) == "1.3.6.1.5.5.7.3.2";
    EXPECT_TRUE(client_auth);

    // crypt32 imports the certificate's key through the registered function;
    // it is the container's key, and it verifies the certificate's signature.
    provider_handle verifier = acquire(family, "", CRYPT_VERIFYCONTEXT | CRYPT_SILENT);
    key_handle key;
    ASSERT_TRUE(CryptImportPublicKeyInfo(verifier.get(), X509_ASN_ENCODING,
                                         &cert.get()->pCertInfo->SubjectPublicKeyInfo, key.out()))
        << std::hex << GetLastError();
    // Same magic, length, parameters and key; the ALG_ID is the public-key OID's.
    const bytes from_container = public_blob(family, container);
    const bytes from_certificate = export_key(key.get(), 0, PUBLICKEYBLOB);
    EXPECT_EQ(bytes(from_container.begin() + 8, from_container.end()),
              bytes(from_certificate.begin() + 8, from_certificate.end()));
    EXPECT_EQ(family.sign_alg, static_cast<DWORD>(from_certificate[4] | from_certificate[5] << 8));
    // And CryptExportPublicKeyInfoEx with the OID gives back the certificate's key.
    provider_handle owner = acquire(family, container, CRYPT_SILENT);
    DWORD info_size = 0;
    char* oid = const_cast<char*>(family.public_key_oid);
    ASSERT_TRUE(CryptExportPublicKeyInfoEx(owner.get(), AT_KEYEXCHANGE, X509_ASN_ENCODING, oid, 0, nullptr, nullptr,
                                           &info_size))
        << std::hex << GetLastError();
    std::vector<BYTE> info_buffer(info_size);
    auto* exported = reinterpret_cast<CERT_PUBLIC_KEY_INFO*>(info_buffer.data());
    ASSERT_TRUE(CryptExportPublicKeyInfoEx(owner.get(), AT_KEYEXCHANGE, X509_ASN_ENCODING, oid, 0, nullptr, exported,
                                           &info_size));
    EXPECT_TRUE(CertComparePublicKeyInfo(X509_ASN_ENCODING, exported, &cert.get()->pCertInfo->SubjectPublicKeyInfo));
    EXPECT_TRUE(CryptVerifyCertificateSignature(verifier.get(), X509_ASN_ENCODING, cert.get()->pbCertEncoded,
                                                cert.get()->cbCertEncoded,
                                                &cert.get()->pCertInfo->SubjectPublicKeyInfo))
        << std::hex << GetLastError();
}

INSTANTIATE_TEST_SUITE_P(gost, each_family_certificate, ::testing::ValuesIn(families()),
                         [](const auto& p) { return std::string("type") + std::to_string(p.param->provider_type); });

TEST(gost_fixture, new_cert_options_shape_the_certificate_and_the_container)
{
    const key_family& family = *family_by_label("2012-512");
    const std::string expired = unique_name("expired");
    certificate_handle old = new_cert({"--alg", "2012-512", "--container", expired, "--days-before", "400",
                                       "--days-after", "-30", "--no-prov-info"});
    ASSERT_TRUE(old);
    EXPECT_LT(ticks(old.get()->pCertInfo->NotAfter), now_ticks() - 29 * ticks_per_day);
    DWORD size = 0;
    EXPECT_FALSE(CertGetCertificateContextProperty(old.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));

    const std::string protected_name = unique_name("protected");
    ASSERT_TRUE(new_cert({"--alg", "2012-512", "--container", protected_name, "--pin", "2468", "--reader",
                          "--key-spec", "signature"}));
    provider_handle provider = acquire(family, protected_name, CRYPT_SILENT);
    key_handle key;
    EXPECT_FALSE(CryptGetUserKey(provider.get(), AT_KEYEXCHANGE, key.out()));
    EXPECT_TRUE(CryptGetUserKey(provider.get(), AT_SIGNATURE, key.out()));
    char reader[128];
    DWORD length = sizeof reader;
    ASSERT_TRUE(CryptGetProvParam(provider.get(), PP_SMARTCARD_READER, reinterpret_cast<BYTE*>(reader), &length, 0));
    EXPECT_STREQ(reader_name, reader);
    bytes signature;
    EXPECT_FALSE(try_sign(hash_with_value(provider.get(), family, make_bytes(64, 1)).get(), AT_SIGNATURE, signature));
    EXPECT_EQ(static_cast<DWORD>(NTE_SILENT_CONTEXT), GetLastError());
    set_pin(provider.get(), "2468");
    EXPECT_TRUE(try_sign(hash_with_value(provider.get(), family, make_bytes(64, 1)).get(), AT_SIGNATURE, signature));

    // The container exists now: a second new-cert for it fails, --existing reuses it.
    EXPECT_NE(0u, run_fixture({"new-cert", "--alg", "2012-512", "--container", protected_name}).exit_code);
    EXPECT_TRUE(new_cert({"--alg", "2012-512", "--container", protected_name, "--existing", "--pin", "2468"}));
}

TEST(gost_fixture, new_cert_takes_exact_times_issuer_usages_and_key_spec_of_the_provider_information)
{
    certificate_handle cert = new_cert({"--alg", "2001", "--container", unique_name("exact"), "--not-before",
                                        "20200102030405", "--not-after", "20600708091011", "--issuer",
                                        "CN=Issuer, 1.2.643.100.1=1027700132195", "--eku", "", "--prov-key-spec", "2",
                                        "--serial", "0102FF"});
    ASSERT_TRUE(cert);
    const CERT_INFO& info = *cert.get()->pCertInfo;
    SYSTEMTIME t;
    FileTimeToSystemTime(&info.NotBefore, &t);
    EXPECT_EQ((std::vector<int>{2020, 1, 2, 3, 4, 5}),
              (std::vector<int>{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond}));
    FileTimeToSystemTime(&info.NotAfter, &t);  // past 2049: a GeneralizedTime
    EXPECT_EQ((std::vector<int>{2060, 7, 8, 9, 10, 11}),
              (std::vector<int>{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond}));
    // Serial numbers are stored least significant byte first.
    EXPECT_EQ((bytes{0xFF, 0x02, 0x01}), bytes(info.SerialNumber.pbData, info.SerialNumber.pbData + info.SerialNumber.cbData));
    char issuer[256];
    CertNameToStrA(X509_ASN_ENCODING, &cert.get()->pCertInfo->Issuer, CERT_OID_NAME_STR, issuer, sizeof issuer);
    EXPECT_EQ("2.5.4.3=Issuer, 1.2.643.100.1=1027700132195", std::string(issuer));

    DWORD size = 0;
    EXPECT_FALSE(CertGetEnhancedKeyUsage(cert.get(), CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) &&
                 size > sizeof(CERT_ENHKEY_USAGE));
    ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    std::vector<BYTE> buffer(size);
    ASSERT_TRUE(CertGetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size));
    EXPECT_EQ(static_cast<DWORD>(AT_SIGNATURE), reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data())->dwKeySpec);
}

TEST(gost_fixture, verify_accepts_exactly_the_container_signature_of_the_hash)
{
    const key_family& family = *family_by_label("2001");
    const std::string container = unique_name("verify");
    ASSERT_TRUE(new_cert({"--alg", "2001", "--container", container, "--pin", "1357"}));
    const bytes value = make_bytes(32, 0x40);
    provider_handle provider = acquire(family, container, 0);
    set_pin(provider.get(), "1357");
    bytes signature;
    ASSERT_TRUE(try_sign(hash_with_value(provider.get(), family, value).get(), AT_KEYEXCHANGE, signature));

    auto verify = [&](const std::string& name, const bytes& hash, const bytes& sig) {
        return run_fixture({"verify", "--container", name, "--alg", "2001", "--hash", hex(hash), "--signature",
                            crypto::base64_encode(sig)})
            .exit_code;
    };
    EXPECT_EQ(0u, verify(container, value, signature));
    bytes tampered = signature;
    tampered.back() ^= 1;
    EXPECT_EQ(1u, verify(container, value, tampered));
    bytes other_hash = value;
    other_hash[3] ^= 1;
    EXPECT_EQ(1u, verify(container, other_hash, signature));
    const std::string other = unique_name("verify-other");
    make_container(family, other, AT_KEYEXCHANGE);
    EXPECT_EQ(1u, verify(other, value, signature));
}

TEST(gost_fixture, register_prints_the_providers_and_can_run_again)
{
    const process_result run = run_fixture({"register"});
    EXPECT_EQ(0u, run.exit_code) << run.err;
    std::ostringstream expected;
    for (const key_family* family : families()) expected << family->provider_type << '\t' << family->provider_name << '\n';
    EXPECT_EQ(expected.str(), run.out);
    EXPECT_NE(0u, run_fixture({"new-cert", "--alg", "1994", "--container", "x"}).exit_code);
}

TEST(gost_cms, crypt_sign_message_signs_with_a_gost_certificate)
{
    const std::string container = unique_name("cms");
    certificate_handle cert = new_cert({"--alg", "2012-256", "--container", container});
    ASSERT_TRUE(cert);
    PCCERT_CONTEXT signer = cert.get();
    CRYPT_SIGN_MESSAGE_PARA para{};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    para.pSigningCert = signer;
    para.HashAlgorithm.pszObjId = const_cast<char*>("1.2.643.7.1.1.2.2");
    para.cMsgCert = 1;
    para.rgpMsgCert = &signer;
    const BYTE data[] = "message for the stand-in";
    const BYTE* parts[] = {data};
    DWORD lengths[] = {sizeof data - 1};
    DWORD size = 0;
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, parts, lengths, nullptr, &size)) << std::hex << GetLastError();
    bytes message(size);
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, parts, lengths, message.data(), &size)) << std::hex << GetLastError();
    message.resize(size);

    CRYPT_VERIFY_MESSAGE_PARA verify{};
    verify.cbSize = sizeof verify;
    verify.dwMsgAndCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    DWORD content_size = 0;
    EXPECT_TRUE(CryptVerifyMessageSignature(&verify, 0, message.data(), size, nullptr, &content_size, nullptr))
        << std::hex << GetLastError();
    EXPECT_EQ(sizeof data - 1, content_size);
}

}  // namespace
}  // namespace gost_test
