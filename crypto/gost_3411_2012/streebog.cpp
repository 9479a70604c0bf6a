#include "crypto/gost_3411_2012/streebog.h"

#include <cstring>

#include "crypto/gost_3411_2012/streebog_compress.h"
#include "crypto/gost_3411_2012/streebog_tables.h"
#include "crypto/secure_wipe.h"

namespace crypto {

void streebog_start(streebog_state& state, std::uint32_t digest_bits)
{
    // The first digest of the process builds the shared tables.
    detail::streebog_shared_tables();
    std::memset(&state, 0, sizeof state);
    state.digest_bits = digest_bits;
    if (digest_bits == 256) std::memset(state.h, 0x01, sizeof state.h);
}

void streebog_update_blocks(streebog_state& state, const std::uint8_t* data, std::size_t length)
{
    if (data == nullptr || length == 0) return;
    const detail::streebog_blocks_fn blocks = detail::streebog_blocks_selected();
    state.buffer.absorb(data, length, [&state, blocks](const std::uint8_t* in, std::size_t count) {
        blocks(state.h, state.n, state.sigma, in, count);
    });
}

void streebog_finish(streebog_state& state)
{
    // Pad with one 0x01 byte and zeros; a message whose length is a multiple
    // of 64 bytes (the empty one too) ends with the block 01 00 .. 00.
    const std::uint32_t waiting = state.buffer.waiting;
    state.buffer.bytes[waiting] = 0x01;
    std::memset(state.buffer.bytes + waiting + 1, 0, 63 - waiting);

    std::uint64_t m[8];
    for (int i = 0; i < 8; ++i) m[i] = detail::streebog_load64(state.buffer.bytes + 8 * i);
    detail::streebog_g(state.h, state.n, m);
    detail::streebog_add_small(state.n, std::uint64_t{8} * waiting);
    detail::streebog_add512(state.sigma, m);
    secure_wipe(m, sizeof m);
    state.buffer.wipe();

    const std::uint64_t zero[8] = {};
    detail::streebog_g(state.h, zero, state.n);
    detail::streebog_g(state.h, zero, state.sigma);
}

}  // namespace crypto
