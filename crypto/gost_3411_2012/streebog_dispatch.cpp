#include <atomic>

#include "crypto/gost_3411_2012/streebog_compress.h"

namespace crypto::detail {

namespace {
std::atomic<bool> portable_forced{false};
}  // namespace

streebog_blocks_fn streebog_blocks_selected()
{
    static const streebog_blocks_fn accelerated = streebog_blocks_avx512();
    if (accelerated != nullptr && !portable_forced.load(std::memory_order_relaxed)) return accelerated;
    return streebog_blocks_portable;
}

void streebog_force_portable(bool force)
{
    portable_forced.store(force, std::memory_order_relaxed);
}

}  // namespace crypto::detail
