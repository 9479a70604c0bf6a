// The request encoders against Wine's CryptEncodeObject, byte for byte, for
// the structure types Wine implements: the same inputs through both, the
// same DER or the same error code.
#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/encoding/hex.h"
#include "crypto/encoding/text.h"
#include "crypto/util/request_encoders.h"

namespace {

namespace util = crypto::util;
constexpr DWORD encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Wine's DER in hex, or "error XXXXXXXX".
std::string wine(LPCSTR type, const void* structure)
{
    DWORD size = 0;
    char text[32];
    if (!CryptEncodeObject(encoding, type, structure, nullptr, &size)) {
        std::snprintf(text, sizeof text, "error %08lX", GetLastError());
        return text;
    }
    std::vector<BYTE> out(size);
    if (!CryptEncodeObject(encoding, type, structure, out.data(), &size)) {
        std::snprintf(text, sizeof text, "error %08lX", GetLastError());
        return text;
    }
    out.resize(size);
    return crypto::hex_encode(out);
}

// Call the encoder first: the code is read after it returned.
std::string ours(const util::blob_ptr& blob, const std::int32_t& code)
{
    if (blob) return crypto::hex_encode(blob->bytes());
    char text[32];
    std::snprintf(text, sizeof text, "error %08X", static_cast<unsigned>(code));
    return text;
}

TEST(RequestEncodersAgainstWine, SubjectNames)
{
    const char* const subjects[] = {
        "2.5.4.3=Test,2.5.4.6=RU",
        "2.5.4.3=Иванов Иван,2.5.4.10=\"ООО \"\"Ромашка\"\", филиал\"",
        "1.2.643.3.131.1.1=500100732259,1.2.643.100.1=1027700132195,1.2.643.100.3=12345678901",
        "1.2.643.100.4=7700 1,1.2.643.100.5=304500116000157",
        "1.2.840.113549.1.9.1=user@example.ru,1.2.840.113549.1.9.2=host name (1)",
        "1.2.840.113549.1.9.2=имя",
        "1.2.643.3.131.1.1=12a4",
        "2.5.4.6=R!",
        "1.2.840.113549.1.9.1=почта@x",
        "CN=Test",
        "no pairs here",
        "",
        "2.5.4.3=x,2.5.4.7=Moscow,2.5.4.8=77 г. Москва,2.5.4.9=ул. Тверская, д. 1",
    };
    std::string long_subject = "2.5.4.3=" + std::string(300, 'z') + ",2.5.4.4=" + std::string(120, 'y');
    std::vector<std::string> all(std::begin(subjects), std::end(subjects));
    all.push_back(long_subject);
    for (const auto& text : all) {
        std::int32_t code = 0;
        const auto our = ours(util::encode_subject(text.c_str(), &code), code);

        // The same name built as CERT_NAME_INFO for X509_UNICODE_NAME.
        const auto entries = util::parse_subject_text(text.c_str());
        std::vector<CERT_RDN_ATTR> attributes(entries.size());
        std::vector<CERT_RDN> rdns(entries.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const std::string key = entries[i]->key;
            DWORD type = CERT_RDN_UTF8_STRING;
            if (key == "1.2.643.100.1" || key == "1.2.643.100.3" || key == "1.2.643.3.131.1.1" ||
                key == "1.2.643.100.4" || key == "1.2.643.100.5")
                type = CERT_RDN_NUMERIC_STRING;
            else if (key == "1.2.840.113549.1.9.1")
                type = CERT_RDN_IA5_STRING;
            else if (key == "2.5.4.6")
                type = CERT_RDN_PRINTABLE_STRING;
            else if (key == "1.2.840.113549.1.9.2") {
                type = CERT_RDN_PRINTABLE_STRING;
                for (std::uint32_t u = 0; u < entries[i]->value_length / 2; ++u)
                    if (entries[i]->value[u] < 0x1F || entries[i]->value[u] > 0x7F) type = CERT_RDN_UTF8_STRING;
            }
            attributes[i].pszObjId = entries[i]->key;
            attributes[i].dwValueType = type;
            attributes[i].Value.cbData = entries[i]->value_length;
            attributes[i].Value.pbData = reinterpret_cast<BYTE*>(entries[i]->value);
            rdns[i].cRDNAttr = 1;
            rdns[i].rgRDNAttr = &attributes[i];
        }
        CERT_NAME_INFO name{static_cast<DWORD>(rdns.size()), rdns.data()};
        EXPECT_EQ(our, wine(X509_UNICODE_NAME, &name)) << text;
    }
}

TEST(RequestEncodersAgainstWine, UsagesIntegersPoliciesAndAltNames)
{
    const std::vector<std::vector<std::string>> lists = {
        {"1.3.6.1.5.5.7.3.2"}, {"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4", "1.2.643.2.2.34.6"}, {"1.2.840.113549.1.9.1"}};
    for (const auto& list : lists) {
        std::vector<LPSTR> ids;
        for (const auto& oid : list) ids.push_back(const_cast<LPSTR>(oid.c_str()));
        CERT_ENHKEY_USAGE usage{static_cast<DWORD>(ids.size()), ids.data()};
        std::int32_t code = 0;
        EXPECT_EQ(ours(util::encode_enhanced_key_usage(&list, &code), code), wine(X509_ENHANCED_KEY_USAGE, &usage));
    }

    BYTE usage_bits = 0xF8;
    CRYPT_BIT_BLOB key_usage{1, &usage_bits, 0};
    std::int32_t code = 0;
    EXPECT_EQ(ours(util::encode_key_usage(&code), code), wine(X509_KEY_USAGE, &key_usage));

    // -1 is left out: Wine's X509_INTEGER faults on it.
    for (std::int32_t value : {0, 1, 127, 128, 255, 256, 32767, 32768, -2, -128, -129, 65535, 0x7FFFFFFF,
                               static_cast<std::int32_t>(0x80000000u)}) {
        EXPECT_EQ(ours(util::encode_integer(&value, &code), code), wine(X509_INTEGER, &value)) << value;
    }

    for (const char* level : {"KC2", "kc2", "KC1", ""}) {
        const bool two = std::strlen(level) == 3 && (level[2] == '2');
        CERT_POLICY_INFO policies[2] = {{const_cast<LPSTR>("1.2.643.100.113.1"), 0, nullptr},
                                        {const_cast<LPSTR>("1.2.643.100.113.2"), 0, nullptr}};
        CERT_POLICIES_INFO info{two ? 2u : 1u, policies};
        EXPECT_EQ(ours(util::encode_policies(level, &code), code), wine(X509_CERT_POLICIES, &info)) << level;
    }

    const std::vector<std::vector<std::string>> dns_lists = {
        {"a.ru"}, {"example.com", "www.example.com", std::string(130, 'd')}, {"ok.ru", "плохо.рф"}};
    for (const auto& dns : dns_lists) {
        std::vector<std::u16string> wide;
        for (const auto& name : dns) {
            std::unique_ptr<crypto::wide_char[]> w(crypto::utf8_to_wide(name.c_str()));
            wide.emplace_back(w.get());
        }
        std::vector<CERT_ALT_NAME_ENTRY> entries(dns.size());
        for (std::size_t i = 0; i < dns.size(); ++i) {
            entries[i].dwAltNameChoice = CERT_ALT_NAME_DNS_NAME;
            entries[i].pwszDNSName = reinterpret_cast<LPWSTR>(&wide[i][0]);
        }
        CERT_ALT_NAME_INFO info{static_cast<DWORD>(entries.size()), entries.data()};
        const util::subject_alt_name names{dns, ""};
        EXPECT_EQ(ours(util::encode_subject_alt_name(&names, &code), code), wine(X509_ALTERNATE_NAME, &info));
    }
}

TEST(RequestEncodersAgainstWine, ExtensionsAndTheSignedRequest)
{
    const auto usage = util::encode_key_usage(nullptr);
    const std::vector<std::string> list{"1.3.6.1.5.5.7.3.2"};
    const auto eku = util::encode_enhanced_key_usage(&list, nullptr);
    util::public_key_info key;
    key.algorithm = "1.2.643.7.1.1.1.1";
    key.key.assign(66, 0x5A);
    const auto key_id = util::encode_subject_key_id(&key, nullptr);
    const auto tool = util::encode_signing_tool(std::string(150, 't').c_str(), nullptr);
    const auto policies = util::encode_policies("KC2", nullptr);
    const std::int32_t two = 2;
    const auto kind = util::encode_integer(&two, nullptr);

    std::int32_t code = 0;
    const auto ours_list = util::encode_extensions(usage.get(), eku.get(), key_id.get(), tool.get(), nullptr,
                                                   policies.get(), kind.get(), nullptr, &code);
    const util::encoded_blob* values[] = {usage.get(), eku.get(), key_id.get(), tool.get(), policies.get(), kind.get()};
    const char* oids[] = {"2.5.29.15", "2.5.29.37", "2.5.29.14", "1.2.643.100.111", "2.5.29.32", "1.2.643.100.114"};
    CERT_EXTENSION extensions[6];
    for (int i = 0; i < 6; ++i) {
        extensions[i].pszObjId = const_cast<LPSTR>(oids[i]);
        extensions[i].fCritical = i == 0;
        extensions[i].Value.cbData = values[i]->length;
        extensions[i].Value.pbData = values[i]->data.get();
    }
    CERT_EXTENSIONS info{6, extensions};
    EXPECT_EQ(ours(ours_list, code), wine(X509_EXTENSIONS, &info));

    // X509_CERT: the signature bytes reversed, and a NULL for the empty parameters.
    const util::encoded_blob body(crypto::hex_decode("300602010030013000"));
    const util::encoded_blob signature(crypto::hex_decode("0102030405060708"));
    for (int standard : {0, 1, 2}) {
        CERT_SIGNED_CONTENT_INFO content{};
        content.ToBeSigned.cbData = body.length;
        content.ToBeSigned.pbData = body.data.get();
        content.SignatureAlgorithm.pszObjId = const_cast<LPSTR>(util::signature_algorithm_oid(standard));
        content.Signature.cbData = signature.length;
        content.Signature.pbData = signature.data.get();
        EXPECT_EQ(ours(util::encode_signed_request(standard, &body, &signature, &code), code),
                  wine(X509_CERT, &content))
            << standard;
    }
}

}  // namespace
