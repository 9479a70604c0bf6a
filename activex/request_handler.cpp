#include "activex/request_handler.h"

#include <exception>

#include "messages/command_result.h"
#include "messages/json.h"
#include "messages/wipe_tree.h"

namespace activex {
namespace {

// The value text of a top-level key, empty when the key is absent.
std::string value_text(const messages::json_tree& request, const char* key)
{
    const auto node = request.get_child_optional(key);
    return node ? node->data() : std::string();
}

}  // namespace

std::string answer_request(const command_map& commands, const std::string& request_text)
{
    messages::json_tree request = messages::from_json(request_text);
    const messages::wipe_values_on_exit wipe_request(request);  // it may hold a PIN
    const std::string type = value_text(request, "type");
    const std::string id = value_text(request, "id");
    if (type.empty() || id.empty())
        throw invalid_message();
    const auto command = commands.find(type);
    if (command == commands.end())
        throw invalid_message();

    static const messages::json_tree no_arguments;
    const auto arguments = request.get_child_optional("arguments");

    messages::json_tree answer;
    try {
        const messages::command_result result = command->second->execute(arguments ? *arguments : no_arguments);
        answer.put("response", "success");
        messages::put_result(result, answer);
    } catch (const std::exception& error) {
        answer = messages::json_tree();
        answer.put("response", "fail");
        answer.put("error", error.what());
    }
    // The id goes last, unlike the native-messaging host's answers.
    answer.put("id", id);
    return messages::to_json(answer);
}

}  // namespace activex
