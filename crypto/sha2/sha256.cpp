#include "crypto/sha2/sha256.h"

#include <cstring>

#include "crypto/block_buffer.h"
#include "crypto/sha2/big_endian.h"
#include "crypto/sha2/sha256_dispatch.h"

namespace crypto {

struct sha256::state {
    std::uint32_t h[8];
    std::uint64_t bit_length;
    detail::block_buffer<64> block;
    std::uint32_t digest_length;
    detail::sha256_compress_fn compress;
};

sha256::sha256() : state_(std::make_unique<state>()), size_(32)
{
    state_->compress = detail::sha256_compress_portable;
}

sha256::~sha256()
{
    secure_wipe(state_.get(), sizeof(state));
}

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
    if (data == nullptr || length == 0) return;
    state& s = *state_;
    s.bit_length += std::uint64_t{length} << 3;
    s.block.absorb(data, length, [&s](const std::uint8_t* blocks, std::size_t count) { s.compress(s.h, blocks, count); });
}

byte_vector sha256::final()
{
    state& s = *state_;
    std::uint8_t* block = s.block.bytes;
    std::size_t used = s.block.waiting;
    block[used++] = 0x80;
    if (used > 56) {
        std::memset(block + used, 0, 64 - used);
        s.compress(s.h, block, 1);
        used = 0;
    }
    std::memset(block + used, 0, 56 - used);
    detail::store_be64(block + 56, s.bit_length);
    s.compress(s.h, block, 1);
    s.block.wipe();

    byte_vector digest(static_cast<std::size_t>(size_));
    for (int i = 0; i < 8; ++i) detail::store_be32(digest.data() + 4 * i, s.h[i]);
    return digest;
}

int sha256::size() const
{
    return size_;
}

}  // namespace crypto
