// The hashes of this build through each path the processor offers, in MB/s.
// Built for Windows (i686 and x86_64) so bench/run.sh can time the shipping
// i686 code under 32-bit Wine beside the native anchors.
#include <cstdio>
#include <cstdlib>

#include "bench/hash_paths.h"

int main(int argc, char** argv)
{
    // Megabytes of data (default 64) and the number of runs whose best
    // counts (default 3).
    const long megabytes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 64;
    const long runs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 3;
    if (megabytes <= 0 || megabytes > 1024 || runs <= 0 || runs > 100) {
        std::fprintf(stderr, "usage: hash_paths_bench [MiB, 1..1024 [runs, 1..100]]\n");
        return 2;
    }
    const auto data = bench::random_data(static_cast<std::size_t>(megabytes) << 20);
    bench::print_paths(sizeof(void*) == 4 ? "i686" : "x86_64", data, static_cast<int>(runs));
    return 0;
}
