#include "crypto/sha1/sha1_dispatch.h"

#include "crypto/cpu_features.h"

namespace crypto::detail {

sha1_compress_fn sha1_compress_selected()
{
    if (cpu_may_use(cpu_sha)) {
        if (const sha1_compress_fn accelerated = sha1_compress_shani()) return accelerated;
    }
    return sha1_compress_portable;
}

}  // namespace crypto::detail
