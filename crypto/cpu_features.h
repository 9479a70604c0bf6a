#pragma once
// Run-time detection of the x86 instruction-set extensions the accelerated
// hash paths use, and the one switch that turns them off. Every accelerated
// path asks here, in both the i686 and the x86_64 build; on other processors
// nothing is reported.
#include <cstdint>

namespace crypto::detail {

// SSE2, SSSE3 and SSE4.1.
constexpr std::uint32_t cpu_ssse3 = 1u << 0;
// The SHA extensions (SHA1RNDS4, SHA256RNDS2 and their message helpers).
constexpr std::uint32_t cpu_sha = 1u << 1;
// AVX2, BMI1 and BMI2, with the 256-bit registers saved by the system.
constexpr std::uint32_t cpu_avx2 = 1u << 2;
// AVX-512 F, BW and VBMI, with the 512-bit and mask registers saved.
constexpr std::uint32_t cpu_avx512 = 1u << 3;
// The GF(2) affine and multiply instructions.
constexpr std::uint32_t cpu_gfni = 1u << 4;

constexpr std::uint32_t cpu_all_features = (1u << 5) - 1;

// What the processor and the system offer, whatever the switch says.
std::uint32_t cpu_features_detected();

// What the hash paths may use: the detected features minus those switched
// off. Read when a digest starts.
std::uint32_t cpu_features_enabled();

// True when every feature in `features` may be used.
inline bool cpu_may_use(std::uint32_t features)
{
    return (cpu_features_enabled() & features) == features;
}

// The switch: the features in `mask` count as absent for digests started
// from now on (0 restores the processor's own set). Tests use it to cover
// each path, the benchmarks to time each one.
void cpu_features_switch_off(std::uint32_t mask);

// A short name of the features in `features`, e.g. "ssse3 sha avx2".
const char* cpu_feature_names(std::uint32_t features);

}  // namespace crypto::detail
