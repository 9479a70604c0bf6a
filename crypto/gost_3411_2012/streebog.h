#pragma once
// Internal: the GOST R 34.11-2012 state and the steps the hash classes drive.
#include <cstddef>
#include <cstdint>

#include "crypto/block_buffer.h"

namespace crypto {

// Every 512-bit value is kept as eight 64-bit words, least significant word
// first; a 64-byte message block is read as a little-endian number.
struct streebog_state {
    detail::block_buffer<64> buffer;  // message bytes waiting for a whole block
    std::uint64_t h[8];        // chaining value
    std::uint64_t n[8];        // number of message bits processed
    std::uint64_t sigma[8];    // sum of the message blocks modulo 2^512
    std::uint32_t digest_bits; // 256 or 512
};

// Starts a new digest of the given length (256 or 512 bits): zeroes the state
// and sets the starting value of h (all bytes 0x01 for 256, zero for 512).
void streebog_start(streebog_state& state, std::uint32_t digest_bits);

// Adds message bytes. Whole blocks are compressed straight from `data`; the
// rest waits in the buffer. A null `data` is ignored.
void streebog_update_blocks(streebog_state& state, const std::uint8_t* data, std::size_t length);

// Pads the waiting bytes, compresses the last block and folds in the length
// and the checksum. The result is left in state.h; the buffer is wiped.
void streebog_finish(streebog_state& state);

}  // namespace crypto
