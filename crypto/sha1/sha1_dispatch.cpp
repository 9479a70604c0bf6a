#include "crypto/sha1/sha1_dispatch.h"

#include <atomic>

namespace crypto::detail {

namespace {
std::atomic<bool> portable_forced{false};
}  // namespace

sha1_compress_fn sha1_compress_selected()
{
    static const sha1_compress_fn accelerated = sha1_compress_shani();
    if (accelerated != nullptr && !portable_forced.load(std::memory_order_relaxed)) return accelerated;
    return sha1_compress_portable;
}

void sha1_force_portable(bool force)
{
    portable_forced.store(force, std::memory_order_relaxed);
}

}  // namespace crypto::detail
