// Vectors of the request encoders: each input with the DER that CryptoAPI's
// CryptEncodeObject writes for it (or the code it fails with).
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "crypto/encoding/hex.h"
#include "crypto/encoding/text.h"
#include "crypto/util/request_encoders.h"

namespace {

namespace util = crypto::util;
using crypto::wide_char;

// The hex of a result, "null" for none.
std::string hex(const util::blob_ptr& blob) { return blob ? crypto::hex_encode(blob->bytes()) : "null"; }

std::string repeat(const std::string& text, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += text;
    return out;
}

std::u16string u16(const char* text)
{
    std::unique_ptr<wide_char[]> wide(crypto::utf8_to_wide(text));
    return wide ? std::u16string(wide.get()) : std::u16string();
}

struct vector_row {
    const char* what;
    std::function<util::blob_ptr(std::int32_t*)> encode;
    std::string expected;  // hex, or "null"
    std::int32_t code;     // the code written
};

const std::int32_t untouched = 0x55AA55AA;  // the code an encoder leaves unwritten

std::vector<vector_row> vectors()
{
    static const std::vector<std::string> two_ekus{"1.3.6.1.5.5.7.3.2", "1.3.6.1.5.5.7.3.4"};
    static const std::vector<std::string> no_ekus;
    static const std::vector<std::string> bad_eku{"1.3.6.1.5.5.7.3.2", "clientAuth"};
    static const std::int32_t zero = 0, v127 = 127, v128 = 128, minus1 = -1, minus129 = -129, v256 = 256;
    static const std::int32_t big = 0x7FFFFFFF, least = static_cast<std::int32_t>(0x80000000u);
    static const util::subject_alt_name san_full{{"a.ru", "b"}, "u@x"};
    static const util::subject_alt_name san_none{{}, ""};
    static const util::subject_alt_name san_upn{{}, "u@x"};
    static const util::subject_alt_name san_bad{{"a.ru", "\xD0\xB0.ru"}, "u@x"};
    static const std::u16string provider = u16("AB");
    static const std::string long200(200, 'a'), long300(300, 'a');
    static const std::string subject200 = "2.5.4.3=" + long200, subject300 = "2.5.4.3=" + long300;
    const auto subject = [](const char* text) { return [text](std::int32_t* c) { return util::encode_subject(text, c); }; };
    return {
        // The subject syntax and the string type per key.
        {"two RDNs", subject("2.5.4.3=Test,2.5.4.6=RU"),
         "301C310D300B06035504030C0454657374310B3009060355040613025255", 0},
        {"INN digits", subject("1.2.643.3.131.1.1=1234"), "3014311230100608" "2A85030381030101" "120431323334", 0},
        {"INN with a letter", subject("1.2.643.3.131.1.1=12a4"), "null", util::crypt_e_invalid_numeric_string},
        {"OGRN with a blank", subject("1.2.643.100.1=12 4"), "null", util::crypt_e_invalid_numeric_string},
        {"country not printable", subject("2.5.4.6=R!"), "null", util::crypt_e_invalid_printable_string},
        {"e-mail not IA5", subject("1.2.840.113549.1.9.1=\xD0\xB0@x"), "null", util::crypt_e_invalid_ia5_string},
        {"e-mail", subject("1.2.840.113549.1.9.1=a@b"), "3014311230100609" "2A864886F70D010901" "1603614062", 0},
        {"key not an OID", subject("CN=Test"), "null", util::crypt_e_asn1_error},
        {"quoted comma", subject("2.5.4.3=\"a,b\""), "300E310C300A06035504030C03612C62", 0},
        {"doubled quotes", subject("2.5.4.3=\"say \"\"hi\"\"\""), "3013311130" "0F06035504030C08" "736179202268692" "2", 0},
        {"comma without quotes", subject("2.5.4.3=a,b"), "300C310A300806035504030C0161", 0},
        {"blanks trimmed", subject(" 2.5.4.3 = x "), "300C310A300806035504030C0178", 0},
        {"unstructured Latin", subject("1.2.840.113549.1.9.2=ab"), "3013311130" "0F0609" "2A864886F70D010902" "13026162", 0},
        {"unstructured Cyrillic", subject("1.2.840.113549.1.9.2=\xD0\xB0\xD0\xB1"),
         "3015311330110609" "2A864886F70D010902" "0C04D0B0D0B1", 0},
        {"unstructured empty", subject("1.2.840.113549.1.9.2="), "3011310F300D0609" "2A864886F70D010902" "1300", 0},
        {"no equals sign", subject("abc"), "3000", 0},
        {"empty text", subject(""), "3000", 0},
        {"value holding =", subject("2.5.4.3=a=b"), "300E310C300A06035504030C03613D62", 0},
        {"null subject", subject(nullptr), "null", -1},
        {"long length 0x81", subject(subject200.c_str()), "3081D63181D33081D006035504030C81C8" + repeat("61", 200), 0},
        {"long length 0x82", subject(subject300.c_str()),
         "3082013D318201393082013506035504030C82012C" + repeat("61", 300), 0},
        // The other attribute encoders.
        {"CSP provider", [](std::int32_t* c) { return util::encode_enrollment_csp_provider(provider.c_str(), c); },
         "300C0201011E0400410042030100", 0},
        {"CSP provider null", [](std::int32_t* c) { return util::encode_enrollment_csp_provider(nullptr, c); }, "null",
         -1},
        {"EKU", [](std::int32_t* c) { return util::encode_enhanced_key_usage(&two_ekus, c); },
         "301406082B0601050507030206082B06010505070304", 0},
        {"EKU empty", [](std::int32_t* c) { return util::encode_enhanced_key_usage(&no_ekus, c); }, "null", -2},
        {"EKU null", [](std::int32_t* c) { return util::encode_enhanced_key_usage(nullptr, c); }, "null", -2},
        {"EKU not an OID", [](std::int32_t* c) { return util::encode_enhanced_key_usage(&bad_eku, c); }, "null",
         util::crypt_e_asn1_error},
        {"key usage", [](std::int32_t* c) { return util::encode_key_usage(c); }, "030200F8", 0},
        {"template", [](std::int32_t* c) { return util::encode_certificate_template("1.2.3", c); },
         "300706022A03020101", 0},
        {"template null", [](std::int32_t* c) { return util::encode_certificate_template(nullptr, c); }, "null", 0},
        {"policies kc2", [](std::int32_t* c) { return util::encode_policies("kc2", c); },
         "30143008" "06062A8503647101" "3008" "06062A8503647102", 0},
        {"policies other", [](std::int32_t* c) { return util::encode_policies("KC3", c); },
         "300A3008" "06062A8503647101", 0},
        {"policies empty", [](std::int32_t* c) { return util::encode_policies("", c); }, "300A3008" "06062A8503647101",
         0},
        {"policies null", [](std::int32_t* c) { return util::encode_policies(nullptr, c); }, "null", 0},
        {"integer 0", [](std::int32_t* c) { return util::encode_integer(&zero, c); }, "020100", 0},
        {"integer 127", [](std::int32_t* c) { return util::encode_integer(&v127, c); }, "02017F", 0},
        {"integer 128", [](std::int32_t* c) { return util::encode_integer(&v128, c); }, "02020080", 0},
        {"integer 256", [](std::int32_t* c) { return util::encode_integer(&v256, c); }, "02020100", 0},
        {"integer -1", [](std::int32_t* c) { return util::encode_integer(&minus1, c); }, "0201FF", 0},
        {"integer -129", [](std::int32_t* c) { return util::encode_integer(&minus129, c); }, "0202FF7F", 0},
        {"integer max", [](std::int32_t* c) { return util::encode_integer(&big, c); }, "02047FFFFFFF", 0},
        {"integer min", [](std::int32_t* c) { return util::encode_integer(&least, c); }, "020480000000", 0},
        {"integer null", [](std::int32_t* c) { return util::encode_integer(nullptr, c); }, "null", untouched},
        {"alt names", [](std::int32_t* c) { return util::encode_subject_alt_name(&san_full, c); },
         "3021" "8204612E7275" "820162" "A016060A2B060104018237140203A0081E06007500400078", 0},
        {"alt name UPN only", [](std::int32_t* c) { return util::encode_subject_alt_name(&san_upn, c); },
         "3018" "A016060A2B060104018237140203A0081E06007500400078", 0},
        {"alt names none", [](std::int32_t* c) { return util::encode_subject_alt_name(&san_none, c); }, "null",
         untouched},
        {"alt name not IA5", [](std::int32_t* c) { return util::encode_subject_alt_name(&san_bad, c); }, "null",
         util::crypt_e_invalid_ia5_string},
        {"signing tool", [](std::int32_t* c) { return util::encode_signing_tool("T\xD0\xB0", c); }, "0C0354D0B0", 0},
    };
}

TEST(RequestEncoders, Vectors)
{
    for (const auto& row : vectors()) {
        std::int32_t code = untouched;
        EXPECT_EQ(hex(row.encode(&code)), row.expected) << row.what;
        EXPECT_EQ(code, row.code) << row.what;
    }
}

TEST(RequestEncoders, SubjectTextEntries)
{
    const auto list = util::parse_subject_text(" 2.5.4.3 = x ,junk,1.2.3=\"a,\"\"b\"\" \" ,=v");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_STREQ(list[0]->key, "2.5.4.3");
    EXPECT_EQ(std::u16string(list[0]->value, list[0]->value_length / 2), u"x");
    EXPECT_STREQ(list[1]->key, "1.2.3");
    EXPECT_EQ(std::u16string(list[1]->value, list[1]->value_length / 2), u"a,\"b\" ");
    EXPECT_STREQ(list[2]->key, "");
}

// Builds the extension list from the other encoders' results.
util::blob_ptr from_hex(const char* text) { return util::blob_ptr(new util::encoded_blob(crypto::hex_decode(text))); }

TEST(RequestEncoders, ExtensionOrderAndCriticality)
{
    const auto ku = from_hex("030200F8"), eku = from_hex("3000"), ski = from_hex("0400"), tool = from_hex("0C00"),
               tpl = from_hex("05"), pol = from_hex("06"), kind = from_hex("07"), san = from_hex("08");
    std::int32_t code = untouched;
    EXPECT_EQ(hex(util::encode_extensions(ku.get(), eku.get(), ski.get(), tool.get(), nullptr, nullptr, nullptr,
                                          nullptr, &code)),
              "3033"
              "300E0603551D0F0101FF0404030200F8"
              "30090603551D2504023000"
              "30090603551D0E04020400"
              "300B06052A8503646F04020C00");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(hex(util::encode_extensions(ku.get(), eku.get(), ski.get(), tool.get(), tpl.get(), pol.get(),
                                          kind.get(), san.get(), &code)),
              "3063"
              "300E0603551D0F0101FF0404030200F8"
              "30090603551D2504023000"
              "30090603551D0E04020400"
              "300B06052A8503646F04020C00"
              "300E06092B0601040182371507040105"
              "30080603551D20040106"
              "300A06052A85036472040107"
              "30080603551D11040108");
    EXPECT_EQ(hex(util::encode_extensions(ku.get(), nullptr, ski.get(), tool.get(), nullptr, nullptr, nullptr,
                                          nullptr, &code)),
              "null");
    EXPECT_EQ(code, -1);
}

TEST(RequestEncoders, SubjectKeyIdIsSha1OfTheKeyBits)
{
    util::public_key_info key;
    key.algorithm = "1.2.643.7.1.1.1.1";
    key.key = {'a', 'b', 'c'};
    std::int32_t code = untouched;
    EXPECT_EQ(hex(util::encode_subject_key_id(&key, &code)), "0414A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(code, 0);
    key.key.clear();
    EXPECT_THROW(util::encode_subject_key_id(&key, &code), std::runtime_error);
    EXPECT_EQ(hex(util::encode_subject_key_id(nullptr, &code)), "null");
    EXPECT_EQ(code, -1);
}

// BMPString of an ASCII text, hex.
std::string bmp_hex(const std::string& text)
{
    std::string contents;
    for (char c : text) contents += "00" + crypto::hex_encode({static_cast<std::uint8_t>(c)});
    return "1E" + crypto::hex_encode({static_cast<std::uint8_t>(text.size() * 2)}) + contents;
}

std::string pair_hex(const std::string& name, const std::string& value)
{
    const std::string body = bmp_hex(name) + bmp_hex(value);
    return "30" + crypto::hex_encode({static_cast<std::uint8_t>(body.size() / 2)}) + body;
}

struct validity_row {
    const char* start;
    const char* expiration;
    const char* period;
    std::vector<std::string> slots;  // hex per slot, "" for an empty slot
    bool array;                      // false: no slot array
    bool failed = false;             // a pair could not be encoded: code -1
};

TEST(RequestEncoders, ValidityAttributes)
{
    const std::string start = pair_hex("CpRaStartDate", "20240305070809+03:00");
    const std::vector<validity_row> rows = {
        {nullptr, nullptr, "12", {pair_hex("CpRaCertPeriod", "12"), pair_hex("CpRaCertPeriodUnits", "Months")}, true},
        {nullptr, nullptr, "3 Days", {pair_hex("CpRaCertPeriod", "3"), pair_hex("CpRaCertPeriodUnits", "Days")}, true},
        {"2024-03-05 07:08:09+03:00", "2025-01-01 00:00:00+00:00", "12",
         {start, pair_hex("CpRaCertPeriod", "12"), pair_hex("CpRaCertPeriodUnits", "Months")}, true},
        {nullptr, "2025-01-02 03:04:05-01:30", nullptr, {pair_hex("CpRaExpirationDate", "20250102030405-01:30")}, true},
        {"2024-03-05 07:08:09+03:00", "2025-01-02 03:04:05+00:00", "",
         {start, pair_hex("CpRaExpirationDate", "20250102030405+00:00")}, true},
        {"2024-03-05 07:08:09+03:00", "not a date", nullptr, {}, false, true},
        {"not a date", "2025-01-02 03:04:05+00:00", nullptr, {}, false, true},
        {"2024-13-05 07:08:09+03:00", nullptr, "12", {}, false, true},
        {nullptr, "2025-01-02 03:04:05", nullptr, {}, false, true},
        {"2024-03-05 07:08:09+03:00", nullptr, nullptr, {""}, false},
        {nullptr, "", "", {}, false},
    };
    for (const auto& row : rows) {
        std::int32_t code = untouched;
        const auto out = util::encode_validity_attributes(row.start, row.expiration, row.period, &code);
        ASSERT_EQ(out.count, row.slots.size()) << row.period << row.expiration;
        ASSERT_EQ(out.slots != nullptr, row.array);
        EXPECT_EQ(out.failed, row.failed);
        if (row.failed) {
            EXPECT_EQ(code, -1);
        }
        for (std::size_t i = 0; row.array && i < out.count; ++i)
            EXPECT_EQ(crypto::hex_encode(out.slots[i].bytes()), row.slots[i]) << i;
    }
}

TEST(RequestEncoders, RequestInfoAndSignedRequest)
{
    util::public_key_info key;
    key.algorithm = "1.2.3";
    key.parameters = {0x05, 0x00};
    key.key = {0x04, 0x01, 0xAA};
    const auto subject = from_hex("3000"), csp = from_hex("0500"), extensions = from_hex("3000");
    // Slots in their order: start date, period, unit; an empty one between.
    util::encoded_blob slots[4] = {util::encoded_blob(crypto::hex_decode("3003020103")), util::encoded_blob(),
                                   util::encoded_blob(crypto::hex_decode("3001")),
                                   util::encoded_blob(crypto::hex_decode("3002050" "0"))};
    std::int32_t code = untouched;
    const auto info = util::encode_request_info(subject.get(), csp.get(), extensions.get(), &key, slots, 4, &code);
    // The attributes and the values of the name-value attribute in DER order.
    const std::string key_info = "300E" "300606022A030500" "0304000401AA";
    const std::string extension_request = "3010" "060A2B06010401823702010E" "31023000";
    const std::string csp_attribute = "3010" "060A2B0601040182370D0202" "31020500";
    const std::string pairs = "3019" "060A2B0601040182370D0201" "310B" "3001" "30020500" "3003020103";
    EXPECT_EQ(hex(info), "3056" "020100" "3000" + key_info + "A03F" + extension_request + csp_attribute + pairs);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(hex(util::encode_request_info(subject.get(), csp.get(), extensions.get(), &key, slots, 0, &code)),
              "303B" "020100" "3000" + key_info + "A024" + extension_request + csp_attribute);
    EXPECT_EQ(hex(util::encode_request_info(subject.get(), nullptr, extensions.get(), &key, nullptr, 0, &code)),
              "null");
    EXPECT_EQ(code, -1);

    const auto body = from_hex("3000"), signature = from_hex("0102A3");
    const std::vector<std::pair<int, std::string>> standards = {
        {0, "300806062A8503020203"}, {1, "300A06082A85030701010302"}, {2, "300A06082A85030701010303"},
        {7, "300806062A8503020203"}};
    for (const auto& s : standards) {
        const std::string content = "3000" + s.second + "030400A30201";
        EXPECT_EQ(hex(util::encode_signed_request(s.first, body.get(), signature.get(), &code)),
                  "30" + crypto::hex_encode({static_cast<std::uint8_t>(content.size() / 2)}) + content)
            << s.first;
    }
    EXPECT_EQ(hex(util::encode_signed_request(1, body.get(), nullptr, &code)), "null");
    EXPECT_EQ(code, -1);
}

}  // namespace
