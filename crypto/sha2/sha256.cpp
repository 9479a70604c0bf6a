#include "crypto/sha2/sha256.h"

#include <cstring>

#include "crypto/sha2/big_endian.h"
#include "crypto/sha2/sha256_dispatch.h"

namespace crypto {

struct sha256::state {
    std::uint32_t h[8];
    std::uint64_t bit_length;
    std::uint8_t block[64];
    std::uint32_t waiting;  // bytes held in block
    std::uint32_t digest_length;
    detail::sha256_compress_fn compress;
};

sha256::sha256() : state_(std::make_unique<state>()), size_(32)
{
    state_->compress = detail::sha256_compress_portable;
}

sha256::~sha256() = default;

void sha256::init()
{
    static constexpr std::uint32_t initial[8] = {
        0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
    };
    *state_ = state{};
    std::memcpy(state_->h, initial, sizeof initial);
    state_->digest_length = static_cast<std::uint32_t>(size_);
    state_->compress = detail::sha256_compress_selected();
}

void sha256::update(const void* data, std::uint32_t length)
{
    if (length == 0) return;
    state& s = *state_;
    const auto* in = static_cast<const std::uint8_t*>(data);
    std::size_t left = length;
    s.bit_length += std::uint64_t{length} << 3;

    if (s.waiting != 0) {
        const std::size_t room = 64 - s.waiting;
        if (left < room) {
            std::memcpy(s.block + s.waiting, in, left);
            s.waiting += static_cast<std::uint32_t>(left);
            return;
        }
        std::memcpy(s.block + s.waiting, in, room);
        s.compress(s.h, s.block, 1);
        s.waiting = 0;
        in += room;
        left -= room;
    }
    // Whole blocks straight from the caller's buffer.
    if (left >= 64) {
        s.compress(s.h, in, left / 64);
        in += left & ~std::size_t{63};
        left &= 63;
    }
    if (left != 0) {
        std::memcpy(s.block, in, left);
        s.waiting = static_cast<std::uint32_t>(left);
    }
}

byte_vector sha256::final()
{
    state& s = *state_;
    std::size_t used = s.waiting;
    s.block[used++] = 0x80;
    if (used > 56) {
        std::memset(s.block + used, 0, 64 - used);
        s.compress(s.h, s.block, 1);
        used = 0;
    }
    std::memset(s.block + used, 0, 56 - used);
    detail::store_be64(s.block + 56, s.bit_length);
    s.compress(s.h, s.block, 1);
    s.waiting = 0;
    std::memset(s.block, 0, sizeof s.block);

    byte_vector digest(static_cast<std::size_t>(size_));
    for (int i = 0; i < 8; ++i) detail::store_be32(digest.data() + 4 * i, s.h[i]);
    return digest;
}

int sha256::size() const
{
    return size_;
}

}  // namespace crypto
