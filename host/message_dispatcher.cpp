#include "host/message_dispatcher.h"

#include <new>

#include "crypto/secure_wipe.h"
#include "host/answer.h"
#include "host/framing.h"
#include "messages/command_table.h"
#include "messages/wipe_tree.h"

message_dispatcher::~message_dispatcher()
{
    for (auto& entry : commands_)
        delete entry.second;
}

void message_dispatcher::add(const std::string& name, messages::base_message* command)
{
    std::unique_ptr<messages::base_message> owned(command);
    auto inserted = commands_.emplace(name, owned.get());
    if (inserted.second)
        owned.release();
}

const messages::base_message* message_dispatcher::find(const std::string& name) const
{
    const auto it = commands_.find(name);
    return it == commands_.end() ? nullptr : it->second;
}

namespace {

enum class step { next, stop };

// One request: parse, look up, run, answer. A body that is not JSON or lacks
// "type" or "id" gets no answer and the loop goes on.
step handle_request(const message_dispatcher& dispatcher, std::string& body, std::FILE* out)
{
    messages::json_tree request;
    const messages::wipe_values_on_exit wipe_request(request);
    try {
        // The body is consumed (its buffer may become the request's document)
        // and the tree swapped in, not assigned, which would copy it: a large
        // request is held only once while its command runs.
        messages::from_json(std::move(body)).swap(request);
    } catch (const std::exception&) {
        return step::next;
    }

    const auto type = request.get_child_optional("type");
    const auto id_node = request.get_child_optional("id");
    if (!type || !id_node)
        return step::next;
    const std::string id = id_node->data();

    const messages::base_message* command = dispatcher.find(type->data());
    if (!command)
        return step::stop;

    static const messages::json_tree no_arguments;
    const auto arguments = request.get_child_optional("arguments");
    try {
        host::send_success(out, command->execute(arguments ? *arguments : no_arguments), id);
    } catch (const host::output_error&) {
        throw;
    } catch (const std::exception& error) {
        host::send_failure(out, error, id);
    }
    return step::next;
}

}  // namespace

int message_dispatcher::run(std::FILE* in, std::FILE* out)
{
    std::string body;
    const crypto::wipe_on_exit<std::string> wipe_body(body);
    for (;;) {
        switch (host::read_frame(in, body)) {
        case host::read_status::end: return 0;
        case host::read_status::too_large:
        case host::read_status::no_memory: return 1;
        case host::read_status::message: break;
        }
        try {
            if (handle_request(*this, body, out) == step::stop)
                return 0;
        } catch (const host::output_error&) {
            return 1;
        } catch (const std::bad_alloc&) {
            return 1;
        } catch (const std::exception&) {
            // The failure answer itself could not be built: the request stays
            // unanswered and the loop goes on.
        }
        // A body the reader refused is still whole here.
        crypto::secure_wipe(body);
    }
}

void register_commands(message_dispatcher& dispatcher)
{
    for (auto& row : messages::make_commands())
        dispatcher.add(row.first, row.second.release());
}
