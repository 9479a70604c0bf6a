#include "crypto/sha2/sha512_dispatch.h"

#include "crypto/cpu_features.h"

namespace crypto::detail {

sha512_compress_fn sha512_compress_selected()
{
#if defined(__i386__)
    // 64-bit arithmetic in vector registers beats pairs of 32-bit ones.
    if (cpu_may_use(cpu_avx2)) {
        if (const sha512_compress_fn vector = sha512_compress_vector_avx2()) return vector;
    }
    if (cpu_may_use(cpu_ssse3)) {
        if (const sha512_compress_fn vector = sha512_compress_vector_ssse3()) return vector;
    }
#else
    if (cpu_may_use(cpu_avx2)) {
        if (const sha512_compress_fn accelerated = sha512_compress_avx2()) return accelerated;
    }
#endif
    return sha512_compress_portable;
}

}  // namespace crypto::detail
