#include "crypto/sha2/sha512_dispatch.h"

#include "crypto/cpu_features.h"

namespace crypto::detail {

sha512_compress_fn sha512_compress_selected()
{
    if (cpu_may_use(cpu_avx2)) {
        if (const sha512_compress_fn accelerated = sha512_compress_avx2()) return accelerated;
    }
    return sha512_compress_portable;
}

}  // namespace crypto::detail
