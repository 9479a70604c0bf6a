// The hashes of this build through each path the processor offers, in MB/s.
// Built for Windows (i686 and x86_64) so bench/run.sh can time the shipping
// i686 code under 32-bit Wine beside the native anchors.
#include <cstdio>
#include <cstdlib>

#include "bench/hash_paths.h"

int main(int argc, char** argv)
{
    // Megabytes of data (default 64), best of three runs.
    const long megabytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 64;
    if (megabytes <= 0 || megabytes > 1024) {
        std::fprintf(stderr, "usage: hash_paths_bench [MiB, 1..1024]\n");
        return 2;
    }
    const auto data = bench::random_data(static_cast<std::size_t>(megabytes) << 20);
    bench::print_paths(sizeof(void*) == 4 ? "i686" : "x86_64", data, 3);
    return 0;
}
