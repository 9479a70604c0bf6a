#include "crypto/sha2/sha512.h"

#include <cstring>

#include "crypto/block_buffer.h"
#include "crypto/sha2/big_endian.h"
#include "crypto/sha2/sha512_dispatch.h"

namespace crypto {

namespace detail {

// Shared by SHA-384 and SHA-512, which differ only in the initial values and
// the digest length.
struct sha512_state {
    std::uint64_t h[8];
    std::uint64_t bit_length[2];  // 128-bit count, low half first
    block_buffer<128> block;
    std::uint32_t digest_length;
    sha512_compress_fn compress;
};

namespace {

constexpr std::uint64_t sha512_initial[8] = {
    0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
    0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179,
};

constexpr std::uint64_t sha384_initial[8] = {
    0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
    0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4,
};

std::unique_ptr<sha512_state> make_state()
{
    auto s = std::make_unique<sha512_state>();
    s->compress = sha512_compress_portable;
    return s;
}

void start(sha512_state& s, const std::uint64_t (&initial)[8], int digest_length)
{
    s = sha512_state{};
    std::memcpy(s.h, initial, sizeof initial);
    s.digest_length = static_cast<std::uint32_t>(digest_length);
    s.compress = sha512_compress_selected();
}

void absorb(sha512_state& s, const void* data, std::uint32_t length)
{
    if (data == nullptr || length == 0) return;
    const std::uint64_t bits = std::uint64_t{length} << 3;
    s.bit_length[0] += bits;
    if (s.bit_length[0] < bits) ++s.bit_length[1];
    // The compression functions read bytes, so whole blocks need no alignment.
    s.block.absorb(data, length, [&s](const std::uint8_t* blocks, std::size_t count) { s.compress(s.h, blocks, count); });
}

byte_vector finish(sha512_state& s, int digest_length)
{
    std::uint8_t* block = s.block.bytes;
    std::size_t used = s.block.waiting;
    block[used++] = 0x80;
    if (used > 112) {
        std::memset(block + used, 0, 128 - used);
        s.compress(s.h, block, 1);
        used = 0;
    }
    std::memset(block + used, 0, 112 - used);
    store_be64(block + 112, s.bit_length[1]);
    store_be64(block + 120, s.bit_length[0]);
    s.compress(s.h, block, 1);
    s.block.wipe();

    // 64 bytes are all eight words; 48 bytes the first six.
    byte_vector digest(static_cast<std::size_t>(digest_length));
    for (std::size_t i = 0; i < digest.size() / 8; ++i) store_be64(digest.data() + 8 * i, s.h[i]);
    return digest;
}

}  // namespace

}  // namespace detail

sha512::sha512() : state_(detail::make_state()), size_(64) {}
sha512::~sha512() { secure_wipe(state_.get(), sizeof(detail::sha512_state)); }
void sha512::init() { detail::start(*state_, detail::sha512_initial, size_); }
void sha512::update(const void* data, std::uint32_t length) { detail::absorb(*state_, data, length); }
byte_vector sha512::final() { return detail::finish(*state_, size_); }
int sha512::size() const { return size_; }

sha384::sha384() : state_(detail::make_state()), size_(48) {}
sha384::~sha384() { secure_wipe(state_.get(), sizeof(detail::sha512_state)); }
void sha384::init() { detail::start(*state_, detail::sha384_initial, size_); }
void sha384::update(const void* data, std::uint32_t length) { detail::absorb(*state_, data, length); }
byte_vector sha384::final() { return detail::finish(*state_, size_); }
int sha384::size() const { return size_; }

}  // namespace crypto
