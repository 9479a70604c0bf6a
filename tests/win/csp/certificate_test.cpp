#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "crypto/certificate_lookup.h"
#include "crypto/csp/context.h"
#include "crypto/csp/key.h"
#include "crypto/csp/x509certificate.h"
#include "crypto/csp/x509store.h"
#include "crypto/encoding/hex.h"
#include "crypto/util/der.h"
#include "test_certificates.h"

namespace {

using crypto::csp::x509store;

class PersonalStore : public ::testing::Test {
protected:
    void SetUp() override { csp_test::clear_personal_store(); }
    void TearDown() override { csp_test::clear_personal_store(); }

    static csp_test::certificate_spec spec(const wchar_t* container)
    {
        csp_test::certificate_spec s;
        s.container = container;
        return s;
    }
};

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

FILETIME shifted(const FILETIME& time, long long units)
{
    ULARGE_INTEGER value{};
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    value.QuadPart += static_cast<unsigned long long>(units);
    return FILETIME{value.LowPart, value.HighPart};
}

TEST_F(PersonalStore, SerialIsWrittenMostSignificantByteFirst)
{
    auto s = spec(L"serial");
    s.serial = {0x01, 0x02, 0x0A};  // least significant byte first, as CryptoAPI keeps it
    const auto made = csp_test::make_certificate(s);
    const auto certificate = x509store().find_by_thumbprint(made.thumbprint);
    ASSERT_TRUE(certificate);
    EXPECT_EQ(certificate->serial_number(), "0A0201");
}

TEST_F(PersonalStore, ThumbprintIsUpperHexSha1OfTheEncoding)
{
    const auto made = csp_test::make_certificate(spec(L"thumb"));
    const auto certificate = crypto::csp::make_certificate(made.der);
    EXPECT_EQ(certificate->thumbprint(), made.thumbprint);
    EXPECT_EQ(certificate->encoded(), made.der);
    EXPECT_TRUE(std::regex_match(certificate->thumbprint(), std::regex("[0-9A-F]{40}")));
    // Bytes after the certificate's element are no part of it.
    for (const std::size_t padding : {1u, 7u, 300u}) {
        auto padded = made.der;
        padded.resize(padded.size() + padding, padding == 300 ? 0x30 : 0x00);
        const auto read = crypto::csp::make_certificate(padded);
        EXPECT_EQ(read->thumbprint(), made.thumbprint) << padding;
        EXPECT_EQ(read->encoded(), made.der) << padding;
    }
}

TEST_F(PersonalStore, ValidityExcludesBothEnds)
{
    const auto made = csp_test::make_certificate(spec(L"validity"));
    const auto certificate = crypto::csp::make_certificate(made.der);
    EXPECT_TRUE(certificate->is_outside_validity_at(made.not_before));
    EXPECT_FALSE(certificate->is_outside_validity_at(shifted(made.not_before, 1)));
    EXPECT_FALSE(certificate->is_outside_validity_at(shifted(made.not_after, -1)));
    EXPECT_TRUE(certificate->is_outside_validity_at(made.not_after));
    EXPECT_TRUE(certificate->is_outside_validity_at(shifted(made.not_before, -1)));
    EXPECT_FALSE(certificate->is_outside_validity());
}

TEST_F(PersonalStore, ClientAuthUsageNeedsTheExtensionToListIt)
{
    auto client = spec(L"eku");
    client.usages = {"1.3.6.1.5.5.7.3.4", "1.3.6.1.5.5.7.3.2"};
    auto server = spec(L"eku");
    server.usages = {"1.3.6.1.5.5.7.3.1"};
    auto none = spec(L"eku");
    none.no_usage_extension = true;
    auto empty = spec(L"eku");
    empty.usages = {};
    EXPECT_TRUE(crypto::csp::make_certificate(csp_test::make_certificate(client).der)->has_client_auth_usage());
    EXPECT_FALSE(crypto::csp::make_certificate(csp_test::make_certificate(server).der)->has_client_auth_usage());
    EXPECT_FALSE(crypto::csp::make_certificate(csp_test::make_certificate(none).der)->has_client_auth_usage());
    EXPECT_FALSE(crypto::csp::make_certificate(csp_test::make_certificate(empty).der)->has_client_auth_usage());
}

TEST_F(PersonalStore, KeySpecFallsBackToTheKeyProviderInformation)
{
    auto with_property = spec(L"keyspec");
    with_property.key_spec_property = AT_SIGNATURE;
    with_property.subject = L"CN=with property";
    auto info_only = spec(L"keyspec");
    info_only.subject = L"CN=info only";
    auto signature_info = spec(L"keyspec");
    signature_info.info_key_spec = AT_SIGNATURE;
    signature_info.subject = L"CN=signature info";
    auto no_info = spec(L"keyspec");
    no_info.key_provider_info = false;
    no_info.subject = L"CN=no info";

    const auto made_a = csp_test::make_certificate(with_property);
    const auto made_b = csp_test::make_certificate(info_only);
    const auto made_c = csp_test::make_certificate(signature_info);
    const auto made_d = csp_test::make_certificate(no_info);
    x509store store;
    const auto a = store.find_by_thumbprint(made_a.thumbprint);
    const auto b = store.find_by_thumbprint(made_b.thumbprint);
    const auto c = store.find_by_thumbprint(made_c.thumbprint);
    const auto d = store.find_by_thumbprint(made_d.thumbprint);
    ASSERT_TRUE(a && b && c && d);
    // The property wins over the key-provider information where it can be written.
    if (made_a.key_spec_property_written) {
        EXPECT_EQ(a->key_spec(), static_cast<std::uint32_t>(AT_SIGNATURE));
    } else {
        EXPECT_EQ(a->key_spec(), static_cast<std::uint32_t>(AT_KEYEXCHANGE));
    }
    EXPECT_EQ(b->key_spec(), static_cast<std::uint32_t>(AT_KEYEXCHANGE));
    EXPECT_EQ(c->key_spec(), static_cast<std::uint32_t>(AT_SIGNATURE));
    EXPECT_EQ(d->key_spec(), 0u);

    EXPECT_EQ(b->container(), "keyspec");
    EXPECT_TRUE(b->has_private_key());
    EXPECT_EQ(d->container(), "");
    EXPECT_FALSE(d->has_private_key());
    // The AES provider has no smart-card reader for its containers.
    EXPECT_EQ(b->reader(), "");
}

TEST_F(PersonalStore, DescriptionHasTheKeysInOrderAndStringValues)
{
    auto s = spec(L"describe");
    s.subject = L"CN=Kelvora Describe, OU=First, OU=Second, O=Org";
    s.issuer = L"CN=Kelvora Issuer";
    s.signature_oid = "1.2.840.113549.1.1.12";
    const auto made = csp_test::make_certificate(s);
    const auto certificate = x509store().find_by_thumbprint(made.thumbprint);
    ASSERT_TRUE(certificate);
    const auto tree = certificate->to_ptree();

    std::vector<std::string> keys;
    for (const auto& child : tree)
        keys.push_back(child.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"thumbprint", "serial", "subject", "raw_subject", "issuer", "validFrom",
                                              "validTo", "algorithm", "container", "hardware", "reader",
                                              "carrier_type"}));
    EXPECT_EQ(tree.get<std::string>("thumbprint"), made.thumbprint);
    EXPECT_EQ(tree.get<std::string>("serial"), certificate->serial_number());
    EXPECT_EQ(tree.get<std::string>("subject.CN"), "Kelvora Describe");
    EXPECT_EQ(tree.get<std::string>("subject.OU"), "First");
    EXPECT_EQ(tree.get<std::string>("issuer.CN"), "Kelvora Issuer");
    EXPECT_EQ(tree.get_child("raw_subject").find("2.5.4.3")->second.data(), "Kelvora Describe");
    EXPECT_EQ(tree.get<std::string>("algorithm"), "1.2.840.113549.1.1.12");
    EXPECT_EQ(tree.get<std::string>("container"), "describe");
    EXPECT_EQ(tree.get<std::string>("hardware"), "false");
    EXPECT_EQ(tree.get<std::string>("reader"), "");
    EXPECT_EQ(tree.get<std::string>("carrier_type"), "csp");

    SYSTEMTIME from{};
    FileTimeToSystemTime(&made.not_before, &from);
    EXPECT_EQ(tree.get<std::string>("validFrom"), crypto::csp::format_system_time(from));
    EXPECT_TRUE(std::regex_match(tree.get<std::string>("validTo"),
                                 std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d")));
}

TEST(FormatSystemTime, PadsEverythingButTheYear)
{
    SYSTEMTIME t{};
    t.wYear = 2021;
    t.wMonth = 3;
    t.wDay = 5;
    t.wHour = 7;
    t.wMinute = 8;
    t.wSecond = 9;
    t.wMilliseconds = 999;
    EXPECT_EQ(crypto::csp::format_system_time(t), "2021-03-05T07:08:09");
    t.wYear = 987;
    EXPECT_EQ(crypto::csp::format_system_time(t), "987-03-05T07:08:09");
}

// A bare certificate (as the decoder takes bytes that are not a signed one)
// with the given key bits and, when not empty, an extended key usage value.
crypto::byte_vector bare_certificate(const crypto::byte_vector& key_bits, const char* usage_hex)
{
    using crypto::hex_decode;
    namespace der = crypto::util::der;
    const auto name = hex_decode("300c310a300806035504030c0149");
    std::vector<crypto::byte_vector> parts = {
        hex_decode("a003020102020101300d06092a864886f70d01010b0500"), name,
        hex_decode("301e170d3234303130313030303030305a170d3334303130313030303030305a"), name,
        der::sequence_of({hex_decode("300d06092a864886f70d0101010500"), der::bits(key_bits, 0)})};
    if (*usage_hex) {
        const auto usage = der::sequence_of({hex_decode("0603551d25"), der::tlv(0x04, hex_decode(usage_hex))});
        parts.push_back(der::tlv(0xA3, der::sequence_of({usage})));
    }
    return der::sequence_of(parts);
}

// The usage is read again after the certificate is made: a value the decoder
// cannot read safely (an empty OBJECT IDENTIFIER, an indefinite or overlong
// list) is no usage at all, and never reaches it.
TEST(MakeCertificate, UnreadableUsageIsNoClientAuthentication)
{
    const auto key = crypto::hex_decode("3006020105020103");  // not imported here
    const std::pair<const char*, bool> usages[] = {
        {"300a06082b06010505070302", true},
        {"300c06082b060105050703020600", false},
        {"300d06082b06010505070302060180", false},
        {"308006082b06010505070302", false},
        {"300b06082b06010505070302", false},
        {"310a06082b06010505070302", false},
        {"", false},
    };
    for (const auto& [usage, expected] : usages) {
        const auto certificate = crypto::csp::make_certificate(bare_certificate(key, usage));
        ASSERT_NE(certificate->context(), nullptr) << usage;
        EXPECT_EQ(certificate->has_client_auth_usage(), expected) << usage;
    }
}

// Key bits the key import cannot read whole as DER are not imported.
TEST(MakeCertificate, KeyBitsAreReadBeforeTheyAreImported)
{
    namespace der = crypto::util::der;
    HCRYPTPROV handle = 0;
    ASSERT_TRUE(CryptAcquireContextW(&handle, nullptr, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    const crypto::csp::verify_context provider(handle);
    crypto::byte_vector modulus(65, 0xC1);  // 512 bits, positive
    modulus[0] = 0;
    const auto exponent = crypto::hex_decode("0203010001");
    const auto sound = der::sequence_of({der::tlv(0x02, modulus), exponent});
    auto trailing = sound;
    trailing.push_back(0);  // a byte past the RSAPublicKey
    const std::pair<crypto::byte_vector, bool> keys[] = {
        {sound, true},
        {trailing, false},
        {der::sequence_of({der::tlv(0x02, {}), exponent}), false},  // an empty modulus
    };
    for (const auto& [bits, imported] : keys) {
        const auto certificate = crypto::csp::make_certificate(bare_certificate(bits, ""));
        ASSERT_NE(certificate->context(), nullptr) << crypto::hex_encode(bits);
        const crypto::csp::key key(provider, certificate);
        EXPECT_EQ(key.handle() != 0, imported) << crypto::hex_encode(bits);
    }
}

TEST(MakeCertificate, NoBytesOrNoCertificateGiveNoContext)
{
    EXPECT_EQ(crypto::csp::make_certificate({})->context(), nullptr);
    const auto junk = crypto::csp::make_certificate({0x30, 0x03, 0x02, 0x01, 0x01});
    EXPECT_EQ(junk->context(), nullptr);
    EXPECT_EQ(junk->thumbprint(), "");
    EXPECT_EQ(junk->serial_number(), "");
    EXPECT_EQ(junk->signature_oid(), "");
    EXPECT_FALSE(junk->has_private_key());
    EXPECT_FALSE(junk->is_outside_validity());
    EXPECT_EQ(junk->key_spec(), 0u);
    EXPECT_FALSE(crypto::is_found(junk));
    EXPECT_FALSE(crypto::is_found(nullptr));
}

TEST_F(PersonalStore, ListsOnlyCertificatesValidNowButFindsAll)
{
    auto valid = spec(L"list");
    valid.subject = L"CN=valid";
    auto expired = spec(L"list");
    expired.subject = L"CN=expired";
    expired.not_before = -86400 * 10;
    expired.not_after = -86400;
    auto future = spec(L"list");
    future.subject = L"CN=future";
    future.not_before = 86400;
    auto no_key = spec(L"list");
    no_key.subject = L"CN=no key info";
    no_key.key_provider_info = false;

    const auto v = csp_test::make_certificate(valid);
    const auto e = csp_test::make_certificate(expired);
    const auto f = csp_test::make_certificate(future);
    const auto n = csp_test::make_certificate(no_key);

    std::vector<std::string> listed;
    for (const auto& certificate : x509store().list_certificates())
        listed.push_back(certificate->thumbprint());
    std::sort(listed.begin(), listed.end());
    std::vector<std::string> expected{v.thumbprint, n.thumbprint};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);

    x509store store;
    for (const auto* made : {&v, &e, &f, &n}) {
        const auto upper = store.find_by_thumbprint(made->thumbprint);
        ASSERT_TRUE(upper) << made->thumbprint;
        EXPECT_EQ(upper->thumbprint(), made->thumbprint);
        const auto lowered = store.find_by_thumbprint(lower(made->thumbprint));
        ASSERT_TRUE(lowered);
        EXPECT_EQ(lowered->thumbprint(), made->thumbprint);
    }
    std::string spaced;
    for (std::size_t i = 0; i < e.thumbprint.size(); i += 2)
        spaced += e.thumbprint.substr(i, 2) + " ";
    // Windows takes blanks between the digit pairs; Wine's decoder only
    // leading ones. Either way no other certificate may come back.
    if (const auto found = store.find_by_thumbprint(spaced)) {
        EXPECT_EQ(found->thumbprint(), e.thumbprint);
    }
    ASSERT_TRUE(store.find_by_thumbprint("  " + lower(e.thumbprint)));
    EXPECT_EQ(store.find_by_thumbprint("  " + lower(e.thumbprint))->thumbprint(), e.thumbprint);

    EXPECT_FALSE(store.find_by_thumbprint(std::string(40, '0')));
    EXPECT_FALSE(store.find_by_thumbprint(""));
    EXPECT_FALSE(store.find_by_thumbprint("not hex at all"));
}

TEST_F(PersonalStore, LookupChoosesTheBackEndByKind)
{
    const auto made = csp_test::make_certificate(spec(L"lookup"));
    for (crypto::store_type kind : {0, 7, -1}) {
        const auto found = crypto::find_certificate_by_thumbprint(lower(made.thumbprint), kind);
        ASSERT_TRUE(crypto::is_found(found)) << kind;
        EXPECT_EQ(found->thumbprint(), made.thumbprint);
    }
    // No token holds this certificate; without an SKF library that back end
    // cannot even be asked.
    EXPECT_FALSE(crypto::find_certificate_by_thumbprint(made.thumbprint, crypto::pkcs11_store));
    EXPECT_THROW(crypto::find_certificate_by_thumbprint(made.thumbprint, crypto::skf_store), std::runtime_error);
    EXPECT_EQ(crypto::list_certificates(crypto::csp_store).size(), 1u);
    EXPECT_TRUE(crypto::list_certificates(crypto::pkcs11_store).empty());
    EXPECT_THROW(crypto::list_certificates(crypto::skf_store), std::runtime_error);
}

TEST(StoreType, OnlyExactNamesSelectTokens)
{
    using tree = boost::property_tree::ptree;
    auto kind_of = [](const char* value) {
        tree t;
        t.put("store_type", value);
        return crypto::get_store_type(t);
    };
    EXPECT_EQ(crypto::get_store_type(tree()), crypto::csp_store);
    EXPECT_EQ(kind_of("csp"), crypto::csp_store);
    EXPECT_EQ(kind_of("pkcs11"), crypto::pkcs11_store);
    EXPECT_EQ(kind_of("skf"), crypto::skf_store);
    for (const char* other : {"PKCS11", "Skf", "skf ", "", "2", "1"})
        EXPECT_EQ(kind_of(other), crypto::csp_store) << other;
    tree object;
    object.add_child("store_type.inner", tree("skf"));
    EXPECT_EQ(crypto::get_store_type(object), crypto::csp_store);
}

}  // namespace
