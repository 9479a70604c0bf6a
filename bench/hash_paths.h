#pragma once
// Throughput of the seven hashes through each accelerated path, shared by the
// native benchmark and the Windows one (bench/hash_paths_bench.cpp). A path
// is chosen by switching CPU features off, as the tests do.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "crypto/cpu_features.h"
#include "crypto/hash_algorithm.h"

namespace bench {

struct algorithm {
    const char* name;
    const char* oid;
};

inline const algorithm algorithms[] = {
    {"SHA-1", "1.3.14.3.2.26"},
    {"SHA-256", "1.2.840.113549.1.1.11"},
    {"SHA-384", "1.2.840.113549.1.1.12"},
    {"SHA-512", "1.2.840.113549.1.1.13"},
    {"GOST-94", "1.2.643.2.2.9"},
    {"GOST-2012-256", "1.2.643.7.1.1.2.2"},
    {"GOST-2012-512", "1.2.643.7.1.1.2.3"},
};

struct path {
    const char* name;
    std::uint32_t switched_off;
};

// From everything the processor has down to plain C++.
inline const path paths[] = {
    {"auto", 0},
    {"no-avx512-gfni", crypto::detail::cpu_avx512 | crypto::detail::cpu_gfni},
    {"no-avx2", crypto::detail::cpu_avx512 | crypto::detail::cpu_gfni | crypto::detail::cpu_avx2},
    {"portable", crypto::detail::cpu_all_features},
};

inline std::vector<std::uint8_t> random_data(std::size_t size)
{
    std::vector<std::uint8_t> data(size);
    std::mt19937_64 rng(1);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    return data;
}

// Best of `runs` runs over the whole buffer, in MB/s (10^6 bytes).
inline double best_mbps(std::size_t size, int runs, const std::function<void()>& run)
{
    double best = 0;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> t = std::chrono::steady_clock::now() - start;
        best = std::max(best, static_cast<double>(size) / t.count() / 1e6);
    }
    return best;
}

inline double ours(const char* oid, const std::vector<std::uint8_t>& data, int runs)
{
    auto hash = crypto::make_hash_algorithm_from_oid(oid);
    return best_mbps(data.size(), runs, [&] {
        hash->init();
        hash->update(data.data(), static_cast<std::uint32_t>(data.size()));
        volatile auto digest = hash->final()[0];
        (void)digest;
    });
}

// One line per algorithm and path: "path <build> <algorithm> <path> <MB/s>".
// A path that needs a feature this processor lacks repeats the one below it
// and is left out.
inline void print_paths(const char* build, const std::vector<std::uint8_t>& data, int runs)
{
    using namespace crypto::detail;
    std::printf("features %s %s\n", build, cpu_feature_names(cpu_features_detected()));
    for (const algorithm& a : algorithms) {
        std::uint32_t previous_enabled = ~0u;
        for (const path& p : paths) {
            cpu_features_switch_off(p.switched_off);
            const std::uint32_t enabled = cpu_features_enabled();
            if (enabled == previous_enabled) continue;
            previous_enabled = enabled;
            std::printf("path %s %s %s %.1f\n", build, a.name, p.name, ours(a.oid, data, runs));
            std::fflush(stdout);
        }
    }
    cpu_features_switch_off(0);
}

}  // namespace bench
