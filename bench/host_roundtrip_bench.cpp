// Round trips per second of small requests through the request loop,
// in-process: framing, JSON reading, dispatch, answer writing.
#include <chrono>
#include <cstdio>
#include <string>

#include "host/message_dispatcher.h"

namespace {

std::string frame(const std::string& body)
{
    const auto n = static_cast<unsigned>(body.size());
    std::string out{static_cast<char>(n & 0xFF), static_cast<char>(n >> 8 & 0xFF), static_cast<char>(n >> 16 & 0xFF),
                    static_cast<char>(n >> 24 & 0xFF)};
    return out + body;
}

double run(const char* label, const std::string& request, int count)
{
    std::string input;
    for (int i = 0; i < count; ++i)
        input += frame(request);
    std::FILE* in = fmemopen(input.data(), input.size(), "rb");
    std::FILE* out = std::fopen("/dev/null", "wb");
    message_dispatcher dispatcher;
    register_commands(dispatcher);
    const auto start = std::chrono::steady_clock::now();
    dispatcher.run(in, out);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::fclose(in);
    std::fclose(out);
    const double rate = count / elapsed.count();
    std::printf("%-28s %10.0f round trips/s\n", label, rate);
    return rate;
}

}  // namespace

int main()
{
    std::printf("in-process request loop (native)\n");
    run("Version", R"({"type":"Version","id":"1"})", 200000);
    run("VersionEx", R"({"type":"VersionEx","id":"1"})", 200000);
    run("ComputeHash GOST-256 (3 B)", R"({"type":"ComputeHash","id":"1","arguments":{"algorithm":"1.2.643.7.1.1.2.2","data":"YWJj"}})", 100000);
    run("EncryptPin", R"({"type":"EncryptPin","id":"1","arguments":{"pincode":"12345678"}})", 20000);
    return 0;
}
