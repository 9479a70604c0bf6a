#include "crypto/sha2/sha256_dispatch.h"

#include <atomic>

namespace crypto::detail {

namespace {
std::atomic<bool> portable_forced{false};
}  // namespace

sha256_compress_fn sha256_compress_selected()
{
    static const sha256_compress_fn accelerated = sha256_compress_shani();
    if (accelerated != nullptr && !portable_forced.load(std::memory_order_relaxed)) return accelerated;
    return sha256_compress_portable;
}

void sha256_force_portable(bool force)
{
    portable_forced.store(force, std::memory_order_relaxed);
}

}  // namespace crypto::detail
