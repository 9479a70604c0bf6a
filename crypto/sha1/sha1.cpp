#include "crypto/sha1/sha1.h"

#include <cstring>

#include "crypto/block_buffer.h"
#include "crypto/sha1/sha1_dispatch.h"
#include "crypto/sha2/big_endian.h"

namespace crypto {

struct sha1::state {
    std::uint32_t h[5];
    // Message length in bits. A full 64-bit count: 32 bits would wrap after
    // 512 MiB of input.
    std::uint64_t bit_length;
    detail::block_buffer<64> block;
    detail::sha1_compress_fn compress;
};

sha1::sha1() : state_(std::make_unique<state>()), size_(20)
{
    state_->compress = detail::sha1_compress_portable;
}

sha1::~sha1()
{
    secure_wipe(state_.get(), sizeof(state));
}

void sha1::init()
{
    state& s = *state_;
    s.h[0] = 0x67452301;
    s.h[1] = 0xEFCDAB89;
    s.h[2] = 0x98BADCFE;
    s.h[3] = 0x10325476;
    s.h[4] = 0xC3D2E1F0;
    s.bit_length = 0;
    s.block.waiting = 0;
    s.compress = detail::sha1_compress_selected();
}

void sha1::update(const void* data, std::uint32_t length)
{
    if (data == nullptr || length == 0) return;
    state& s = *state_;
    s.bit_length += std::uint64_t{length} << 3;
    s.block.absorb(data, length, [&s](const std::uint8_t* blocks, std::size_t count) { s.compress(s.h, blocks, count); });
}

byte_vector sha1::final()
{
    state& s = *state_;
    std::uint8_t length_field[8];
    detail::store_be64(length_field, s.bit_length);

    // 0x80, zeros up to 56 bytes modulo 64, then the bit length.
    std::uint8_t* block = s.block.bytes;
    std::size_t waiting = s.block.waiting;
    block[waiting++] = 0x80;
    if (waiting > 56) {
        std::memset(block + waiting, 0, 64 - waiting);
        s.compress(s.h, block, 1);
        waiting = 0;
    }
    std::memset(block + waiting, 0, 56 - waiting);
    std::memcpy(block + 56, length_field, 8);
    s.compress(s.h, block, 1);
    s.block.wipe();

    byte_vector digest(static_cast<std::size_t>(size_));
    for (int i = 0; i < 5; ++i) detail::store_be32(digest.data() + 4 * i, s.h[i]);
    return digest;
}

int sha1::size() const
{
    return size_;
}

}  // namespace crypto
