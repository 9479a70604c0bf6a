#include <gtest/gtest.h>

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/binary_from_base64.hpp>
#include <boost/archive/iterators/dataflow_exception.hpp>
#include <boost/archive/iterators/transform_width.hpp>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "crypto/encoding/base64.h"
#include "crypto/encoding/hex.h"
#include "crypto/encoding/text.h"

namespace {

using crypto::byte_vector;
using crypto::wide_char;
using dataflow_exception = boost::archive::iterators::dataflow_exception;

byte_vector bytes(const std::string& s) { return byte_vector(s.begin(), s.end()); }

// Decodes and expects the base64 exception with its exact text.
void expect_base64_error(const std::string& text) {
    try {
        crypto::base64_decode(text);
        ADD_FAILURE() << "no exception for \"" << text << "\"";
    } catch (const dataflow_exception& e) {
        EXPECT_STREQ(e.what(), "attempt to decode a value not in base64 char set") << text;
        EXPECT_EQ(e.code, dataflow_exception::invalid_base64_character) << text;
    }
}

// Owners of the arrays the text helpers return.
std::string take(char* text) {
    std::unique_ptr<char[]> owner(text);
    return text ? std::string(text) : std::string("<null>");
}

std::u16string take(wide_char* text) {
    std::unique_ptr<wide_char[]> owner(text);
    return text ? std::u16string(text) : std::u16string(u"<null>");
}

// ---------------------------------------------------------------- base64

TEST(Base64, EncodesWithPaddingByLengthModuloThree) {
    EXPECT_EQ(crypto::base64_encode(byte_vector{}), "");
    EXPECT_EQ(crypto::base64_encode(byte_vector{0}), "AA==");
    EXPECT_EQ(crypto::base64_encode(byte_vector{0, 0}), "AAA=");
    EXPECT_EQ(crypto::base64_encode(byte_vector{0, 0, 0}), "AAAA");
    // RFC 4648 test vectors.
    const char* expected[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    const std::string foobar = "foobar";
    for (std::size_t n = 0; n <= foobar.size(); ++n) {
        EXPECT_EQ(crypto::base64_encode(bytes(foobar.substr(0, n))), expected[n]);
        EXPECT_EQ(crypto::base64_encode(foobar.data(), n), expected[n]);
    }
    EXPECT_EQ(crypto::base64_encode(nullptr, 0), "");
    EXPECT_EQ(crypto::base64_encode(byte_vector{0xFB, 0xFF, 0xBF}), "+/+/");
}

TEST(Base64, DecodesShortGroupsAndPadding) {
    EXPECT_EQ(crypto::base64_decode("AA=="), byte_vector{0});
    EXPECT_EQ(crypto::base64_decode("AA"), byte_vector{0});
    EXPECT_EQ(crypto::base64_decode("AAA"), (byte_vector{0, 0}));
    EXPECT_EQ(crypto::base64_decode(""), byte_vector{});
    EXPECT_EQ(crypto::base64_decode("Zm9vYmE="), bytes("fooba"));
    // The left-over bits of the last character are dropped unchecked.
    EXPECT_EQ(crypto::base64_decode("QR=="), byte_vector{0x41});
    EXPECT_EQ(crypto::base64_decode("QUJ="), bytes("AB"));
}

TEST(Base64, EqualsSignsCountAsZeroBits) {
    // A text of "=" only is decoded whole.
    EXPECT_EQ(crypto::base64_decode("===="), (byte_vector{0, 0, 0}));
    EXPECT_EQ(crypto::base64_decode("=="), byte_vector{0});
    EXPECT_EQ(crypto::base64_decode("==="), (byte_vector{0, 0}));
    // Only the trailing ones are cut; inner ones are zero bits.
    EXPECT_EQ(crypto::base64_decode("QQ==QQ=="), crypto::base64_decode("QQAAQQ"));
    EXPECT_EQ(crypto::base64_decode("QQ==QQ=="), (byte_vector{0x41, 0x00, 0x00, 0x41}));
}

TEST(Base64, RejectsForeignCharactersAndOneCharacterOver) {
    for (const char* text : {"A", "AAAAA", "=", "=====", "AB*D", "AB D", "AAA\n", "AA-_", "\x80" "AAA", "AA\xFF="})
        expect_base64_error(text);
    expect_base64_error(std::string("AA\0A", 4));
    // Exactly one character over a whole group, whatever follows it.
    expect_base64_error("QUJDR===");
}

TEST(Base64, RoundTripsEveryLength) {
    std::mt19937 generator(7);
    for (std::size_t n = 0; n < 300; ++n) {
        byte_vector data(n);
        for (auto& b : data) b = static_cast<std::uint8_t>(generator());
        const std::string text = crypto::base64_encode(data);
        ASSERT_EQ(text.size(), (n + 2) / 3 * 4);
        ASSERT_EQ(crypto::base64_decode(text), data) << n;
        // Without its padding the text decodes the same.
        ASSERT_EQ(crypto::base64_decode(text.substr(0, text.find('='))), data) << n;
    }
}

// The encoder and decoder are table loops that must give what Boost's
// dataflow iterators give; those iterators serve as the reference here.
TEST(Base64, MatchesBoostIterators) {
    using namespace boost::archive::iterators;
    using boost_encoder = base64_from_binary<transform_width<byte_vector::const_iterator, 6, 8>>;
    using boost_decoder = transform_width<binary_from_base64<std::string::const_iterator>, 8, 6>;

    std::mt19937 generator(11);
    for (std::size_t n = 0; n < 100; ++n) {
        byte_vector data(n);
        for (auto& b : data) b = static_cast<std::uint8_t>(generator());
        const std::string reference(boost_encoder(data.begin()), boost_encoder(data.end()));
        ASSERT_EQ(crypto::base64_encode(data), reference + std::string((3 - n % 3) % 3, '='));
    }

    // Random texts over the alphabet, "=" and a foreign character; cut lengths
    // of 1 modulo 4 are left out (the iterators would read past the end).
    const char pool[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/===*";
    int compared = 0, failed = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string text(generator() % 14, 'A');
        for (auto& c : text) c = pool[generator() % (sizeof pool - 1)];
        const std::size_t last = text.find_last_not_of('=');
        const std::size_t cut = last == std::string::npos ? text.size() : last + 1;
        if (cut % 4 == 1) continue;
        byte_vector expected;
        bool expected_throw = false;
        try {
            expected.assign(boost_decoder(text.cbegin()), boost_decoder(text.cbegin() + static_cast<std::ptrdiff_t>(cut)));
        } catch (const dataflow_exception&) {
            expected_throw = true;
        }
        ++compared;
        if (expected_throw) {
            ++failed;
            EXPECT_THROW(crypto::base64_decode(text), dataflow_exception) << text;
        } else {
            EXPECT_EQ(crypto::base64_decode(text), expected) << text;
        }
    }
    // Both kinds of outcome were exercised.
    EXPECT_GT(failed, 1000);
    EXPECT_GT(compared - failed, 1000);
}

// ---------------------------------------------------------------- hex

TEST(Hex, EncodesUpperCase) {
    EXPECT_EQ(crypto::hex_encode(byte_vector{0x00, 0xAB, 0x0F}), "00AB0F");
    EXPECT_EQ(crypto::hex_encode(byte_vector{}), "");
    EXPECT_EQ(crypto::hex_encode(byte_vector{0x12, 0x34, 0xCD, 0xEF, 0x90}), "1234CDEF90");
}

TEST(Hex, DecodesPairsWithoutValidation) {
    EXPECT_EQ(crypto::hex_decode("0aF1"), (byte_vector{0x0A, 0xF1}));
    EXPECT_EQ(crypto::hex_decode("ABC"), byte_vector{0xAB});
    EXPECT_EQ(crypto::hex_decode(""), byte_vector{});
    EXPECT_EQ(crypto::hex_decode("A"), byte_vector{});
    // "G" counts as 0x47: (0x47 << 4) + 0 modulo 256.
    EXPECT_EQ(crypto::hex_decode("G0"), byte_vector{0x70});
    EXPECT_EQ(crypto::hex_decode("0G"), byte_vector{0x47});
    EXPECT_EQ(crypto::hex_decode(crypto::hex_encode(byte_vector{0x00, 0x7F, 0x80, 0xFF}).c_str()),
              (byte_vector{0x00, 0x7F, 0x80, 0xFF}));
}

TEST(Hex, FormatsErrorCodes) {
    EXPECT_EQ(crypto::format_hex32(255), "0x000000FF");
    EXPECT_EQ(crypto::format_hex32(-1), "0xFFFFFFFF");
    EXPECT_EQ(crypto::format_hex32(0), "0x00000000");
    EXPECT_EQ(crypto::format_hex32(static_cast<std::int32_t>(0x80090016u)), "0x80090016");
    EXPECT_EQ(crypto::format_hex32(0x7FFFFFFF), "0x7FFFFFFF");
}

// ---------------------------------------------------------------- UTF-8 / UTF-16

TEST(Utf, ConvertsBasicMultilingualPlane) {
    EXPECT_EQ(take(crypto::wide_to_utf8(u"A\u0416\u20AC", 0)), "A\xD0\x96\xE2\x82\xAC");
    EXPECT_EQ(take(crypto::utf8_to_wide("A\xD0\x96\xE2\x82\xAC")), u"A\u0416\u20AC");
    EXPECT_EQ(take(crypto::wide_to_utf8(u"", 0)), "");
    EXPECT_EQ(take(crypto::utf8_to_wide("")), u"");
    EXPECT_EQ(take(crypto::utf8_to_wide(nullptr)), u"<null>");
    EXPECT_EQ(take(crypto::wide_to_utf8(nullptr, 3)), "<null>");
    // Boundaries of the one-, two- and three-byte forms.
    EXPECT_EQ(take(crypto::wide_to_utf8(u"\u007F\u0080\u07FF\u0800\uFFFF", 0)),
              "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
    EXPECT_EQ(take(crypto::utf8_to_wide("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF")),
              u"\u007F\u0080\u07FF\u0800\uFFFF");
}

TEST(Utf, ConvertsSurrogatePairsAsOneCodePoint) {
    // U+1F600 and U+10FFFF, the highest code point.
    EXPECT_EQ(take(crypto::wide_to_utf8(u"x\U0001F600y", 0)), "x\xF0\x9F\x98\x80y");
    EXPECT_EQ(take(crypto::utf8_to_wide("x\xF0\x9F\x98\x80y")), u"x\U0001F600y");
    EXPECT_EQ(take(crypto::wide_to_utf8(u"\U0010FFFF\U00010000", 0)), "\xF4\x8F\xBF\xBF\xF0\x90\x80\x80");
    EXPECT_EQ(take(crypto::utf8_to_wide("\xF4\x8F\xBF\xBF\xF0\x90\x80\x80")), u"\U0010FFFF\U00010000");
}

TEST(Utf, ReplacesUnpairedSurrogates) {
    const wide_char lone_high[] = {0x41, 0xD83D, 0x42, 0};
    const wide_char lone_low[] = {0xDE00, 0xD83D, 0};
    EXPECT_EQ(take(crypto::wide_to_utf8(lone_high, 0)), "A\xEF\xBF\xBD" "B");
    EXPECT_EQ(take(crypto::wide_to_utf8(lone_low, 0)), "\xEF\xBF\xBD\xEF\xBF\xBD");
    // The count ends the text: a pair cut by it is not completed from beyond.
    const wide_char pair[] = {0xD83D, 0xDE00, 0};
    EXPECT_EQ(take(crypto::wide_to_utf8(pair, 1)), "\xEF\xBF\xBD");
    EXPECT_EQ(take(crypto::wide_to_utf8(pair, 2)), "\xF0\x9F\x98\x80");
    // Surrogates encoded on their own in UTF-8 are not valid UTF-8.
    EXPECT_EQ(take(crypto::utf8_to_wide("\xED\xA0\xBD\xED\xB8\x80")), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(Utf, ReplacesBytesThatStartNoSequence) {
    // Stray continuation bytes, C0/C1 and F5..FF leads, overlong forms,
    // values above U+10FFFF: one U+FFFD per maximal ill-formed part.
    EXPECT_EQ(take(crypto::utf8_to_wide("a\x80" "b\xBF")), u"a\uFFFD" u"b\uFFFD");
    EXPECT_EQ(take(crypto::utf8_to_wide("\xC0\xAF")), u"\uFFFD\uFFFD");
    EXPECT_EQ(take(crypto::utf8_to_wide("\xE0\x80\xAF")), u"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(take(crypto::utf8_to_wide("\xF4\x90\x80\x80")), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(take(crypto::utf8_to_wide("\xF8\x88\x80\x80\x80")), u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
    // A lead followed by a byte that does not continue it: the second byte is read anew.
    EXPECT_EQ(take(crypto::utf8_to_wide("\xD0" "A\xE2\x82" "B")), u"\uFFFD" u"A\uFFFD" u"B");
}

TEST(Utf, SequenceCutByTheTerminatorIsReplacedWithoutReadingOn) {
    // Each text sits in a buffer that ends right after its terminator, so a
    // read past it would leave the buffer (seen by AddressSanitizer).
    const std::vector<std::pair<std::string, std::u16string>> cases = {
        {"\xD0", u"\uFFFD"},         {"\xE2\x82", u"\uFFFD"},    {"\xE2", u"\uFFFD"},
        {"\xF0\x9F\x98", u"\uFFFD"}, {"ab\xF0\x9F", u"ab\uFFFD"}, {"\xF0", u"\uFFFD"},
    };
    for (const auto& c : cases) {
        std::unique_ptr<char[]> exact(new char[c.first.size() + 1]);
        std::copy(c.first.c_str(), c.first.c_str() + c.first.size() + 1, exact.get());
        EXPECT_EQ(take(crypto::utf8_to_wide(exact.get())), c.second);
    }
}

TEST(Utf, BigEndianUnits) {
    const unsigned char bmp[] = {0x00, 0x41, 0x04, 0x16, 0x20, 0xAC, 0xD8, 0x3D, 0xDE, 0x00};
    EXPECT_EQ(take(crypto::utf16be_to_utf8(bmp, 5)), "A\xD0\x96\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(take(crypto::utf16be_to_utf8(bmp, 4)), "A\xD0\x96\xE2\x82\xAC\xEF\xBF\xBD");
    EXPECT_EQ(take(crypto::utf16be_to_utf8(bmp, 0)), "<null>");
    EXPECT_EQ(take(crypto::utf16be_to_utf8(nullptr, 3)), "<null>");
}

TEST(Utf, RoundTripsEveryPlane) {
    std::u16string all;
    for (char32_t cp = 1; cp <= 0x10FFFF; cp += (cp < 0x800 ? 1 : 37)) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        if (cp < 0x10000) {
            all.push_back(static_cast<char16_t>(cp));
        } else {
            all.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            all.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
    }
    std::unique_ptr<char[]> utf8(crypto::wide_to_utf8(all.c_str(), all.size()));
    EXPECT_EQ(take(crypto::utf8_to_wide(utf8.get())), all);
}

TEST(Utf, DuplicatesStrings) {
    EXPECT_EQ(take(crypto::duplicate_string("abc\xD0\x96")), "abc\xD0\x96");
    EXPECT_EQ(take(crypto::duplicate_string("")), "");
    EXPECT_EQ(take(crypto::duplicate_string(nullptr)), "<null>");
    const char original[] = "text";
    std::unique_ptr<char[]> copy(crypto::duplicate_string(original));
    EXPECT_NE(copy.get(), original);
}

// ---------------------------------------------------------------- compact time

TEST(CompactTime, FormatsDateTimeAndOffset) {
    EXPECT_EQ(take(crypto::to_compact_time("2024-03-05 07:08:09+03:00")), "20240305070809+03:00");
    EXPECT_EQ(take(crypto::to_compact_time("2024-03-05 07:08:09-05")), "20240305070809-05:00");
    EXPECT_EQ(take(crypto::to_compact_time(" \t2024-03-05 07:08:09+03:00\r\n ")), "20240305070809+03:00");
    EXPECT_EQ(take(crypto::to_compact_time("24-3-5 7:8:9+3:30")), "00240305070809+03:30");
    EXPECT_EQ(take(crypto::to_compact_time("2024-12-31 23:59:59+23:59")), "20241231235959+23:59");
    EXPECT_EQ(take(crypto::to_compact_time("2024-01-01 00:00:00-00:00")), "20240101000000-00:00");
    // The first "+" is the sign even after a "-"; what follows the digits of a
    // field is ignored.
    EXPECT_EQ(take(crypto::to_compact_time("2024-02-29 10:00:00-+01")), "20240229100000+01:00");
    EXPECT_EQ(take(crypto::to_compact_time("2024-02-29 10:00:00.5Z-01")), "20240229100000-01:00");
}

TEST(CompactTime, MalformedTextIsNull) {
    for (const char* text : {"2024-03-05 07:08:09", "2024-03-05", "2024-00-05 07:08:09+03:00", "2024-03-05 07:08+03:00",
                             "", "   ", "2024-03 07:08:09+03:00", "0-03-05 07:08:09+03:00", "2024-03-00 07:08:09+03:00",
                             "2024-03-05 07::09+03:00", "2024-03-05 07:08:09+", "2024-03-05 07:08:09+03:",
                             "x-03-05 07:08:09+03:00"})
        EXPECT_EQ(take(crypto::to_compact_time(text)), "<null>") << text;
    EXPECT_EQ(take(crypto::to_compact_time(nullptr)), "<null>");
}

TEST(CompactTime, FieldsOutOfRangeAreNull) {
    for (const char* text : {"2024-13-05 07:08:09+03:00", "2024-03-32 07:08:09+03:00", "2023-02-29 07:08:09+03:00",
                             "2024-04-31 07:08:09+03:00", "2024-03-05 24:08:09+03:00", "2024-03-05 07:60:09+03:00",
                             "2024-03-05 07:08:60+03:00", "2024-03-05 07:08:09+24:00", "2024-03-05 07:08:09+03:60",
                             "10000-03-05 07:08:09+03:00", "2024-03-05 07:08:09+99999999999999999999",
                             "-2024-03-05 07:08:09+03:00", "2024-03-05 07:-8:09+03:00"})
        EXPECT_EQ(take(crypto::to_compact_time(text)), "<null>") << text;
    EXPECT_EQ(take(crypto::to_compact_time("2000-02-29 00:00:00+00")), "20000229000000+00:00");
    EXPECT_EQ(take(crypto::to_compact_time("1900-02-29 00:00:00+00")), "<null>");
}

// ---------------------------------------------------------------- tokenizer

std::vector<std::u16string> tokens(const wide_char* text) {
    crypto::wide_tokenizer tokenizer(text, u",", 1, u'"');
    std::vector<std::u16string> result;
    while (const wide_char* token = tokenizer.next()) result.emplace_back(token);
    return result;
}

using token_list = std::vector<std::u16string>;

TEST(WideTokenizer, SplitsAtDelimiters) {
    EXPECT_EQ(tokens(u"a,b"), (token_list{u"a", u"b"}));
    EXPECT_EQ(tokens(u"a,,b"), (token_list{u"a", u"", u"b"}));
    EXPECT_EQ(tokens(u"a,"), (token_list{u"a"}));
    EXPECT_EQ(tokens(u",a"), (token_list{u"", u"a"}));
    EXPECT_EQ(tokens(u""), (token_list{u""}));
    EXPECT_EQ(tokens(nullptr), token_list{});
    EXPECT_EQ(tokens(u"CN=Ivanov, O=Org, C=RU"), (token_list{u"CN=Ivanov", u" O=Org", u" C=RU"}));
}

TEST(WideTokenizer, KeepsQuotedDelimitersAndQuotes) {
    EXPECT_EQ(tokens(u"O=\"A, B\",C=RU"), (token_list{u"O=\"A, B\"", u"C=RU"}));
    // A doubled quote is escaped and does not open or close quoting.
    EXPECT_EQ(tokens(u"O=\"x\"\",y\",C"), (token_list{u"O=\"x\"\",y\"", u"C"}));
    EXPECT_EQ(tokens(u"O=a\"\"b,C"), (token_list{u"O=a\"\"b", u"C"}));
    // An unclosed quote keeps the rest together.
    EXPECT_EQ(tokens(u"O=\"a,b,c"), (token_list{u"O=\"a,b,c"}));
}

TEST(WideTokenizer, MultiCharacterDelimiterAndNoQuoting) {
    crypto::wide_tokenizer tokenizer(u"a; \"b; c\"; d;", u"; ", 2, 0);
    token_list result;
    while (const wide_char* token = tokenizer.next()) result.emplace_back(token);
    EXPECT_EQ(result, (token_list{u"a", u"\"b", u"c\"", u"d;"}));
    // After the last token the tokenizer keeps answering null.
    EXPECT_EQ(tokenizer.next(), nullptr);
}

TEST(WideTokenizer, WorksOnItsOwnCopy) {
    std::u16string text = u"a,b";
    crypto::wide_tokenizer tokenizer(text.c_str(), u",", 1, u'"');
    const wide_char* first = tokenizer.next();
    EXPECT_EQ(std::u16string(first), u"a");
    EXPECT_EQ(text, u"a,b");
    EXPECT_NE(first, text.c_str());
}

}  // namespace

TEST(Base64DecodeEach, GivesTheSameBytesInPiecesAndFailsAlike)
{
    std::string large;
    for (int i = 0; i < 300000; ++i)
        large.push_back(static_cast<char>(i * 31 + 7));
    const crypto::byte_vector bytes(large.begin(), large.end());
    for (const std::string& text : {crypto::base64_encode(bytes), crypto::base64_encode(bytes.data(), 100001),
                                    std::string("QQ=="), std::string("QR=="), std::string("AAA"),
                                    std::string("===="), std::string("")}) {
        crypto::byte_vector joined;
        std::size_t pieces = 0;
        crypto::base64_decode_each(text, [&](const std::uint8_t* p, std::size_t n) {
            joined.insert(joined.end(), p, p + n);
            ++pieces;
        });
        EXPECT_EQ(joined, crypto::base64_decode(text));
        EXPECT_EQ(crypto::base64_decoded_size(text), joined.size());
        if (text.size() > 400000) {
            EXPECT_GT(pieces, 1u);
        }
    }
    std::string bad = crypto::base64_encode(bytes);
    bad[bad.size() - 10] = '*';
    EXPECT_THROW(crypto::base64_decode_each(bad, [](const std::uint8_t*, std::size_t) {}), std::exception);
    EXPECT_THROW(crypto::base64_decoded_size("A"), std::exception);
    EXPECT_THROW(crypto::base64_decode_each("AAAAA", [](const std::uint8_t*, std::size_t) {}), std::exception);
}
