#include <gtest/gtest.h>

#include <boost/property_tree/json_parser.hpp>

#include "messages/command_result.h"
#include "messages/get_string_array.h"
#include "messages/json.h"

using messages::from_json;
using messages::json_tree;
using messages::to_json;

TEST(Json, WritesCompactWithEscapesAndTrailingLineFeed)
{
    json_tree tree;
    tree.put("a", "x/y\"z\\");
    tree.put("b", std::string("\b\f\n\r\t\x01\x1f\x7f", 8));
    tree.put("c", "\xD0\x96");
    EXPECT_EQ(to_json(tree), "{\"a\":\"x\\/y\\\"z\\\\\",\"b\":\"\\b\\f\\n\\r\\t\\u0001\\u001F\x7f\",\"c\":\"\xD0\x96\"}\n");
}

TEST(Json, ArraysNestedObjectsAndRepeatedKeys)
{
    json_tree tree;
    json_tree list;
    list.push_back({"", json_tree("1")});
    list.push_back({"", json_tree("two")});
    tree.add_child("list", list);
    tree.add("k", "1");
    tree.add("k", "2");
    tree.put_child("empty", json_tree());
    EXPECT_EQ(to_json(tree), "{\"list\":[\"1\",\"two\"],\"k\":\"1\",\"k\":\"2\",\"empty\":\"\"}\n");
}

TEST(Json, RefusesTreesThatAreNotJson)
{
    json_tree with_root_value("text");
    EXPECT_THROW(to_json(with_root_value), boost::property_tree::json_parser::json_parser_error);
    json_tree mixed;
    mixed.put("a", "value");
    mixed.put("a.b", "child");
    EXPECT_THROW(to_json(mixed), boost::property_tree::json_parser::json_parser_error);
}

TEST(Json, ReadsLiteralsAsTextAndResolvesEscapes)
{
    const json_tree tree = from_json(R"({"n":7,"t":true,"z":null,"s":"a\/b\u0416","o":{"x":1},"a":[1,"b"]})");
    EXPECT_EQ(tree.get_child("n").data(), "7");
    EXPECT_EQ(tree.get_child("t").data(), "true");
    EXPECT_EQ(tree.get_child("z").data(), "null");
    EXPECT_EQ(tree.get_child("s").data(), "a/b\xD0\x96");
    EXPECT_EQ(tree.get_child("o").data(), "");
    EXPECT_EQ(tree.get_child("a").size(), 2u);
}

TEST(Json, RejectsMalformedAndTooDeepText)
{
    EXPECT_THROW(from_json("{\"a\":"), boost::property_tree::json_parser::json_parser_error);
    EXPECT_THROW(from_json("not json"), boost::property_tree::json_parser::json_parser_error);
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    EXPECT_THROW(from_json(deep), boost::property_tree::json_parser::json_parser_error);
    // Brackets inside strings do not count as nesting.
    EXPECT_NO_THROW(from_json("{\"a\":\"" + std::string(1000, '[') + "\"}"));
}

TEST(CommandResult, EachKindIsWrittenUnderResult)
{
    EXPECT_EQ(to_json(messages::make_success_answer(boost::blank(), "1")), "{\"response\":\"success\",\"id\":\"1\"}\n");
    EXPECT_EQ(to_json(messages::make_success_answer(std::string("a/b"), "1")),
              "{\"response\":\"success\",\"id\":\"1\",\"result\":\"a\\/b\"}\n");
    EXPECT_EQ(to_json(messages::make_success_answer(std::uint32_t(42), "x")),
              "{\"response\":\"success\",\"id\":\"x\",\"result\":\"42\"}\n");
    EXPECT_EQ(to_json(messages::make_success_answer(json_tree(), "x")),
              "{\"response\":\"success\",\"id\":\"x\",\"result\":\"\"}\n");
    EXPECT_EQ(to_json(messages::make_failure_answer("No such node (data)", "9")),
              "{\"response\":\"fail\",\"id\":\"9\",\"error\":\"No such node (data)\"}\n");
}

TEST(GetStringArray, TakesValueTextsInOrder)
{
    const json_tree args = from_json(R"({"list":["a",5,{"x":"y"}],"empty":[],"nested":{"inner":["q"]}})");
    EXPECT_EQ(messages::get_string_array(args, "list"), (std::vector<std::string>{"a", "5", ""}));
    EXPECT_TRUE(messages::get_string_array(args, "empty").empty());
    EXPECT_EQ(messages::get_string_array(args, "nested.inner"), std::vector<std::string>{"q"});
    try {
        messages::get_string_array(args, "missing");
        FAIL() << "no exception";
    } catch (const boost::property_tree::ptree_bad_path& e) {
        EXPECT_STREQ(e.what(), "No such node (missing)");
    }
}

TEST(Json, LargeStringsReadExactlyWhateverTheirForm)
{
    const std::string plain(200000, 'Q');
    std::string escaped(100000, 'e');
    escaped += "\\/\\u0416";
    std::string utf8;
    for (int i = 0; i < 40000; ++i)
        utf8 += "\xD0\x96";
    const std::string text = "{\"small\":\"s\",\"a\":\"" + plain + "\",\"" + plain + "\":\"key\",\"b\":\"" + escaped +
                             "\",\"list\":[\"" + plain + "\",\"x\",\"" + utf8 + "\"],\"c\":\"" + plain + "\"}";
    const json_tree tree = from_json(text);
    EXPECT_EQ(tree.get_child("small").data(), "s");
    EXPECT_EQ(tree.get_child("a").data(), plain);
    EXPECT_EQ(tree.get_child(json_tree::path_type(plain, '\0')).data(), "key");
    EXPECT_EQ(tree.get_child("b").data(), std::string(100000, 'e') + "/\xD0\x96");
    const auto& list = tree.get_child("list");
    ASSERT_EQ(list.size(), 3u);
    auto it = list.begin();
    EXPECT_EQ((it++)->second.data(), plain);
    EXPECT_EQ((it++)->second.data(), "x");
    EXPECT_EQ(it->second.data(), utf8);
    EXPECT_EQ(tree.get_child("c").data(), plain);
    // Invalid UTF-8 inside a large string is still refused by the reader.
    EXPECT_THROW(from_json("{\"a\":\"" + plain + "\xFF\"}"), boost::property_tree::json_parser::json_parser_error);
    EXPECT_THROW(from_json("{\"a\":\"" + plain), boost::property_tree::json_parser::json_parser_error);
}

TEST(Json, ConsumingReadGivesTheSameTreeAndEmptiesTheText)
{
    const std::string big(300000, 'B'), bigger(400000, 'C'), other(100000, 'o');
    const std::string text = "{\"" + big + "\" : \"k\", \"a\":\"" + other + "\",\"b\": \"" + bigger + "\" ,\"c\":[\"" +
                             big + "\"]}";
    std::string consumed = text;
    const json_tree tree = from_json(std::move(consumed));
    EXPECT_TRUE(consumed.empty());
    EXPECT_EQ(to_json(tree), to_json(from_json(text)));
    EXPECT_EQ(tree.get_child("b").data(), bigger);
    EXPECT_EQ(tree.get_child("c").begin()->second.data(), big);
    EXPECT_EQ(tree.get_child(json_tree::path_type(big, '\0')).data(), "k");

    std::string bad = "{\"a\":\"" + big + "\",}";
    EXPECT_THROW(from_json(std::move(bad)), boost::property_tree::json_parser::json_parser_error);
}
