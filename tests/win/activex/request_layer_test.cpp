// The body of SendMessage against a table of test commands: which failures
// are COM errors, which are "fail" answers, and what reaches a command.
#include "control_support.h"

#include <boost/property_tree/json_parser.hpp>

#include <stdexcept>

#include "activex/send_message.h"
#include "messages/json.h"

namespace ax_test {
namespace {

using messages::command_result;
using messages::json_tree;

// Counts its runs and keeps the "text" argument it was given.
class recording_command : public messages::base_message {
public:
    command_result execute(const json_tree& arguments) const override
    {
        ++runs;
        received = arguments.get<std::string>("text", "");
        return received;
    }
    mutable int runs = 0;
    mutable std::string received;
};

class throwing_command : public messages::base_message {
public:
    command_result execute(const json_tree&) const override { throw std::runtime_error("disk on fire"); }
};

class foreign_throw_command : public messages::base_message {
public:
    command_result execute(const json_tree&) const override { throw 42; }
};

// A tree that the JSON writer refuses: a node with a value and children.
json_tree unwritable_tree()
{
    json_tree tree;
    tree.put("a", "value");
    tree.put("a.b", "child");
    return tree;
}

class unwritable_command : public messages::base_message {
public:
    command_result execute(const json_tree&) const override { return unwritable_tree(); }
};

// A result that is not UTF-8.
class raw_bytes_command : public messages::base_message {
public:
    command_result execute(const json_tree&) const override { return std::string("\xC3\x28"); }
};

class SendMessageLayer : public RegisteredControl {
protected:
    SendMessageLayer()
        : commands_{{"Record", &record_}, {"Throw", &throw_}, {"ForeignThrow", &foreign_},
                    {"Unwritable", &unwritable_}, {"RawBytes", &raw_bytes_}}
    {
    }

    struct call {
        HRESULT hr;
        std::wstring answer;
        bool response_written;
        error_details error;
    };

    call send(const std::wstring& request, bool with_response = true)
    {
        const unique_bstr message = make_bstr(request);
        // A marker that must survive a failed call.
        const unique_bstr marker = make_bstr(L"untouched");
        BSTR response = marker.get();
        call result;
        result.hr = activex::send_message(commands_, message.get(), with_response ? &response : nullptr);
        result.response_written = response != marker.get();
        if (result.response_written) {
            result.answer = bstr_text(response);
            SysFreeString(response);
        }
        result.error = take_error_info();
        return result;
    }

    // The failure of a request: DISP_E_EXCEPTION, the text and the ProgID in
    // the error information, the response left alone.
    void expect_call_failure(const std::wstring& request, const std::string& text)
    {
        SCOPED_TRACE(testing::PrintToString(request));
        const call result = send(request);
        EXPECT_EQ(result.hr, DISP_E_EXCEPTION);
        EXPECT_FALSE(result.response_written);
        ASSERT_TRUE(result.error.present);
        EXPECT_EQ(result.error.description, widen(text));
        EXPECT_EQ(result.error.source, versioned_progid);
        EXPECT_TRUE(IsEqualGUID(result.error.guid, GUID_NULL));
    }

    recording_command record_;
    throwing_command throw_;
    foreign_throw_command foreign_;
    unwritable_command unwritable_;
    raw_bytes_command raw_bytes_;
    activex::command_map commands_;
};

std::string parser_error(const std::string& text)
{
    try {
        messages::from_json(text);
    } catch (const boost::property_tree::json_parser_error& error) {
        return error.what();
    }
    return "(parsed)";
}

// What the JSON writer says about a tree.
std::string writer_error(const json_tree& tree)
{
    try {
        messages::to_json(tree);
    } catch (const boost::property_tree::json_parser_error& error) {
        return error.what();
    }
    return "(written)";
}

TEST_F(SendMessageLayer, RequestsWithoutATypeOrIdAreInvalidAndRunNothing)
{
    for (const wchar_t* request : {LR"({"type":"Record"})", LR"({"type":"Record","id":""})",
                                   LR"({"type":"Record","id":{"a":"1"}})", LR"({"type":"Record","id":[]})",
                                   LR"({"id":"1"})", LR"({"type":"","id":"1"})", LR"({"type":{},"id":"1"})",
                                   LR"({"type":"record","id":"1"})", LR"({"type":"NoSuchCommand","id":"1"})"})
        expect_call_failure(request, "Invalid message");
    EXPECT_EQ(record_.runs, 0);
}

TEST_F(SendMessageLayer, TextThatIsNotJsonFailsWithTheParsersText)
{
    for (const std::string request : {"not json", "{\"type\":\"Record\",\"id\":\"1\"", "", "[1,2"})
        expect_call_failure(widen(request), parser_error(request));
    // A NUL unit inside the text is part of it, not its end.
    const wchar_t with_nul[] = L"{\"type\":\"Record\",\"id\":\"1\"}\0tail";
    const std::wstring request(with_nul, sizeof with_nul / sizeof with_nul[0] - 1);
    const std::string narrow(request.begin(), request.end());
    expect_call_failure(request, parser_error(narrow));
    // A null BSTR is the empty text.
    const call result = [&] {
        BSTR response = nullptr;
        call r{activex::send_message(commands_, nullptr, &response), L"", response != nullptr, take_error_info()};
        return r;
    }();
    EXPECT_EQ(result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(result.error.description, widen(parser_error("")));
    EXPECT_EQ(record_.runs, 0);
}

TEST_F(SendMessageLayer, AnswersPutTheIdLastAndEndWithALineFeed)
{
    call result = send(LR"({"type":"Record","id":"a/b","arguments":{"text":"x\"y"}})");
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_EQ(result.answer, LR"({"response":"success","result":"x\"y","id":"a\/b"})" L"\n");
    // An id given as a number, true or null comes back as its literal text.
    result = send(LR"({"type":"Record","id":0})");
    EXPECT_EQ(result.answer, LR"({"response":"success","result":"","id":"0"})" L"\n");
    result = send(LR"({"type":"Record","id":true})");
    EXPECT_EQ(result.answer, LR"({"response":"success","result":"","id":"true"})" L"\n");
    EXPECT_EQ(record_.runs, 3);
}

TEST_F(SendMessageLayer, ACommandThatThrowsGivesAFailAnswer)
{
    const call result = send(LR"({"type":"Throw","id":"7"})");
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_EQ(result.answer, LR"({"response":"fail","error":"disk on fire","id":"7"})" L"\n");
    EXPECT_FALSE(result.error.present);
}

TEST_F(SendMessageLayer, AnAnswerThatCannotBeWrittenFailsTheCall)
{
    json_tree answer;
    answer.put("response", "success");
    answer.put_child("result", unwritable_tree());
    const std::string writer_text = writer_error(answer);
    EXPECT_NE(writer_text.find("ptree contains data that cannot be represented in JSON format"), std::string::npos);
    expect_call_failure(LR"({"type":"Unwritable","id":"1"})", writer_text);
    expect_call_failure(LR"({"type":"ForeignThrow","id":"1"})", "Unknown exception");
    // The control stays usable after each.
    EXPECT_EQ(send(LR"({"type":"Record","id":"2"})").hr, S_OK);
}

TEST_F(SendMessageLayer, BytesThatAreNotUtf8AreAnsweredAsTheReplacementCharacter)
{
    // The writer puts U+FFFD in place of C3 28, so the answer converts.
    const call result = send(LR"({"type":"RawBytes","id":"1"})");
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_EQ(result.answer, L"{\"response\":\"success\",\"result\":\"\uFFFD(\",\"id\":\"1\"}\n");
}

TEST_F(SendMessageLayer, ANullResponseStillRunsTheCommand)
{
    call result = send(LR"({"type":"Record","id":"1","arguments":{"text":"t"}})", false);
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_EQ(record_.runs, 1);
    EXPECT_EQ(record_.received, "t");
    // Only the conversion for the response is skipped.
    result = send(LR"({"type":"RawBytes","id":"1"})", false);
    EXPECT_EQ(result.hr, S_OK);
    // Request-level failures are reported all the same.
    result = send(LR"({"type":"Record"})", false);
    EXPECT_EQ(result.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(result.error.description, L"Invalid message");
    EXPECT_EQ(record_.runs, 1);
}

TEST_F(SendMessageLayer, TextReachesTheCommandAsValidUtf8)
{
    // A character above U+FFFF arrives as one four-byte sequence.
    call result = send(L"{\"type\":\"Record\",\"id\":\"1\",\"arguments\":{\"text\":\"\U0001F600\u0416\"}}");
    EXPECT_EQ(record_.received, "\xF0\x9F\x98\x80\xD0\x96");
    EXPECT_EQ(result.answer, L"{\"response\":\"success\",\"result\":\"\U0001F600\u0416\",\"id\":\"1\"}\n");
    // Unpaired surrogates arrive as U+FFFD.
    std::wstring request = L"{\"type\":\"Record\",\"id\":\"1\",\"arguments\":{\"text\":\"_x_\"}}";
    request[request.find(L"_x_")] = 0xDC00;
    request[request.find(L"x_")] = 0xD800;
    result = send(request);
    EXPECT_EQ(record_.received, "\xEF\xBF\xBD\xEF\xBF\xBD_");
    EXPECT_EQ(result.hr, S_OK);
    // JSON escapes are the parser's: a pair of escapes is one character too.
    result = send(LR"({"type":"Record","id":"\ud83d\ude00","arguments":{"text":"\u0416"}})");
    EXPECT_EQ(record_.received, "\xD0\x96");
    EXPECT_EQ(result.answer, L"{\"response\":\"success\",\"result\":\"\u0416\",\"id\":\"\U0001F600\"}\n");
}

}  // namespace
}  // namespace ax_test
