// Frame bytes in, answers out: the whole request path of the host (framing,
// JSON reader, dispatcher, platform-free commands, answer writer) in-process.
#include <cstdint>
#include <cstdio>

#include "host/message_dispatcher.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static message_dispatcher* dispatcher = [] {
        auto* d = new message_dispatcher;
        register_commands(*d);
        return d;
    }();
    std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (size == 0)
        in = std::fopen("/dev/null", "rb");
    std::FILE* out = std::fopen("/dev/null", "wb");
    if (in && out)
        dispatcher->run(in, out);
    if (in)
        std::fclose(in);
    if (out)
        std::fclose(out);
    return 0;
}
