// Where a 16 MiB ComputeHash spends its time inside the host, phase by
// phase, so that the i686 and the x86_64 build can be set side by side
// (bench/hash32.py runs both). Each phase is timed alone, best of three:
//   frame    the request read from a file by the host's framing
//   json     the request body read into a tree
//   decode   the base64 document decoded (nothing consumes it)
//   hash     the decoded bytes hashed in one call
//   command  the whole command on the read tree
//   request  the whole request through the host's loop (framing, reading,
//            command, answer)
//
//   compute_hash_phases_bench [MiB]   (default 16)
//   compute_hash_phases_bench stdin   reads framed ComputeHash requests from
//       stdin as the host does and prints, per request, the time of reading
//       the frame, the body into a tree and the command
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/encoding/base64.h"
#include "crypto/hash_algorithm.h"
#include "host/framing.h"
#include "host/message_dispatcher.h"
#include "messages/commands.h"
#include "messages/json.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

double best_ms(const std::function<void()>& run)
{
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
        best = spent.count() < best ? spent.count() : best;
    }
    return best;
}

std::string framed(const std::string& body)
{
    const auto n = static_cast<std::uint32_t>(body.size());
    std::string frame{static_cast<char>(n & 0xFF), static_cast<char>(n >> 8 & 0xFF), static_cast<char>(n >> 16 & 0xFF),
                      static_cast<char>(n >> 24)};
    return frame + body;
}

double ms_since(std::chrono::steady_clock::time_point& start)
{
    const auto now = std::chrono::steady_clock::now();
    const std::chrono::duration<double, std::milli> spent = now - start;
    start = now;
    return spent.count();
}

int from_stdin()
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    messages::compute_hash command;
    std::string body;
    for (;;) {
        auto start = std::chrono::steady_clock::now();
        if (host::read_frame(stdin, body) != host::read_status::message)
            return 0;
        const double frame = ms_since(start);
        const messages::json_tree request = messages::from_json(std::move(body));
        const double json = ms_since(start);
        command.execute(request.get_child("arguments"));
        const double run = ms_since(start);
        std::printf("frame %8.1f  json %8.1f  command %8.1f\n", frame, json, run);
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && std::string(argv[1]) == "stdin")
        return from_stdin();
    const std::size_t mib = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 16;
    crypto::byte_vector data(mib << 20);
    std::mt19937 random(1);
    for (auto& b : data)
        b = static_cast<std::uint8_t>(random());
    const std::string b64 = crypto::base64_encode(data);

    const char* names[] = {"SHA-1", "SHA-256", "SHA-384", "SHA-512", "GOST-2012-512"};
    const char* oids[] = {"1.3.14.3.2.26", "1.2.840.113549.1.1.11", "1.2.840.113549.1.1.12", "1.2.840.113549.1.1.13",
                          "1.2.643.7.1.1.2.3"};
    constexpr int algorithms = 5;
    const auto body_for = [&](const char* oid) {
        return "{\"type\":\"ComputeHash\",\"id\":\"1\",\"arguments\":{\"algorithm\":\"" + std::string(oid) +
               "\",\"data\":\"" + b64 + "\"}}";
    };
    const std::string body = body_for(oids[0]);
    const std::string request = framed(body);

    std::printf("phase ms (%zu MiB)\n", mib);
    std::printf("frame    %8.1f\n", best_ms([&] {
                    std::FILE* f = std::tmpfile();
                    std::fwrite(request.data(), 1, request.size(), f);
                    std::rewind(f);
                    std::string got;
                    host::read_frame(f, got);
                    std::fclose(f);
                }));
    std::printf("json     %8.1f\n", best_ms([&] { messages::from_json(std::string(body)); }));
    // The decoding with each path the processor offers: the switch turns the
    // faster ones off.
    const std::pair<const char*, std::uint32_t> paths[] = {
        {"auto", 0}, {"no-avx2", crypto::detail::cpu_avx2}, {"portable", crypto::detail::cpu_all_features}};
    for (const auto& path : paths) {
        crypto::detail::cpu_features_switch_off(path.second);
        std::printf("decode   %8.1f  %s\n", best_ms([&] {
                        crypto::base64_decode_each(b64, [](const std::uint8_t*, std::size_t) {});
                    }), path.first);
    }
    crypto::detail::cpu_features_switch_off(0);
    for (int i = 0; i < algorithms; ++i) {
        const auto hash = crypto::make_hash_algorithm_from_oid(oids[i]);
        std::printf("hash     %8.1f  %s\n", best_ms([&] {
                        hash->init();
                        hash->update(data.data(), static_cast<std::uint32_t>(data.size()));
                        hash->final();
                    }), names[i]);
    }
    messages::compute_hash command;
    for (int i = 0; i < algorithms; ++i) {
        messages::json_tree arguments;
        arguments.put("algorithm", oids[i]);
        arguments.put("data", b64);
        std::printf("command  %8.1f  %s\n", best_ms([&] { command.execute(arguments); }), names[i]);
    }
    message_dispatcher dispatcher;
    register_commands(dispatcher);
    // The request file is written once; each run reads it from the start.
    for (int i = 0; i < algorithms; ++i) {
        const std::string framed_request = framed(body_for(oids[i]));
        std::FILE* in = std::tmpfile();
        std::fwrite(framed_request.data(), 1, framed_request.size(), in);
        std::printf("request  %8.1f  %s\n", best_ms([&] {
                        std::rewind(in);
                        std::FILE* out = std::tmpfile();
                        dispatcher.run(in, out);
                        std::fclose(out);
                    }), names[i]);
        std::fclose(in);
    }
    return 0;
}
