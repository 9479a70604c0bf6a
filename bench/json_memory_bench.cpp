// What reading one request costs: each shape of request body is run through
// the host's request loop (framing, reading, answering) in a process of its
// own, which then prints its time and its peak memory. The shapes are the
// worst for the reader: many numbers, many empty arrays, many short strings,
// many object members, one large string, and large strings made of escapes.
//
//   json_memory_bench            lists the shapes
//   json_memory_bench SHAPE [MiB] runs one (default size 64 MiB, the most the
//                                host accepts) and prints one line
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include "host/message_dispatcher.h"
#include "messages/json.h"

namespace {

struct shape {
    const char* name;
    const char* unit;     // repeated inside the "arguments" array until the size is reached
    std::size_t values;   // values per unit (0: the units make up one string)
    bool at_limit;        // as many units as the value limit allows, whatever the size
};

const shape shapes[] = {
    {"numbers", "1,", 1, false},
    {"numbers-at-limit", "1,", 1, true},
    {"empty-arrays", "[],", 1, false},
    {"empty-arrays-at-limit", "[],", 1, true},
    {"short-strings", "\"abcdefghijklmnop\",", 1, false},  // one past the short-string buffer
    {"short-strings-at-limit", "\"abcdefghijklmnop\",", 1, true},
    {"members", "{\"abcdefghijklmnop\":\"qrstuvwxyzabcdef\"},", 2, false},
    {"members-at-limit", "{\"abcdefghijklmnop\":\"qrstuvwxyzabcdef\"},", 2, true},
    {"large-string", "QUJD", 0, false},
    {"escaped-string", "\\u0041", 0, false},
    {"escaped-slashes", "QUJD\\/", 0, false},
};

std::string body_of(const shape& s, std::size_t size)
{
    const bool in_string = s.values == 0;
    std::string body = "{\"type\":\"Version\",\"id\":\"1\",\"arguments\":";
    body += in_string ? "\"" : "[";
    const std::size_t unit = std::strlen(s.unit);
    // At the limit: the root, "type", "id" and the array are values too.
    const std::size_t count =
        s.at_limit ? (messages::max_json_values - 4) / s.values : (size - body.size() - 2) / unit;
    body.reserve(body.size() + count * unit + 2);
    for (std::size_t i = 0; i < count; ++i)
        body += s.unit;
    if (!in_string)
        body.pop_back();
    body += in_string ? "\"}" : "]}";
    return body;
}

double peak_mib(double* private_mib)
{
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    *private_mib = static_cast<double>(counters.PeakPagefileUsage) / (1 << 20);
    return static_cast<double>(counters.PeakWorkingSetSize) / (1 << 20);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    *private_mib = 0;
    return static_cast<double>(usage.ru_maxrss) / 1024;
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        for (const shape& s : shapes)
            std::printf("%s\n", s.name);
        return 0;
    }
    const shape* chosen = nullptr;
    for (const shape& s : shapes)
        if (std::strcmp(argv[1], s.name) == 0)
            chosen = &s;
    if (!chosen) {
        std::fprintf(stderr, "unknown shape %s\n", argv[1]);
        return 2;
    }
    const std::size_t mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 64;
    std::size_t values = 0;
    std::size_t size = 0;
    {
        std::string body = body_of(*chosen, mib << 20);
        size = body.size();
        values = messages::count_json_values(body.data(), body.size());
        const std::uint32_t length = static_cast<std::uint32_t>(body.size());
        std::FILE* in = std::tmpfile();
        if (!in)
            return 1;
        const unsigned char prefix[4] = {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
                                         static_cast<unsigned char>(length >> 16),
                                         static_cast<unsigned char>(length >> 24)};
        std::fwrite(prefix, 1, 4, in);
        std::fwrite(body.data(), 1, body.size(), in);
        std::rewind(in);
        // The body is not kept: the loop reads its own copy, as the host does.
        std::string().swap(body);

        std::FILE* out = std::tmpfile();
        if (!out)
            return 1;
        message_dispatcher dispatcher;
        register_commands(dispatcher);
        const auto start = std::chrono::steady_clock::now();
        const int status = dispatcher.run(in, out);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        const bool answered = std::ftell(out) > 0;
        std::fclose(in);
        std::fclose(out);
        double private_mib = 0;
        const double peak = peak_mib(&private_mib);
        std::printf("%-22s %6.1f MiB body %9zu values  %-8s status %d  %9.1f ms  peak working set %7.1f MiB  "
                    "peak private %7.1f MiB\n",
                    chosen->name, static_cast<double>(size) / (1 << 20), values, answered ? "answered" : "refused",
                    status, ms, peak, private_mib);
    }
    return 0;
}
