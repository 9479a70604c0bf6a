// The certificate viewer's platform-free text forms, as input/output pairs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "crypto/encoding/hex.h"
#include "crypto/util/der_check.h"
#include "crypto/x509reader/display_names.h"
#include "crypto/x509reader/text_forms.h"
#include "crypto/x509reader/tlv.h"
#include "messages/json.h"

namespace {

using crypto::byte_vector;
namespace x = crypto::x509reader;

byte_vector hex(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
    return crypto::hex_decode(text.c_str());
}

std::string hex_of(const byte_vector& bytes)
{
    return crypto::hex_encode(bytes);
}

// DER of tag and content (short or long form length).
byte_vector der(std::uint8_t tag, const byte_vector& content)
{
    byte_vector out{tag};
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<std::uint8_t>(n));
    } else if (n < 0x100) {
        out.insert(out.end(), {0x81, static_cast<std::uint8_t>(n)});
    } else {
        out.insert(out.end(), {0x82, static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

byte_vector text_bytes(const std::string& s)
{
    return byte_vector(s.begin(), s.end());
}

byte_vector concat(std::initializer_list<byte_vector> parts)
{
    byte_vector out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

struct tlv_case {
    const char* input;
    bool readable;
    unsigned tag, length, length_bytes;
    const char* content;
    std::size_t size;
};

TEST(X509Reader, TlvReadsX690LengthsAndNeverPastItsInput)
{
    const tlv_case cases[] = {
        {"04 03 414243", true, 0x04, 3, 0, "414243", 5},
        {"04 03 41424344", true, 0x04, 3, 0, "414243", 5},  // trailing bytes belong to the next triple
        {"04 00", true, 0x04, 0, 0, "", 2},
        {"04 81 03 414243", true, 0x04, 3, 1, "414243", 6},
        {"30 82 0003 414243", true, 0x30, 3, 2, "414243", 7},
        {"30 84 00000003 414243", true, 0x30, 3, 4, "414243", 9},  // four length bytes (0x84 & 3 would be 0)
        {"04 04 414243", false, 0, 0, 0, "", 0},                   // content past the end
        {"04 82 01", false, 0, 0, 0, "", 0},                       // length bytes past the end
        {"04 85 0000000003 414243", false, 0, 0, 0, "", 0},        // more than four length bytes
        {"04 80 414243 0000", false, 0, 0, 0, "", 0},              // indefinite form
        {"30 84 ffffffff 00", false, 0, 0, 0, "", 0},
        {"04", false, 0, 0, 0, "", 0},
        {"", false, 0, 0, 0, "", 0},
    };
    for (const auto& c : cases) {
        x::tlv_record record;
        ASSERT_EQ(x::read_tlv(hex(c.input), record), c.readable) << c.input;
        if (!c.readable)
            continue;
        EXPECT_EQ(record.tag, c.tag) << c.input;
        EXPECT_EQ(record.length, c.length) << c.input;
        EXPECT_EQ(record.length_bytes, c.length_bytes) << c.input;
        EXPECT_EQ(hex_of(record.content), c.content) << c.input;
        EXPECT_EQ(record.size, c.size) << c.input;
    }
    // A sequence stops at its first unreadable triple.
    const byte_vector two = hex("0401aa 0402bbcc 0405dd");
    x::tlv_sequence sequence(two);
    x::tlv_record record;
    std::vector<std::string> contents;
    while (sequence.next(record))
        contents.push_back(hex_of(record.content));
    EXPECT_EQ(contents, (std::vector<std::string>{"AA", "BBCC"}));
}

// Pieces of certificates for the rows of the DER check, as hexadecimal text.
std::string text_hex(std::uint8_t tag, const std::string& text)
{
    return hex_of(der(tag, text_bytes(text)));
}

// A Name of one RDN per value: (attribute type OID content, value DER) pairs.
std::string name_hex(std::initializer_list<std::pair<const char*, std::string>> attributes, bool one_rdn = false)
{
    byte_vector rdns, set;
    for (const auto& [type, value] : attributes) {
        const byte_vector attribute = der(0x30, concat({der(0x06, hex(type)), hex(value)}));
        if (one_rdn)
            set.insert(set.end(), attribute.begin(), attribute.end());
        else
            rdns = concat({rdns, der(0x31, attribute)});
    }
    if (one_rdn)
        rdns = der(0x31, set);
    return hex_of(der(0x30, rdns));
}

std::string validity_hex(const std::string& not_before, const std::string& not_after)
{
    return hex_of(der(0x30, concat({hex(not_before), hex(not_after)})));
}

const std::string sound_validity = validity_hex(text_hex(0x17, "240101000000Z"), text_hex(0x17, "340101000000Z"));
const std::string common_name = name_hex({{"550403", text_hex(0x0c, "Test")}});

// A signed certificate (version 3, or a bare TBSCertificate without one) of
// the given issuer, validity and subject, and extensions given as the DER of
// each extension.
std::string certificate_hex(const std::string& issuer, const std::string& validity, const std::string& subject,
                            std::initializer_list<std::string> extensions = {}, bool bare = false)
{
    byte_vector list;
    for (const auto& extension : extensions)
        list = concat({list, hex(extension)});
    const byte_vector tbs = der(0x30, concat({bare ? byte_vector{} : hex("a0 03 02 01 02"), hex("02 01 01"),
                                              hex("30 03 06 01 2a"), hex(issuer), hex(validity), hex(subject),
                                              hex("30 08 30 03 06 01 2a 03 01 00"),
                                              extensions.size() ? der(0xA3, der(0x30, list)) : byte_vector{}}));
    if (bare)
        return hex_of(tbs);
    return hex_of(der(0x30, concat({tbs, hex("30 03 06 01 2a 03 01 00")})));
}

// A certificate whose notBefore is the time given, its notAfter a sound UTCTime.
std::string not_before_hex(std::uint8_t tag, const std::string& time)
{
    return certificate_hex(common_name, validity_hex(text_hex(tag, time), text_hex(0x17, "340101000000Z")), common_name);
}

// One extension: OID content, optional critical flag, value DER.
std::string extension_hex(const char* oid, const std::string& value, bool critical = false)
{
    return hex_of(der(0x30, concat({der(0x06, hex(oid)), critical ? hex("01 01 ff") : byte_vector{},
                                    der(0x04, hex(value))})));
}

// What the system decodes of the private key usage period: [0] and [1] GeneralizedTimes.
std::string usage_period_hex(const std::string& start, const std::string& end)
{
    return hex_of(der(0x30, concat({der(0x80, text_bytes(start)), der(0x81, text_bytes(end))})));
}

// What the system's decoder must not see: bytes that do not read as DER
// throughout their first element, and BIT STRINGs without their unused-bits
// octet, also the implicitly tagged ones of a certificate (unique identifiers
// [1] and [2] of the TBSCertificate, signed or bare) and of CRL distribution
// points (reasons [1]).
TEST(X509Reader, CertificateBytesAreReadWholeAsDer)
{
    using result = crypto::util::der::check_result;
    constexpr result sound = result::sound, early = result::ends_early, refused = result::refused;
    // A bare TBSCertificate: the decoder reads it when it is not a signed one.
    const std::string bare = "3049020101300b06092a864886f70d01010b3000301e170d3234303130313030303030305a170d33343031"
                             "30313030303030305a30003011300b06092a864886f70d01010b0302000081";
    const std::pair<std::string, result> certificates[] = {
        {"30 0b 30 06 02 01 01 03 01 00 03 01 00", sound},    // empty BIT STRINGs hold their octet
        {"30 0a 30 06 02 01 01 03 01 00 03 00", refused},     // empty signature value
        {"30 0a 30 05 02 01 01 03 00 03 01 00", refused},     // empty key inside the TBSCertificate
        {"30 0c 30 07 02 01 01 03 02 08 00 03 01 00", refused},  // eight unused bits
        {"30 0c 30 07 02 01 01 03 02 07 80 03 01 00", sound},
        {"30 09 30 04 81 02 00 ff 03 01 00", sound},          // issuer unique identifier
        {"30 07 30 02 81 00 03 01 00", refused},
        {"30 07 30 02 82 00 03 01 00", refused},              // subject unique identifier
        {"30 0a 30 02 83 00 a3 04 30 02 82 00", sound},       // other tags, and [2] deeper down
        {"30 09 30 00 30 02 81 00 03 01 00", sound},          // [1] outside the TBSCertificate
        {bare + "00", refused},                               // unsigned, empty [1] and [2]
        {"304a" + bare.substr(4) + "0100", sound},
        {bare.substr(0, bare.size() - 2) + "8200", refused},
        {"30 06 31 04 30 02 23 00", refused},                 // constructed BIT STRINGs are not DER
        {"30 08 31 06 30 04 23 02 03 00", refused},
        // Indefinite lengths are not DER: the decoder follows them, and takes
        // an indefinite primitive whole as algorithm parameters.
        {"30 80 30 80 03 01 00 00 00 00 00", refused},
        {"30 80 30 80 03 00 00 00 00 00", refused},
        {"30 05 03 80 00 00 00", refused},
        {"30 14 30 0f 30 0d 30 80 06 01 2a 05 80 00 00 00 00 03 00 03 01 00", refused},  // before an emptied key
        {"30 80 30 00 30 80 06 01 2a 05 80 00 00 00 00 03 00 00 00", refused},  // before an emptied signature
        {"30 06 04 80 00 00 03 00", refused},
        {"30 06 80 80 00 00 03 00", refused},
        {"30 03 1f 01 00", refused},                          // a tag of more than one byte
        {"30 06 30 04 04 85 00 00", refused},                 // more than four length bytes
        // Every element exactly within its parent and the input.
        {"30 0a 30 03 04 05 00 03 03 00 ff 00", early},
        {"30 07 30 03 04 05 00 03 00", early},
        {"30 04 02 01 01 00", early},
        {"30 05 03 00", early},
        {"30 81", early},
        {"", early},
        {"03 00", refused},
        {"03 01 00 03 00", sound},                            // only the first element counts
        {"04 03 03 00 00", sound},                            // a primitive's content is not read
        // X.690's content rules, in the names and identifiers the decoder
        // reads again after the certificate is made.
        {"30 04 31 02 1e 00", sound},
        {"30 05 31 03 1e 01 41", refused},                    // a BMPString of one octet
        {"30 06 31 04 1e 02 00 41", sound},
        {"30 07 31 05 1c 03 00 00 41", refused},              // a UniversalString of three octets
        {"30 08 31 06 1c 04 00 00 00 41", sound},
        {"30 05 30 03 3e 01 00", refused},                    // constructed BMPString
        {"30 04 30 02 06 00", refused},                       // an empty OBJECT IDENTIFIER
        {"30 06 30 04 06 02 2a 83", refused},                 // its last octet promises more
        {"30 06 30 04 06 02 80 01", refused},                 // a subidentifier starting with 0x80
        {"30 07 30 05 06 03 2a 80 01", refused},
        {"30 07 30 05 06 03 2a 81 00", sound},                // 0x80 inside a subidentifier
        {"30 05 30 03 26 01 00", refused},                    // constructed OBJECT IDENTIFIER
        {"30 05 30 03 01 01 ff", sound},
        {"30 06 30 04 01 02 ff ff", refused},                 // a BOOLEAN of two octets
        {"30 04 30 02 01 00", refused},
        {"30 05 30 03 05 01 00", refused},                    // a NULL with content
        {"30 04 30 02 02 00", refused},                       // an empty INTEGER
        {"30 04 30 02 0a 00", refused},                       // an empty ENUMERATED
        // Times in DER's one form: YYMMDDHHMMSSZ, YYYYMMDDHHMMSS[.f]Z.
        {certificate_hex(common_name, sound_validity, common_name), sound},
        {certificate_hex(common_name, sound_validity, common_name, {}, true), sound},
        {certificate_hex(common_name, validity_hex(text_hex(0x17, "240101000000Z"), text_hex(0x17, "300101000000+2359")),
                         common_name), refused},               // a zone offset
        {not_before_hex(0x17, "200101120000-0100"), refused},
        {certificate_hex(common_name, validity_hex(text_hex(0x17, "200101120000-0100"), text_hex(0x17, "340101000000Z")),
                         common_name, {}, true), refused},     // also in a bare TBSCertificate
        {not_before_hex(0x17, "2401010000Z"), refused},  // no seconds
        {not_before_hex(0x17, "240101000000"), refused},  // no zone
        {not_before_hex(0x17, "240101000000z"), refused},
        {not_before_hex(0x17, "24010100000AZ"), refused},
        {not_before_hex(0x17, " 40101000000Z"), refused},
        {certificate_hex(common_name, validity_hex(text_hex(0x18, "20240101000000Z"), text_hex(0x18, "99991231235959Z")),
                         common_name), sound},
        {certificate_hex(common_name, validity_hex(text_hex(0x18, "20240101000000.5Z"),
                                                   text_hex(0x18, "20340101000000.123Z")), common_name), sound},
        {not_before_hex(0x18, "20240101000000.50Z"), refused},  // a fraction's trailing zero
        {not_before_hex(0x18, "20240101000000.0Z"), refused},
        {not_before_hex(0x18, "20240101000000.Z"), refused},
        {not_before_hex(0x18, "20240101000000,5Z"), refused},
        {not_before_hex(0x18, "20240101000000+0300"), refused},
        {not_before_hex(0x18, "202401010000Z"), refused},
        {not_before_hex(0x18, "20240101000000"), refused},
        {not_before_hex(0x18, "2024010100000Z"), refused},
        // Every field within the calendar's ranges.
        {not_before_hex(0x17, "241301000000Z"), refused},  // month 13
        {not_before_hex(0x17, "240001000000Z"), refused},
        {not_before_hex(0x17, "240100000000Z"), refused},  // day 0
        {not_before_hex(0x17, "240431000000Z"), refused},  // 31 April
        {certificate_hex(common_name, validity_hex(text_hex(0x17, "240229000000Z"), text_hex(0x17, "000229235959Z")),
                         common_name), sound},                 // leap years 2024 and 2000
        {not_before_hex(0x17, "230229000000Z"), refused},
        {not_before_hex(0x17, "500229000000Z"), refused},  // 1950
        {not_before_hex(0x18, "21000229000000Z"), refused},
        {not_before_hex(0x17, "240101240000Z"), refused},  // hour 24
        {not_before_hex(0x17, "240101006000Z"), refused},
        {not_before_hex(0x17, "240101000060Z"), refused},  // a leap second
        {"30 05 30 03 37 01 00", refused},                    // a constructed UTCTime
        {"30 05 30 03 38 01 00", refused},
        {"30 11 30 0f 17 0d 32 34 30 31 30 31 30 30 30 30 30 30 5a", sound},  // any time the check reads
        {"30 0f 30 0d 17 0b 32 34 30 31 30 31 30 30 30 30 5a", refused},
        // No NUL character in a string value of the issuer or the subject.
        {certificate_hex(common_name, sound_validity,
                         name_hex({{"550403", text_hex(0x16, std::string("Ivanov Ivan\0 (attacker)", 23))},
                                   {"55040a", text_hex(0x0c, "Hidden Org")}})), refused},
        {certificate_hex(name_hex({{"550403", text_hex(0x0c, std::string("a\0", 2))}}), sound_validity, common_name),
         refused},
        {certificate_hex(common_name, sound_validity,
                         name_hex({{"550403", text_hex(0x13, std::string("\0", 1))}}), {}, true), refused},
        {certificate_hex(common_name, sound_validity, name_hex({{"550403", "1e 04 00 41 00 00"}})), refused},
        {certificate_hex(common_name, sound_validity, name_hex({{"550403", "1e 04 41 00 00 41"}})), sound},
        {certificate_hex(common_name, sound_validity, name_hex({{"550403", "1c 08 00 00 00 41 00 00 00 00"}})),
         refused},
        {certificate_hex(common_name, sound_validity, name_hex({{"550403", "1c 08 00 00 41 00 00 41 00 00"}})), sound},
        {certificate_hex(common_name, sound_validity,
                         name_hex({{"550403", text_hex(0x0c, "Alice")}, {"55040a", text_hex(0x0c, std::string("\0", 1))}},
                                  true)), refused},            // in an RDN of two values
        {certificate_hex(common_name, sound_validity, name_hex({{"550403", "04 01 00"}})), sound},  // not a string
        {certificate_hex(common_name, sound_validity, name_hex({{"550403", text_hex(0x0c, "Test")}}),
                         {extension_hex("2a03", "0c 01 00")}), sound},  // not in a name
        // The values of the extensions the system decodes: their times and names.
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d11", hex_of(der(0x30, der(0x82, text_bytes(std::string("a.example\0.b", 12))))))}),
         refused},
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d11", hex_of(der(0x30, der(0x82, text_bytes("a.example")))), true)}),
         sound},
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d11", hex_of(der(0x30, der(0x82, text_bytes(std::string("a\0", 2))))), true)}),
         refused},
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d11", hex_of(der(0x30, der(0xA4, hex(name_hex(
                             {{"550403", text_hex(0x16, std::string("Ivanov\0", 7))}}))))))}), refused},
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d23", hex_of(der(0x30, concat({hex("80 01 01"), der(0xA1, der(0xA4, hex(name_hex(
                             {{"550403", text_hex(0x0c, std::string("x\0", 2))}}))))}))))}), refused},
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d1f", hex_of(der(0x30, der(0x30, der(0xA0, der(0xA0, der(0x86,
                             text_bytes(std::string("http://a\0", 9)))))))))}), refused},
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d10", usage_period_hex("20240101000000Z", "20340101000000Z"))}), sound},
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d10", usage_period_hex("20240101000000Z", "20340101000000+0300"))}), refused},
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d10", hex_of(der(0x30, der(0x18, text_bytes("203401010000Z")))))}), refused},
        // Other faults of such a value are its own check's: the certificate reads.
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d11", "30 0a 88 02 2a 03 82 02 61 00 a4 00")}), sound},
        {certificate_hex(common_name, sound_validity, common_name, {extension_hex("551d11", "30 03 1e 01 41")}), sound},
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("2a03", usage_period_hex("x", "y"))}), sound},  // an extension not decoded
        {certificate_hex(common_name, sound_validity, common_name,
                         {extension_hex("551d0f", "03 02 07 80"), extension_hex("551d11", "30 03 82 01 00")}), refused},
    };
    for (const auto& [input, expected] : certificates) {
        const byte_vector bytes = hex(input);
        EXPECT_EQ(crypto::util::der::check_certificate(bytes.data(), bytes.size()), expected) << input;
    }
    const std::tuple<const char*, std::string, result> extensions[] = {
        {"2.5.29.31", "30 08 30 06 a0 02 81 00 81 00", refused},  // empty reasons
        {"2.5.29.31", "30 09 30 07 a0 02 81 00 81 01 00", sound},
        {"2.5.29.17", "30 08 a0 06 a0 02 81 00 81 00", sound},    // no reasons there
        {"2.5.29.31", "30 06 30 04 a0 02 81 00", sound},          // rfc822Name [1] deeper down
        {"2.5.29.15", "03 00", refused},
        {"2.5.29.17", "30 80 82 01 61 00 00", refused},
        {"1.2.643.100.114", "02 01 01", sound},
        {"1.2.643.100.114", "02 00", refused},
        {nullptr, "02 01 01", refused},                          // a structure not known here
        {"1.2.3", "30 00", refused},
        // The value is one element, with its structure's outer tag.
        {"2.5.29.17", "04 07 82 84 00 00 00 02 41", refused},
        {"2.5.29.17", "30 03 82 01 41", sound},
        {"2.5.29.17", "30 03 82 01 41 00", refused},
        {"2.5.29.37", "30 0a 06 08 2b 06 01 05 05 07 03 02", sound},
        {"2.5.29.37", "31 0a 06 08 2b 06 01 05 05 07 03 02", refused},
        {"2.5.29.37", "30 0c 06 08 2b 06 01 05 05 07 03 02 06 00", refused},
        {"2.5.29.37", "30 80 06 08 2b 06 01 05 05 07 03 02", refused},
        {"2.5.29.37", "30 0a 06 09 2b 06 01 05 05 07 03 02", early},
        {"2.5.29.15", "02 01 80", refused},
        {"2.5.29.15", "03 02 07 80", sound},
        // A registeredID among general names, and only there.
        {"2.5.29.17", "30 11 88 02 2a 03 82 0b 65 78 61 6d 70 6c 65 2e 6f 72 67", refused},
        {"2.5.29.18", "30 04 88 02 2a 03", refused},
        {"2.5.29.17", "30 09 a0 07 06 01 2a a0 02 88 00", sound},  // inside an other name's value
        {"2.5.29.17", "30 08 a4 06 30 04 31 02 88 00", sound},    // nor in a directory name
        {"2.5.29.17", "30 0b a4 09 30 07 31 05 30 03 06 01 2a", sound},
        {"2.5.29.17", "30 0c a4 0a 30 08 31 06 30 04 06 00 1e 00", refused},
        {"2.5.29.17", "30 0d a4 0b 30 09 31 07 30 05 06 01 2a 1e 01", early},
        {"2.5.29.17", "30 0e a4 0c 30 0a 31 08 30 06 06 01 2a 1e 01 41", refused},
        {"2.5.29.17", "30 02 a8 00", refused},
        {"2.5.29.17", "30 02 08 00", refused},                    // only context tags name
        {"2.5.29.17", "30 02 30 00", refused},
        {"2.5.29.17", "30 0e 84 0c 30 0a 31 08 30 06 06 01 2a 1e 01 41", refused},  // an unread directory name
        {"2.5.29.17", "30 04 a2 02 04 00", refused},              // a constructed DNS name
        {"2.5.29.17", "30 04 80 02 06 00", refused},              // a primitive other name
        {"2.5.29.17", "30 0b 81 01 61 86 01 62 87 01 63 a5 00", sound},
        {"2.5.29.35", "30 08 80 02 ab cd a1 02 88 00", refused},  // the authority's issuer
        {"2.5.29.35", "30 08 80 02 ab cd 82 02 88 00", sound},    // its serial is no name
        {"2.5.29.31", "30 0a 30 08 a0 06 a0 04 88 02 2a 03", refused},  // a full name
        {"2.5.29.31", "30 08 30 06 a2 04 88 02 2a 03", refused},        // a CRL issuer
        {"2.5.29.31", "30 0a 30 08 a0 06 a1 04 88 02 2a 03", sound},    // not general names
        {"2.5.29.31", "30 0b 30 09 a0 07 a0 05 86 03 61 62 63", sound},
        // No NUL character in a string general name or a directory name.
        {"2.5.29.17", "30 03 82 01 00", refused},
        {"2.5.29.17", "30 05 81 03 61 00 62", refused},
        {"2.5.29.17", "30 05 86 03 61 62 00", refused},
        {"2.5.29.17", "30 06 87 04 0a 00 00 01", sound},          // an IP address holds no text
        {"2.5.29.17", "30 0b a0 09 06 01 2a a0 04 0c 02 61 00", sound},  // nor does an other name here
        {"2.5.29.17", "30 10 a4 0e 30 0c 31 0a 30 08 06 03 55 04 03 16 01 00", refused},
        {"2.5.29.17", "30 10 a4 0e 30 0c 31 0a 30 08 06 03 55 04 03 16 01 41", sound},
        {"2.5.29.18", "30 03 82 01 00", refused},
        {"2.5.29.35", "30 07 80 01 01 a1 02 82 00", sound},
        {"2.5.29.35", "30 08 80 01 01 a1 03 82 01 00", refused},
        {"2.5.29.35", "30 08 80 01 01 82 03 04 01 00", sound},    // a serial number holds no text
        {"2.5.29.31", "30 0b 30 09 a0 07 a0 05 86 03 61 00 63", refused},
        {"2.5.29.31", "30 0a 30 08 a2 06 a4 04 30 02 31 00", sound},
        // The private key usage period's GeneralizedTimes, and any time.
        {"2.5.29.16", usage_period_hex("20240305070809Z", "20250305070809Z"), sound},
        {"2.5.29.16", hex_of(der(0x30, der(0x81, text_bytes("20250305070809Z")))), sound},
        {"2.5.29.16", usage_period_hex("20240305070809+0300", "20250305070809Z"), refused},
        {"2.5.29.16", usage_period_hex("20240305070809Z", "250305070809Z"), refused},
        {"2.5.29.16", usage_period_hex("20240305070809.10Z", "20250305070809Z"), refused},
        {"2.5.29.16", hex_of(der(0x30, der(0x17, text_bytes("250305070809+0100")))), refused},
        {"2.5.29.32", hex_of(der(0x30, der(0x18, text_bytes("20250305070809")))), refused},
        {"2.5.29.16", hex_of(der(0x30, der(0x82, text_bytes("20250305070809+0100")))), sound},  // no time there
    };
    for (const auto& [oid, input, expected] : extensions) {
        const byte_vector bytes = hex(input);
        EXPECT_EQ(crypto::util::der::check_extension(oid, bytes.data(), bytes.size()), expected) << input;
    }
    // The key bits the key import decodes: one element, RSAPublicKey for RSA.
    const std::tuple<const char*, const char*, result> keys[] = {
        {"1.2.840.113549.1.1.1", "30 06 02 01 05 02 01 03", sound},
        {"1.2.840.113549.1.1.1", "30 06 02 01 05 02 01 03 00", refused},
        {"1.2.840.113549.1.1.1", "30 06 02 01 05 02 05 03", early},
        {"1.2.840.113549.1.1.1", "30 05 02 00 02 01 03", refused},
        {"1.2.840.113549.1.1.1", "04 02 ab cd", refused},
        {"1.2.643.7.1.1.1.1", "04 02 ab cd", sound},
        {"1.2.643.7.1.1.1.1", "04 03 ab cd", early},
        {nullptr, "30 84 00 00 00 02 02 00", refused},
    };
    for (const auto& [oid, input, expected] : keys) {
        const byte_vector bytes = hex(input);
        EXPECT_EQ(crypto::util::der::check_public_key(oid, bytes.data(), bytes.size()), expected) << input;
    }
    // Nesting: as deep as 64 levels, no deeper.
    byte_vector deep;
    for (int i = 0; i < 64; ++i)
        deep = der(0x30, deep);
    EXPECT_EQ(crypto::util::der::check_certificate(deep.data(), deep.size()), sound);
    deep = der(0x30, deep);
    EXPECT_EQ(crypto::util::der::check_certificate(deep.data(), deep.size()), refused);
}

TEST(X509Reader, OidTextReadsArcsIn64Bits)
{
    const std::pair<const char*, const char*> cases[] = {
        {"550403", "2.5.4.3"},
        {"2a864886f70d010901", "1.2.840.113549.1.9.1"},
        {"2a8503646f", "1.2.643.100.111"},
        {"2b0601040182371507", "1.3.6.1.4.1.311.21.7"},
        {"00", "0.0"},
        {"27", "0.39"},
        {"28", "1.0"},
        {"4f", "1.39"},
        {"50", "2.0"},
        {"8837", "2.999"},
        {"2a 9080808000", "1.2.4294967296"},                               // past 32 bits, not wrapped
        {"2a 81ffffffffffffffff7f", "1.2.18446744073709551615"},           // the largest 64-bit arc
        {"2a 82808080808080808000", ""},                                   // 2^64 does not fit
        {"2a 8085", ""},                                                   // last arc cut short
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(x::oid_to_text(hex(c.first)), c.second) << c.first;
    EXPECT_EQ(x::oid_to_text(nullptr, 3), "");
}

TEST(X509Reader, RussianDates)
{
    EXPECT_EQ(x::format_date_ru(2024, 3, 5, 7, 8, 9), "5 марта 2024 г. 07:08:09 UTC");
    EXPECT_EQ(x::format_date_ru(1999, 12, 31, 23, 59, 59), "31 декабря 1999 г. 23:59:59 UTC");
    EXPECT_EQ(x::format_date_ru(2050, 1, 1, 0, 0, 0), "1 января 2050 г. 00:00:00 UTC");
    EXPECT_EQ(x::format_date_ru(812, 6, 15, 1, 2, 3), "15 июня 0812 г. 01:02:03 UTC");
    const char* months[] = {"января", "февраля", "марта", "апреля", "мая", "июня",
                            "июля", "августа", "сентября", "октября", "ноября", "декабря"};
    for (unsigned m = 1; m <= 12; ++m)
        EXPECT_EQ(x::format_date_ru(2000, m, 2, 0, 0, 0), std::string("2 ") + months[m - 1] + " 2000 г. 00:00:00 UTC");
    EXPECT_EQ(x::format_date_ru(2024, 0, 5, 7, 8, 9), "");
    EXPECT_EQ(x::format_date_ru(2024, 13, 5, 7, 8, 9), "");
}

TEST(X509Reader, HexadecimalFormsShowEveryByte)
{
    auto serial = [](const char* h) { const auto b = hex(h); return x::serial_number_text(b.data(), b.size()); };
    EXPECT_EQ(serial("ffa201"), "01 A2 FF");
    EXPECT_EQ(serial("00"), "00");
    EXPECT_EQ(serial(""), "");

    auto lower = [](const byte_vector& b) { return x::tlv_lower_text(b.data(), b.size()); };
    EXPECT_EQ(lower(hex("0402abcd")), "04 02 ab cd");
    EXPECT_EQ(lower(hex("0500")), "05 00");
    EXPECT_EQ(lower(hex("0403abcd")), "");
    EXPECT_EQ(lower(der(0x04, byte_vector(130, 0x11))).substr(0, 14), "04 82 11 11 11");
    const std::string long_form = lower(der(0x04, byte_vector(300, 0xEE)));
    EXPECT_EQ(long_form.substr(0, 11), "04 012c ee ");
    EXPECT_EQ(long_form.size(), 7 + 300 * 3u);

    auto key = [](const byte_vector& b) { return x::key_value_text(b.data(), b.size()); };
    EXPECT_EQ(key(hex("0403abcdef")), "0403 ABCD EF");  // the odd last byte is shown
    EXPECT_EQ(key(hex("0402abcd")), "0402 ABCD");
    EXPECT_EQ(key(hex("0400")), "0400");
    EXPECT_EQ(key(hex("0405abcd")), "");
    EXPECT_EQ(key(der(0x30, byte_vector(270, 0x01))).substr(0, 16), "30010E 0101 0101");

    auto list = [](const char* h) { const auto b = hex(h); return x::byte_list_text(b.data(), b.size()); };
    EXPECT_EQ(list("abcdef"), "ab cd ef");
    EXPECT_EQ(list(""), "");

    auto authority = [](const char* h) { const auto b = hex(h); return x::authority_serial_text(b.data(), b.size()); };
    EXPECT_EQ(authority("0504030201"), "0102 0304 05");  // an odd first byte is a group of two digits
    EXPECT_EQ(authority("04030201"), "0102 0304");
    EXPECT_EQ(authority("01"), "01");
    EXPECT_EQ(authority(""), "");

    EXPECT_EQ(x::signature_value_text(hex("abcdef")), "ABCD EF ");
    EXPECT_EQ(x::signature_value_text(hex("0102")), "0102 ");
}

// The name text's attributes with the value tags of an encoded name, as (OID, value) pairs.
std::vector<std::pair<std::string, std::string>> rdn(const std::string& text, const std::string& tags_hex)
{
    const std::unique_ptr<crypto::wide_char[]> wide(crypto::utf8_to_wide(text.c_str()));
    std::vector<std::pair<std::string, std::string>> out;
    const byte_vector tags = hex(tags_hex);
    for (const auto& entry : x::parse_rdn_text(wide.get(), std::vector<std::uint8_t>(tags.begin(), tags.end())))
        out.emplace_back(entry.oid, entry.value);
    return out;
}

TEST(X509Reader, NameTextsSplitIntoAttributes)
{
    using list = std::vector<std::pair<std::string, std::string>>;
    // Text, the tags of the values as the encoded name holds them, entries.
    const std::tuple<const char*, const char*, list> cases[] = {
        {"2.5.4.3=Test, 2.5.4.6=RU", "13 13", {{"2.5.4.3", "Test"}, {"2.5.4.6", "RU"}}},
        {"2.5.4.3=\"Say \"\"hi\"\", all\"", "0c", {{"2.5.4.3", "Say \"hi\", all"}}},
        // A value of no string type, written as "#" and hexadecimal digits.
        {"2.5.4.3=\"#0c03414243\"", "04", {{"2.5.4.3", "ABC"}}},  // a TLV in hexadecimal
        {"2.5.4.3=\"#0C03414243\"", "04", {{"2.5.4.3", "ABC"}}},  // upper-case digits too
        {"2.5.4.3=\"#1e0404100430\"", "30", {{"2.5.4.3", "Аа"}}},  // BMPString content
        {"2.5.4.3=\"#0c054142\"", "04", {{"2.5.4.3", ""}}},       // length past the digits
        {"2.5.4.3=\"#0c0341424344zz\"", "04", {{"2.5.4.3", "ABC"}}},  // digits end at a non-digit
        {"2.5.4.3=\"#zz\"", "04", {{"2.5.4.3", "#zz"}}},          // no digit: the raw value
        {"2.5.4.3=#0c03414243", "04", {{"2.5.4.3", "#0c03414243"}}},  // not quoted: the raw value
        // A string value is that string, whatever it starts with.
        {"2.5.4.3=\"#0C094D6963726F736F6674\"", "13", {{"2.5.4.3", "#0C094D6963726F736F6674"}}},
        {"2.5.4.3=\"#1E10\u0421\"", "0c", {{"2.5.4.3", "#1E10С"}}},
        {"2.5.4.3=\"#0c03414243\"", "1e", {{"2.5.4.3", "#0c03414243"}}},
        {"2.5.4.3=\"#0c03414243\"", "1c", {{"2.5.4.3", "#0c03414243"}}},
        {"2.5.4.3=\"#0c03414243\", 2.5.4.10=\"#0c03414243\"", "16 04",
         {{"2.5.4.3", "#0c03414243"}, {"2.5.4.10", "ABC"}}},
        // Each attribute of an RDN is an entry of its own, in the name's order.
        {"2.5.4.3=Alice + 2.5.4.10=Org", "0c 0c", {{"2.5.4.3", "Alice"}, {"2.5.4.10", "Org"}}},
        {"2.5.4.3=Alice + 2.5.4.10=Org, 2.5.4.6=RU + 2.5.4.7=X + 2.5.4.8=Y", "0c 0c 13 0c 0c",
         {{"2.5.4.3", "Alice"}, {"2.5.4.10", "Org"}, {"2.5.4.6", "RU"}, {"2.5.4.7", "X"}, {"2.5.4.8", "Y"}}},
        // A value that holds "+" is quoted, and stays whole.
        {"2.5.4.3=\"Alice + Bob\" + 2.5.4.10=Org", "0c 0c", {{"2.5.4.3", "Alice + Bob"}, {"2.5.4.10", "Org"}}},
        {"2.5.4.3=\"a \"\" + b\" + 2.5.4.10=\"+\"", "0c 0c", {{"2.5.4.3", "a \" + b"}, {"2.5.4.10", "+"}}},
        {"2.5.4.3=a+b", "0c", {{"2.5.4.3", "a+b"}}},                // only " + " joins attributes
        {"2.5.4.3=  + 2.5.4.10=", "0c 0c", {{"2.5.4.3", ""}, {"2.5.4.10", ""}}},
        {"noequals, 2.5.4.3=X", "13", {{"2.5.4.3", "X"}}},
        {"  2.5.4.3 =  spaced ", "13", {{"2.5.4.3", "spaced "}}},
        {"2.5.4.3=\"a,b\", 1.2.643.3.131.1.1=7700", "0c 12", {{"2.5.4.3", "a,b"}, {"1.2.643.3.131.1.1", "7700"}}},
        {"2.5.4.3=", "04", {{"2.5.4.3", ""}}},
        {"", "", {}},
        // Text and encoded name that do not agree show nothing.
        {"2.5.4.3=Alice + 2.5.4.10=Org", "0c", {}},
        {"2.5.4.3=Alice", "0c 0c", {}},
        {"2.5.4.3=Alice", "", {}},
    };
    for (const auto& [text, tags, entries] : cases)
        EXPECT_EQ(rdn(text, tags), entries) << text;
    EXPECT_TRUE(x::parse_rdn_text(nullptr, {}).empty());

    // The tags of an encoded name's values, in its order.
    const std::tuple<const char*, bool, const char*> encoded_names[] = {
        {"30 00", true, ""},
        {"30 0d 31 0b 30 09 06 03 55 04 03 13 02 41 42", true, "13"},
        {"30 14 31 12 30 07 06 03 55 04 03 0c 00 30 07 06 03 55 04 0a 04 00", true, "0c 04"},
        {"30 12 31 07 30 05 06 01 2a 1e 00 31 07 30 05 06 01 2a 02 00", true, "1e 02"},
        {"30 02 31 00", true, ""},
        {"30 04 31 02 30 00", false, ""},                            // no type
        {"30 05 31 03 30 01 06", false, ""},                         // cut short
        {"30 07 31 05 30 03 06 01 2a", false, ""},                   // no value
        {"30 0b 31 09 30 07 06 01 2a 0c 00 0c 00", false, ""},       // a third element
        {"30 07 30 05 30 03 06 01 2a", false, ""},                   // an RDN that is no SET
        {"30 04 31 02 04 00", false, ""},                            // an attribute that is no SEQUENCE
        {"31 00", false, ""},
        {"30 00 00", false, ""},                                     // bytes after the name
        {"30 80 00 00", false, ""},
        {"", false, ""},
    };
    for (const auto& [input, readable, tags] : encoded_names) {
        const byte_vector bytes = hex(input);
        std::vector<std::uint8_t> read;
        EXPECT_EQ(x::name_value_tags(bytes.data(), bytes.size(), read), readable) << input;
        const byte_vector expected = hex(tags);
        EXPECT_EQ(read, std::vector<std::uint8_t>(expected.begin(), expected.end())) << input;
    }
    std::vector<std::uint8_t> none;
    EXPECT_FALSE(x::name_value_tags(nullptr, 0, none));

    const x::rdn_list names = {{"2.5.4.3", "Test"}, {"1.2.643.3.131.1.1", "7700"}, {"1.2.3", "x"}};
    EXPECT_EQ(x::rdn_list_to_text(names), "CN=Test ИНН=7700 1.2.3=x");
    EXPECT_EQ(x::rdn_list_to_text({}), "");
}

TEST(X509Reader, JsonEscapingIsCompleteAndCleansUtf8)
{
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"a\"b\\c", "a\\\"b\\\\c"},
        {"line\nfeed\ttab", "line\\u000afeed\\u0009tab"},
        {std::string("nul\0x", 5), "nul\\u0000x"},
        {"\x01\x1f\x7f", "\\u0001\\u001f\\u007f"},
        {"Жук €", "Жук €"},
        {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {"caf\xE9", "caf\xEF\xBF\xBD"},                               // Latin-1
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                     // overlong
        {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},     // surrogate
        {"\xE2\x82", "\xEF\xBF\xBD\xEF\xBF\xBD"},                     // cut short
        {"/", "/"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(x::json_escape(c.first), c.second) << c.first;
}

TEST(X509Reader, ExtensionTextsReadByTlv)
{
    EXPECT_EQ(x::key_usage_text(hex("f0").data(), 1),
              "Цифровая подпись, Неотрекаемость, Шифрование ключей, Шифрование данных (f0)");
    EXPECT_EQ(x::key_usage_text(hex("86").data(), 1),
              "Цифровая подпись, Подпись ключа сертификата, Автономное подписание списков отзыва (86)");
    EXPECT_EQ(x::key_usage_text(hex("0980").data(), 2), "Согласование ключей, Только шифрование (09)");
    EXPECT_EQ(x::key_usage_text(nullptr, 0), " (00)");

    EXPECT_EQ(x::subject_key_id_text(hex("0403aabbcc")), "aa bb cc");
    EXPECT_EQ(x::subject_key_id_text(hex("0405aabbcc")), "");

    const byte_vector ocsp = der(0x30, concat({der(0x06, hex("2b06010505073001")), der(0x86, text_bytes("http://o"))}));
    const byte_vector issuers = der(0x30, concat({der(0x06, hex("2b06010505073002")), der(0x86, text_bytes("http://c"))}));
    const byte_vector other = der(0x30, concat({der(0x06, hex("2a03")), der(0x86, text_bytes("x"))}));
    EXPECT_EQ(x::authority_info_access_text(der(0x30, concat({ocsp, issuers, other}))),
              "[1]Метод доступа=Протокол определения состояния сертификата через сеть URL=http://o "
              "[2]Метод доступа=Поставщик центра сертификации URL=http://c [3]Метод доступа=1.2.3 URL=x ");
    byte_vector cut = der(0x30, concat({ocsp, issuers}));
    cut[1] = static_cast<std::uint8_t>(cut[1] + 1);
    EXPECT_EQ(x::authority_info_access_text(cut), "");

    EXPECT_EQ(x::tlv_string_text(der(0x0c, text_bytes("КриптоСредство"))), "КриптоСредство");
    EXPECT_EQ(x::tlv_string_text(hex("0c05 4142")), "");

    const auto strings = [](std::initializer_list<const char*> items) {
        byte_vector content;
        for (const char* s : items) {
            const auto one = der(0x0c, text_bytes(s));
            content.insert(content.end(), one.begin(), one.end());
        }
        return der(0x30, content);
    };
    EXPECT_EQ(x::issuer_tools_text(strings({"A", "B", "C", "D"})),
              "Средство электронной подписи: A Заключение на средство ЭП: B Средство УЦ: C Заключение на средство УЦ: D");
    EXPECT_EQ(x::issuer_tools_text(strings({"A", "B"})), "Средство электронной подписи: A Заключение на средство ЭП: B ");
    EXPECT_EQ(x::issuer_tools_text(strings({})), "Средство электронной подписи:  ");
    EXPECT_EQ(x::issuer_tools_text(hex("3004 0c0541")), "");

    EXPECT_EQ(x::restricted_use_text(der(0x30, strings({"http://x/l", "Система"}))),
              "Ограниченная лицензия на Крипто-Про CSP для использования с закрытым ключом данного сертификата в рамках "
              "системы \"Система\", полный текст доступен по адресу http://x/l");
    EXPECT_EQ(x::restricted_use_text(der(0x30, strings({"only one"}))), "");
    EXPECT_EQ(x::restricted_use_text(hex("3003 3005")), "");

    EXPECT_EQ(x::certificate_template_text(der(0x30, concat({der(0x06, hex("2a030405")), hex("020164")}))),
              "Идентификатор шаблона = 1.2.3.4.5 ");
    EXPECT_EQ(x::certificate_template_text(der(0x30, der(0x06, hex("2a82808080808080808000")))), "");
    EXPECT_EQ(x::certificate_template_text(hex("3005 0603")), "");

    EXPECT_EQ(x::identification_kind_text(0), "При личном присутствии");
    EXPECT_EQ(x::identification_kind_text(3), "Без личного присутствия с использованием сведений из ЕСИА и ЕБС");
    EXPECT_EQ(x::identification_kind_text(4), "");
    EXPECT_EQ(x::identification_kind_text(-1), "");
}

TEST(X509Reader, SignatureIsTheLast64BytesReversed)
{
    byte_vector signature_content{0x00};
    for (int i = 0; i < 128; ++i)
        signature_content.push_back(static_cast<std::uint8_t>(i));
    const byte_vector signed_part = der(0x30, hex("020101"));
    const byte_vector algorithm = der(0x30, der(0x06, hex("2a85030701010303")));
    const byte_vector certificate = der(0x30, concat({signed_part, algorithm, der(0x03, signature_content)}));
    x::signature_part signature;
    ASSERT_TRUE(x::read_signature(certificate.data(), certificate.size(), signature));
    EXPECT_EQ(signature.oid, "1.2.643.7.1.1.3.3");
    ASSERT_EQ(signature.reversed.size(), 64u);
    EXPECT_EQ(signature.reversed.front(), 127);
    EXPECT_EQ(signature.reversed.back(), 64);

    // A short signature keeps its unused-bits byte, last.
    const byte_vector small = der(0x30, concat({signed_part, algorithm, der(0x03, hex("00abcd"))}));
    ASSERT_TRUE(x::read_signature(small.data(), small.size(), signature));
    EXPECT_EQ(hex_of(signature.reversed), "CDAB00");

    const byte_vector unreadable[] = {
        der(0x30, concat({signed_part, algorithm})),  // nothing after the algorithm
        der(0x30, signed_part),
        byte_vector(certificate.begin(), certificate.end() - 1),  // cut short
        hex("3084ffffffff"),
        {},
    };
    for (const auto& bytes : unreadable)
        EXPECT_FALSE(x::read_signature(bytes.data(), bytes.size(), signature)) << hex_of(bytes);
}

TEST(X509Reader, DisplayTables)
{
    std::vector<std::string> keys;
    for (const auto* row = x::oid_display_names; row->oid; ++row)
        keys.push_back(row->oid);
    ASSERT_EQ(keys.size(), 166u);
    const std::vector<std::pair<std::size_t, std::string>> positions = {
        {0, "2.5.4.3"}, {12, "1.2.643.3.131.1.1"}, {35, "1.2.643.6.7"}, {59, "1.2.643.5.1.24.2.1.3"},
        {85, "1.3.6.1.5.5.7.48.1"}, {108, "1.2.643.3.227.6.1"}, {143, "1.2.643.3.227.6.36"},
        {144, "1.2.643.3.227.8.1"}, {165, "1.2.643.3.4.3.3.2"}};
    for (const auto& p : positions)
        EXPECT_EQ(keys[p.first], p.second) << p.first;
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), 166u);

    const std::pair<const char*, const char*> texts[] = {
        {"2.5.4.3", "CN"}, {"1.2.840.113549.1.9.2", "UN"}, {"1.2.643.100.5", "ОГРНИП"},
        {"1.2.643.100.113.6", "Класс средства ЭП КА1"},
        {"1.2.643.3.227.6.1", "Срок действия сертификата 1 месяц"},
        {"1.2.643.3.227.6.4", "Срок действия сертификата 4 месяца"},
        {"1.2.643.3.227.6.5", "Срок действия сертификата 5 месяцев"},
        {"1.2.643.3.227.6.11", "Срок действия сертификата 11 месяцев"},
        {"1.2.643.3.227.6.12", "Срок действия сертификата 12 месяцев"},
        {"1.2.643.3.227.6.21", "Срок действия сертификата 21 месяц"},
        {"1.2.643.3.227.6.22", "Срок действия сертификата 22 месяца"},
        {"1.2.643.3.227.6.25", "Срок действия сертификата 25 месяцев"},
        {"1.2.643.3.227.6.31", "Срок действия сертификата 31 месяц"},
        {"1.2.643.3.227.6.34", "Срок действия сертификата 34 месяца"},
        {"1.2.643.3.227.6.36", "Срок действия сертификата 36 месяцев"},
        {"1.3.6.1.5.5.7.48.2", "Поставщик центра сертификации"},
        {"9.9.9", "9.9.9"},
    };
    for (const auto& t : texts)
        EXPECT_EQ(x::display_name(x::oid_display_names, t.first), t.second);
    for (std::size_t i = 0; i < keys.size(); ++i)  // every row has a text of its own
        EXPECT_NE(x::display_name(x::oid_display_names, keys[i]), keys[i]) << keys[i];

    int extensions = 0, algorithms = 0;
    for (const auto* row = x::extension_names; row->oid; ++row)
        ++extensions;
    for (const auto* row = x::algorithm_names; row->oid; ++row)
        ++algorithms;
    EXPECT_EQ(extensions, 14);
    EXPECT_EQ(algorithms, 14);
    EXPECT_EQ(x::display_name(x::extension_names, "2.5.29.17"), "Дополнительное имя субъекта");
    EXPECT_EQ(x::display_name(x::algorithm_names, "1.2.643.7.1.1.3.3"), "ГОСТ Р 34.11/34.10-2012-512");
    EXPECT_EQ(x::display_name(x::algorithm_names, "1.2.840.113549.1.1.11"), "1.2.840.113549.1.1.11");
}

TEST(X509Reader, CertificateJsonTemplate)
{
    x::certificate_view view;
    view.version_field = 2;
    view.serial_number = "01 A2";
    view.issuer = {{"2.5.4.3", "CA \"One\""}};
    view.not_before = "5 марта 2024 г. 07:08:09 UTC";
    view.not_after = "";
    view.subject = {{"2.5.4.3", "line\nfeed\\"}, {"1.2.3", "caf\xE9"}};
    view.key_algorithm_oid = "1.2.643.7.1.1.1.1";
    view.key_parameters = "30 00";
    view.key_value = "0402 ABCD";
    view.key_unused_bits = 0;
    view.extensions = {{"2.5.29.14", false, "ab"}, {"1.2.9", true, "04 00"}};
    view.has_signature = true;
    view.signature_oid = "1.2.643.7.1.1.3.2";
    view.signature_value = "ABCD ";
    const std::string text = x::certificate_json(view);
    EXPECT_EQ(text,
              "{\"certificate\": {\"version\": \"3\", \"serial-number\": \"01 A2\", "
              "\"issuer\": {\"rdn\": [{\"oid\" :\"2.5.4.3\", \"name\": \"CN\", \"value\": \"CA \\\"One\\\"\"}]}, "
              "\"validity\": {\"notBefore\": \"5 марта 2024 г. 07:08:09 UTC\", \"notAfter\": \"\"}, "
              "\"subject\": {\"rdn\": [{\"oid\" :\"2.5.4.3\", \"name\": \"CN\", \"value\": \"line\\u000afeed\\\\\"}, "
              "{\"oid\" :\"1.2.3\", \"name\": \"1.2.3\", \"value\": \"caf\xEF\xBF\xBD\"}]}, "
              "\"subject-public-key-info\": {\"public-key-algorithm\": {\"oid\": \"1.2.643.7.1.1.1.1\", "
              "\"name\": \"ГОСТ Р 34.10-2012-256\", \"parameters\": \"30 00\"}, \"value\": \"0402 ABCD\", "
              "\"unused-bits\": \"0\"}, \n"
              "\"extensions\": [{\"order\": \"1\", \"oid\": \"2.5.29.14\", \"critical\": \"false\", "
              "\"name\": \"Идентификатор ключа субъекта\", \"value\": \"ab\"}, {\"order\": \"2\", \"oid\": \"1.2.9\", "
              "\"critical\": \"true\", \"name\": \"1.2.9\", \"value\": \"04 00\"}], "
              "\"signed-content\": {\"signature-algorithm\": {\"oid\": \"1.2.643.7.1.1.3.2\", "
              "\"name\": \"ГОСТ Р 34.11/34.10-2012-256\"}, \"signature-value\": \"ABCD \"}}}");
    const auto tree = messages::from_json(text);
    EXPECT_EQ(tree.get_child("certificate.subject.rdn").front().second.get<std::string>("value"), "line\nfeed\\");

    // Without extensions or signature; a 20,000-byte subject renders whole.
    x::certificate_view bare;
    bare.subject = {{"2.5.4.3", std::string(20000, 'z')}};
    const std::string bare_text = x::certificate_json(bare);
    EXPECT_NE(bare_text.find("\"extensions\": []}}"), std::string::npos);
    EXPECT_EQ(bare_text.find("signed-content"), std::string::npos);
    EXPECT_EQ(messages::from_json(bare_text).get_child("certificate.subject.rdn").front().second.get<std::string>("value"),
              std::string(20000, 'z'));
}

}  // namespace
