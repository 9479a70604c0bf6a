#include <gtest/gtest.h>

#include <stdexcept>

#include "host/command_line.h"
#include "host/framing.h"
#include "host/message_dispatcher.h"
#include "support/temp_stream.h"

namespace {

// Returns its "text" argument, or "size" bytes of 'x'.
class echo : public messages::base_message {
public:
    messages::command_result execute(const messages::json_tree& arguments) const override
    {
        if (const auto size = arguments.get_optional<std::size_t>("size"))
            return std::string(*size, 'x');
        return arguments.get<std::string>("text");
    }
};

class thrower : public messages::base_message {
public:
    messages::command_result execute(const messages::json_tree&) const override
    {
        throw std::runtime_error("Fatal error!");
    }
};

struct loop_result {
    int status;
    std::string output;
};

loop_result run_loop(const std::string& input)
{
    // Tests run in parallel processes in one folder: name the files per test.
    static int counter = 0;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string(info->test_suite_name()) + "." + info->name() + std::to_string(++counter);
    temp_stream in("in" + name), out("out" + name);
    in.set(input);
    message_dispatcher dispatcher;
    register_commands(dispatcher);
    dispatcher.add("Echo", new echo);
    dispatcher.add("Throw", new thrower);
    const int status = dispatcher.run(in.get(), out.get());
    return {status, out.content()};
}

std::string length_bytes(std::uint32_t n)
{
    return frame(std::string(n, ' ')).substr(0, 4);
}

}  // namespace

TEST(MessageDispatcher, AnswersVersionByteForByte)
{
    const auto r = run_loop(frame(R"({"type":"Version","id":7})"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, frame(R"({"response":"success","id":"7","result":"2.1.0102"})"));
    EXPECT_EQ(r.output.substr(0, 4), std::string("\x33\0\0\0", 4));
}

TEST(MessageDispatcher, AnswersInOrderAndReportsFailures)
{
    const auto r = run_loop(frame(R"({"type":"VersionEx","id":"a","arguments":{"x":"y"}})") +
                            frame(R"({"type":"Echo","id":{"o":1}})") + frame(R"({"type":"Throw","id":3})") +
                            frame(R"({"type":"Echo","id":4,"arguments":{"text":"a/b"}})"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              frame(R"({"response":"success","id":"a","result":{"version":"2.1.0102","system":"windows"}})") +
                  frame(R"j({"response":"fail","id":"","error":"No such node (text)"})j") +
                  frame(R"({"response":"fail","id":"3","error":"Fatal error!"})") +
                  frame(R"({"response":"success","id":"4","result":"a\/b"})"));
}

TEST(MessageDispatcher, UnregisteredOrMiscasedTypeEndsWithoutAnswer)
{
    for (const char* type : {"version", "VERSION", "Nothing"}) {
        const auto r = run_loop(frame(R"({"type":"Version","id":1})") +
                                frame(std::string(R"({"type":")") + type + R"(","id":2})") +
                                frame(R"({"type":"Version","id":3})"));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, frame(R"({"response":"success","id":"1","result":"2.1.0102"})")) << type;
    }
}

TEST(MessageDispatcher, BadBodiesGetNoAnswerAndTheLoopGoesOn)
{
    const auto r = run_loop(frame("not json") + frame(R"({"id":1})") + frame(R"({"type":"Version"})") +
                            frame(std::string(300, '[')) + frame(R"({"type":"Version","id":5})"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, frame(R"({"response":"success","id":"5","result":"2.1.0102"})"));
}

TEST(MessageDispatcher, EndsOnZeroLengthShortReadsAndEndOfInput)
{
    const std::string version = frame(R"({"type":"Version","id":1})");
    const std::string answer = frame(R"({"response":"success","id":"1","result":"2.1.0102"})");
    for (const std::string& tail : {length_bytes(0) + version, std::string("\x05\x00", 2),
                                    length_bytes(100) + "{\"type\"", std::string()}) {
        const auto r = run_loop(version + tail);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.output, answer);
    }
}

TEST(MessageDispatcher, LengthsWithLineEndBytesAreReadUntranslated)
{
    // 0x1A (Ctrl-Z) and 0x0D 0x0A inside the length prefix.
    std::string text = "{\"type\":\"Echo\",\"id\":1,\"arguments\":{\"text\":\"";
    const std::size_t fill = 0x0A0D - text.size() - 3;
    text += std::string(fill, 'a') + "\"}}";
    ASSERT_EQ(text.size(), 0x0A0Du);
    const auto r = run_loop(frame(text) + frame(R"({"type":"Version","id":"\u001a"})"));
    const auto frames = r.output;
    EXPECT_NE(frames.find(std::string(fill, 'a')), std::string::npos);
    EXPECT_NE(frames.find(R"("id":"\u001A")"), std::string::npos);
}

TEST(MessageDispatcher, OversizedRequestEndsWithNonZeroStatus)
{
    const auto r = run_loop(length_bytes(host::max_request_size + 1) + "{}");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.output.empty());
}

TEST(MessageDispatcher, AnswerAboveOneMebibyteIsReplacedByFailure)
{
    const auto r = run_loop(frame(R"({"type":"Echo","id":1,"arguments":{"size":"2000000"}})") +
                            frame(R"({"type":"Echo","id":2,"arguments":{"size":"3"}})"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              frame(R"({"response":"fail","id":"1","error":"Answer exceeds the 1 MiB limit of native messaging"})") +
                  frame(R"({"response":"success","id":"2","result":"xxx"})"));
}

TEST(CommandLine, ParentWindowArgument)
{
    using host::parse_parent_window;
    EXPECT_EQ(parse_parent_window("--parent-window=123"), 123u);
    EXPECT_EQ(parse_parent_window("--parent-windowX456"), 456u);
    EXPECT_EQ(parse_parent_window("--parent-window=12abc"), 12u);
    EXPECT_EQ(parse_parent_window("--parent-window=4294967301"), 4294967301u);
    EXPECT_EQ(parse_parent_window("--parent-window= 77"), 77u);
    EXPECT_FALSE(parse_parent_window("x--parent-window=1"));
    EXPECT_FALSE(parse_parent_window("--parent-window"));
    EXPECT_FALSE(parse_parent_window("--parent-window="));
    EXPECT_FALSE(parse_parent_window("--parent-window=abc"));
    EXPECT_FALSE(parse_parent_window("--parent-window=99999999999999999999999"));
    EXPECT_FALSE(parse_parent_window("--parent"));
}
