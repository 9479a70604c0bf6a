// The reader against Boost's own, over documents with large strings in every
// position, and the limits that bound what reading a request costs.
#include <gtest/gtest.h>

#include <sstream>

#include <boost/property_tree/json_parser.hpp>

#include "messages/json.h"

using messages::from_json;
using messages::json_tree;

namespace {

using boost::property_tree::json_parser::json_parser_error;

json_tree boost_read(const std::string& text)
{
    std::istringstream stream(text);
    json_tree tree;
    boost::property_tree::read_json(stream, tree);
    return tree;
}

std::size_t node_count(const json_tree& tree)
{
    std::size_t count = 1;
    for (const auto& child : tree)
        count += node_count(child.second);
    return count;
}

// JSON string literals (quotes included) of a given content length around the
// size from which strings are handled apart.
std::vector<std::string> large_literals(std::size_t size)
{
    std::string escaped;
    while (escaped.size() + 8 <= size)
        escaped += "ab\\/\\u0416";
    escaped += std::string(size - escaped.size(), 'e');
    std::string utf8;
    while (utf8.size() + 2 <= size)
        utf8 += "\xD0\x96";
    utf8 += std::string(size - utf8.size(), 'u');
    return {
        "\"" + std::string(size, 'P') + "\"",
        "\"" + escaped + "\"",
        "\"" + utf8 + "\"",
        "\"" + std::string(size - 2, 'q') + "\\\"\"",   // ends with an escaped quote
        "\"" + std::string(size - 2, 'b') + "\\\\\"",   // ends with an escaped backslash
        "\"\\\"" + std::string(size - 2, 'h') + "\"",   // begins with an escaped quote
    };
}

// Documents with the literal L in every position a string can take.
std::vector<std::string> documents_with(const std::string& L)
{
    return {
        L,
        " " + L + " ",
        "{\"a\":" + L + "}",
        "{\"a\":" + L + ",\"b\":\"x\",\"c\":" + L + "}",
        "{\"first\":\"1\", \"a\" : " + L + " , \"z\":[]}",
        "{" + L + ":\"v\"}",
        "{" + L + " : " + L + "}",
        "[" + L + "]",
        "[\"x\"," + L + "," + L + ",1,true,null]",
        "{\"type\":\"ComputeHash\",\"id\":" + L + ",\"arguments\":{\"data\":" + L + ",\"list\":[{\"k\":" + L + "}]}}",
        "[[[" + L + "]],{\"o\":{" + L + ":[" + L + "]}}]",
    };
}

TEST(JsonReader, AgreesWithBoostsReaderOnLargeStringsInEveryPosition)
{
    std::size_t compared = 0;
    for (const std::size_t size : {65535u, 65536u, 65537u, 200000u}) {
        for (const std::string& literal : large_literals(size)) {
            for (const std::string& text : documents_with(literal)) {
                const json_tree expected = boost_read(text);
                EXPECT_TRUE(from_json(text) == expected) << "copying, size " << size << ": " << text.substr(0, 40);
                std::string consumed = text;
                const json_tree tree = from_json(std::move(consumed));
                EXPECT_TRUE(tree == expected) << "consuming, size " << size << ": " << text.substr(0, 40);
                EXPECT_TRUE(consumed.empty());
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 4u * 6u * 11u);
}

TEST(JsonReader, ManyEscapesInOneLargeString)
{
    // Every character escaped: the pass before the reader must not start
    // over at each backslash (it did, and took minutes for these).
    std::string text = "{\"data\":\"";
    for (int i = 0; i < 1 << 20; ++i)
        text += "\\u0041";
    text += "\",\"b64\":\"";
    for (int i = 0; i < 1 << 20; ++i)
        text += "ab\\/c";
    text += "\"}";
    std::string consumed = text;
    const json_tree tree = from_json(std::move(consumed));
    EXPECT_EQ(tree.get<std::string>("data"), std::string(1 << 20, 'A'));
    std::string b64;
    for (int i = 0; i < 1 << 20; ++i)
        b64 += "ab/c";
    EXPECT_EQ(tree.get<std::string>("b64"), b64);
    EXPECT_TRUE(from_json(text) == tree);
}

TEST(JsonReader, CountsOneValuePerNode)
{
    for (const std::string text :
         {"1", "\"s\"", "[]", "{}", "[1,2,3]", "[[],[],{}]", "{\"a\":1,\"b\":{\"c\":[true,false,null]}}",
          " [ 1 , \"x\" , -2.5e3 , { \"k\" : \"v\" } ] ", "{\"a\":\"has : and , and [ inside\"}",
          "[\"\\\"\",\"\\\\\",{\"\\\"k\":\"\"}]"}) {
        EXPECT_EQ(messages::count_json_values(text.data(), text.size()), node_count(from_json(text))) << text;
    }
}

TEST(JsonReader, RefusesMoreValuesThanTheLimitInEveryShape)
{
    const std::size_t n = messages::max_json_values;
    const std::pair<const char*, std::string> units[] = {
        {"numbers", "1,"}, {"empty arrays", "[],"}, {"empty objects", "{},"},
        {"short strings", "\"\","}, {"literals", "null,"},
    };
    for (const auto& unit : units) {
        // An array of n values is n + 1 values.
        std::string text = "[";
        text.reserve(n * unit.second.size() + 2);
        for (std::size_t i = 0; i < n; ++i)
            text += unit.second;
        text.back() = ']';
        EXPECT_EQ(messages::count_json_values(text.data(), text.size()), n + 1) << unit.first;
        EXPECT_THROW(from_json(text), json_parser_error) << unit.first;
        EXPECT_THROW(from_json(std::move(text)), json_parser_error) << unit.first;
    }
    // Members of an object count once each, keys not.
    std::string members = "{";
    for (std::size_t i = 0; i < n; ++i)
        members += "\"\":1,";
    members.back() = '}';
    EXPECT_EQ(messages::count_json_values(members.data(), members.size()), n + 1);
    EXPECT_THROW(from_json(members), json_parser_error);
}

}  // namespace
