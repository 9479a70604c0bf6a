#include "crypto/sha2/sha256_dispatch.h"

#include "crypto/cpu_features.h"

namespace crypto::detail {

sha256_compress_fn sha256_compress_selected()
{
    if (cpu_may_use(cpu_sha)) {
        if (const sha256_compress_fn accelerated = sha256_compress_shani()) return accelerated;
    }
    return sha256_compress_portable;
}

}  // namespace crypto::detail
