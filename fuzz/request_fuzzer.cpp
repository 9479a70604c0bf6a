// Frame bytes in, answers out: the whole request path of the host (framing,
// JSON reader, dispatcher, platform-free commands, answer writer) in-process.
// Every answer is checked: valid UTF-8 JSON, at most 1 MiB, and the id of the
// request it answers, in order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_checks.h"
#include "host/framing.h"
#include "host/message_dispatcher.h"
#include "messages/json.h"

namespace {

std::uint32_t read_length(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// The ids of the answers the input must produce, in order: one for every
// framed JSON object with "type" and "id" that names a registered command, up
// to the end of the input, an empty or oversized frame or an unknown command.
std::vector<std::string> expected_ids(const message_dispatcher& dispatcher, const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> ids;
    std::size_t offset = 0;
    while (size - offset >= 4) {
        const std::uint32_t length = read_length(data + offset);
        offset += 4;
        if (length == 0 || length > host::max_request_size || length > size - offset)
            break;
        const std::string body(reinterpret_cast<const char*>(data + offset), length);
        offset += length;
        messages::json_tree request;
        try {
            request = messages::from_json(body);
        } catch (const std::exception&) {
            continue;
        }
        const auto type = request.get_child_optional("type");
        const auto id = request.get_child_optional("id");
        if (!type || !id)
            continue;
        if (!dispatcher.find(type->data()))
            break;
        ids.push_back(id->data());
    }
    return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static message_dispatcher* dispatcher = [] {
        auto* d = new message_dispatcher;
        register_commands(*d);
        return d;
    }();
    std::FILE* in = size ? fmemopen(const_cast<std::uint8_t*>(data), size, "rb") : std::fopen("/dev/null", "rb");
    char* output = nullptr;
    std::size_t output_size = 0;
    std::FILE* out = open_memstream(&output, &output_size);
    if (!in || !out)
        std::abort();
    dispatcher->run(in, out);
    std::fclose(in);
    std::fclose(out);

    const std::vector<std::string> ids = expected_ids(*dispatcher, data, size);
    std::size_t offset = 0, answers = 0;
    while (output_size - offset >= 4) {
        const std::uint32_t length = read_length(reinterpret_cast<const std::uint8_t*>(output) + offset);
        offset += 4;
        fuzz::check(length <= output_size - offset, "answer frame cut short");
        fuzz::check(answers < ids.size(), "more answers than answerable requests");
        fuzz::check_answer(std::string(output + offset, length), ids[answers], host::max_answer_size);
        offset += length;
        ++answers;
    }
    fuzz::check(offset == output_size, "bytes after the last answer frame");
    fuzz::check(answers == ids.size(), "an answerable request got no answer");
    std::free(output);
    return 0;
}
