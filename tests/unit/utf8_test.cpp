// Requests must be UTF-8 and answers always are: the reader refuses what is
// not well-formed UTF-8, the writer puts U+FFFD in place of such bytes.
#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>

#include "messages/json.h"
#include "messages/utf8.h"

using messages::from_json;
using messages::json_tree;
using messages::to_json;

namespace {

const std::string fffd = "\xEF\xBF\xBD";

struct text_case {
    const char* name;
    std::string bytes;
};

// Sequences that are not well-formed UTF-8.
const text_case ill_formed[] = {
    {"overlong slash", "\xC0\xAF"},
    {"overlong three bytes", "\xE0\x80\xAF"},
    {"overlong four bytes", "\xF0\x80\x80\xAF"},
    {"high surrogate", "\xED\xA0\x80"},
    {"low surrogate", "\xED\xBF\xBF"},
    {"surrogate pair as two sequences", "\xED\xA0\xBD\xED\xB8\x80"},
    {"above U+10FFFF", "\xF4\x90\x80\x80"},
    {"lead F5", "\xF5\x80\x80\x80"},
    {"byte FF", "\xFF"},
    {"stray continuation", "\x80"},
    {"truncated two bytes", "\xC3"},
    {"truncated three bytes", "\xE2\x82"},
    {"truncated four bytes", "\xF0\x9F\x98"},
    {"missing continuation", "\xC3" "A"},
};

// Well-formed sequences at the edges of each length.
const text_case well_formed[] = {
    {"U+0080", "\xC2\x80"},       {"U+07FF", "\xDF\xBF"},       {"U+0800", "\xE0\xA0\x80"},
    {"U+D7FF", "\xED\x9F\xBF"},   {"U+E000", "\xEE\x80\x80"},   {"U+FFFD", "\xEF\xBF\xBD"},
    {"U+FFFF", "\xEF\xBF\xBF"},   {"U+10000", "\xF0\x90\x80\x80"}, {"U+1F600", "\xF0\x9F\x98\x80"},
    {"U+10FFFF", "\xF4\x8F\xBF\xBF"}, {"Cyrillic", "\xD0\x9F\xD0\x98\xD0\x9D"},
};

TEST(Utf8, TellsWellFormedFromIllFormed)
{
    for (const auto& c : ill_formed) {
        EXPECT_FALSE(messages::is_well_formed_utf8(c.bytes)) << c.name;
        EXPECT_FALSE(messages::is_well_formed_utf8("ab" + c.bytes + "cd")) << c.name;
    }
    for (const auto& c : well_formed)
        EXPECT_TRUE(messages::is_well_formed_utf8("ab" + c.bytes + "cd")) << c.name;
}

TEST(Utf8, TheReaderRefusesRequestsThatAreNotUtf8)
{
    for (const auto& c : ill_formed) {
        for (const std::string& text : {"{\"type\":\"Version\",\"id\":\"" + c.bytes + "\"}",
                                        "{\"" + c.bytes + "\":\"1\"}", "[\"" + std::string(70000, 'a') + c.bytes + "\"]"}) {
            EXPECT_THROW(from_json(text), boost::property_tree::json_parser::json_parser_error) << c.name;
            std::string consumed = text;
            EXPECT_THROW(from_json(std::move(consumed)), boost::property_tree::json_parser::json_parser_error)
                << c.name;
        }
    }
    for (const auto& c : well_formed)
        EXPECT_EQ(from_json("{\"id\":\"" + c.bytes + "\"}").get<std::string>("id"), c.bytes) << c.name;
}

// Bytes a command put into its tree -> what the answer carries: one U+FFFD for
// each maximal part of a sequence, control characters escaped as before.
const std::pair<std::string, std::string> replaced[] = {
    {std::string("\x00\xFF\x41\x80", 4), "\\u0000" + fffd + "A" + fffd},
    {"\xC0\xAF", fffd + fffd},
    {"\xE0\x80\xAF", fffd + fffd + fffd},
    {"\xED\xA0\x80", fffd + fffd + fffd},
    {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},
    {"\xF5\x80", fffd + fffd},
    {"\xE2\x82", fffd},
    {"\xE2\x82" "A", fffd + "A"},
    {"\xF0\x9F\x98" "\n", fffd + "\\n"},
    {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
    {"\xC3\xC3\xA9", fffd + "\xC3\xA9"},
    {"a/\xE9t\xE9", "a\\/" + fffd + "t" + fffd},
};

TEST(Utf8, TheWriterReplacesWhatIsNotUtf8)
{
    for (const auto& c : replaced) {
        json_tree tree;
        tree.put("v", c.first);
        tree.push_back({c.first, json_tree("k")});
        EXPECT_EQ(to_json(tree), "{\"v\":\"" + c.second + "\",\"" + c.second + "\":\"k\"}\n") << c.second;
    }
}

TEST(Utf8, EveryAnswerIsWellFormedWhateverTheBytes)
{
    // Every pair of bytes, alone and between well-formed text.
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            const std::string bytes{static_cast<char>(a), static_cast<char>(b)};
            json_tree tree;
            tree.put("v", bytes + "\xD0\x96" + bytes);
            const std::string text = to_json(tree);
            ASSERT_TRUE(messages::is_well_formed_utf8(text)) << a << " " << b;
            // Well-formed bytes come through unchanged.
            if (messages::is_well_formed_utf8(bytes) && a >= 0x20 && b >= 0x20 && a != '"' && b != '"' &&
                a != '\\' && b != '\\' && a != '/' && b != '/') {
                ASSERT_EQ(text, "{\"v\":\"" + bytes + "\xD0\x96" + bytes + "\"}\n") << a << " " << b;
            }
        }
}

}  // namespace
