// The SKF RSA signers over the test SKF library.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>

#include "crypto/certificate_lookup.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/encoding/hex.h"
#include "crypto/skf/signers.h"
#include "crypto/skf/skf_module.h"
#include "crypto/skf/x509certificate.h"
#include "skf_fixture.h"

namespace {

using crypto::byte_vector;
using calls_t = std::vector<std::string>;

constexpr const char* sha256_oid = "1.2.840.113549.1.1.11";
constexpr const char* sha384_oid = "1.2.840.113549.1.1.12";
constexpr const char* sha512_oid = "1.2.840.113549.1.1.13";
constexpr const char* gost_2012_256_oid = "1.2.643.7.1.1.3.2";

byte_vector pattern(std::size_t size, std::uint8_t seed)
{
    byte_vector bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
    return bytes;
}

byte_vector digest_info(const byte_vector& hash)
{
    auto info = skf_test::digest_info_prefix(static_cast<int>(hash.size()));
    info.insert(info.end(), hash.begin(), hash.end());
    return info;
}

std::string error_of(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

// The calls of a log from the first one named first on.
calls_t calls_from(const skf_test::devices& devices, const std::string& first)
{
    auto calls = devices.calls();
    const auto at = std::find(calls.begin(), calls.end(), first);
    return calls_t(at, calls.end());
}

class Signing : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        skf_test::install_library();
        certificates = new std::map<std::string, skf_test::certificate>{
            {"sha256", skf_test::make_certificate(L"CN=SKF 256", sha256_oid)},
            {"sha384", skf_test::make_certificate(L"CN=SKF 384", sha384_oid)},
            {"sha512", skf_test::make_certificate(L"CN=SKF 512", sha512_oid)},
            {"gost", skf_test::make_certificate(L"CN=SKF GOST", gost_2012_256_oid, true)},
        };
    }
    static void TearDownTestSuite()
    {
        delete certificates;
        skf_test::remove_library();
    }
    void TearDown() override { EXPECT_FALSE(skf_test::library_loaded()); }

    static const skf_test::certificate& cert(const std::string& name) { return certificates->at(name); }

    // One device "Token" with application "APP" (PIN 1234), container "C"
    // holding the named certificate, and the extra lines for the container.
    static std::string token(const std::string& name, const std::string& application_lines = "",
                             const std::string& container_lines = "", const std::string& device_lines = "")
    {
        return "device Token\n" + device_lines + "application APP\npin 1234\n" + application_lines +
               "container C\n" + skf_test::certificate_line(cert(name)) + container_lines;
    }

    static std::shared_ptr<crypto::signature_algorithm> signer(const std::string& name, const std::string& pin)
    {
        auto found = crypto::find_certificate_by_thumbprint(cert(name).thumbprint, crypto::skf_store);
        if (!crypto::is_found(found))
            throw std::logic_error("certificate not listed");
        return crypto::make_signature_algorithm(std::move(found), pin);
    }

    static std::map<std::string, skf_test::certificate>* certificates;
};

std::map<std::string, skf_test::certificate>* Signing::certificates = nullptr;

TEST_F(Signing, SignsTheDigestInfoOfTheHashReversed)
{
    struct row {
        const char* certificate;
        std::size_t hash_size;
    };
    // The DigestInfo follows the hash length, not the signer's algorithm.
    const row rows[] = {{"sha256", 32}, {"sha384", 48}, {"sha512", 64}, {"sha256", 48}, {"sha512", 32}};
    for (const auto& r : rows) {
        const skf_test::devices devices(token(r.certificate, "", "modulus 128\n"));
        const auto hash = pattern(r.hash_size, static_cast<std::uint8_t>(r.hash_size));
        const auto signature = signer(r.certificate, "1234")->sign_hash(hash);
        EXPECT_EQ(signature.size(), 128u);
        EXPECT_EQ(skf_test::signed_data("Token\\APP\\C", signature), digest_info(hash))
            << r.certificate << " " << r.hash_size;
        // In the library's order the bytes are no padded block.
        EXPECT_TRUE(skf_test::signed_data("Token\\APP\\C", byte_vector(signature.rbegin(), signature.rend())).empty());
        // The library was handed exactly the DigestInfo.
        bool seen = false;
        for (const auto& line : devices.log())
            if (line[0] == "SKF_RSASignData")
                seen = line[2].rfind("data=" + crypto::hex_encode(digest_info(hash)) + " ", 0) == 0;
        EXPECT_TRUE(seen);
    }
}

TEST_F(Signing, OneCallOpensVerifiesSignsAndClosesInOrder)
{
    const skf_test::devices devices(token("sha256"));
    const auto algorithm = signer("sha256", "1234");
    devices.clear_log();
    algorithm->sign_hash(pattern(32, 1));
    std::vector<std::string> lines;
    for (const auto& line : devices.log())
        lines.push_back(line[0] + " " + line[1] + " " + line[2] + " " + line[3]);
    const calls_t expected = {
        "SKF_ConnectDev Token  0x00000000",
        "SKF_OpenApplication Token\\APP  0x00000000",
        "SKF_VerifyPIN Token\\APP type=1 pin=1234 0x00000000",
        "SKF_OpenContainer Token\\APP\\C  0x00000000",
        "SKF_RSASignData Token\\APP\\C data=" + crypto::hex_encode(digest_info(pattern(32, 1))) +
            " buffer=no size=0 0x00000000",
        "SKF_RSASignData Token\\APP\\C data=" + crypto::hex_encode(digest_info(pattern(32, 1))) +
            " buffer=yes size=256 0x00000000",
        "SKF_CloseContainer Token\\APP\\C  0x00000000",
        "SKF_CloseApplication Token\\APP  0x00000000",
        "SKF_DisConnectDev Token  0x00000000",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(Signing, EachFailureHasItsTextAndUndoesTheStepsBefore)
{
    struct row {
        const char* name;
        std::string description;
        std::string pin;
        std::size_t hash_size;
        std::string error;
        calls_t calls;  // from the signer's SKF_ConnectDev on
    };
    const calls_t opened = {"SKF_ConnectDev", "SKF_OpenApplication", "SKF_VerifyPIN", "SKF_OpenContainer"};
    const calls_t closed = {"SKF_CloseContainer", "SKF_CloseApplication", "SKF_DisConnectDev"};
    auto join = [](calls_t a, const calls_t& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const row rows[] = {
        {"device", token("sha256", "", "", "fail SKF_ConnectDev skip 1\n"), "1234", 32, "Invalid SKF device Token",
         {"SKF_ConnectDev"}},
        {"application", token("sha256", "fail SKF_OpenApplication skip 1\n"), "1234", 32,
         "Invalid SKF application APP", {"SKF_ConnectDev", "SKF_OpenApplication", "SKF_DisConnectDev"}},
        {"wrong PIN", token("sha256", "retries 10\n"), "4321", 32, "Cannot log in, attempts remain: 9",
         {"SKF_ConnectDev", "SKF_OpenApplication", "SKF_VerifyPIN", "SKF_CloseApplication", "SKF_DisConnectDev"}},
        {"last attempt", token("sha256", "retries 1\n"), "", 32, "Cannot log in, attempts remain: 0",
         {"SKF_ConnectDev", "SKF_OpenApplication", "SKF_VerifyPIN", "SKF_CloseApplication", "SKF_DisConnectDev"}},
        {"locked", token("sha256", "retries 7\nfail SKF_VerifyPIN code 0x0A000025\n"), "1234", 32,
         "Cannot log in, attempts remain: 7",
         {"SKF_ConnectDev", "SKF_OpenApplication", "SKF_VerifyPIN", "SKF_CloseApplication", "SKF_DisConnectDev"}},
        {"container", token("sha256", "", "fail SKF_OpenContainer skip 1\n"), "1234", 32, "Invalid SKF container C",
         join(opened, {"SKF_CloseApplication", "SKF_DisConnectDev"})},
        {"size query", token("sha256", "", "fail SKF_RSASignData\n"), "1234", 32, "Cannot sign hash",
         join(join(opened, {"SKF_RSASignData"}), closed)},
        {"signing call", token("sha256", "", "fail SKF_RSASignData skip 1\n"), "1234", 32, "Cannot sign hash",
         join(join(opened, {"SKF_RSASignData", "SKF_RSASignData"}), closed)},
        {"oversized signature", token("sha256", "", "quirk SKF_RSASignData query_extra 0x7FFFFFF0\n"), "1234", 32,
         "Cannot sign hash", join(join(opened, {"SKF_RSASignData"}), closed)},
        {"SHA-1 length", token("sha256"), "1234", 20, "Cannot sign hash", join(opened, closed)},
        {"empty hash", token("sha256"), "1234", 0, "Cannot sign hash", join(opened, closed)},
    };
    for (const auto& r : rows) {
        const skf_test::devices devices(r.description);
        EXPECT_EQ(error_of([&] { signer("sha256", r.pin)->sign_hash(pattern(r.hash_size, 3)); }), r.error) << r.name;
        auto calls = calls_from(devices, "SKF_ConnectDev");
        // The listing's own calls come first; the signer's start at its ConnectDev.
        const auto signer_start = std::find(calls.begin() + 1, calls.end(), "SKF_ConnectDev");
        calls_t from_signer(signer_start, calls.end());
        if (!from_signer.empty() && from_signer.back() == "unload")
            from_signer.pop_back();
        EXPECT_EQ(from_signer, r.calls) << r.name;
    }
}

TEST_F(Signing, AnApplicationAlreadyLoggedInSigns)
{
    const skf_test::devices devices(token("sha384", "logged_in\n"));
    const auto hash = pattern(48, 9);
    const auto signature = signer("sha384", "not the PIN")->sign_hash(hash);
    EXPECT_EQ(skf_test::signed_data("Token\\APP\\C", signature), digest_info(hash));
}

TEST_F(Signing, MisreportedSignatureSizesAreCutToWhatWasWritten)
{
    for (const char* quirk : {"query_extra 5", "written_extra 50"}) {
        const skf_test::devices devices(token("sha512", "", std::string("quirk SKF_RSASignData ") + quirk + "\n"));
        const auto hash = pattern(64, 5);
        const auto signature = signer("sha512", "1234")->sign_hash(hash);
        EXPECT_EQ(signature.size(), 256u) << quirk;
        EXPECT_EQ(skf_test::signed_data("Token\\APP\\C", signature), digest_info(hash)) << quirk;
    }
}

TEST_F(Signing, ASetIsSignedInIdOrderInOneSession)
{
    const skf_test::devices devices(token("sha256"));
    const auto algorithm = signer("sha256", "1234");
    devices.clear_log();
    const crypto::hash_set hashes = {{"2", pattern(32, 2)}, {"10", pattern(48, 10)}, {"1", pattern(64, 1)}};
    const auto signatures = algorithm->sign_hashes(hashes);
    ASSERT_EQ(signatures.size(), 3u);
    EXPECT_EQ(signatures.begin()->first, "1");
    for (const auto& entry : signatures)
        EXPECT_EQ(skf_test::signed_data("Token\\APP\\C", entry.second), digest_info(hashes.at(entry.first)));
    const auto calls = devices.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SKF_ConnectDev"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SKF_VerifyPIN"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SKF_OpenContainer"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SKF_RSASignData"), 6);
    // Signed in the order "1", "10", "2".
    std::vector<std::string> signed_in_order;
    for (const auto& line : devices.log())
        if (line[0] == "SKF_RSASignData" && line[2].find("buffer=yes") != std::string::npos)
            signed_in_order.push_back(line[2].substr(5, line[2].find(' ') - 5));
    EXPECT_EQ(signed_in_order, (calls_t{crypto::hex_encode(digest_info(hashes.at("1"))),
                                         crypto::hex_encode(digest_info(hashes.at("10"))),
                                         crypto::hex_encode(digest_info(hashes.at("2")))}));
    EXPECT_EQ(calls.back(), "SKF_DisConnectDev");
}

TEST_F(Signing, ASetFailsAsAWhole)
{
    {
        // The second entry's size query fails.
        const skf_test::devices devices(token("sha256", "", "fail SKF_RSASignData skip 2\n"));
        const crypto::hash_set hashes = {{"a", pattern(32, 1)}, {"b", pattern(32, 2)}, {"c", pattern(32, 3)}};
        EXPECT_EQ(error_of([&] { signer("sha256", "1234")->sign_hashes(hashes); }), "Cannot sign hashes");
        const auto calls = calls_from(devices, "SKF_RSASignData");
        EXPECT_EQ(calls, (calls_t{"SKF_RSASignData", "SKF_RSASignData", "SKF_RSASignData", "SKF_CloseContainer",
                                  "SKF_CloseApplication", "SKF_DisConnectDev", "unload"}));
    }
    {
        const skf_test::devices devices(token("sha256"));
        const crypto::hash_set hashes = {{"a", pattern(32, 1)}, {"b", pattern(20, 2)}};
        EXPECT_EQ(error_of([&] { signer("sha256", "1234")->sign_hashes(hashes); }), "Cannot sign hashes");
    }
    {
        // Nothing to sign: the device session opens and closes, then fails.
        const skf_test::devices devices(token("sha256"));
        const auto algorithm = signer("sha256", "1234");
        devices.clear_log();
        EXPECT_EQ(error_of([&] { algorithm->sign_hashes({}); }), "Generic SKF error");
        EXPECT_EQ(devices.calls(),
                  (calls_t{"SKF_ConnectDev", "SKF_OpenApplication", "SKF_VerifyPIN", "SKF_OpenContainer",
                           "SKF_CloseContainer", "SKF_CloseApplication", "SKF_DisConnectDev"}));
    }
    {
        const skf_test::devices devices(token("sha256", "retries 3\n"));
        EXPECT_EQ(error_of([&] { signer("sha256", "0000")->sign_hashes({{"a", pattern(32, 1)}}); }),
                  "Cannot log in, attempts remain: 2");
    }
}

TEST_F(Signing, TheLeavesOfTheRsaKinds)
{
    const skf_test::devices devices(token("sha256") + "container C384\n" + skf_test::certificate_line(cert("sha384")) +
                                    "container C512\n" + skf_test::certificate_line(cert("sha512")));
    struct row {
        const char* certificate;
        std::uint32_t alg_id;
        int digest_size;
    };
    for (const row& r : {row{"sha256", 0x800C, 32}, row{"sha384", 0x800D, 48}, row{"sha512", 0x800E, 64}}) {
        const auto algorithm = signer(r.certificate, "1234");
        ASSERT_TRUE(algorithm);
        EXPECT_NE(dynamic_cast<crypto::skf::rsa*>(algorithm.get()), nullptr);
        EXPECT_EQ(algorithm->hash_alg_id(), r.alg_id);
        EXPECT_EQ(algorithm->create_hash()->size(), r.digest_size);
        EXPECT_FALSE(algorithm->try_sign());
        EXPECT_EQ(error_of([&] { algorithm->verify(pattern(32, 0), pattern(128, 0)); }), "not implemented");
        EXPECT_EQ(error_of([&] { algorithm->verify({}, {}); }), "not implemented");
    }
    EXPECT_NE(dynamic_cast<crypto::skf::rsa_sha384*>(signer("sha384", "").get()), nullptr);
    EXPECT_NE(dynamic_cast<crypto::skf::rsa_sha512*>(signer("sha512", "").get()), nullptr);
}

// A hardware certificate that is no SKF certificate (as a PKCS#11 token's is).
class other_hardware_certificate : public crypto::csp::x509certificate {
public:
    using crypto::csp::x509certificate::x509certificate;
    bool is_hardware() const override { return true; }
};

TEST_F(Signing, OnlySkfCertificatesAreSignedOnSkfDevices)
{
    const skf_test::devices devices(token("sha256"));
    const auto& der = cert("sha256").der;
    auto foreign = std::make_shared<other_hardware_certificate>(
        CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
    const auto algorithm = crypto::make_signature_algorithm(foreign, "1234");
    ASSERT_NE(dynamic_cast<crypto::skf::rsa_sha256*>(algorithm.get()), nullptr);
    EXPECT_EQ(error_of([&] { algorithm->sign_hash(pattern(32, 1)); }), "Invalid SKF session");
    EXPECT_EQ(error_of([&] { algorithm->sign_hashes({{"1", pattern(32, 1)}}); }), "Invalid SKF session");
    // Refused before the library was even loaded.
    EXPECT_TRUE(devices.calls().empty());

    // An SKF certificate without its library.
    auto orphan = std::make_shared<crypto::skf::x509certificate>("Token", "APP", "C", der, nullptr);
    EXPECT_EQ(error_of([&] { crypto::make_signature_algorithm(orphan, "1234")->sign_hash(pattern(32, 1)); }),
              "Invalid SKF session");

    // The same certificate from the CryptoAPI store's side is no hardware one.
    const auto store_algorithm = crypto::make_signature_algorithm(crypto::csp::make_certificate(der), "");
    EXPECT_EQ(dynamic_cast<crypto::skf::rsa*>(store_algorithm.get()), nullptr);
    EXPECT_TRUE(devices.calls().empty());
}

TEST_F(Signing, AGostCertificateOnAnSkfDeviceGetsTheTokenSigner)
{
    const skf_test::devices devices(token("gost"));
    const auto algorithm = signer("gost", "1234");
    ASSERT_TRUE(algorithm);
    EXPECT_EQ(dynamic_cast<crypto::skf::rsa*>(algorithm.get()), nullptr);
    EXPECT_EQ(algorithm->hash_alg_id(), 0x8021u);
    devices.clear_log();
    EXPECT_EQ(error_of([&] { algorithm->sign_hash(pattern(32, 1)); }), "Invalid pkcs#11 session");
    // The SKF library is not asked to sign.
    EXPECT_TRUE(devices.calls().empty());
}

TEST_F(Signing, TheSignerKeepsTheLibraryOfItsCertificate)
{
    const skf_test::devices devices(token("sha256"));
    auto algorithm = signer("sha256", "1234");
    EXPECT_TRUE(skf_test::library_loaded());
    const auto first = algorithm->sign_hash(pattern(32, 4));
    const auto second = algorithm->sign_hash(pattern(32, 4));
    EXPECT_EQ(first, second);
    auto calls = devices.calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "load"), 1);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SKF_VerifyPIN"), 2);
    algorithm.reset();
    EXPECT_FALSE(skf_test::library_loaded());
    EXPECT_EQ(devices.log().back(), (calls_t{"unload", "open=0"}));
}

}  // namespace
