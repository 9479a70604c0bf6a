// The certificate viewer's CryptoAPI side under Wine's crypt32: dates, names
// and the extension texts that CryptDecodeObject decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crypto/x509reader/x509_certificate.h"

namespace {

namespace x = crypto::x509reader;
using bytes = std::vector<BYTE>;

bytes hex(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        out.push_back(static_cast<BYTE>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return out;
}

std::string text_of(const char* oid, const std::string& value)
{
    const bytes v = hex(value);
    return x::extension_text(oid, v.data(), static_cast<DWORD>(v.size()));
}

TEST(ViewerReader, DatesWithoutZoneConversion)
{
    SYSTEMTIME fields{2024, 3, 2, 5, 7, 8, 9, 0};
    FILETIME time;
    ASSERT_TRUE(SystemTimeToFileTime(&fields, &time));
    EXPECT_EQ(x::format_date_ru(&time), "5 марта 2024 г. 07:08:09 UTC");
    // A time FileTimeToSystemTime cannot convert, and no time at all.
    const FILETIME out_of_range{0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(x::format_date_ru(&out_of_range), "");
    EXPECT_EQ(x::format_date_ru(nullptr), "");
}

bytes der(BYTE tag, const bytes& content)
{
    bytes out(content.size() + 2);
    out[0] = tag;
    out[1] = static_cast<BYTE>(content.size());  // short form: every test value is small
    std::copy(content.begin(), content.end(), out.begin() + 2);
    return out;
}

bytes join(std::initializer_list<bytes> parts)
{
    bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

bytes attribute(const std::string& oid, BYTE type, const bytes& value)
{
    return der(0x31, der(0x30, join({der(0x06, hex(oid)), der(type, value)})));
}

TEST(ViewerReader, NamesThroughCertNameToStr)
{
    bytes name = der(0x30, join({attribute("550403", 0x13, {'T', 'e', 's', 't'}),
                                 attribute("2a85030381030101", 0x12, bytes(12, '7')),
                                 attribute("550403", 0x1E, {0x04, 0x10, 0x04, 0x31})}));
    CERT_NAME_BLOB blob{static_cast<DWORD>(name.size()), name.data()};
    const x::rdn_list list = x::parse_rdn_list(&blob);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].oid, "2.5.4.3");
    EXPECT_EQ(list[0].value, "Test");
    EXPECT_EQ(list[1].oid, "1.2.643.3.131.1.1");
    EXPECT_EQ(list[1].value, "777777777777");
    EXPECT_EQ(list[2].value, "Аб");
    EXPECT_EQ(x::rdn_list_to_text(list), "CN=Test ИНН=777777777777 CN=Аб");
    CERT_NAME_BLOB garbage{3, name.data() + 5};
    EXPECT_TRUE(x::parse_rdn_list(&garbage).empty());
    EXPECT_TRUE(x::parse_rdn_list(nullptr).empty());

    // Values as the name holds them: a string that starts with "#" is that
    // string; each attribute of an RDN is an entry of its own, in the name's
    // order, and a value that holds " + " stays whole.
    const std::string microsoft = "#0C094D6963726F736F6674";
    const bytes cn = hex("550403"), o = hex("55040a");
    const bytes two_values = der(0x31, join({der(0x30, join({der(0x06, cn), der(0x0C, {'A', 'l', 'i', 'c', 'e'})})),
                                             der(0x30, join({der(0x06, o), der(0x0C, {'O', 'r', 'g'})}))}));
    const bytes plus = der(0x31, join({der(0x30, join({der(0x06, cn), der(0x13, {'A', ' ', '+', ' ', 'B'})})),
                                       der(0x30, join({der(0x06, o), der(0x13, {'#', '1'})}))}));
    const std::pair<bytes, std::vector<std::pair<std::string, std::string>>> names[] = {
        {der(0x30, attribute("550403", 0x13, bytes(microsoft.begin(), microsoft.end()))), {{"2.5.4.3", microsoft}}},
        {der(0x30, attribute("550403", 0x0C, {'#', '0', 'c', '0', '2', '4', '1', '4', '2'})), {{"2.5.4.3", "#0c024142"}}},
        {der(0x30, join({two_values, attribute("550406", 0x13, {'R', 'U'})})),
         {{"2.5.4.3", "Alice"}, {"2.5.4.10", "Org"}, {"2.5.4.6", "RU"}}},
        {der(0x30, plus), {{"2.5.4.3", "A + B"}, {"2.5.4.10", "#1"}}},
    };
    for (const auto& [encoded, expected] : names) {
        bytes copy = encoded;
        CERT_NAME_BLOB held{static_cast<DWORD>(copy.size()), copy.data()};
        std::vector<std::pair<std::string, std::string>> read;
        for (const auto& entry : x::parse_rdn_list(&held))
            read.emplace_back(entry.oid, entry.value);
        EXPECT_EQ(read, expected);
    }
}

TEST(ViewerReader, ExtensionTextsDecodedByCryptoApi)
{
    EXPECT_EQ(text_of("2.5.29.15", "03020186"),
              "Цифровая подпись, Подпись ключа сертификата, Автономное подписание списков отзыва (86)");
    EXPECT_EQ(text_of("2.5.29.15", "030100"), " (00)");
    EXPECT_EQ(text_of("2.5.29.15", "0403"), "");
    EXPECT_EQ(text_of("2.5.29.37", "300a06082b06010505070301"), "Проверка подлинности сервера (1.3.6.1.5.5.7.3.1) ");
    EXPECT_EQ(text_of("1.2.643.100.114", "020100"), "При личном присутствии");
    EXPECT_EQ(text_of("1.2.643.100.114", "020102"),
              "Без личного присутствия с использованием персональных данных, записанных на электронный носитель из "
              "заграничного паспорта");
    EXPECT_EQ(text_of("1.2.643.100.114", "0c0141"), "A");  // not an INTEGER: the content as text
    // Key id 01 ff and serial 0102030405 (an odd byte count: the last group has two digits).
    EXPECT_EQ(text_of("2.5.29.35", "300b800201ff82050102030405"),
              "Идентификатор ключа=01 ff Серийный номер сертификата=0102 0304 05");
    // A DNS name, an e-mail address (not shown, but counted) and a second DNS name.
    EXPECT_EQ(text_of("2.5.29.17", "3015820378 2e79810361 4062 820977 2e6b656c766f7261"),
              "[1]DNS имя: x.y [3]DNS имя: w.kelvora ");
    // No decoder for the private key usage period is registered here.
    EXPECT_EQ(text_of("2.5.29.16", "3022800f32303234303330353037303830395a810f32303235303330353037303830395a"), "");
    EXPECT_EQ(text_of("1.2.3.4", "0402abcd"), "04 02 ab cd");
    EXPECT_EQ(text_of("1.2.3.4", "0405abcd"), "");
}

TEST(ViewerReader, NoCertificateNoText)
{
    x::X509Certificate empty;
    EXPECT_FALSE(empty.create_context());
    EXPECT_EQ(empty.to_json(), nullptr);
    x::X509Certificate junk;
    junk.set_encoded({0x30, 0x03, 0x02, 0x01, 0x01});
    EXPECT_FALSE(junk.create_context());
    EXPECT_EQ(junk.to_json(), nullptr);
}

}  // namespace
