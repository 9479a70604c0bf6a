#include "messages/command_result.h"

namespace messages {
namespace {

struct result_writer : boost::static_visitor<void> {
    json_tree& answer;
    explicit result_writer(json_tree& a) : answer(a) {}
    void operator()(const boost::blank&) const {}
    void operator()(const std::string& text) const { answer.put("result", text); }
    void operator()(std::uint32_t number) const { answer.put("result", std::to_string(number)); }
    void operator()(const json_tree& tree) const { answer.put_child("result", tree); }
};

}  // namespace

void put_result(const command_result& result, json_tree& answer)
{
    boost::apply_visitor(result_writer(answer), result);
}

json_tree make_success_answer(const command_result& result, const std::string& id)
{
    json_tree answer;
    answer.put("response", "success");
    answer.put("id", id);
    put_result(result, answer);
    return answer;
}

json_tree make_failure_answer(const std::string& error, const std::string& id)
{
    json_tree answer;
    answer.put("response", "fail");
    answer.put("id", id);
    answer.put("error", error);
    return answer;
}

}  // namespace messages
