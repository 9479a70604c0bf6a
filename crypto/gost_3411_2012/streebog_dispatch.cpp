#include "crypto/cpu_features.h"
#include "crypto/gost_3411_2012/streebog_compress.h"

namespace crypto::detail {

streebog_blocks_fn streebog_blocks_selected()
{
    if (cpu_may_use(cpu_avx512 | cpu_gfni)) {
        if (const streebog_blocks_fn accelerated = streebog_blocks_avx512()) return accelerated;
    }
    if (cpu_may_use(cpu_avx2)) {
        if (const streebog_blocks_fn vector = streebog_blocks_sse2_vex()) return vector;
    }
    if (cpu_may_use(cpu_ssse3)) {
        if (const streebog_blocks_fn vector = streebog_blocks_sse2()) return vector;
    }
    return streebog_blocks_portable;
}

}  // namespace crypto::detail
