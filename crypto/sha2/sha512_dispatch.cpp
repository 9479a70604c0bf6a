#include "crypto/sha2/sha512_dispatch.h"

#include <atomic>

namespace crypto::detail {

namespace {
std::atomic<bool> portable_forced{false};
}  // namespace

sha512_compress_fn sha512_compress_selected()
{
    static const sha512_compress_fn accelerated = sha512_compress_avx2();
    if (accelerated != nullptr && !portable_forced.load(std::memory_order_relaxed)) return accelerated;
    return sha512_compress_portable;
}

void sha512_force_portable(bool force)
{
    portable_forced.store(force, std::memory_order_relaxed);
}

}  // namespace crypto::detail
