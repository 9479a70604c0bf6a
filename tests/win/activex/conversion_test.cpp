// The UTF-16 <-> UTF-8 conversions at the COM boundary.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "activex/wide_text.h"

namespace {

using activex::utf16_to_utf8;
using activex::utf8_to_utf16;

std::string to_utf8(const std::u16string& text) { return utf16_to_utf8(text.data(), text.size()); }

TEST(Utf16ToUtf8, PairsBecomeOneSequenceAndUnpairedSurrogatesTheReplacementCharacter)
{
    EXPECT_EQ(to_utf8(u"A\u00E9\u0416\u20AC"), "A\xC3\xA9\xD0\x96\xE2\x82\xAC");
    EXPECT_EQ(to_utf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(to_utf8(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF");
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(to_utf8(std::u16string{0xD83D}), replacement);
    EXPECT_EQ(to_utf8(std::u16string{0xDE00, u'x'}), replacement + "x");
    EXPECT_EQ(to_utf8(std::u16string{0xDE00, 0xD83D}), replacement + replacement);
    EXPECT_EQ(to_utf8(std::u16string{0xD83D, 0xD83D, 0xDE00}), replacement + "\xF0\x9F\x98\x80");
}

TEST(Utf16ToUtf8, NulUnitsAreKeptAndNullIsEmpty)
{
    EXPECT_EQ(to_utf8(std::u16string(u"a\0b\0", 4)), std::string("a\0b\0", 4));
    EXPECT_EQ(to_utf8(std::u16string(u"\0\0", 2)), std::string("\0\0", 2));
    EXPECT_EQ(utf16_to_utf8(nullptr, 0), "");
}

TEST(Utf8ToUtf16, WellFormedTextRoundTrips)
{
    for (const std::u16string& text : {std::u16string(u"plain"), std::u16string(u"\u00E9\u0416\u20AC\uFFFD"),
                                       std::u16string(u"\U0001F600 and \U0010FFFF"), std::u16string(u"a\0b", 3),
                                       std::u16string()})
        EXPECT_EQ(utf8_to_utf16(to_utf8(text)), text);
}

TEST(Utf8ToUtf16, IllFormedTextIsABadConversion)
{
    for (const char* bad : {"\x80", "a\xC3", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                            "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xE2\x82",
                            "\xE2\x28\xAC", "\xF0\x9F\x98"}) {
        try {
            utf8_to_utf16(bad);
            ADD_FAILURE() << "accepted " << testing::PrintToString(std::string(bad));
        } catch (const std::range_error& error) {
            EXPECT_STREQ(error.what(), "bad conversion");
        }
    }
}

}  // namespace
