#include "crypto/gost_3411_94/gost_3411_94.h"

#include <cstring>

#include "crypto/block_buffer.h"
#include "crypto/gost_3411_94/gost_3411_94_step.h"

namespace crypto {

// 256-bit numbers as eight 32-bit words, least significant word first.
struct gost_3411_94_state {
    std::uint32_t sigma[8];      // checksum: sum of the message blocks mod 2^256
    std::uint32_t h[8];          // hash value
    std::uint32_t length[8];     // message length in bits
    detail::block_buffer<32> buffer;  // bytes waiting for a whole block
};

namespace {

inline std::uint32_t load_le32(const std::uint8_t* p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

// a += b modulo 2^256.
inline void add256(std::uint32_t* a, const std::uint32_t* b)
{
    std::uint64_t carry = 0;
    for (int i = 0; i < 8; ++i) {
        carry += std::uint64_t{a[i]} + b[i];
        a[i] = static_cast<std::uint32_t>(carry);
        carry >>= 32;
    }
}

// a += value modulo 2^256, the carry running through all eight words.
inline void add_bits(std::uint32_t* a, std::uint64_t value)
{
    std::uint64_t carry = value;
    for (int i = 0; i < 8 && carry != 0; ++i) {
        carry += a[i];
        a[i] = static_cast<std::uint32_t>(carry);
        carry >>= 32;
    }
}

// Sigma += block, H = step(H, block).
inline void process_block(gost_3411_94_state& s, const std::uint8_t* block)
{
    std::uint32_t m[8];
    for (int i = 0; i < 8; ++i) m[i] = load_le32(block + 4 * i);
    add256(s.sigma, m);
    detail::gost_3411_94_step(s.h, m);
}

}  // namespace

gost_3411_94::gost_3411_94() : size_(32) {}

gost_3411_94::~gost_3411_94()
{
    if (state_) secure_wipe(state_.get(), sizeof *state_);
}

void gost_3411_94::init()
{
    if (!state_) state_ = std::make_unique<gost_3411_94_state>();
    std::memset(state_.get(), 0, sizeof *state_);
}

void gost_3411_94::update(const void* data, std::uint32_t length)
{
    if (data == nullptr || length == 0) return;
    // A caller that skipped init() gets a fresh digest rather than a null state.
    if (!state_) init();
    gost_3411_94_state& s = *state_;
    s.buffer.absorb(data, length, [&s](const std::uint8_t* blocks, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) process_block(s, blocks + 32 * i);
        add_bits(s.length, std::uint64_t{256} * count);
    });
}

byte_vector gost_3411_94::final()
{
    if (!state_) init();
    gost_3411_94_state& s = *state_;
    // A partial last block is padded with zeros; a message whose length is a
    // multiple of 32 bytes (the empty one too) gets no extra block.
    if (s.buffer.waiting != 0) {
        std::memset(s.buffer.bytes + s.buffer.waiting, 0, 32u - s.buffer.waiting);
        process_block(s, s.buffer.bytes);
        add_bits(s.length, std::uint64_t{8} * s.buffer.waiting);
    }
    s.buffer.wipe();
    detail::gost_3411_94_step(s.h, s.length);
    detail::gost_3411_94_step(s.h, s.sigma);

    byte_vector digest(static_cast<std::size_t>(size_));
    for (std::size_t i = 0; i < digest.size(); ++i) {
        digest[i] = static_cast<std::uint8_t>(s.h[i / 4] >> (8 * (i % 4)));
    }
    return digest;
}

int gost_3411_94::size() const
{
    return size_;
}

}  // namespace crypto
