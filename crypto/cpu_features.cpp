#include "crypto/cpu_features.h"

#include <atomic>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace crypto::detail {

namespace {

#if defined(__x86_64__) || defined(__i386__)
std::uint32_t probe()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return 0;
    const bool sse2 = (edx & (1u << 26)) != 0;
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    const bool osxsave = (ecx & (1u << 27)) != 0;
    const bool avx = (ecx & (1u << 28)) != 0;

    unsigned xcr0 = 0;
    if (osxsave) {
        unsigned xcr0_high = 0;
        __asm__ volatile("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
    }
    const bool ymm_saved = (xcr0 & 0x06u) == 0x06u;   // XMM and YMM state
    const bool zmm_saved = (xcr0 & 0xE6u) == 0xE6u;   // plus opmask and both ZMM parts

    unsigned b7 = 0, c7 = 0;
    if (__get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, eax, b7, c7, edx);
    }
    const bool bmi1 = (b7 & (1u << 3)) != 0;
    const bool avx2 = (b7 & (1u << 5)) != 0;
    const bool bmi2 = (b7 & (1u << 8)) != 0;
    const bool avx512f = (b7 & (1u << 16)) != 0;
    const bool sha = (b7 & (1u << 29)) != 0;
    const bool avx512bw = (b7 & (1u << 30)) != 0;
    const bool avx512vbmi = (c7 & (1u << 1)) != 0;
    const bool gfni = (c7 & (1u << 8)) != 0;

    std::uint32_t found = 0;
    const bool base = sse2 && ssse3 && sse41;
    if (base) found |= cpu_ssse3;
    if (base && sha) found |= cpu_sha;
    if (base && avx && avx2 && bmi1 && bmi2 && ymm_saved) found |= cpu_avx2;
    if ((found & cpu_avx2) && avx512f && avx512bw && avx512vbmi && zmm_saved) found |= cpu_avx512;
    if (base && gfni) found |= cpu_gfni;
    return found;
}
#else
std::uint32_t probe()
{
    return 0;
}
#endif

std::atomic<std::uint32_t> switched_off{0};

}  // namespace

std::uint32_t cpu_features_detected()
{
    static const std::uint32_t detected = probe();
    return detected;
}

std::uint32_t cpu_features_enabled()
{
    return cpu_features_detected() & ~switched_off.load(std::memory_order_relaxed);
}

void cpu_features_switch_off(std::uint32_t mask)
{
    switched_off.store(mask, std::memory_order_relaxed);
}

const char* cpu_feature_names(std::uint32_t features)
{
    static const char* const names[] = {"ssse3", "sha", "avx2", "avx512", "gfni"};
    // One text per subset of the five features, built on first use.
    static const struct table {
        char text[32][40];
        table() : text{}
        {
            for (unsigned set = 0; set < 32; ++set) {
                char* out = text[set];
                for (unsigned bit = 0; bit < 5; ++bit) {
                    if ((set & (1u << bit)) == 0) continue;
                    if (out != text[set]) *out++ = ' ';
                    for (const char* p = names[bit]; *p != '\0'; ++p) *out++ = *p;
                }
                if (out == text[set]) {
                    const char none[] = "none";
                    for (const char* p = none; *p != '\0'; ++p) *out++ = *p;
                }
                *out = '\0';
            }
        }
    } all;
    return all.text[features & cpu_all_features];
}

}  // namespace crypto::detail
