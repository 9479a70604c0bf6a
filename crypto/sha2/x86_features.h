#pragma once
// Run-time detection of the x86 instruction-set extensions the SHA-1 and
// SHA-2 compression functions can use. Every check answers false on other
// processors.
#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace crypto::detail {

// True when the processor executes the SHA extensions (SHA1RNDS4,
// SHA256RNDS2 and their message helpers) together with the SSSE3 and SSE4.1
// instructions the accelerated compression functions also use.
inline bool cpu_has_sha_extensions()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    const bool sha = (ebx & (1u << 29)) != 0;
    return ssse3 && sse41 && sha;
#else
    return false;
#endif
}

// True when the processor has AVX2, BMI1 and BMI2 and the operating system
// saves the 256-bit registers on context switches.
inline bool cpu_has_avx2_bmi2()
{
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const bool osxsave = (ecx & (1u << 27)) != 0;
    const bool avx = (ecx & (1u << 28)) != 0;
    if (!osxsave || !avx) return false;
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    if ((xcr0_low & 6u) != 6u) return false;  // XMM and YMM state enabled
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    const bool bmi1 = (ebx & (1u << 3)) != 0;
    const bool avx2 = (ebx & (1u << 5)) != 0;
    const bool bmi2 = (ebx & (1u << 8)) != 0;
    return bmi1 && avx2 && bmi2;
#else
    return false;
#endif
}

}  // namespace crypto::detail
